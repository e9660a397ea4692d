#pragma once

#include <QString>

namespace qinghe {

// Hands an address to the desktop's default handler (the web browser).
// Nothing is reported: without a handler nothing happens.
void openAddress(const QString& address);

}  // namespace qinghe
