#include "program_plugins.h"

#include <filesystem>
#include <system_error>

namespace qinghe {

std::string findProgramPlugin(const std::string& fileName)
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    const std::filesystem::path folder = program.parent_path();
    for (const std::filesystem::path& candidate :
         {folder / fileName, folder / QINGHE_INSTALLED_PLUGINS / fileName}) {
        if (std::filesystem::is_regular_file(candidate, error))
            return std::filesystem::weakly_canonical(candidate, error).string();
    }
    return {};
}

}  // namespace qinghe
