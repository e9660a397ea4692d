#pragma once

// Text documents on disk: bytes read and written exactly as they are, with no
// line-end conversion; document_encoding.h says what they spell.

#include "text/text.h"

#include <QString>

#include <optional>

namespace qinghe {

// The file's bytes up to, not including, the first zero byte; nothing when
// the file cannot be opened or read.
std::optional<Text> readDocumentFile(const QString& path);

// Replaces the file's content with bytes; false when it cannot be created or
// written whole (a full disk included) or is no regular file, in which case
// an existing file keeps its old content.
bool writeDocumentFile(const QString& path, const Text& bytes);

}  // namespace qinghe
