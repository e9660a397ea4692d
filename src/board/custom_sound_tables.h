#pragma once

#include "text/text.h"

#include <optional>
#include <vector>

namespace qinghe {

// The two program-wide tables behind the custom buttons, indexed 1..100 so
// that a slot number indexes them directly; slots 1..18 are used.
inline constexpr int kCustomSoundTableSize = 100;

struct CustomSoundTables {
    std::vector<Text> paths = std::vector<Text>(kCustomSoundTableSize + 1);
    std::vector<Text> names = std::vector<Text>(kCustomSoundTableSize + 1);
    // The gain in decibels that brings a slot's file to the effects'
    // loudness; absent until it is measured, or when it cannot be.
    std::vector<std::optional<double>> loudnessGains =
        std::vector<std::optional<double>>(kCustomSoundTableSize + 1);
};

}  // namespace qinghe
