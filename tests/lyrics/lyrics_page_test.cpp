#include "lyrics/lyrics_page.h"

#include <gtest/gtest.h>

using namespace qinghe;

namespace {

// GBK bytes: "青禾", the full-width space, "你好".
constexpr const char* kQinghe = "\xC7\xE0\xBA\xCC";
constexpr const char* kWideSpace = "\xA1\xA1";
constexpr const char* kHello = "\xC4\xE3\xBA\xC3";

}  // namespace

TEST(LyricsSearchTerms, TitleOrSingerOfOnlySpacesIsNoSearch)
{
    EXPECT_TRUE(hasSearchTerms("d", "abc"));
    EXPECT_TRUE(hasSearchTerms(std::string(" ") + kHello + kWideSpace, kQinghe));
    EXPECT_FALSE(hasSearchTerms("", kQinghe));
    EXPECT_FALSE(hasSearchTerms("   ", kQinghe));
    EXPECT_FALSE(hasSearchTerms(std::string(kWideSpace) + " " + kWideSpace, kQinghe));
    EXPECT_FALSE(hasSearchTerms(kHello, ""));
    EXPECT_FALSE(hasSearchTerms(kHello, kWideSpace));
}

TEST(LyricsSearchQuery, EveryByteEscapedAroundOnePlainSpace)
{
    EXPECT_EQ(lyricsSearchQuery("d", "abc"), "%61%62%63 %64");
    EXPECT_EQ(lyricsSearchQuery(kHello, kQinghe), "%C7%E0%BA%CC %C4%E3%BA%C3");
    // The boxes' texts go in untrimmed, a byte below 0x10 with its leading zero.
    EXPECT_EQ(lyricsSearchQuery(" d", std::string("a\x0A")), "%61%0A %20%64");
    EXPECT_EQ(lyricsSearchQuery("", ""), " ");
}

TEST(LyricsSearchPage, ResultRowGivesSongIdAndSinger)
{
    const std::string page = std::string("<TABLE><TBODY><TR><TD class=data>mid=20240817|") + kHello +
                             "|</TD><TD>msinger=" + kQinghe + "|</TD></TR></TBODY></TABLE>";
    EXPECT_TRUE(searchResultShown(page));
    const SearchResult result = readSearchResult(page);
    EXPECT_EQ(result.songId, "20240817");
    EXPECT_EQ(result.singer, kQinghe);
}

TEST(LyricsSearchPage, MarkersIgnoreLetterCase)
{
    const std::string page = "<td CLASS=DATA>MID=7|x|</td><td>MSinger=abc|</td>";
    EXPECT_TRUE(searchResultShown(page));
    EXPECT_EQ(readSearchResult(page).songId, "7");
    EXPECT_EQ(readSearchResult(page).singer, "abc");
}

TEST(LyricsSearchPage, RowWithoutItsMarksIsNotAResult)
{
    EXPECT_FALSE(searchResultShown(""));
    EXPECT_FALSE(searchResultShown("<TD class=\"data\">mid=7|</TD>"));  // a quoted value is another form
    EXPECT_FALSE(searchResultShown("<TD class=data> mid=7|</TD>"));
    // A row without a singer gives an empty singer; a value without its end mark gives nothing.
    const SearchResult result = readSearchResult("<TD class=data>mid=7|x|</TD>");
    EXPECT_EQ(result.songId, "7");
    EXPECT_EQ(result.singer, "");
    EXPECT_EQ(readSearchResult("<TD class=data>mid=7").songId, "");
}

TEST(LyricsPage, EveryFormOfLineBreakBecomesCrLf)
{
    const std::string page = std::string("<DIV><P id=lyrics>") + kHello + "<BR>" + kQinghe + "</BR>a<br>b</br>c<Br>d</bR>e</P></DIV>";
    EXPECT_TRUE(lyricsShown(page));
    EXPECT_EQ(lyricsOfPage(page), std::string(kHello) + "\r\n" + kQinghe + "\r\na\r\nb\r\nc\r\nd\r\ne");
}

TEST(LyricsPage, OtherTagsGoAndReferencesBecomeTheirCharacters)
{
    EXPECT_EQ(lyricsOfPage("<P id=lyrics><B>x</B><!-- a > b --> &amp; &nbsp;y<BR/>z<BR >w</P>"), "x &  yzw");
    // &#20013; and &#x4E2D; are 中; a reference to no character, or to one GBK lacks, is '?'.
    EXPECT_EQ(lyricsOfPage("<P id=lyrics>&lt;&gt;&quot;&#39;&apos;&#20013;&#x4e2d;&#0;&#x110000;&#128512;</P>"),
              "<>\"''\xD6\xD0\xD6\xD0???");
    // What is no reference or no tag stays as it stands.
    EXPECT_EQ(lyricsOfPage("<P id=lyrics>&copy; &amp &#; &#xZ; a&b a <b</P>"), "&copy; &amp &#; &#xZ; a&b a <b");
    // The paragraph ends at the first end tag of a paragraph.
    EXPECT_EQ(lyricsOfPage("<p ID=LYRICS>one</p><P>two</P>"), "one");
}

TEST(LyricsPage, MissingParagraphOrEndGivesNoLyrics)
{
    EXPECT_FALSE(lyricsShown("<P>one</P>"));
    EXPECT_FALSE(lyricsShown("<P id=\"lyrics\">one</P>"));
    EXPECT_TRUE(lyricsShown("<P id=lyrics>one"));
    EXPECT_EQ(lyricsOfPage("<P id=lyrics>one"), "");
    EXPECT_EQ(lyricsOfPage("<P>one</P>"), "");
}
