#include "text.h"

#include <cstddef>

namespace qinghe {

namespace {

// "#引号" in GBK: how a marker written in a script asks for a double quote.
constexpr std::string_view kQuoteTag = "#\xD2\xFD\xBA\xC5";

} // namespace

Text textBetween(std::string_view text, std::string_view openMarker, std::string_view closeMarker,
                 int start)
{
    const int open = findInText(text, openMarker, start > 0 ? start : 1, true);
    if (open < 0)
        return {};
    const int from = open + static_cast<int>(openMarker.size());
    const int close = findInText(text, closeMarker, from, true);
    // An empty closing marker is reported at 1, which may lie before from.
    if (close <= from)
        return {};
    return Text(text.substr(static_cast<std::size_t>(from) - 1,
                            static_cast<std::size_t>(close - from)));
}

Text textBetweenQuoted(std::string_view text, std::string_view openMarker,
                       std::string_view closeMarker, int start, bool caseSensitive)
{
    const Text open = replaceInText(openMarker, kQuoteTag, "\"", true);
    const Text close = replaceInText(closeMarker, kQuoteTag, "\"", true);
    const int openAt = findInText(text, open, start, !caseSensitive);
    if (openAt < 0)
        return {};
    const std::size_t restFrom = static_cast<std::size_t>(openAt) - 1 + open.size();
    // A match of an empty marker may be reported before start; never run
    // past the end either way.
    if (restFrom > text.size())
        return {};
    const std::string_view rest = text.substr(restFrom);
    const int closeAt = findInText(rest, close, 1, !caseSensitive);
    if (closeAt < 0)
        return {};
    return Text(rest.substr(0, static_cast<std::size_t>(closeAt) - 1));
}

} // namespace qinghe
