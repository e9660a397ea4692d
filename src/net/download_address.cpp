#include "download_address.h"

#include <array>
#include <string>

namespace qinghe {

namespace {

constexpr std::string_view kSchemeMark = "://";
constexpr int kDecimalBase = 10;
// Ports are 16-bit numbers; port 0 cannot be connected to.
constexpr int kHighestPort = 65535;

struct KnownScheme {
    std::string_view name;
    int defaultPort;
};

// The well-known port of each scheme.
constexpr std::array<KnownScheme, 5> kKnownSchemes{{
    {"http", 80},
    {"ftp", 21},
    {"mms", 1755},
    {"mmst", 1755},
    {"rtsp", 554},
}};

Text lowerAscii(std::string_view text)
{
    Text lower(text);
    for (std::size_t i = 0; i < lower.size(); i += characterLength(lower, i))
        lower[i] = toLowerAscii(lower[i]);
    return lower;
}

std::optional<int> portNumber(std::string_view digits)
{
    if (digits.empty())
        return std::nullopt;
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * kDecimalBase + (c - '0');
        if (value > kHighestPort)
            return std::nullopt;
    }
    if (value == 0)
        return std::nullopt;
    return value;
}

// The path part of what follows the host: from its "/" (a "?" right after
// the host gets a "/" before it), without any "#" part.
Text pathPart(std::string_view rest)
{
    const std::size_t hash = rest.find('#');
    if (hash != std::string_view::npos)
        rest = rest.substr(0, hash);
    if (rest.empty())
        return "/";
    Text path;
    if (rest.front() != '/')
        path = "/";
    path.append(rest);
    return path;
}

// The index where the host part ends: the first "/", "?" or "#". These are
// ASCII below 0x40, never the second byte of a GBK character.
std::size_t hostPartEnd(std::string_view afterScheme)
{
    const std::size_t end = afterScheme.find_first_of("/?#");
    return end == std::string_view::npos ? afterScheme.size() : end;
}

// A host goes into the Host line as it is: no space or control byte.
bool plainHost(std::string_view host)
{
    constexpr unsigned char kSpace = 0x20;
    constexpr unsigned char kDelete = 0x7F;
    for (const char ch : host) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= kSpace || c == kDelete)
            return false;
    }
    return true;
}

}  // namespace

std::optional<DownloadAddress> parseDownloadAddress(std::string_view address)
{
    const std::size_t mark = address.find(kSchemeMark);
    if (mark == std::string_view::npos)
        return std::nullopt;
    DownloadAddress parts;
    parts.scheme = lowerAscii(address.substr(0, mark));
    const KnownScheme* scheme = nullptr;
    for (const KnownScheme& known : kKnownSchemes) {
        if (parts.scheme == known.name)
            scheme = &known;
    }
    if (!scheme)
        return std::nullopt;

    const std::string_view afterScheme = address.substr(mark + kSchemeMark.size());
    const std::size_t hostEnd = hostPartEnd(afterScheme);
    std::string_view hostPart = afterScheme.substr(0, hostEnd);
    const std::size_t at = hostPart.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view login = hostPart.substr(0, at);
        const std::size_t colon = login.find(':');
        parts.user = Text(login.substr(0, colon));
        if (colon != std::string_view::npos)
            parts.password = Text(login.substr(colon + 1));
        hostPart = hostPart.substr(at + 1);
    }
    const std::size_t colon = hostPart.find(':');
    parts.port = scheme->defaultPort;
    if (colon != std::string_view::npos) {
        const std::optional<int> port = portNumber(hostPart.substr(colon + 1));
        if (!port)
            return std::nullopt;
        parts.port = *port;
        hostPart = hostPart.substr(0, colon);
    }
    if (hostPart.empty() || !plainHost(hostPart))
        return std::nullopt;
    parts.host = lowerAscii(hostPart);
    parts.path = pathPart(afterScheme.substr(hostEnd));
    return parts;
}

std::optional<Redirection> followLocation(const DownloadAddress& current, std::string_view location)
{
    const std::size_t mark = location.find(kSchemeMark);
    const std::size_t firstSlash = location.find('/');
    if (mark != std::string_view::npos && mark < firstSlash) {
        // An address of its own: only http is fetched.
        std::optional<DownloadAddress> next = parseDownloadAddress(location);
        if (!next || !isHttp(*next))
            return std::nullopt;
        return Redirection{*next, Text(location), true};
    }
    if (location.substr(0, 2) == "//") {
        const Text withScheme = "http:" + Text(location);
        std::optional<DownloadAddress> next = parseDownloadAddress(withScheme);
        if (!next)
            return std::nullopt;
        return Redirection{*next, withScheme, true};
    }
    DownloadAddress next = current;
    if (!location.empty() && location.front() == '/') {
        next.path = pathPart(location);
    } else {
        // The folder of the current path, query left out.
        const std::string_view path = std::string_view(current.path).substr(0, current.path.find('?'));
        const std::size_t lastSlash = path.rfind('/');
        const std::string_view folder = path.substr(0, lastSlash == std::string_view::npos ? 0 : lastSlash + 1);
        next.path = pathPart(Text(folder) + Text(location));
    }
    return Redirection{next, addressText(next), false};
}

Text addressText(const DownloadAddress& address)
{
    Text text = address.scheme + "://" + address.host;
    const KnownScheme* scheme = nullptr;
    for (const KnownScheme& known : kKnownSchemes) {
        if (address.scheme == known.name)
            scheme = &known;
    }
    if (!scheme || scheme->defaultPort != address.port)
        text.append(":").append(std::to_string(address.port));
    text.append(address.path);
    return text;
}

Text defaultReferrer(std::string_view address)
{
    const std::size_t lastSlash = address.rfind('/');
    const std::size_t mark = address.find(kSchemeMark);
    if (lastSlash == std::string_view::npos ||
        (mark != std::string_view::npos && lastSlash < mark + kSchemeMark.size()))
        return Text(address);
    return Text(address.substr(0, lastSlash));
}

}  // namespace qinghe
