#include "text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

using qinghe::Text;

TEST(PercentEncode, EveryByteBecomesTwoCapitalHexDigits)
{
    EXPECT_EQ(qinghe::percentEncode("abc"), "%61%62%63");
    EXPECT_EQ(qinghe::percentEncode(std::string("\x00\x0F\x10 ", 4)), "%00%0F%10%20");
    EXPECT_EQ(qinghe::percentEncode("\xFF\x80\xD6\xD0"), "%FF%80%D6%D0");
    EXPECT_EQ(qinghe::percentEncode("A9z"), "%41%39%7A");
    EXPECT_EQ(qinghe::percentEncode(""), "");
    // With a picker only the picked bytes are encoded.
    EXPECT_EQ(qinghe::percentEncode("a b\xD6", [](unsigned char c) { return c == ' '; }), "a%20b\xD6");
}

TEST(TrimSpaces, AsciiAndFullWidthSpaces)
{
    EXPECT_EQ(qinghe::trimSpaces("   "), "");
    EXPECT_EQ(qinghe::trimSpaces(""), "");
    EXPECT_EQ(qinghe::trimSpaces(" a b "), "a b");
    EXPECT_EQ(qinghe::trimSpaces("\xA1\xA1 a\xA1\xA1" "b \xA1\xA1"), "a\xA1\xA1" "b");
    EXPECT_EQ(qinghe::trimSpaces("\xA1\xA1\xA1\xA1"), "");
    EXPECT_EQ(qinghe::trimSpaces("\ta\t"), "\ta\t"); // only spaces go
    // Around a field, tabs and carriage returns go too, full-width spaces stay.
    EXPECT_EQ(qinghe::trimSpaces("\t a\xA1\xA1 \r", qinghe::Blanks::FieldBlanks), "a\xA1\xA1");
}

TEST(TrimSpaces, StepsWholeCharacters)
{
    // [B0 A1][A1 A1]: the last character is a full-width space.
    EXPECT_EQ(qinghe::trimSpaces("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
    // [A1 A1][A1]: a lone A1 at the end is no space.
    EXPECT_EQ(qinghe::trimSpaces("\xA1\xA1\xA1"), "\xA1");
    EXPECT_EQ(qinghe::trimSpaces("x\xA1\xA1\xA1"), "x\xA1\xA1\xA1");
    // [B0 20][20]: a second byte 0x20 is no space.
    EXPECT_EQ(qinghe::trimSpaces("\xB0  "), "\xB0 ");
    EXPECT_EQ(qinghe::trimSpaces(" \xB0 "), "\xB0 ");
    EXPECT_EQ(qinghe::trimSpaces(" \xA1"), "\xA1");
}

TEST(NumberToText, ThirteenSignificantDigits)
{
    EXPECT_EQ(qinghe::numberToText(2.359), "2.359");
    EXPECT_EQ(qinghe::numberToText(3.0), "3");
    EXPECT_EQ(qinghe::numberToText(0.1 + 0.2), "0.3");
    EXPECT_EQ(qinghe::numberToText(-1.5), "-1.5");
    EXPECT_EQ(qinghe::numberToText(0.0), "0");
    EXPECT_EQ(qinghe::numberToText(1234567890123.0), "1234567890123");
    EXPECT_EQ(qinghe::numberToText(12345678901234.0), "1.234567890123e+13");
    EXPECT_EQ(qinghe::numberToText(1e-5), "1e-05");
}

TEST(NumberToText, AgreesWithPrintf)
{
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    for (int i = 0; i < 5000; ++i) {
        const double v = mantissa(rng) * std::pow(10.0, exponent(rng));
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.13g", v);
        ASSERT_EQ(qinghe::numberToText(v), expected);
    }
}

TEST(TextUpToZero, StopsAtFirstZero)
{
    EXPECT_EQ(qinghe::textUpToZero(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(qinghe::textUpToZero(std::string("\0ab", 3)), "");
    EXPECT_EQ(qinghe::textUpToZero("abc"), "abc");
    EXPECT_EQ(qinghe::textUpToZero(""), "");
}
