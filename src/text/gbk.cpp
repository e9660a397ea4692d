#include "gbk.h"

#include <QChar>

#include <array>
#include <cstddef>
#include <cstdint>
#include <iconv.h>
#include <string>

namespace qinghe {

namespace {

// Bytes from this value on are not ASCII.
constexpr unsigned char kFirstHighByte = 0x80;
// Range of GBK lead bytes and of their trail bytes; 0x7F is never a trail.
constexpr unsigned kFirstLead = 0x81;
constexpr unsigned kLastLead = 0xFE;
constexpr unsigned kFirstTrail = 0x40;
constexpr unsigned kLastTrail = 0xFE;
constexpr unsigned kNotTrail = 0x7F;
// A stray byte b >= 0x80 is kept as this character + b (Private Use Area,
// which no GBK code decodes into).
constexpr char16_t kEscapeBase = 0xF700;
constexpr char16_t kFirstEscape = kEscapeBase + kFirstHighByte;
constexpr char16_t kLastEscape = kEscapeBase + 0xFF; // last byte value
// Written for a character GBK cannot hold.
constexpr char kUnmappable = '?';
// Number of UTF-16 code units and of two-byte codes, and of byte values.
constexpr std::size_t kCodeSpace = 0x10000;
constexpr std::size_t kByteValues = 0x100;
constexpr unsigned kByteBits = 8;
constexpr unsigned kByteMask = 0xFF;

// Lookup tables filled once from iconv; 0 marks "no mapping".
struct GbkTables {
    std::array<char16_t, kCodeSpace> pairToChar{};  // index lead << 8 | trail
    std::array<char16_t, kByteValues> byteToChar{};      // single high bytes (0x80 is the euro sign)
    std::array<std::uint16_t, kCodeSpace> charToCode{}; // below 0x100: one byte

    GbkTables();
};

class Converter {
public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (ok())
            iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // All of input converted, or empty when iconv refuses any part of it.
    std::string convert(const std::string& input) const
    {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        std::string output(kOutputRoom, '\0');
        char* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        char* out = output.data();
        std::size_t outLeft = output.size();
        if (iconv(handle_, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1)
            || inLeft != 0)
            return {};
        if (iconv(handle_, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1))
            return {};
        output.resize(output.size() - outLeft);
        return output;
    }

private:
    // Enough for one character in any encoding used here.
    static constexpr std::size_t kOutputRoom = 16;
    iconv_t handle_;
};

// The BMP character the bytes decode to when it encodes back to exactly those
// bytes and lies outside ASCII and the escape range; 0 otherwise.
char16_t roundTripChar(const Converter& decoder, const Converter& encoder, const std::string& bytes)
{
    // One UTF-32LE code unit: four bytes, least significant first.
    constexpr std::size_t kUtf32Size = 4;
    const std::string wide = decoder.convert(bytes);
    if (wide.size() != kUtf32Size)
        return 0;
    std::uint32_t ch = 0;
    for (std::size_t i = kUtf32Size; i-- > 0;)
        ch = (ch << kByteBits) | static_cast<unsigned char>(wide[i]);
    if (ch < kFirstHighByte || ch >= kCodeSpace || (ch >= kFirstEscape && ch <= kLastEscape))
        return 0;
    if (encoder.convert(wide) != bytes)
        return 0;
    return static_cast<char16_t>(ch);
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

const GbkTables& tables()
{
    static const GbkTables instance;
    return instance;
}

} // namespace

QString toQString(std::string_view gbk)
{
    const GbkTables& t = tables();
    const auto* s = reinterpret_cast<const unsigned char*>(gbk.data());
    const std::size_t n = gbk.size();
    // Never more characters than bytes.
    QString out(static_cast<qsizetype>(n), Qt::Uninitialized);
    QChar* const begin = out.data();
    QChar* o = begin;
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < kFirstHighByte) {
            *o++ = QChar(c);
            ++i;
            continue;
        }
        if (i + 1 < n) {
            const char16_t ch = t.pairToChar[(static_cast<unsigned>(c) << kByteBits) | s[i + 1]];
            if (ch != 0) {
                *o++ = QChar(ch);
                i += 2;
                continue;
            }
        }
        // A lone or invalid lead byte: keep just it and go on with the next byte.
        const char16_t single = t.byteToChar[c];
        *o++ = QChar(single != 0 ? single : static_cast<char16_t>(kEscapeBase + c));
        ++i;
    }
    out.truncate(static_cast<qsizetype>(o - begin));
    return out;
}

Text fromQString(const QString& s)
{
    const GbkTables& t = tables();
    const auto* u = reinterpret_cast<const char16_t*>(s.utf16());
    const std::size_t n = static_cast<std::size_t>(s.size());
    // Never more than two bytes per code unit.
    Text out(n * 2, '\0');
    char* o = out.data();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t ch = u[i];
        if (ch < kFirstHighByte) {
            *o++ = static_cast<char>(ch);
        } else if (ch >= kFirstEscape && ch <= kLastEscape) {
            *o++ = static_cast<char>(ch - kEscapeBase);
        } else if (QChar::isHighSurrogate(ch) && i + 1 < n && QChar::isLowSurrogate(u[i + 1])) {
            // One character beyond the BMP, which GBK cannot hold.
            *o++ = kUnmappable;
            ++i;
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

} // namespace qinghe
