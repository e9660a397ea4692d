#include "reply_header.h"

#include <array>

namespace qinghe {

namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
// The status code: bytes 10 to 12 of "HTTP/1.1 200 OK".
constexpr std::size_t kStatusAt = 9;
constexpr std::size_t kStatusDigits = 3;
constexpr int kDecimalBase = 10;
// More digits than this could overflow a 64-bit size; no real file is that big.
constexpr std::size_t kMostSizeDigits = 18;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && (isBlank(text.back()) || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::optional<std::int64_t> decimalNumber(std::string_view digits)
{
    if (digits.empty() || digits.size() > kMostSizeDigits)
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : digits) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * kDecimalBase + (c - '0');
    }
    return value;
}

// Splits "first-last/total" after "bytes ".
std::optional<ContentRange> contentRange(std::string_view value)
{
    constexpr std::string_view kUnit = "bytes";
    if (value.size() < kUnit.size() || !sameTextIgnoringCase(value.substr(0, kUnit.size()), kUnit))
        return std::nullopt;
    value = trimBlanks(value.substr(kUnit.size()));
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    const std::optional<std::int64_t> first = decimalNumber(value.substr(0, dash));
    const std::optional<std::int64_t> last = decimalNumber(value.substr(dash + 1, slash - dash - 1));
    if (!first || !last || *last < *first)
        return std::nullopt;
    ContentRange range{*first, *last, std::nullopt};
    const std::string_view total = value.substr(slash + 1);
    if (total != "*") {
        range.total = decimalNumber(total);
        if (!range.total || *range.total <= *last)
            return std::nullopt;
    }
    return range;
}

int statusCode(std::string_view statusLine)
{
    if (statusLine.size() < kStatusAt + kStatusDigits)
        return 0;
    int code = 0;
    for (std::size_t i = kStatusAt; i < kStatusAt + kStatusDigits; ++i) {
        if (!isDigit(statusLine[i]))
            return 0;
        code = code * kDecimalBase + (statusLine[i] - '0');
    }
    return code;
}

void setOnce(Text& member, std::string_view value, bool& seen)
{
    if (!seen)
        member = Text(value);
    seen = true;
}

}  // namespace

bool ReplyHeader::chunked() const
{
    return findInText(transferEncoding, "chunked", 1, true) > 0;
}

std::size_t replyHeaderLength(std::string_view received)
{
    const std::size_t end = received.find(kHeaderEnd);
    return end == std::string_view::npos ? 0 : end + kHeaderEnd.size();
}

ReplyHeader parseReplyHeader(std::string_view header)
{
    ReplyHeader reply;
    struct Field {
        std::string_view name;
        Text ReplyHeader::*member;
    };
    const std::array<Field, 10> textFields{{
        {"location", &ReplyHeader::location},
        {"accept-ranges", &ReplyHeader::acceptRanges},
        {"connection", &ReplyHeader::connection},
        {"content-type", &ReplyHeader::contentType},
        {"set-cookie", &ReplyHeader::setCookie},
        {"last-modified", &ReplyHeader::lastModified},
        {"server", &ReplyHeader::server},
        {"content-disposition", &ReplyHeader::contentDisposition},
        {"transfer-encoding", &ReplyHeader::transferEncoding},
        {"content-range", nullptr},
    }};
    std::array<bool, textFields.size()> seen{};
    bool lengthSeen = false;

    bool statusLine = true;
    while (!header.empty()) {
        const std::size_t lineEnd = header.find('\n');
        std::string_view line = header.substr(0, lineEnd);
        header = lineEnd == std::string_view::npos ? std::string_view() : header.substr(lineEnd + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (statusLine) {
            reply.status = statusCode(line);
            statusLine = false;
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = trimBlanks(line.substr(0, colon));
        const std::string_view value = trimBlanks(line.substr(colon + 1));
        if (sameTextIgnoringCase(name, "content-length")) {
            if (!lengthSeen)
                reply.contentLength = decimalNumber(value);
            lengthSeen = true;
            continue;
        }
        for (std::size_t i = 0; i < textFields.size(); ++i) {
            if (!sameTextIgnoringCase(name, textFields[i].name))
                continue;
            if (textFields[i].member)
                setOnce(reply.*(textFields[i].member), value, seen[i]);
            else if (!seen[i]) {
                reply.contentRange = contentRange(value);
                seen[i] = true;
            }
        }
    }
    return reply;
}

Text dispositionFileName(std::string_view contentDisposition)
{
    constexpr std::string_view kKey = "filename=";
    const int at = findInText(contentDisposition, kKey, 1, true);
    if (at < 0)
        return {};
    std::string_view value = contentDisposition.substr(static_cast<std::size_t>(at - 1) + kKey.size());
    value = trimBlanks(value);
    if (!value.empty() && value.front() == '"') {
        value.remove_prefix(1);
        return Text(value.substr(0, value.find('"')));
    }
    return Text(trimBlanks(value.substr(0, value.find(';'))));
}

}  // namespace qinghe
