#pragma once

// The GBK tables behind both conversions of gbk.h, filled once from iconv.
// Only the text core's own conversion files include this.

#include "gbk.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <iconv.h>
#include <string>

namespace qinghe::gbk_detail {

// Bytes from this value on are not ASCII.
inline constexpr unsigned char kFirstHighByte = 0x80;
inline constexpr unsigned kByteBits = 8;
inline constexpr unsigned kByteMask = 0xFF;
// Number of UTF-16 code units and of two-byte codes, and of byte values.
inline constexpr std::size_t kCodeSpace = 0x10000;
inline constexpr std::size_t kByteValues = 0x100;
// Written for a character that cannot be held.
inline constexpr char kUnmappable = '?';

inline unsigned pairCode(unsigned char lead, unsigned char trail) { return (unsigned{lead} << kByteBits) | trail; }

// One iconv conversion. Not for use by two threads at once.
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

    // All of a short input converted, or empty when iconv refuses any part of it.
    std::string convert(const std::string& input) const;

private:
    iconv_t handle_;
};

// The one code point a UTF-32LE string of four bytes holds, or 0 for any other length.
char32_t singleCodePoint(const std::string& utf32);
std::string utf32Of(char32_t c);

// Lookup tables; 0 marks "no mapping". Only codes that iconv's GBK decodes
// and encodes back to the same bytes are held, outside ASCII.
struct GbkTables {
    std::array<char16_t, kCodeSpace> pairToChar{};       // index lead << 8 | trail
    std::array<char16_t, kByteValues> byteToChar{};      // single high bytes (0x80 is the euro sign)
    std::array<std::uint16_t, kCodeSpace> charToCode{};  // below 0x100: one byte

    GbkTables();
};

const GbkTables& gbkTables();

}  // namespace qinghe::gbk_detail
