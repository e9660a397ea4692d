// Any bytes as the skin library's image: the loader's checks, its mapping,
// relocation, protection and export look-up never fail unchecked, and keep
// the promises the binding relies on. The image's own code never runs here:
// its initialisers are left out and its imports bind to a stand-in.

#include "skin/mapped_library.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

namespace {

void require(bool promise)
{
    if (!promise)
        std::abort();
}

void standIn() {}

// The libraries and symbols the real skin library asks for, and nothing else.
class FuzzImports : public qinghe::ImportScope {
public:
    bool openLibrary(const char* name) override { return std::strcmp(name, "libc.so.6") == 0; }

    void* findSymbol(const char* name) override
    {
        for (const char* known : {"memchr", "qingheSkinPaint", "__cxa_finalize"}) {
            if (std::strcmp(name, known) == 0)
                return reinterpret_cast<void*>(&standIn);
        }
        return nullptr;
    }
};

bool insideImage(const qinghe::MappedLibrary& library, void* address)
{
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    return at >= library.base() && at - library.base() < library.mappedSize();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qinghe::MapOptions options;
    options.imports = std::make_unique<FuzzImports>();
    options.runInitialisers = false;
    qinghe::MapResult result = qinghe::MappedLibrary::map(std::span(data, size), std::move(options));
    require((result.library != nullptr) == (result.failure == qinghe::MapFailure::None));
    if (result.library == nullptr)
        return 0;
    const qinghe::MappedLibrary& library = *result.library;
    require(library.mappedSize() > 0 && !library.initialised());
    for (const char* name : {"skin_attach_res", "skin_adjust_hsv", "", "qingheSkinPaint"}) {
        void* found = library.findExport(name);
        // Whatever the tables say, an export found lies inside the image.
        require(found == nullptr || insideImage(library, found));
    }
    return 0;
}
