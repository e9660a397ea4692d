#pragma once

#include <cstdint>
#include <span>

namespace qinghe {

// The skin library's image, exactly as the linker wrote it. The program maps
// it from here; it is never written to a file.
std::span<const std::uint8_t> skinLibraryImage();

// The program's skin file, assets/skin/qinghe.skin, handed to the library unchanged.
std::span<const std::uint8_t> programSkinFile();

}  // namespace qinghe
