#include "pinyin_initials_table.h"
#include "sound_search.h"

#include <algorithm>

namespace qinghe {

std::uint32_t pinyinInitials(char32_t c)
{
    const PinyinInitialsRow* first = kPinyinInitialsTable;
    const PinyinInitialsRow* last = kPinyinInitialsTable + kPinyinInitialsTableSize;
    const auto* row = std::lower_bound(first, last, static_cast<std::uint32_t>(c),
                                       [](const PinyinInitialsRow& r, std::uint32_t key) { return r.character < key; });
    return row != last && row->character == c ? row->initials : 0;
}

}  // namespace qinghe
