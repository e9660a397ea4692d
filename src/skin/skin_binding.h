#pragma once

#include <cstdint>
#include <span>

namespace qinghe {

class MappedLibrary;

// Attaches the skin the program carries, unshifted, to every window of the
// process, those opened later included. The first call maps the skin
// library; later calls (the update window's) reuse it and attach the same
// skin again. False when the library could not be brought up or lacks an
// export: the program then runs on without a skin, and nothing is shown.
bool attachProgramSkin();

// Attach skin: hands the skin data to the library, then shifts it by hue
// (clamped to -180..180 degrees) and brightness (clamped to -100..100).
bool attachSkin(std::span<const std::uint8_t> skinData, int hue = 0, int brightness = 0);

// Adjust skin: shifts the attached skin by hue and brightness as given.
bool adjustSkin(int hue = 0, int brightness = 0);

// The process's one skin library; null until a mapping has succeeded.
const MappedLibrary* skinLibrary();

}  // namespace qinghe
