#include "gbk.h"

#include <gtest/gtest.h>

#include <QList>
#include <QString>

#include <cstdint>
#include <iconv.h>
#include <random>
#include <string>

using qinghe::fromQString;
using qinghe::Text;
using qinghe::toQString;

namespace {

// "中文" in GBK.
constexpr const char* kChinese = "\xD6\xD0\xCE\xC4";

Text roundTrip(const Text& bytes) { return fromQString(toQString(bytes)); }

bool isEscape(char16_t c) { return c >= 0xF780 && c <= 0xF7FF; }

} // namespace

TEST(GbkConversion, KnownCharacters)
{
    EXPECT_EQ(toQString(kChinese), QString::fromUtf8("中文"));
    EXPECT_EQ(fromQString(QString::fromUtf8("中文")), kChinese);
    const QString sentence = QString::fromUtf8("青禾主持人音效：掌声、笑声 OK！");
    EXPECT_EQ(toQString(fromQString(sentence)), sentence);
    EXPECT_EQ(fromQString(QString::fromUtf8("　")), "\xA1\xA1"); // full-width space
    // The euro sign is the single byte 0x80 in code page 936.
    EXPECT_EQ(toQString("\x80"), QString::fromUtf8("€"));
    EXPECT_EQ(fromQString(QString::fromUtf8("€")), "\x80");
}

TEST(GbkConversion, AsciiUnchangedIncludingZero)
{
    const Text ascii("a\0b\x7F\n", 5);
    EXPECT_EQ(toQString(ascii), QString::fromLatin1(ascii.data(), 5));
    EXPECT_EQ(roundTrip(ascii), ascii);
    EXPECT_EQ(toQString(""), QString());
    EXPECT_EQ(fromQString(QString()), "");
}

TEST(GbkConversion, CharactersOutsideGbkBecomeQuestionMark)
{
    EXPECT_EQ(fromQString(QString::fromUtf8("a😀b")), "a?b"); // a surrogate pair is one character
    EXPECT_EQ(fromQString(QString::fromUtf8("ก")), "?");
    EXPECT_EQ(fromQString(QString(QChar(0xD800))), "?"); // lone surrogate
}

TEST(GbkConversion, InvalidBytesShowAsTheCharactersOfTheTextModel)
{
    // AA A1 lies in a user-defined area: the pair is kept as one escape character.
    const QString s = toQString("\xAA\xA1");
    ASSERT_EQ(s.size(), 2);  // one character beyond the BMP
    EXPECT_EQ(s.toUcs4(), QList<uint>{0x102AA1});
    // A lead byte takes the byte after it whatever that byte is.
    EXPECT_EQ(toQString("\x81" "0").toUcs4(), QList<uint>{0x100130});
    EXPECT_EQ(toQString("\xFF" "\xD6\xD0").toUcs4(), (QList<uint>{0x107FD6, 0xF7D0}));
    EXPECT_EQ(toQString("a\xD6"), QString("a") + QChar(0xF7D6)); // lone lead at the end
}

TEST(GbkConversion, EveryOneAndTwoByteSequenceRoundTrips)
{
    int validPairs = 0;
    for (int b = 0; b < 256; ++b) {
        const Text one(1, static_cast<char>(b));
        ASSERT_EQ(roundTrip(one), one) << b;
        for (int t = 0; t < 256; ++t) {
            const Text two{static_cast<char>(b), static_cast<char>(t)};
            ASSERT_EQ(roundTrip(two), two) << b << ' ' << t;
            const QString s = toQString(two);
            if (b >= 0x81 && s.size() == 1) {
                ++validPairs;
                EXPECT_FALSE(isEscape(s[0].unicode())) << b << ' ' << t;
            }
        }
    }
    // The tables really hold GBK (about 21,800 two-byte codes), not just escapes.
    EXPECT_GT(validPairs, 21000);
}

TEST(GbkConversion, RandomBytesRoundTrip)
{
    std::mt19937 rng(4242);
    for (int i = 0; i < 2000; ++i) {
        Text bytes(rng() % 64, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng() % 2 == 0 ? 0x80 + rng() % 0x80 : rng() % 256);
        ASSERT_EQ(roundTrip(bytes), bytes);
    }
}

TEST(GbkConversion, NoGbkCodeDecodesIntoTheEscapeRange)
{
    // Asked of iconv itself, since the escape scheme depends on it.
    iconv_t cd = iconv_open("UTF-32LE", "GBK");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    int decoded = 0;
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = -1; trail <= 0xFF; ++trail) {
            std::string in(1, static_cast<char>(lead));
            if (trail >= 0)
                in += static_cast<char>(trail);
            char out[16];
            char* inPtr = in.data();
            char* outPtr = out;
            std::size_t inLeft = in.size();
            std::size_t outLeft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
                continue;
            for (char* p = out; p + 4 <= outPtr; p += 4) {
                std::uint32_t ch = 0;
                for (int k = 3; k >= 0; --k)
                    ch = (ch << 8) | static_cast<unsigned char>(p[k]);
                ++decoded;
                EXPECT_FALSE(ch >= 0xF780 && ch <= 0xF7FF) << lead << ' ' << trail;
                EXPECT_LT(ch, 0x10000u) << lead << ' ' << trail;  // never a plane-16 pair escape
            }
        }
    }
    iconv_close(cd);
    EXPECT_GT(decoded, 21000);
}
