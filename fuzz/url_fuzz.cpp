// Any bytes as an address: the splitting never fails, and its parts keep
// the promises the request relies on.

#include "net/url_parts.h"
#include "text/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool promise)
{
    if (!promise)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view url(reinterpret_cast<const char*>(data), size);

    const qinghe::Text host = qinghe::urlHost(url);
    require(host.size() <= url.size());
    // The port is cut off and the path never reaches into the host.
    require(qinghe::findInText(host, ":") < 0);
    require(qinghe::findInText(host, "/") < 0);
    // Every single-byte letter is small; the host is found in the address.
    for (std::size_t i = 0; i < host.size(); i += qinghe::characterLength(host, i))
        require(qinghe::characterLength(host, i) == 2 || host[i] < 'A' || host[i] > 'Z');
    require(host.empty() || qinghe::findInText(url, host, 1, true) > 0);

    require(qinghe::urlPort(url) >= 0);

    const qinghe::Text path = qinghe::urlPath(url);
    require(!path.empty() && path.front() == '/');
    require(path == "/" || (path.size() <= url.size() && url.substr(url.size() - path.size()) == path));
    return 0;
}
