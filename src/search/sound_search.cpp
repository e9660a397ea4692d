#include "sound_search.h"

#include "board/sound_catalogue.h"
#include "text/text.h"

#include <QSet>

namespace qinghe {
namespace {

constexpr char32_t kLastAscii = 0x7F;

char32_t foldedCharacter(char32_t c)
{
    return c <= kLastAscii ? static_cast<char32_t>(toLowerAscii(static_cast<char>(c))) : c;
}

// The bit of a query character that stands for a first letter, 0 if it cannot.
std::uint32_t initialBit(char32_t folded)
{
    return folded >= U'a' && folded <= U'z' ? 1u << (folded - U'a') : 0;
}

// Code points of a text; a lone surrogate comes back as U+FFFD, which no caption holds.
std::vector<char32_t> codePoints(QStringView text)
{
    std::vector<char32_t> points;
    points.reserve(static_cast<std::size_t>(text.size()));
    for (const char32_t c : text.toUcs4())
        points.push_back(c);
    return points;
}

}  // namespace

std::vector<SearchEntry> boardSearchEntries(const SlotNameOf& slotName)
{
    std::vector<SearchEntry> entries;
    QSet<QString> effects;
    for (const BoardButton& button : boardCatalogue()) {
        const QString control = QString::fromUtf8(button.name.data(), static_cast<qsizetype>(button.name.size()));
        if (button.action == BoardAction::PlayEffect) {
            const QString caption = QString::fromUtf8(button.caption.data(), static_cast<qsizetype>(button.caption.size()));
            if (!effects.contains(caption)) {
                effects.insert(caption);
                entries.push_back({caption, control});
            }
        } else if (button.action == BoardAction::CustomSlot && slotName) {
            const QString name = slotName(button.slot);
            if (!name.isEmpty())
                entries.push_back({name, control});
        }
    }
    return entries;
}

SoundSearch::SoundSearch(std::vector<SearchEntry> entries) : entries_(std::move(entries))
{
    letters_.reserve(entries_.size());
    for (const SearchEntry& entry : entries_) {
        std::vector<Letter> letters;
        for (const char32_t c : codePoints(entry.caption))
            letters.push_back({foldedCharacter(c), pinyinInitials(c)});
        letters_.push_back(std::move(letters));
    }
}

std::vector<std::size_t> SoundSearch::find(QStringView query) const
{
    std::vector<std::size_t> found;
    std::vector<char32_t> wanted = codePoints(query);
    std::vector<std::uint32_t> bits;
    bits.reserve(wanted.size());
    for (char32_t& c : wanted) {
        c = foldedCharacter(c);
        bits.push_back(initialBit(c));
    }
    std::vector<std::size_t> later;
    for (std::size_t e = 0; e < letters_.size(); ++e) {
        const std::vector<Letter>& letters = letters_[e];
        if (wanted.size() > letters.size())
            continue;
        for (std::size_t start = 0; start + wanted.size() <= letters.size(); ++start) {
            std::size_t k = 0;
            while (k < wanted.size() && (letters[start + k].folded == wanted[k] ||
                                         (letters[start + k].initials & bits[k]) != 0))
                ++k;
            if (k == wanted.size()) {
                (start == 0 ? found : later).push_back(e);
                break;
            }
        }
    }
    found.insert(found.end(), later.begin(), later.end());
    return found;
}

}  // namespace qinghe
