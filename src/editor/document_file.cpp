#include "document_file.h"

#include "base/file_bytes.h"
#include "base/file_update.h"

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
    return replaceFileBytes(path, bytes);
}

}  // namespace qinghe
