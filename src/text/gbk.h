#pragma once

// Conversion between GBK text and QString.
//
// Documents (toQString, fromQString) follow the text model of text.h: every
// character of the model shows as exactly one character, so what the person
// sees is what find and replace step over. Lossless for any bytes:
// - a pair that GBK holds shows as its character;
// - a pair that GBK has no character for (0x80 'a', a user-defined code, a
//   lead byte before a control byte) shows as one character of plane 16,
//   U+100000 + (lead - 0x80) * 0x100 + trail, and turns back into the pair;
// - a lead byte with nothing after it shows as its single-byte GBK character
//   (0x80 is the euro sign) or else as U+F700 + byte, and turns back into it.
// Characters GBK cannot hold become '?'.
//
// Names (nameToQString, nameFromQString) are file paths and the names the
// person gives to slots, which may hold any character: GBK where GBK can
// hold the character, GB18030 for the rest (of which GBK is the one- and
// two-byte part), so every name comes back exactly, and bytes that GBK reads
// read as GBK reads them.

#include "text.h"

#include <QString>

#include <cstddef>
#include <string_view>

namespace qinghe {

// A lone lead byte b without a single-byte character shows as kByteEscapeBase + b.
inline constexpr char16_t kByteEscapeBase = 0xF700;
inline constexpr char16_t kFirstByteEscape = 0xF780;
inline constexpr char16_t kLastByteEscape = 0xF7FF;
// A pair without a GBK character shows as one of these (Supplementary Private
// Use Area-B, which no GBK or GB18030 two-byte code decodes into).
inline constexpr char32_t kFirstPairEscape = 0x100000;
inline constexpr char32_t kLastPairEscape = 0x107FFF;

QString toQString(std::string_view gbk);
Text fromQString(const QString& s);

// UTF-16 units that toQString gives the character starting at byte i:
// two for a pair shown as a plane-16 escape, else one.
int shownLength(std::string_view gbk, std::size_t i);

// A name's bytes as the program stores them, and back. A byte that belongs
// to no character becomes the lone surrogate U+DC00 + byte, which no real
// name holds, and turns back into that byte.
QString nameToQString(std::string_view bytes);
Text nameFromQString(const QString& name);

}  // namespace qinghe
