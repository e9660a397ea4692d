#pragma once

// The requests the download service sends, byte for byte.

#include "text/text.h"

#include <cstdint>
#include <string_view>

namespace qinghe {

// The browser the download service says it is.
inline constexpr std::string_view kDownloadUserAgent = "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)";

// A request straight to the server. The referrer goes through headerValue;
// extraLines are whole lines, each ending
// in CR LF (the continuation's Range line, the Cookie line), or empty.
Text directRequest(std::string_view path, std::string_view host, std::string_view referrer,
                   std::string_view extraLines);

// A request through an HTTP proxy: the whole address in the request line.
Text proxyRequest(std::string_view address, std::string_view host);

// "Range: bytes=<offset>-" and CR LF: continue from the byte at offset.
Text rangeLine(std::int64_t offset);

// "Cookie: " with the cookie up to its first ";", then CR LF.
Text cookieLine(std::string_view setCookieValue);

// The cookie of a Set-Cookie value: the bytes before its first ";".
std::string_view cookieValue(std::string_view setCookieValue);

// The path as it goes in the request line: a space or a control byte, which
// would end or break the line, percent-encoded; every other byte as written.
Text requestPath(std::string_view path);

// A header value with every control byte percent-encoded, so an address that
// came from a server cannot end the line and add one of its own.
Text headerValue(std::string_view value);

}  // namespace qinghe
