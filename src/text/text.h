#pragma once

// Text routines of the program. A text is GBK bytes (code page 936); lengths
// count bytes, positions are 1-based byte positions and -1 means "not found".
// A byte >= 0x80 starts a double-byte character, so searches only match at
// character starts reached by stepping from the first byte searched.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qinghe {

using Text = std::string;

// The text model, in one place for every module: a byte from 0x80 on and
// the byte after it are one character; every other byte is one of its own.
inline constexpr unsigned char kFirstLeadByte = 0x80;
inline bool isLeadByte(char byte) { return static_cast<unsigned char>(byte) >= kFirstLeadByte; }

// Bytes taken by the character that starts at index i (0-based): two for a
// lead byte with a byte after it, else one.
inline std::size_t characterLength(std::string_view text, std::size_t i)
{
    return isLeadByte(text[i]) && i + 1 < text.size() ? 2 : 1;
}

// Index of the start of the character that holds byte i, found by stepping
// from the nearest byte that surely ends a character, or from knownStart, a
// character start at or before i, when that is nearer.
std::size_t characterStart(std::string_view text, std::size_t i, std::size_t knownStart = 0);

// ASCII case folding, the only folding the program knows: A-Z and a-z, no
// other byte (GBK second bytes included, where a caller compares them).
inline constexpr char kAsciiCaseDistance = 'a' - 'A';
inline char toLowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + kAsciiCaseDistance) : c; }
inline char toUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - kAsciiCaseDistance) : c; }
inline bool isAsciiLetter(char c) { return toLowerAscii(c) != toUpperAscii(c); }

// The text with the letters among its single-byte characters made small;
// the bytes of double-byte characters stay as they are.
Text toLowerAsciiText(std::string_view text);

// Equal texts, single-byte characters compared with ASCII case folded and
// double-byte characters compared exactly.
bool sameTextIgnoringCase(std::string_view a, std::string_view b);

// Position of the first match of pattern at a character start at or after
// start, or -1. An empty pattern gives 1 when anything is searched at all.
// ignoreCase folds ASCII letters in every compared byte.
int findInText(std::string_view text, std::string_view pattern, int start = 1,
               bool ignoreCase = false);

// Every match of pattern (found as findInText would) replaced; replaced text
// is not scanned again. Empty text or pattern gives the text unchanged.
Text replaceInText(std::string_view text, std::string_view pattern,
                   std::string_view replacement, bool matchCase);

// The bytes between openMarker and the following closeMarker, markers matched
// ignoring case; empty when either is missing.
Text textBetween(std::string_view text, std::string_view openMarker,
                 std::string_view closeMarker, int start = 1);

// As textBetween, but "#引号" in a marker stands for a double quote, and case
// is ignored unless caseSensitive.
Text textBetweenQuoted(std::string_view text, std::string_view openMarker,
                       std::string_view closeMarker, int start = 1,
                       bool caseSensitive = false);

// Says which bytes percentEncode writes as "%XX".
using EncodedByte = bool (*)(unsigned char);

// The bytes that encoded picks (every byte when it is null) as "%" and two
// capital hex digits; the others as they are.
Text percentEncode(std::string_view text, EncodedByte encoded = nullptr);

// Which blanks trimSpaces takes off.
enum class Blanks {
    // ASCII spaces and full-width spaces (A1 A1): what a host types around a
    // title. A tab stays.
    Spaces,
    // ASCII spaces, tabs and carriage returns: what stands around a field of
    // a header or of a line in a file.
    FieldBlanks,
};

// The text without blanks at both ends, stepping whole characters so that a
// second byte is never taken for a blank; a view into text.
std::string_view trimSpaces(std::string_view text, Blanks blanks = Blanks::Spaces);

// The number as "%.13g" would print it, always with a '.' decimal point.
Text numberToText(double value);

// A whole decimal number that is all of text and lies in least..most, as
// settings files hold them; nullopt for anything else.
std::optional<int> wholeNumberFromText(std::string_view text, int least, int most);

// The bytes before the first zero byte (all of them when there is none).
Text textUpToZero(std::string_view bytes);

} // namespace qinghe
