#include "download_request.h"

#include <string>

namespace qinghe {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// Bytes below the space and DEL are control bytes.
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

}  // namespace

Text directRequest(std::string_view path, std::string_view host, std::string_view referrer,
                   std::string_view extraLines)
{
    Text request;
    request.append("GET ").append(requestPath(path)).append(" HTTP/1.1").append(kLineEnd);
    request.append("Host: ").append(host).append(kLineEnd);
    request.append("Accept: */*").append(kLineEnd);
    request.append("Referer: ").append(headerValue(referrer)).append(kLineEnd);
    request.append("User-Agent: ").append(kDownloadUserAgent).append(kLineEnd);
    request.append(extraLines);
    request.append("Pragma: no-cache").append(kLineEnd);
    request.append("Cache-Control: no-cache").append(kLineEnd);
    request.append("Connection: close");
    request.append("\r\n\r\n");
    return request;
}

Text proxyRequest(std::string_view address, std::string_view host)
{
    Text request;
    request.append("GET ").append(requestPath(address)).append(" HTTP/1.1").append(kLineEnd);
    request.append("Host: ").append(host).append(kLineEnd);
    request.append("User-Agent: ").append(kDownloadUserAgent).append(kLineEnd);
    request.append("Proxy-Connection: Keep-Alive").append(kLineEnd);
    request.append("\r\n\r\n");
    return request;
}

Text rangeLine(std::int64_t offset)
{
    return "Range: bytes=" + std::to_string(offset) + "-" + Text(kLineEnd);
}

std::string_view cookieValue(std::string_view setCookieValue)
{
    return setCookieValue.substr(0, setCookieValue.find(';'));
}

Text cookieLine(std::string_view setCookieValue)
{
    return "Cookie: " + Text(cookieValue(setCookieValue)) + Text(kLineEnd);
}

Text requestPath(std::string_view path)
{
    return percentEncode(path, [](unsigned char c) { return c <= kFirstPrintable || c == kDelete; });
}

Text headerValue(std::string_view value)
{
    return percentEncode(value, [](unsigned char c) { return c < kFirstPrintable || c == kDelete; });
}

}  // namespace qinghe
