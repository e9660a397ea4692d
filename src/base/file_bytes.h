#pragma once

#include "text/text.h"

#include <QString>

#include <optional>

namespace qinghe {

// Every byte of the file as a text; nothing when it cannot be read whole.
std::optional<Text> readFileBytes(const QString& path);

}  // namespace qinghe
