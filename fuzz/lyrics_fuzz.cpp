// Any bytes as a portal page: reading the search result and the lyrics
// never fails, and what comes out keeps the promises the search relies on.

#include "lyrics/lyrics_page.h"
#include "text/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool promise)
{
    if (!promise)
        std::abort();
}

bool holds(std::string_view text, std::string_view part)
{
    return qinghe::findInText(text, part, 1, true) > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view page(reinterpret_cast<const char*>(data), size);

    // The song id and the singer are pieces of the page, each up to its end mark.
    const qinghe::SearchResult result = qinghe::readSearchResult(page);
    require(result.songId.size() < size || result.songId.empty());
    require(result.singer.size() < size || result.singer.empty());
    require(!holds(result.songId, "|") && !holds(result.singer, "|"));
    require(result.songId.empty() || page.find(result.songId) != std::string_view::npos);
    require(!qinghe::searchResultShown(page) || holds(page, "data>mid="));

    // No line-break tag survives but one the page wrote in part as text ("&lt;BR&gt;");
    // no reference is shorter than what it stands for; and lyrics come only
    // from a shown paragraph.
    const qinghe::Text lyrics = qinghe::lyricsOfPage(page);
    require(lyrics.size() <= size);
    require(!holds(lyrics, "<BR>") || holds(page, "&lt;") || holds(page, "&gt;"));
    require(lyrics.empty() || qinghe::lyricsShown(page));

    // The page split in two as a title and a singer: every byte escaped.
    const std::string_view title = page.substr(0, size / 2);
    const std::string_view singer = page.substr(size / 2);
    const qinghe::Text query = qinghe::lyricsSearchQuery(title, singer);
    require(query.size() == 3 * size + 1);
    require(query[3 * singer.size()] == ' ');
    require(!qinghe::hasSearchTerms(title, singer) || (!title.empty() && !singer.empty()));
    return 0;
}
