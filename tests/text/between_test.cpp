#include "text.h"

#include <gtest/gtest.h>

using qinghe::textBetween;
using qinghe::textBetweenQuoted;

namespace {

// "当前12人在线", "当前", "人在线" and "#引号" in GBK.
constexpr const char* kOnline = "\xB5\xB1\xC7\xB0" "12" "\xC8\xCB\xD4\xDA\xCF\xDF";
constexpr const char* kNow = "\xB5\xB1\xC7\xB0";
constexpr const char* kPeopleOnline = "\xC8\xCB\xD4\xDA\xCF\xDF";
constexpr const char* kQuoteTag = "#\xD2\xFD\xBA\xC5";

} // namespace

TEST(TextBetween, FindsTheBytesBetweenMarkers)
{
    EXPECT_EQ(textBetween(kOnline, kNow, kPeopleOnline), "12");
    EXPECT_EQ(textBetween("<b>x</b>", "<b>", "</b>"), "x");
    EXPECT_EQ(textBetween("<B>x</b>", "<b>", "</B>"), "x"); // markers ignore case
    EXPECT_EQ(textBetween("<b></b>", "<b>", "</b>"), "");
}

TEST(TextBetween, MissingMarkersGiveEmpty)
{
    EXPECT_EQ(textBetween("<b>x</b>", "<i>", "</b>"), "");
    EXPECT_EQ(textBetween("<b>x</b>", "<b>", "</i>"), "");
    EXPECT_EQ(textBetween("</b><b>x", "<b>", "</b>"), ""); // closing only before
    EXPECT_EQ(textBetween("", "<b>", "</b>"), "");
}

TEST(TextBetween, StartIsHonoured)
{
    EXPECT_EQ(textBetween("<b>1</b><b>2</b>", "<b>", "</b>", 2), "2");
    EXPECT_EQ(textBetween("<b>1</b><b>2</b>", "<b>", "</b>", 0), "1");
    EXPECT_EQ(textBetween("<b>1</b><b>2</b>", "<b>", "</b>", -3), "1");
    EXPECT_EQ(textBetween("<b>1</b>", "<b>", "</b>", 2), "");
}

TEST(TextBetweenQuoted, QuoteTagStandsForQuote)
{
    const std::string open = std::string("value=") + kQuoteTag;
    EXPECT_EQ(textBetweenQuoted("<a value=\"xyz\">", open, kQuoteTag), "xyz");
    EXPECT_EQ(textBetweenQuoted("<a VALUE=\"xyz\">", open, kQuoteTag), "xyz");
    EXPECT_EQ(textBetweenQuoted("<a VALUE=\"xyz\">", open, kQuoteTag, 1, true), "");
    EXPECT_EQ(textBetweenQuoted("<a value=\"xyz\">", open, kQuoteTag, 1, true), "xyz");
    EXPECT_EQ(textBetweenQuoted("<a value=\"\">", open, kQuoteTag), "");
    EXPECT_EQ(textBetweenQuoted("[\"x\"]", std::string("[") + kQuoteTag, kQuoteTag + std::string("]")),
              "x");
}

TEST(TextBetweenQuoted, ClosingMarkerIsSearchedRightAfterOpening)
{
    // The closing marker lies within `start` bytes of the opening one.
    EXPECT_EQ(textBetweenQuoted("012345[ab]", "[", "]", 5), "ab");
    EXPECT_EQ(textBetweenQuoted("[x][ab]", "[", "]", 2), "ab");
    EXPECT_EQ(textBetweenQuoted("[ab]", "[", "]", 0), "ab");
}

TEST(TextBetweenQuoted, MissingMarkersGiveEmpty)
{
    EXPECT_EQ(textBetweenQuoted("[ab]", "(", "]"), "");
    EXPECT_EQ(textBetweenQuoted("[ab]", "[", ")"), "");
    EXPECT_EQ(textBetweenQuoted("[ab]", "[", "]", 2), "");
    EXPECT_EQ(textBetweenQuoted("", "[", "]"), "");
}
