#pragma once

#include <cstddef>
#include <cstdint>

namespace qinghe {

// One character's pinyin initials, a..z as bits 0..25.
struct PinyinInitialsRow {
    std::uint32_t character;
    std::uint32_t initials;
};

// Made at build time from Unihan's readings (make_pinyin_initials.py), sorted by character.
extern const PinyinInitialsRow kPinyinInitialsTable[];
extern const std::size_t kPinyinInitialsTableSize;

}  // namespace qinghe
