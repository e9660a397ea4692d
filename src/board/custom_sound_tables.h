#pragma once

#include "text/text.h"

#include <vector>

namespace qinghe {

// The two program-wide tables behind the custom buttons, indexed 1..100 so
// that a slot number indexes them directly; slots 1..18 are used.
inline constexpr int kCustomSoundTableSize = 100;

struct CustomSoundTables {
    std::vector<Text> paths = std::vector<Text>(kCustomSoundTableSize + 1);
    std::vector<Text> names = std::vector<Text>(kCustomSoundTableSize + 1);
};

}  // namespace qinghe
