// Any bytes as addresses.ini, and as one value of it: reading never fails,
// and every address it accepts is one the program can put a page path after.

#include "online/address_file.h"

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

void requireUsableBase(const std::string& base)
{
    const std::string_view view(base);
    const bool plain = view.substr(0, 7) == "http://";
    const bool secure = view.substr(0, 8) == "https://";
    require(plain || secure);
    // A host follows the scheme, and nothing a page path cannot follow ends it.
    require(base.size() > (secure ? 8u : 7u));
    require(base.back() != '/');
    for (const char c : base)
        require(c > ' ' && c <= '~' && c != '?' && c != '#');
    // Accepted once, accepted as it stands.
    require(qinghe::baseAddressOf(base) == base);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    for (const qinghe::AddressSetting& setting : qinghe::readAddressFile(bytes)) {
        require(setting.key < qinghe::kAddressKeys.size());
        requireUsableBase(setting.base);
    }

    const std::string base = qinghe::baseAddressOf(bytes);
    if (!base.empty())
        requireUsableBase(base);
    return 0;
}
