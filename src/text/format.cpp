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
// Both bytes of the GBK full-width space.
constexpr unsigned char kWideSpaceByte = 0xA1;
// One hex digit stands for four bits.
constexpr unsigned kNibbleBits = 4;
constexpr unsigned char kNibbleMask = 0x0F;

// Byte length of the space at i (1 or 2), or 0 when no space starts there.
std::size_t spaceLengthAt(std::string_view text, std::size_t i)
{
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == kSpace)
        return 1;
    if (c == kWideSpaceByte && i + 1 < text.size()
        && static_cast<unsigned char>(text[i + 1]) == kWideSpaceByte)
        return 2;
    return 0;
}

} // namespace

Text percentEncode(std::string_view text)
{
    Text out(text.size() * 3, '%');
    std::size_t o = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        out[o + 1] = kHexDigits[c >> kNibbleBits];
        out[o + 2] = kHexDigits[c & kNibbleMask];
        o += 3;
    }
    return out;
}

Text trimSpaces(std::string_view text)
{
    // Walk whole characters so a second byte is never taken for a space.
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t space = spaceLengthAt(text, i);
        if (space == 0)
            break;
        i += space;
    }
    const std::size_t begin = i;
    std::size_t end = begin;
    while (i < text.size()) {
        const std::size_t space = spaceLengthAt(text, i);
        if (space != 0) {
            i += space;
        } else {
            i += characterLength(text, i);
            end = i;
        }
    }
    return Text(text.substr(begin, end - begin));
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

} // namespace qinghe
