#include "time_date.h"

#include "text/gbk.h"

namespace qinghe {

Text timeDateText(const QDateTime& moment)
{
    const QDate date = moment.date();
    const QTime time = moment.time();
    QString text = QStringLiteral("%1年%2月%3日").arg(date.year()).arg(date.month()).arg(date.day());
    if (time.second() != 0)
        text += QStringLiteral("%1时%2分%3秒").arg(time.hour()).arg(time.minute()).arg(time.second());
    else if (time.minute() != 0)
        text += QStringLiteral("%1时%2分").arg(time.hour()).arg(time.minute());
    else if (time.hour() != 0)
        text += QStringLiteral("%1时").arg(time.hour());
    return fromQString(text);
}

}  // namespace qinghe
