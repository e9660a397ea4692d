#include "text.h"

#include <charconv>
#include <cstddef>
#include <cstring>

namespace qinghe {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Significant digits the program has always shown for numbers.
constexpr int kNumberPrecision = 13;
// Room for "%.13g" of any double: sign, digits, point, exponent.
constexpr std::size_t kNumberBufferSize = 32;
constexpr unsigned char kSpace = 0x20;
constexpr unsigned char kTab = 0x09;
constexpr unsigned char kCarriageReturn = 0x0D;
// Both bytes of the GBK full-width space.
constexpr unsigned char kWideSpaceByte = 0xA1;
// One hex digit stands for four bits.
constexpr unsigned kNibbleBits = 4;
constexpr unsigned char kNibbleMask = 0x0F;

// Byte length of the blank at i (1 or 2), or 0 when no blank starts there.
std::size_t blankLengthAt(std::string_view text, std::size_t i, Blanks blanks)
{
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == kSpace)
        return 1;
    if (blanks == Blanks::FieldBlanks)
        return c == kTab || c == kCarriageReturn ? 1 : 0;
    if (c == kWideSpaceByte && i + 1 < text.size()
        && static_cast<unsigned char>(text[i + 1]) == kWideSpaceByte)
        return 2;
    return 0;
}

} // namespace

Text percentEncode(std::string_view text, EncodedByte encoded)
{
    Text out;
    out.reserve(encoded == nullptr ? text.size() * 3 : text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (encoded != nullptr && !encoded(c)) {
            out += ch;
            continue;
        }
        out += '%';
        out += kHexDigits[c >> kNibbleBits];
        out += kHexDigits[c & kNibbleMask];
    }
    return out;
}

std::string_view trimSpaces(std::string_view text, Blanks blanks)
{
    // Walk whole characters so a second byte is never taken for a blank.
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t blank = blankLengthAt(text, i, blanks);
        if (blank == 0)
            break;
        i += blank;
    }
    const std::size_t begin = i;
    std::size_t end = begin;
    while (i < text.size()) {
        const std::size_t blank = blankLengthAt(text, i, blanks);
        if (blank != 0) {
            i += blank;
        } else {
            i += characterLength(text, i);
            end = i;
        }
    }
    return text.substr(begin, end - begin);
}

Text numberToText(double value)
{
    // to_chars keeps '.' whatever locale the program runs in.
    char buffer[kNumberBufferSize];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::general, kNumberPrecision);
    if (result.ec != std::errc())
        return {};
    return Text(buffer, result.ptr);
}

Text textUpToZero(std::string_view bytes)
{
    const void* zero = std::memchr(bytes.data(), 0, bytes.size());
    if (zero == nullptr)
        return Text(bytes);
    return Text(bytes.data(), static_cast<const char*>(zero));
}

std::optional<int> wholeNumberFromText(std::string_view text, int least, int most)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < least || value > most)
        return std::nullopt;
    return value;
}

} // namespace qinghe
