#pragma once

#include "text/text.h"

#include <QString>

#include <cstddef>
#include <optional>

namespace qinghe {

// Bytes read from one file at most unless the caller names its own limit.
// Far beyond any note a person edits, yet a file this size still fits in
// memory as bytes and again as the edit box's text; past it a file reads as
// unreadable instead of the program dying for want of memory (a sparse file
// can claim terabytes).
inline constexpr std::size_t kFileByteLimit = std::size_t(256) << 20;

// Every byte of the file as a text; nothing when it is no regular file (a
// pipe or a device is never opened for blocking reads nor read at all), holds
// more than maxBytes bytes, or cannot be read whole.
std::optional<Text> readFileBytes(const QString& path, std::size_t maxBytes = kFileByteLimit);

// The same for a file already open (for reading, without blocking): checks
// that it is a regular file of at most maxBytes bytes, then reads it from
// where the descriptor stands.
std::optional<Text> readRegularFile(int fd, std::size_t maxBytes);

// Opens a file for reading the way readRegularFile wants it: a pipe without
// a writer or a terminal cannot block or claim the opener. -1 on failure.
int openForReading(int folderFd, const char* name);

}  // namespace qinghe
