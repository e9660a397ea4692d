#include "editor/line_ends.h"

#include <gtest/gtest.h>

#include <QList>

#include <random>

using namespace qinghe;

namespace {

constexpr char16_t kBoxBreak = 0x2029;

// The box keeps each '\n' it is given as a paragraph break.
QString asTheBoxHoldsIt(QString editText)
{
    editText.replace(QLatin1Char('\n'), QChar(kBoxBreak));
    return editText;
}

Text throughTheBox(const Text& bytes, LineEnd lineEnd)
{
    return fromEditText(asTheBoxHoldsIt(toEditText(bytes, lineEnd)), lineEnd);
}

// Bytes rich in line ends, double-byte characters and bytes that are not GBK.
Text awkwardBytes(unsigned seed, std::size_t size)
{
    static const unsigned char pool[] = {'\r', '\n', 'a', 'Z', ' ', 0x81, 0x40, 0xB0, 0xA1, 0xFF, 0x80, 0x7F, 0xFE, 0x30};
    std::mt19937 random(seed);
    Text bytes;
    for (std::size_t i = 0; i < size; ++i)
        bytes += static_cast<char>(pool[random() % sizeof pool]);
    return bytes;
}

const LineEnd kAllLineEnds[] = {LineEnd::CrLf, LineEnd::Lf, LineEnd::Cr};

}  // namespace

TEST(LineEnds, EveryDocumentComesBackByteForByteWhateverItsLineEnds)
{
    const Text fixed[] = {"", "a\r\nb\nc\rd", "\r\r\n\n\r", "\n\r", "\xd6\xd0\xce\xc4\r\n\xb5\xda\xb6\xfe",
                          "\x81\r\n\xff\n\xb0", "\r\n\r\n\n\n\r\r"};
    for (const LineEnd lineEnd : kAllLineEnds) {
        for (const Text& bytes : fixed)
            EXPECT_EQ(throughTheBox(bytes, lineEnd), bytes);
        for (unsigned seed = 1; seed <= 200; ++seed) {
            const Text bytes = awkwardBytes(seed, 64);
            ASSERT_EQ(throughTheBox(bytes, lineEnd), bytes) << "seed " << seed;
        }
    }
}

TEST(LineEnds, TheDocumentsOwnLineEndIsAPlainBreakAndOthersShowMarkers)
{
    EXPECT_EQ(firstLineEnd("ab\r\ncd\n", LineEnd::Lf), LineEnd::CrLf);
    EXPECT_EQ(firstLineEnd("ab\ncd\r\n", LineEnd::CrLf), LineEnd::Lf);
    EXPECT_EQ(firstLineEnd("ab\rcd", LineEnd::CrLf), LineEnd::Cr);
    EXPECT_EQ(firstLineEnd("abcd", LineEnd::Lf), LineEnd::Lf);

    EXPECT_EQ(toEditText("a\r\nb\nc\rd", LineEnd::CrLf),
              QString("a\nb") + QChar(kLfMarker) + "\nc" + QChar(kCrMarker) + "\nd");
    EXPECT_EQ(toEditText("a\r\nb\nc", LineEnd::Lf), QString("a") + QChar(kCrMarker) + QChar(kLfMarker) + "\nb\nc");
    EXPECT_EQ(toEditText("\xd6\xd0\r\n", LineEnd::CrLf), QString::fromUtf8("中\n"));
}

TEST(LineEnds, BreaksTypedIntoTheBoxTakeTheDocumentsLineEnd)
{
    const QString typed = QString("one") + QChar(kBoxBreak) + "two";
    EXPECT_EQ(fromEditText(typed, LineEnd::CrLf), "one\r\ntwo");
    EXPECT_EQ(fromEditText(typed, LineEnd::Lf), "one\ntwo");
    // A break that follows markers belongs to them; a stretch starting right after markers too.
    EXPECT_EQ(fromEditText(QString(QChar(kBoxBreak)) + "x", LineEnd::CrLf, QChar(kLfMarker)), "x");
    EXPECT_EQ(fromEditText(QString(QChar(kBoxBreak)) + "x", LineEnd::CrLf), "\r\nx");
}

TEST(LineEnds, FittingPrefixNeverCutsACharacterOrACrLfPair)
{
    EXPECT_EQ(fittingPrefix("ab\xd6\xd0", 3), 2u);
    EXPECT_EQ(fittingPrefix("ab\xd6\xd0", 4), 4u);
    EXPECT_EQ(fittingPrefix("a\r\nb", 2), 1u);
    EXPECT_EQ(fittingPrefix("a\r\nb", 3), 3u);
    EXPECT_EQ(fittingPrefix("abc", 0), 0u);
    EXPECT_EQ(fittingPrefix("abc", 10), 3u);
}

TEST(PositionMap, PositionsCountCharactersMarkersAndBreaks)
{
    // 中 a CRLF(plain) b LF(marked) c
    const Text bytes = "\xd6\xd0" "a\r\nb\nc";
    const PositionMap map(bytes, LineEnd::CrLf);
    using R = PositionMap::Rounding;
    EXPECT_EQ(map.positionOf(0, R::Down), 0);
    EXPECT_EQ(map.positionOf(1, R::Down), 0);  // inside 中
    EXPECT_EQ(map.positionOf(1, R::Up), 1);
    EXPECT_EQ(map.positionOf(2, R::Down), 1);  // a
    EXPECT_EQ(map.positionOf(3, R::Down), 2);  // the plain break
    EXPECT_EQ(map.positionOf(4, R::Up), 3);    // between CR and LF
    EXPECT_EQ(map.positionOf(5, R::Down), 3);  // b
    EXPECT_EQ(map.positionOf(6, R::Down), 4);  // the LF marker
    EXPECT_EQ(map.positionOf(7, R::Down), 6);  // c, after marker and break
    EXPECT_EQ(map.positionOf(8, R::Down), 7);

    EXPECT_EQ(map.byteOffsetOf(1), 2);
    EXPECT_EQ(map.byteOffsetOf(3), 5);
    EXPECT_EQ(map.byteOffsetOf(5), 7);  // the break after the marker holds no byte
    EXPECT_EQ(map.byteOffsetOf(6), 7);
    EXPECT_EQ(map.byteOffsetOf(7), 8);
}

TEST(PositionMap, AgreesWithTheBoxTextAndAnswersTheSameInAnyOrder)
{
    using R = PositionMap::Rounding;
    for (const LineEnd lineEnd : kAllLineEnds) {
        for (unsigned seed = 1; seed <= 50; ++seed) {
            const Text bytes = awkwardBytes(seed, 80);
            const PositionMap walked(bytes, lineEnd);
            ASSERT_EQ(walked.positionOf(bytes.size(), R::Down), static_cast<int>(toEditText(bytes, lineEnd).size()));
            std::vector<int> forward;
            for (std::size_t b = 0; b <= bytes.size(); ++b) {
                const int down = walked.positionOf(b, R::Down);
                const int up = walked.positionOf(b, R::Up);
                ASSERT_LE(walked.byteOffsetOf(down), static_cast<int>(b));
                ASSERT_GE(walked.byteOffsetOf(up), static_cast<int>(b));
                if (down == up) {
                    ASSERT_EQ(walked.byteOffsetOf(down), static_cast<int>(b));
                }
                forward.push_back(down);
            }
            for (std::size_t b = bytes.size() + 1; b-- > 0;) {
                ASSERT_EQ(walked.positionOf(b, R::Down), forward[b]);
            }
        }
    }
}

TEST(PositionMap, APairWithoutGbkCharacterIsOneCharacterOfTwoUnits)
{
    // 0x80 'a' shows as one character beyond the BMP: two positions, never split.
    const Text bytes = "\x80" "ab\xff";
    const QString shown = toEditText(bytes, LineEnd::CrLf);
    ASSERT_EQ(shown.size(), 4);
    ASSERT_TRUE(shown[0].isHighSurrogate());
    const PositionMap map(bytes, LineEnd::CrLf);
    using R = PositionMap::Rounding;
    EXPECT_EQ(map.positionOf(1, R::Down), 0);
    EXPECT_EQ(map.positionOf(1, R::Up), 2);
    EXPECT_EQ(map.positionOf(2, R::Down), 2);  // b
    EXPECT_EQ(map.positionOf(3, R::Down), 3);  // the lone last byte
    EXPECT_EQ(map.positionOf(4, R::Down), 4);
    EXPECT_EQ(map.byteOffsetOf(1), 0);
    EXPECT_EQ(map.byteOffsetOf(2), 2);
    EXPECT_EQ(fittingPrefix(bytes, 1), 0u);
    EXPECT_EQ(fittingPrefix(bytes, 2), 2u);
}

TEST(LineEnds, ACrOrLfInsideACharacterIsNoLineEnd)
{
    // 0x81 CR is one character, so the document's first line end is the LF.
    const Text bytes = "\x81\r\nx\r\ny";
    EXPECT_EQ(firstLineEnd(bytes, LineEnd::CrLf), LineEnd::Lf);
    const QString shown = toEditText(bytes, LineEnd::Lf);
    EXPECT_EQ(shown.toUcs4(), (QList<uint>{0x10010D, '\n', 'x', kCrMarker, kLfMarker, '\n', 'y'}));
    EXPECT_EQ(throughTheBox(bytes, LineEnd::Lf), bytes);
}
