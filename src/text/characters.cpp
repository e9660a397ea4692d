#include "text.h"

namespace qinghe {

std::size_t characterStart(std::string_view text, std::size_t i, std::size_t knownStart)
{
    // A byte below 0x80 always ends a character; from the byte after the last
    // one, characters run two bytes each.
    std::size_t runStart = i;
    while (runStart > knownStart && isLeadByte(text[runStart - 1]))
        --runStart;
    return (i - runStart) % 2 == 0 ? i : i - 1;
}

Text toLowerAsciiText(std::string_view text)
{
    Text lower(text);
    for (std::size_t i = 0; i < lower.size(); i += characterLength(lower, i))
        lower[i] = toLowerAscii(lower[i]);
    return lower;
}

bool sameTextIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t length = characterLength(a, i);
        if (length != characterLength(b, i))
            return false;
        if (length == 1 ? toLowerAscii(a[i]) != toLowerAscii(b[i]) : a.substr(i, 2) != b.substr(i, 2))
            return false;
        i += length;
    }
    return true;
}

}  // namespace qinghe
