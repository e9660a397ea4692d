#include "links.h"

#include <QDesktopServices>
#include <QUrl>

namespace qinghe {

void openAddress(const QString& address)
{
    QDesktopServices::openUrl(QUrl(address));
}

}  // namespace qinghe
