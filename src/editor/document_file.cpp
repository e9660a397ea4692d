#include "document_file.h"

#include "base/file_bytes.h"

#include <QSaveFile>

namespace qinghe {

std::optional<Text> readDocumentFile(const QString& path)
{
    const std::optional<Text> bytes = readFileBytes(path);
    if (!bytes)
        return std::nullopt;
    return textUpToZero(*bytes);
}

bool writeDocumentFile(const QString& path, const Text& bytes)
{
    // The new content goes to a side file first, so a failed write leaves the
    // old file whole; where no side file can be made beside it, the file is
    // written in place.
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace qinghe
