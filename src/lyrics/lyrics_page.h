#pragma once

// What the lyrics search reads from the music portal's pages and what it
// sends there. Pure text work on GBK bytes, no browser and no widget: the
// page text comes from outside and everything here must take any bytes.

#include "text/text.h"

#include <string_view>

namespace qinghe {

// The search runs only when title and singer both hold more than spaces
// (ASCII or full-width).
bool hasSearchTerms(std::string_view title, std::string_view singer);

// The portal's query text: every byte of the singer, a plain space, every
// byte of the title, each byte as "%" and two hex digits. The boxes' texts
// go in as typed, spaces at their ends included.
Text lyricsSearchQuery(std::string_view title, std::string_view singer);

// The fixed end of every search address, the position of a click on the
// portal's search button.
inline constexpr std::string_view kSearchAddressTail = "&search_bt.x=0&search_bt.y=0";

// The search page has written its result row.
bool searchResultShown(std::string_view pageHtml);

struct SearchResult {
    Text singer;  // empty when the page names none
    Text songId;  // taken as it stands: it goes into the lyrics address unencoded
};
SearchResult readSearchResult(std::string_view pageHtml);

// The lyrics page shows its lyrics paragraph.
bool lyricsShown(std::string_view pageHtml);

// The lyrics paragraph as the plain text the window shows: every "<BR>" and
// "</BR>" (any letter case) a CR LF, other tags and comments left out, and
// character references (&amp; &lt; &gt; &quot; &#39; &apos; &nbsp; &#NNN;
// &#xHH;) made the characters they stand for; what GBK cannot hold is '?'.
Text lyricsOfPage(std::string_view pageHtml);

}  // namespace qinghe
