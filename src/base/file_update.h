#pragma once

// Changing a small file that several processes may change at the same time
// and that must survive a crash or a power loss whole.

#include "text/text.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

namespace qinghe {

// The file's new content, given its current content (empty for a new file);
// nothing to leave the file as it is and report failure.
using FileChange = std::function<std::optional<Text>(std::string_view current)>;

// Suffix of the finished copy that is renamed over the file ("my.ini.new-"
// and the writer's process id); one left behind by a crashed writer is
// removed by the next writer.
inline constexpr std::string_view kNewCopyMark = ".new-";

// Applies change to the file at path (a native path; a symbolic link is
// followed to the file it names). Holding an exclusive lock on the file's
// folder, it reads the file, writes the changed content to a new copy in the
// same folder, flushes it to disk, renames it over the file and flushes the
// folder. So readers see the old or the new content and never a mix, and
// writers that overlap each start from the other's result. An existing file
// keeps its permissions. False, with the file untouched, when the folder or
// the file cannot be written, the file cannot be read, holds more than
// maxBytes bytes or is no regular file (a pipe, a device or a folder).
bool updateFile(const QString& path, std::size_t maxBytes, const FileChange& change);

// Replaces the content of the file at path (a native path; a symbolic link is
// followed) with bytes, creating it when it is missing, for a document the
// user saves. As updateFile, the new content goes to a finished copy that is
// renamed over the file, which keeps its permissions. Where no copy can be
// made or renamed in the folder but the file itself may be written, the file
// is written in place, its old content kept until the new one is on disk and
// put back when anything fails. False, with the old content in the file,
// when the file cannot be written whole (a full disk, a read-only file, no
// regular file: a pipe, a device or a folder).
bool replaceFileBytes(const QString& path, std::string_view bytes);

} // namespace qinghe
