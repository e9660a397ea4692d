#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <vector>

namespace qinghe {

// One sound the host can find: what its board button shows, and the button.
struct SearchEntry {
    QString caption;  // as the button shows it
    QString control;  // the board button's control name ("按钮8"); a click on it plays the sound
};

// The caption a custom slot (1..18) shows on the board; empty while nothing is bound to it.
using SlotNameOf = std::function<QString(int slot)>;

// Every built-in effect once (the same caption on two pages is one sound),
// then each bound custom slot under its name, in board order. The stop
// buttons are not sounds and are left out.
std::vector<SearchEntry> boardSearchEntries(const SlotNameOf& slotName);

// The first letters of a character's Mandarin readings, a..z as bits 0..25;
// 0 for a character without a reading (not a Han character, or unknown).
std::uint32_t pinyinInitials(char32_t c);

// Finds entries as the host types. A query matches a caption when its
// characters stand, in a row, for characters of the caption in a row: each
// query character either is that character (ASCII letters in either case) or
// is the first letter of one of its readings. So "哄堂", "htdx", "堂d" all find
// 哄堂大笑. The entries are read once, when given, so a key press costs only
// the comparisons.
class SoundSearch {
public:
    explicit SoundSearch(std::vector<SearchEntry> entries = {});

    const std::vector<SearchEntry>& entries() const { return entries_; }

    // Indices into entries(): those matched from their caption's start first,
    // then the others, each group in entry order. An empty query lists every
    // entry. Any text (any length, any script, control characters, lone
    // surrogates) is taken; what matches nothing finds nothing.
    std::vector<std::size_t> find(QStringView query) const;

private:
    // A caption's character as the matcher compares it.
    struct Letter {
        char32_t folded;         // the character, ASCII letters made small
        std::uint32_t initials;  // pinyinInitials of it
    };

    std::vector<SearchEntry> entries_;
    std::vector<std::vector<Letter>> letters_;  // per entry
};

}  // namespace qinghe
