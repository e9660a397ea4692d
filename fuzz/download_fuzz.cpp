// Any bytes as the reply a download gets: the header reading, the file name
// it gives, the redirection it asks for and the chunked body never fail, and
// keep the promises the service relies on: a name from the server is a plain
// name, and nothing from the server can add a line to our next request.

#include "net/chunked_body.h"
#include "net/download_address.h"
#include "net/download_request.h"
#include "net/file_name.h"
#include "net/reply_header.h"
#include "text/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void require(bool promise)
{
    if (!promise)
        std::abort();
}

// The cookie the service carries on; it refuses a longer or broken one.
constexpr std::size_t kLongestCookie = 4086;

bool usableCookie(std::string_view cookie)
{
    if (cookie.size() > kLongestCookie)
        return false;
    for (const char c : cookie) {
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    }
    return true;
}

// A request is lines ending in CR LF and exactly one blank line, at its end.
void requireOneBlankLineAtTheEnd(std::string_view request)
{
    require(request.size() >= 4 && request.substr(request.size() - 4) == "\r\n\r\n");
    require(request.find("\r\n\r\n") == request.size() - 4);
    for (std::size_t i = 0; i < request.size(); ++i) {
        if (request[i] == '\r')
            require(i + 1 < request.size() && request[i + 1] == '\n');
        if (request[i] == '\n')
            require(i > 0 && request[i - 1] == '\r');
    }
}

void requirePlain(std::string_view name)
{
    if (name.empty())
        return;
    require(name != "." && name != "..");
    require(name.find('\0') == std::string_view::npos);
    require(!qinghe::endsInSeparator(name));
    require(qinghe::folderLength(name) == 0);
}

void checkHeader(std::string_view header)
{
    const qinghe::ReplyHeader reply = qinghe::parseReplyHeader(header);
    require(reply.status >= 0 && reply.status <= 999);
    require(!reply.contentLength || *reply.contentLength >= 0);
    if (reply.contentRange) {
        require(reply.contentRange->first >= 0 && reply.contentRange->first <= reply.contentRange->last);
        require(!reply.contentRange->total || *reply.contentRange->total > reply.contentRange->last);
    }
    for (const qinghe::Text* value : {&reply.location, &reply.setCookie, &reply.contentDisposition,
                                      &reply.transferEncoding, &reply.server}) {
        require(value->find('\n') == qinghe::Text::npos);
        require(value->size() <= header.size());
    }

    const qinghe::Text name = qinghe::plainFileName(qinghe::dispositionFileName(reply.contentDisposition));
    requirePlain(name);
    if (!name.empty()) {
        const qinghe::NumberedName numbered = qinghe::numberedName(name);
        require(numbered.firstCounter >= 1 && numbered.firstCounter <= 100);
        requirePlain(numbered.withCounter(numbered.firstCounter));
    }

    static const qinghe::DownloadAddress current =
        *qinghe::parseDownloadAddress("http://site.example/soft/get.asp?id=1");
    const std::optional<qinghe::Redirection> next = qinghe::followLocation(current, reply.location);
    qinghe::Text extraLines = qinghe::rangeLine(reply.contentLength.value_or(0));
    if (usableCookie(qinghe::cookieValue(reply.setCookie)))
        extraLines += qinghe::cookieLine(reply.setCookie);
    if (next) {
        require(qinghe::isHttp(next->address));
        require(!next->address.host.empty());
        require(!next->address.path.empty() && next->address.path.front() == '/');
        require(next->address.port >= 1 && next->address.port <= 65535);
        requireOneBlankLineAtTheEnd(qinghe::directRequest(next->address.path, next->address.host,
                                                          qinghe::defaultReferrer(next->addressText), extraLines));
        // Through a proxy the request ends in one more line end, as it always has.
        const qinghe::Text proxied = qinghe::proxyRequest(next->addressText, next->address.host);
        requireOneBlankLineAtTheEnd(std::string_view(proxied).substr(0, proxied.size() - 2));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view received(reinterpret_cast<const char*>(data), size);

    const std::size_t headerLength =
        qinghe::replyHeaderLength(received.substr(0, qinghe::kReplyHeaderLimit));
    require(headerLength <= qinghe::kReplyHeaderLimit);
    checkHeader(received.substr(0, headerLength > 0 ? headerLength : qinghe::kReplyHeaderLimit));

    // What follows the header as a chunked body, taken in pieces whose size
    // the first byte chooses.
    const std::string_view body = received.substr(headerLength);
    const std::size_t piece = size > 0 ? 1 + data[0] % 64 : 1;
    qinghe::ChunkedBody chunks;
    std::string out;
    bool good = true;
    for (std::size_t at = 0; at < body.size() && good; at += piece)
        good = chunks.take(body.substr(at, piece), out);
    require(out.size() <= body.size());
    return 0;
}
