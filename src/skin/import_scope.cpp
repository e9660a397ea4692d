#include "import_scope.h"

#include <dlfcn.h>

#include <vector>

namespace qinghe {
namespace {

class SystemImportScope : public ImportScope {
public:
    SystemImportScope() : program_(dlopen(nullptr, RTLD_NOW)) {}

    ~SystemImportScope() override
    {
        for (auto it = opened_.rbegin(); it != opened_.rend(); ++it)
            dlclose(*it);
        if (program_ != nullptr)
            dlclose(program_);
    }

    bool openLibrary(const char* name) override
    {
        void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            return false;
        opened_.push_back(handle);
        return true;
    }

    void* findSymbol(const char* name) override
    {
        if (program_ != nullptr) {
            if (void* found = dlsym(program_, name))
                return found;
        }
        for (void* handle : opened_) {
            if (void* found = dlsym(handle, name))
                return found;
        }
        return nullptr;
    }

private:
    void* program_;
    std::vector<void*> opened_;
};

}  // namespace

std::unique_ptr<ImportScope> systemImportScope()
{
    return std::make_unique<SystemImportScope>();
}

}  // namespace qinghe
