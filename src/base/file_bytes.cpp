#include "file_bytes.h"

#include <QFile>

namespace qinghe {

std::optional<Text> readFileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return Text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace qinghe
