#pragma once

// Conversion between GBK text and QString. Lossless for any bytes: a byte that
// is not part of a valid GBK character becomes U+F700 + byte (Private Use
// Area) and turns back into that byte. Characters GBK cannot hold become '?'.

#include "text.h"

#include <QString>

#include <string_view>

namespace qinghe {

QString toQString(std::string_view gbk);
Text fromQString(const QString& s);

} // namespace qinghe
