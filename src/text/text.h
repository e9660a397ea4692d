#pragma once

// Text routines of the program. A text is GBK bytes (code page 936); lengths
// count bytes, positions are 1-based byte positions and -1 means "not found".
// A byte >= 0x80 starts a double-byte character, so searches only match at
// character starts reached by stepping from the first byte searched.

#include <string>
#include <string_view>

namespace qinghe {

using Text = std::string;

// A byte from 0x80 on leads a double-byte character.
inline constexpr unsigned char kFirstLeadByte = 0x80;
inline bool isLeadByte(char byte) { return static_cast<unsigned char>(byte) >= kFirstLeadByte; }

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

// Every byte as "%" and two capital hex digits.
Text percentEncode(std::string_view text);

// Without ASCII spaces and full-width spaces (A1 A1) at both ends.
Text trimSpaces(std::string_view text);

// The number as "%.13g" would print it, always with a '.' decimal point.
Text numberToText(double value);

// The bytes before the first zero byte (all of them when there is none).
Text textUpToZero(std::string_view bytes);

} // namespace qinghe
