#pragma once

// The program's two HTTP routines. Both block until the reply is complete,
// keep nothing between calls (each opens and releases its own handles) and
// never report an error: a request that fails gives an empty body, one that
// breaks off gives what arrived before. Bodies are raw bytes; callers take
// them up to the first zero byte as text.
//
// Both are bounded: a whole read ends within 20 s whatever the server does
// (what arrived by then is the body), and a body longer than 1 MiB is read
// no further and gives the empty text. cancelled, when given, may be set
// from any thread: the read then breaks off soon and gives the empty text.

#include "net/url_parts.h"
#include "text/text.h"

#include <atomic>
#include <optional>
#include <string_view>

namespace qinghe {

// A complete HTTP/1.1 request to the host, port and path of url (split by
// urlHost, urlPort and urlPath; a port of 0 asks for the default port). The
// path goes as written, save that a space or a byte from 0x80 on is sent
// percent-encoded.
//
// method (in/out): "POST" in any letter case makes a POST and is sent as
//   written; anything else, nothing included, makes a GET and the caller's
//   variable becomes "GET".
// proxy: "host:port" of an HTTP proxy (port 80 when none is named), used
//   only when supplied and not empty; without it the request goes straight
//   to the server, whatever the environment says.
// headers (in/out): extra request lines, each ending in CR LF. The routine
//   appends its Accept, Referer (the url) and Accept-Language lines, each
//   only when its name is not found in the text ignoring case, and for a
//   POST with a non-empty body the Content-Type and Content-Length lines;
//   afterwards the caller's variable holds the whole block that was sent.
// postData: the body of a POST; an empty one sends no body and no length.
// responseHeaders (out): the raw header block of the last response read
//   (after followed redirections and interim 1xx answers): status line and
//   header lines each ending in CR LF, then the empty line; whatever its size.
//
// Only the lines above, the user agent and Host reach the server. A GET
// follows redirections; a POST does not, so its body is never sent twice or
// lost on the way. On the application's thread, pending window events are
// processed while the request waits.
Text httpRequest(std::string_view url, Text* method = nullptr,
                 const std::optional<Text>& proxy = std::nullopt, Text* headers = nullptr,
                 std::string_view postData = {}, Text* responseHeaders = nullptr,
                 const std::atomic<bool>* cancelled = nullptr);

// The body of an HTTP/1.0 GET of url (http or https), sent with our user agent
// and "Accept: */*" only, through the proxy that the environment names
// (http_proxy, https_proxy, all_proxy, no_proxy). Follows redirections. The
// status is not looked at: an error page's body comes back like any other.
// The window is not serviced meanwhile.
Text readWebPage(std::string_view url, const std::atomic<bool>* cancelled = nullptr);

}  // namespace qinghe
