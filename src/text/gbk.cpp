#include "gbk.h"

#include "gbk_tables.h"

#include <QChar>

#include <string>

namespace qinghe {

using namespace gbk_detail;

namespace gbk_detail {

namespace {

// Enough for one character in any encoding used here.
constexpr std::size_t kOutputRoom = 16;
// One UTF-32LE code unit: four bytes, least significant first.
constexpr std::size_t kUtf32Size = 4;
// Range of GBK lead bytes and of their trail bytes; 0x7F is never a trail.
constexpr unsigned kFirstLead = 0x81;
constexpr unsigned kLastLead = 0xFE;
constexpr unsigned kFirstTrail = 0x40;
constexpr unsigned kLastTrail = 0xFE;
constexpr unsigned kNotTrail = 0x7F;

// The BMP character the bytes decode to when it encodes back to exactly those
// bytes and lies outside ASCII and the escape range; 0 otherwise.
char16_t roundTripChar(const Converter& decoder, const Converter& encoder, const std::string& bytes)
{
    const std::string wide = decoder.convert(bytes);
    const char32_t ch = singleCodePoint(wide);
    if (ch < kFirstHighByte || ch >= kCodeSpace || (ch >= kFirstByteEscape && ch <= kLastByteEscape))
        return 0;
    if (encoder.convert(wide) != bytes)
        return 0;
    return static_cast<char16_t>(ch);
}

}  // namespace

std::string Converter::convert(const std::string& input) const
{
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    std::string output(kOutputRoom, '\0');
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    if (iconv(handle_, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
        return {};
    if (iconv(handle_, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1))
        return {};
    output.resize(output.size() - outLeft);
    return output;
}

char32_t singleCodePoint(const std::string& utf32)
{
    if (utf32.size() != kUtf32Size)
        return 0;
    char32_t ch = 0;
    for (std::size_t i = kUtf32Size; i-- > 0;)
        ch = (ch << kByteBits) | static_cast<unsigned char>(utf32[i]);
    return ch;
}

std::string utf32Of(char32_t c)
{
    std::string out(kUtf32Size, '\0');
    for (std::size_t i = 0; i < kUtf32Size; ++i, c >>= kByteBits)
        out[i] = static_cast<char>(c & kByteMask);
    return out;
}

GbkTables::GbkTables()
{
    Converter decoder("UTF-32LE", "GBK");
    Converter encoder("GBK", "UTF-32LE");
    // Without the converter every high byte is simply kept as an escape.
    if (!decoder.ok() || !encoder.ok())
        return;
    for (unsigned b = kFirstHighByte; b <= kByteMask; ++b) {
        const char16_t ch = roundTripChar(decoder, encoder, std::string(1, static_cast<char>(b)));
        if (ch != 0 && charToCode[ch] == 0) {
            byteToChar[b] = ch;
            charToCode[ch] = static_cast<std::uint16_t>(b);
        }
    }
    for (unsigned lead = kFirstLead; lead <= kLastLead; ++lead) {
        for (unsigned trail = kFirstTrail; trail <= kLastTrail; ++trail) {
            if (trail == kNotTrail)
                continue;
            const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
            const char16_t ch = roundTripChar(decoder, encoder, bytes);
            const auto code = static_cast<std::uint16_t>((lead << kByteBits) | trail);
            if (ch != 0 && charToCode[ch] == 0) {
                pairToChar[code] = ch;
                charToCode[ch] = code;
            }
        }
    }
}

const GbkTables& gbkTables()
{
    static const GbkTables instance;
    return instance;
}

}  // namespace gbk_detail

namespace {

// The plane-16 character for a pair of the text model that GBK has no character for.
char32_t pairEscape(unsigned char lead, unsigned char trail)
{
    return kFirstPairEscape + ((unsigned{lead} - kFirstHighByte) << kByteBits) + trail;
}

void appendCodePoint(QChar*& out, char32_t c)
{
    if (QChar::requiresSurrogates(c)) {
        *out++ = QChar(QChar::highSurrogate(c));
        *out++ = QChar(QChar::lowSurrogate(c));
    } else {
        *out++ = QChar(static_cast<char16_t>(c));
    }
}

}  // namespace

int shownLength(std::string_view gbk, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(gbk[i]);
    if (characterLength(gbk, i) == 1)
        return 1;
    const auto trail = static_cast<unsigned char>(gbk[i + 1]);
    return gbkTables().pairToChar[pairCode(lead, trail)] != 0 ? 1 : 2;
}

QString toQString(std::string_view gbk)
{
    const GbkTables& t = gbkTables();
    const auto* s = reinterpret_cast<const unsigned char*>(gbk.data());
    const std::size_t n = gbk.size();
    // Never more UTF-16 units than bytes: a pair gives at most two.
    QString out(static_cast<qsizetype>(n), Qt::Uninitialized);
    QChar* const begin = out.data();
    QChar* o = begin;
    for (std::size_t i = 0, length = 0; i < n; i += length) {
        length = characterLength(gbk, i);
        const unsigned char c = s[i];
        if (!isLeadByte(gbk[i])) {
            *o++ = QChar(c);
        } else if (length == 2) {
            const char16_t ch = t.pairToChar[pairCode(c, s[i + 1])];
            appendCodePoint(o, ch != 0 ? char32_t{ch} : pairEscape(c, s[i + 1]));
        } else {
            // A lead byte with nothing after it.
            const char16_t single = t.byteToChar[c];
            *o++ = QChar(single != 0 ? single : static_cast<char16_t>(kByteEscapeBase + c));
        }
    }
    out.truncate(static_cast<qsizetype>(o - begin));
    return out;
}

Text fromQString(const QString& s)
{
    const GbkTables& t = gbkTables();
    const auto* u = reinterpret_cast<const char16_t*>(s.utf16());
    const std::size_t n = static_cast<std::size_t>(s.size());
    // Never more than two bytes per code unit.
    Text out(n * 2, '\0');
    char* o = out.data();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t ch = u[i];
        if (ch < kFirstHighByte) {
            *o++ = static_cast<char>(ch);
        } else if (ch >= kFirstByteEscape && ch <= kLastByteEscape) {
            *o++ = static_cast<char>(ch - kByteEscapeBase);
        } else if (QChar::isHighSurrogate(ch) && i + 1 < n && QChar::isLowSurrogate(u[i + 1])) {
            const char32_t c = QChar::surrogateToUcs4(ch, u[++i]);
            const char32_t pair = c - kFirstPairEscape;
            const auto lead = static_cast<unsigned char>(kFirstHighByte + (pair >> kByteBits));
            const auto trail = static_cast<unsigned char>(pair & kByteMask);
            // Beyond the BMP only the escapes of pairs GBK has no character for are held.
            if (c >= kFirstPairEscape && c <= kLastPairEscape && t.pairToChar[pairCode(lead, trail)] == 0) {
                *o++ = static_cast<char>(lead);
                *o++ = static_cast<char>(trail);
            } else {
                *o++ = kUnmappable;
            }
        } else {
            const std::uint16_t code = t.charToCode[ch];
            if (code == 0) {
                *o++ = kUnmappable;
            } else if (code <= kByteMask) {
                *o++ = static_cast<char>(code);
            } else {
                *o++ = static_cast<char>(code >> kByteBits);
                *o++ = static_cast<char>(code & kByteMask);
            }
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

}  // namespace qinghe
