// What the program shows of a text and what it finds in it follow one model:
// a byte from 0x80 on and the byte after it are one character.

#include "gbk.h"
#include "text.h"

#include <gtest/gtest.h>

#include <QList>
#include <QString>

#include <random>
#include <string>
#include <vector>

using namespace qinghe;

namespace {

// The characters of the model, each as its bytes, stepping from the first byte.
std::vector<Text> modelCharacters(const Text& bytes)
{
    std::vector<Text> characters;
    for (std::size_t i = 0; i < bytes.size(); i += characterLength(bytes, i))
        characters.push_back(bytes.substr(i, characterLength(bytes, i)));
    return characters;
}

std::size_t codePoints(const QString& s) { return static_cast<std::size_t>(s.toUcs4().size()); }

QString fromCodePoint(char32_t c) { return QString::fromUcs4(&c, 1); }

Text randomHighBytes(std::mt19937& random, std::size_t size)
{
    Text bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() % 2 == 0 ? 0x80 + random() % 0x80 : random() % 0x100);
    return bytes;
}

}  // namespace

TEST(TextModel, AnInvalidPairIsShownAsTheOneCharacterFindSteps)
{
    // 0x80 is no GBK lead byte, yet the model takes it and the 'a' as one character.
    const Text bytes = "\x80" "a";
    EXPECT_EQ(findInText(bytes, "a"), -1);
    EXPECT_EQ(codePoints(toQString(bytes)), 1u);
    EXPECT_EQ(fromQString(toQString(bytes)), bytes);

    // Whatever follows the pair is found where it is shown.
    const Text longer = "x\x80" "ab";
    EXPECT_EQ(findInText(longer, "b"), 4);
    EXPECT_EQ(findInText(longer, "a"), -1);
    EXPECT_EQ(toQString(longer), "x" + fromCodePoint(0x100061) + "b");
}

TEST(TextModel, EveryPairAndEveryLoneLeadByteIsOneShownCharacter)
{
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        const Text lone(1, static_cast<char>(lead));
        ASSERT_EQ(codePoints(toQString(lone)), 1u) << lead;
        for (int trail = 0; trail <= 0xFF; ++trail) {
            const Text pair{static_cast<char>(lead), static_cast<char>(trail)};
            ASSERT_EQ(codePoints(toQString(pair)), 1u) << lead << ' ' << trail;
            ASSERT_EQ(fromQString(toQString(pair)), pair) << lead << ' ' << trail;
        }
    }
}

TEST(TextModel, ShownCharactersAreTheModelsCharactersOneByOne)
{
    std::mt19937 random(2718);
    for (int round = 0; round < 2000; ++round) {
        const Text bytes = randomHighBytes(random, random() % 48);
        const std::vector<Text> characters = modelCharacters(bytes);
        QString joined;
        for (const Text& character : characters) {
            const QString shown = toQString(character);
            ASSERT_EQ(codePoints(shown), 1u);
            joined += shown;
        }
        ASSERT_EQ(toQString(bytes), joined);
        ASSERT_EQ(fromQString(joined), bytes);
        // Each character is found at its own start, never inside another.
        std::size_t at = 0;
        for (const Text& character : characters) {
            ASSERT_EQ(findInText(bytes, character, static_cast<int>(at) + 1), static_cast<int>(at) + 1);
            at += character.size();
        }
    }
}

TEST(TextModel, InvalidPairsTakeSupplementaryPrivateUseCharacters)
{
    // U+100000 + (lead - 0x80) * 0x100 + trail, in plane 16, which no GBK code reaches.
    EXPECT_EQ(toQString("\x80" "a"), fromCodePoint(0x100061));
    EXPECT_EQ(toQString("\xAA\xA1"), fromCodePoint(0x102AA1));
    EXPECT_EQ(toQString("\x81" "0"), fromCodePoint(0x100130));
    EXPECT_EQ(toQString("\xFF\r"), fromCodePoint(0x107F0D));
    EXPECT_EQ(toQString("\xFF\xD6\xD0"), fromCodePoint(0x107FD6) + QChar(0xF7D0));
    // Typed or pasted, such a character gives its pair back.
    EXPECT_EQ(fromQString(fromCodePoint(0x100061)), "\x80" "a");
    // A plane-16 character standing for a valid pair would show as that pair's
    // own character, so it is not taken as the pair.
    EXPECT_EQ(fromQString(fromCodePoint(0x100000 + 0xD6D0 - 0x8000)), "?");
}

TEST(TextModel, CaseFoldingOfSearchIsTheTextCoresFolding)
{
    // Long enough texts for the vector filter to do the work, and one byte for the tail loop.
    for (int a = 1; a <= 0xFF; ++a) {
        for (int b = 1; b <= 0xFF; ++b) {
            const char x = static_cast<char>(a);
            const char y = static_cast<char>(b);
            const bool same = x == y || toLowerAscii(x) == toLowerAscii(y);
            const Text text(41, x);
            ASSERT_EQ(findInText(text, Text(1, y), 1, true) != -1, same) << a << ' ' << b;
            ASSERT_EQ(findInText(Text(1, x), Text(1, y), 1, true) != -1, same) << a << ' ' << b;
        }
    }
    EXPECT_EQ(toLowerAsciiText("ABC\xB0" "A" "Z"), "abc\xB0" "Az");
    EXPECT_TRUE(isAsciiLetter('q'));
    EXPECT_FALSE(isAsciiLetter('@'));
    EXPECT_FALSE(isAsciiLetter('['));
}

TEST(TextModel, AFourByteGb18030NameIsTwoCharactersOfADocument)
{
    // 😀 as GB18030 spells it in a name; a document knows only GBK's pairs.
    const Text bytes = "\x94\x39\xFC\x36";
    EXPECT_EQ(nameToQString(bytes), QString::fromUtf8("😀"));
    EXPECT_EQ(nameFromQString(QString::fromUtf8("😀")), bytes);
    EXPECT_EQ(toQString(bytes), fromCodePoint(0x101439) + fromCodePoint(0x107C36));
    EXPECT_EQ(findInText(bytes, "\xFC\x36"), 3);
    EXPECT_EQ(findInText(bytes, "\x39\xFC"), -1);
    // In a document the emoji is a character GBK cannot hold.
    EXPECT_EQ(fromQString(QString::fromUtf8("😀")), "?");
}
