#include "text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

using qinghe::findInText;
using qinghe::replaceInText;
using qinghe::Text;

namespace {

bool isLead(unsigned char c) { return c >= 0x80; }

unsigned char foldByte(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

bool matchesAt(std::string_view text, std::size_t pos, std::string_view pattern, bool fold)
{
    if (text.size() - pos < pattern.size())
        return false;
    for (std::size_t k = 0; k < pattern.size(); ++k) {
        const auto a = static_cast<unsigned char>(text[pos + k]);
        const auto b = static_cast<unsigned char>(pattern[k]);
        if (fold ? foldByte(a) != foldByte(b) : a != b)
            return false;
    }
    return true;
}

// The search rule written out literally: test each character start in turn.
int referenceFind(std::string_view text, std::string_view pattern, int start, bool fold)
{
    const std::size_t begin = start > 1 ? static_cast<std::size_t>(start - 1) : 0;
    if (begin >= text.size())
        return -1;
    if (pattern.empty())
        return 1;
    for (std::size_t pos = begin; pos < text.size();
         pos += isLead(static_cast<unsigned char>(text[pos])) ? 2 : 1) {
        if (matchesAt(text, pos, pattern, fold))
            return static_cast<int>(pos) + 1;
    }
    return -1;
}

// The replacement rule written out literally.
Text referenceReplace(std::string_view text, std::string_view pattern, std::string_view with,
                      bool matchCase)
{
    if (text.empty() || pattern.empty())
        return Text(text);
    Text out;
    std::size_t pos = 0;
    while (pos < text.size() && text.size() - pos >= pattern.size()) {
        if (matchesAt(text, pos, pattern, !matchCase)) {
            out += with;
            pos += pattern.size();
        } else {
            const std::size_t len =
                isLead(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
            out += text.substr(pos, len);
            pos += len;
        }
    }
    out += text.substr(pos);
    return out;
}

// Pieces chosen so that trail bytes look like ASCII letters and lead bytes
// pile up, which is where stepping and folding go wrong.
const std::vector<std::string> kPieces = {
    "a", "A", "b", "B", "@", "`", " ",
    "\x81\x41", "\x81\x61", "\x81\x81", "\xB0\xA1", "\xA1\xA1", "\xD6\xD0", "\x80\x62",
};

Text randomText(std::mt19937& rng, std::size_t pieces)
{
    Text t;
    for (std::size_t i = 0; i < pieces; ++i)
        t += kPieces[rng() % kPieces.size()];
    if (rng() % 4 == 0)
        t += static_cast<char>(0x81 + rng() % 0x7E); // lone lead byte at the end
    return t;
}

// Either a piece of the text (from any byte, aligned or not, case flipped
// at random) or fresh random pieces.
Text randomPattern(std::mt19937& rng, const Text& text)
{
    if (text.empty() || rng() % 3 == 0)
        return randomText(rng, 1 + rng() % 3);
    const std::size_t from = rng() % text.size();
    Text p = text.substr(from, 1 + rng() % 4);
    for (char& c : p) {
        if (std::isalpha(static_cast<unsigned char>(c)) && rng() % 2 == 0)
            c ^= 0x20;
    }
    return p;
}

} // namespace

TEST(FindInText, StartPositions)
{
    EXPECT_EQ(findInText("aaaa", "aa", 1), 1);
    EXPECT_EQ(findInText("aaaa", "aa", 2), 2);
    EXPECT_EQ(findInText("aaaa", "aa", 3), 3);
    EXPECT_EQ(findInText("aaaa", "aa", 4), -1);
    EXPECT_EQ(findInText("aaaa", "aa"), 1);
    EXPECT_EQ(findInText("abc", "a", 0), 1);
    EXPECT_EQ(findInText("abc", "a", -5), 1);
    EXPECT_EQ(findInText("abc", "c", 4), -1);
    EXPECT_EQ(findInText("abc", "abcd"), -1);
    EXPECT_EQ(findInText("", "a"), -1);
}

TEST(FindInText, EmptyPattern)
{
    EXPECT_EQ(findInText("abc", ""), 1);
    EXPECT_EQ(findInText("abc", "", 3), 1); // 1, not the start
    EXPECT_EQ(findInText("abc", "", 0), 1);
    EXPECT_EQ(findInText("abc", "", 4), -1);
    EXPECT_EQ(findInText("", ""), -1);
}

TEST(FindInText, DoubleByteStepping)
{
    // The 'A' is the second byte of one character: no match from the start,
    // but a start inside the character restarts stepping there.
    EXPECT_EQ(findInText("\x81\x41", "A"), -1);
    EXPECT_EQ(findInText("\x81\x41", "A", 2), 2);
    EXPECT_EQ(findInText("\x81\x41" "A", "A"), 3);
    // Raw occurrences straddling characters are not matches.
    EXPECT_EQ(findInText("\xB0\xA1\xB0\xA1", "\xA1\xB0"), -1);
    EXPECT_EQ(findInText("\xB0\xA1\xB0\xA1", "\xA1\xB0", 2), 2);
    // A lead byte that is the last byte is still a candidate.
    EXPECT_EQ(findInText("ab\x81", "\x81"), 3);
    EXPECT_EQ(findInText("\x81", "\x81"), 1);
    EXPECT_EQ(findInText("a\x81\x81", "\x81"), 2);
    EXPECT_EQ(findInText("\x81\x81\x81", "\x81\x81", 2), 2);
    EXPECT_EQ(findInText("\x81\x81\x81", "\x81", 3), 3);
    // Long runs, so whole blocks of candidates are examined at once.
    const Text run = Text(40, '\x81') + "x" + Text(40, '\xB0') + "x";
    EXPECT_EQ(findInText(run, "\x81x"), -1);
    EXPECT_EQ(findInText(run, "\xB0x"), -1);
    EXPECT_EQ(findInText(run, "x\xB0"), 41);
    EXPECT_EQ(findInText(run, "\x81x", 2), 40);
    EXPECT_EQ(findInText(run, "\xB0x", 43), 81);
}

TEST(FindInText, IgnoreCase)
{
    EXPECT_EQ(findInText("say Hello", "hELLO", 1, true), 5);
    EXPECT_EQ(findInText("say Hello", "hELLO", 1, false), -1);
    // Second bytes of double-byte characters are folded too.
    EXPECT_EQ(findInText("\x81\x41", "\x81\x61", 1, true), 1);
    EXPECT_EQ(findInText("\x81\x41", "\x81\x61", 1, false), -1);
    // Only letters fold, not other bytes 0x20 apart.
    EXPECT_EQ(findInText("@[", "`{", 1, true), -1);
    EXPECT_EQ(findInText("@[", "@[", 1, true), 1);
    const Text longText = Text(100, 'x') + "ZYX" + Text(20, 'q');
    EXPECT_EQ(findInText(longText, "xzyxQ", 1, true), 100);
    EXPECT_EQ(findInText(longText, "yxQQ", 1, true), 102);
}

TEST(FindInText, NeverLooksPastTheEnd)
{
    // The text is a view into a longer buffer whose next bytes would complete
    // the pattern; every length crosses a different point of a scan block.
    const Text buffer = Text(80, 'x') + "ab";
    for (std::size_t len = 1; len <= 80; ++len) {
        const std::string_view text(buffer.data() + 81 - len, len); // ends with the 'a'
        EXPECT_EQ(findInText(text, "ab"), -1) << len;
        EXPECT_EQ(findInText(text, "Ab", 1, true), -1) << len;
        EXPECT_EQ(replaceInText(text, "ab", "-", true), Text(len - 1, 'x') + "a") << len;
    }
}

TEST(FindInText, MatchesLiteralRuleOnRandomTexts)
{
    std::mt19937 rng(20240611);
    for (int round = 0; round < 4000; ++round) {
        const Text text = randomText(rng, rng() % 120);
        for (int k = 0; k < 4; ++k) {
            const Text pattern = randomPattern(rng, text);
            const int start = static_cast<int>(rng() % (text.size() + 4)) - 1;
            for (const bool fold : {false, true}) {
                ASSERT_EQ(findInText(text, pattern, start, fold),
                          referenceFind(text, pattern, start, fold))
                    << "round " << round << " start " << start << " fold " << fold;
            }
        }
    }
}

TEST(ReplaceInText, Basics)
{
    EXPECT_EQ(replaceInText("aXa", "a", "aa", true), "aaXaa"); // not scanned again
    EXPECT_EQ(replaceInText("aaa", "aa", "a", true), "aa");
    EXPECT_EQ(replaceInText("abAB", "ab", "-", true), "-AB");
    EXPECT_EQ(replaceInText("abAB", "ab", "-", false), "--");
    EXPECT_EQ(replaceInText("\x81\x41", "\x81\x61", "z", false), "z");
    EXPECT_EQ(replaceInText("abc", "", "x", true), "abc");
    EXPECT_EQ(replaceInText("", "a", "x", true), "");
    EXPECT_EQ(replaceInText("abc", "abcd", "x", true), "abc");
    EXPECT_EQ(replaceInText("abc", "b", "", true), "ac");
}

TEST(ReplaceInText, DoubleByteStepping)
{
    EXPECT_EQ(replaceInText("\x81\x41" "A", "A", "z", true), "\x81\x41z");
    EXPECT_EQ(replaceInText("ab\x81", "b", "c", true), "ac\x81");
    EXPECT_EQ(replaceInText("a\x81", "\x81", "z", true), "az");
    EXPECT_EQ(replaceInText("\xB0\xA1\xB0\xA1", "\xA1\xB0", "z", true), "\xB0\xA1\xB0\xA1");
}

TEST(ReplaceInText, MatchesLiteralRuleOnRandomTexts)
{
    std::mt19937 rng(7151);
    for (int round = 0; round < 4000; ++round) {
        const Text text = randomText(rng, rng() % 120);
        const Text pattern = randomPattern(rng, text);
        const Text with = randomText(rng, rng() % 3);
        for (const bool matchCase : {true, false}) {
            ASSERT_EQ(replaceInText(text, pattern, with, matchCase),
                      referenceReplace(text, pattern, with, matchCase))
                << "round " << round << " matchCase " << matchCase;
        }
    }
}
