#include "lyrics_page.h"

namespace qinghe {
namespace {

// The markers match the body as the browser serialises it: capital tag
// names, simple attribute values without quotes. All are matched ignoring
// ASCII case.
constexpr std::string_view kResultRowMarker = "<TD class=data>mid=";
constexpr std::string_view kSongIdStart = "data>mid=";
constexpr std::string_view kSingerStart = "msinger=";
// The search page ends each of its values with this.
constexpr std::string_view kValueEnd = "|";
constexpr std::string_view kLyricsStart = "<P id=lyrics>";
constexpr std::string_view kLyricsEnd = "</P>";
constexpr std::string_view kLineBreakTag = "<BR>";
constexpr std::string_view kLineBreakEndTag = "</BR>";
constexpr std::string_view kLineEnd = "\r\n";

bool pageShows(std::string_view pageHtml, std::string_view marker)
{
    return findInText(pageHtml, marker, 1, true) > 0;
}

}  // namespace

bool hasSearchTerms(std::string_view title, std::string_view singer)
{
    return !trimSpaces(title).empty() && !trimSpaces(singer).empty();
}

Text lyricsSearchQuery(std::string_view title, std::string_view singer)
{
    return percentEncode(singer) + ' ' + percentEncode(title);
}

bool searchResultShown(std::string_view pageHtml)
{
    return pageShows(pageHtml, kResultRowMarker);
}

SearchResult readSearchResult(std::string_view pageHtml)
{
    return {textBetween(pageHtml, kSingerStart, kValueEnd), textBetween(pageHtml, kSongIdStart, kValueEnd)};
}

bool lyricsShown(std::string_view pageHtml)
{
    return pageShows(pageHtml, kLyricsStart);
}

Text lyricsOfPage(std::string_view pageHtml)
{
    const Text markup = textBetween(pageHtml, kLyricsStart, kLyricsEnd);
    return replaceInText(replaceInText(markup, kLineBreakTag, kLineEnd, false), kLineBreakEndTag, kLineEnd, false);
}

}  // namespace qinghe
