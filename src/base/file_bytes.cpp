#include "file_bytes.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qinghe {

namespace {

// Least room added when a file turns out longer than it claimed (files of
// the kernel's own claim no length at all).
constexpr std::size_t kGrowthStep = 65536;

}  // namespace

std::optional<Text> readRegularFile(int fd, std::size_t maxBytes)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > maxBytes)
        return std::nullopt;
    // Regular files never block; reads go on as ordinary ones.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return std::nullopt;

    // The file may grow while it is read: one byte past the limit is enough
    // to know it is too long.
    Text bytes(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > maxBytes)
                return std::nullopt;
            const std::size_t room = std::max(got, kGrowthStep);
            bytes.resize(got + (maxBytes - got < room ? maxBytes - got + 1 : room));
        }
        const ssize_t chunk = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (chunk == 0)
            break;
        if (chunk < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        got += static_cast<std::size_t>(chunk);
    }
    bytes.resize(got);
    return bytes;
}

int openForReading(int folderFd, const char* name)
{
    return ::openat(folderFd, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

std::optional<Text> readFileBytes(const QString& path, std::size_t maxBytes)
{
    const int fd = openForReading(AT_FDCWD, QFile::encodeName(path).constData());
    if (fd < 0)
        return std::nullopt;
    std::optional<Text> bytes = readRegularFile(fd, maxBytes);
    ::close(fd);
    return bytes;
}

}  // namespace qinghe
