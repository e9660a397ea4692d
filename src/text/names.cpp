// Names: GBK where GBK holds the character, GB18030 for the rest.

#include "gbk.h"

#include "gbk_tables.h"

#include <QChar>

#include <array>
#include <memory>
#include <string>

namespace qinghe {

using namespace gbk_detail;

namespace {

// A byte of no character is kept as this + byte: a lone low surrogate, which
// no name that a file system or a keyboard gives can hold.
constexpr char16_t kNameByteEscapeBase = 0xDC00;
constexpr char16_t kFirstNameByteEscape = kNameByteEscapeBase + kFirstHighByte;
constexpr char16_t kLastNameByteEscape = kNameByteEscapeBase + kByteMask;
// GB18030 spells what GBK lacks in four bytes: a lead byte, a digit, a lead
// byte, a digit; or, for a few codes, as a pair that GBK leaves unused.
constexpr unsigned char kFirstGb18030Lead = 0x81;
constexpr unsigned char kLastGb18030Lead = 0xFE;
constexpr std::size_t kFourBytes = 4;
constexpr std::size_t kTwoBytes = 2;

bool isDigitByte(unsigned char c) { return c >= '0' && c <= '9'; }
bool isGb18030Lead(unsigned char c) { return c >= kFirstGb18030Lead && c <= kLastGb18030Lead; }

bool startsFourByteCode(const unsigned char* s)
{
    return isGb18030Lead(s[0]) && isDigitByte(s[1]) && isGb18030Lead(s[2]) && isDigitByte(s[3]);
}

// A character GBK cannot hold, so that GB18030 is its only spelling here.
bool beyondGbk(char32_t c)
{
    return c >= kFirstHighByte && (c >= kCodeSpace || gbkTables().charToCode[c] == 0) && !QChar::isSurrogate(c);
}

// iconv's GB18030 in both directions; one pair of handles per thread.
struct Gb18030Converters {
    Converter decoder{"UTF-32LE", "GB18030"};
    Converter encoder{"GB18030", "UTF-32LE"};
};

const Gb18030Converters& gb18030()
{
    thread_local const Gb18030Converters converters;
    return converters;
}

// The character GB18030 reads from the bytes when GBK cannot hold it and
// GB18030 spells it with exactly these bytes again; 0 otherwise.
char32_t gb18030Character(const std::string& bytes)
{
    const Gb18030Converters& c = gb18030();
    if (!c.decoder.ok() || !c.encoder.ok())
        return 0;
    const char32_t ch = singleCodePoint(c.decoder.convert(bytes));
    if (ch == 0 || !beyondGbk(ch) || c.encoder.convert(utf32Of(ch)) != bytes)
        return 0;
    return ch;
}

// The pairs that GBK leaves unused and GB18030 gives a character, read once.
struct Gb18030Pairs {
    std::unique_ptr<std::array<char32_t, kCodeSpace>> pairToChar = std::make_unique<std::array<char32_t, kCodeSpace>>();

    Gb18030Pairs()
    {
        const GbkTables& gbk = gbkTables();
        for (unsigned lead = kFirstGb18030Lead; lead <= kLastGb18030Lead; ++lead) {
            for (unsigned trail = 0; trail <= kByteMask; ++trail) {
                const unsigned code = pairCode(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail));
                if (gbk.pairToChar[code] == 0 && !isDigitByte(static_cast<unsigned char>(trail)))
                    (*pairToChar)[code] = gb18030Character({static_cast<char>(lead), static_cast<char>(trail)});
            }
        }
    }
};

const Gb18030Pairs& gb18030Pairs()
{
    static const Gb18030Pairs instance;
    return instance;
}

void appendCodePoint(QString& out, char32_t c)
{
    if (QChar::requiresSurrogates(c)) {
        out += QChar(QChar::highSurrogate(c));
        out += QChar(QChar::lowSurrogate(c));
    } else {
        out += QChar(static_cast<char16_t>(c));
    }
}

}  // namespace

QString nameToQString(std::string_view bytes)
{
    const GbkTables& gbk = gbkTables();
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    QString out;
    out.reserve(static_cast<qsizetype>(n));
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < kFirstHighByte) {
            out += QChar(c);
            ++i;
            continue;
        }
        // What GBK reads comes first, so every GBK name reads as it always did.
        if (i + 1 < n) {
            if (const char16_t ch = gbk.pairToChar[pairCode(c, s[i + 1])]; ch != 0) {
                out += QChar(ch);
                i += kTwoBytes;
                continue;
            }
        }
        if (i + kFourBytes <= n && startsFourByteCode(s + i)) {
            if (const char32_t ch = gb18030Character(std::string(bytes.substr(i, kFourBytes))); ch != 0) {
                appendCodePoint(out, ch);
                i += kFourBytes;
                continue;
            }
        }
        if (i + 1 < n) {
            if (const char32_t ch = (*gb18030Pairs().pairToChar)[pairCode(c, s[i + 1])]; ch != 0) {
                appendCodePoint(out, ch);
                i += kTwoBytes;
                continue;
            }
        }
        const char16_t single = gbk.byteToChar[c];
        out += QChar(single != 0 ? single : static_cast<char16_t>(kNameByteEscapeBase + c));
        ++i;
    }
    return out;
}

Text nameFromQString(const QString& name)
{
    const GbkTables& gbk = gbkTables();
    const auto* u = reinterpret_cast<const char16_t*>(name.utf16());
    const std::size_t n = static_cast<std::size_t>(name.size());
    Text out;
    out.reserve(n * kTwoBytes);
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t unit = u[i];
        if (unit < kFirstHighByte) {
            out += static_cast<char>(unit);
            continue;
        }
        if (unit >= kFirstNameByteEscape && unit <= kLastNameByteEscape) {
            out += static_cast<char>(unit - kNameByteEscapeBase);
            continue;
        }
        char32_t c = unit;
        if (QChar::isHighSurrogate(unit) && i + 1 < n && QChar::isLowSurrogate(u[i + 1]))
            c = QChar::surrogateToUcs4(unit, u[++i]);
        if (c < kCodeSpace && gbk.charToCode[c] != 0) {
            const std::uint16_t code = gbk.charToCode[c];
            if (code > kByteMask)
                out += static_cast<char>(code >> kByteBits);
            out += static_cast<char>(code & kByteMask);
            continue;
        }
        // Only spellings that read back as this very character are written.
        std::string spelled;
        if (beyondGbk(c) && gb18030().encoder.ok())
            spelled = gb18030().encoder.convert(utf32Of(c));
        const bool readsBack =
            (spelled.size() == kFourBytes && startsFourByteCode(reinterpret_cast<const unsigned char*>(spelled.data())))
            || (spelled.size() == kTwoBytes
                && (*gb18030Pairs().pairToChar)[pairCode(static_cast<unsigned char>(spelled[0]),
                                                         static_cast<unsigned char>(spelled[1]))]
                       == c);
        out += readsBack ? spelled : std::string(1, kUnmappable);
    }
    return out;
}

}  // namespace qinghe
