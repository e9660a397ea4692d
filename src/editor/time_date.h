#pragma once

#include "text/text.h"

#include <QDateTime>

namespace qinghe {

// The date as "2024年3月7日" followed by the time down to its last part that
// is not zero: "9时5分7秒", "9时5分", "9时", or nothing at midnight.
Text timeDateText(const QDateTime& moment);

}  // namespace qinghe
