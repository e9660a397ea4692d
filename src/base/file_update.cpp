#include "file_update.h"

#include "file_bytes.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qinghe {

namespace {

// Permission bits of a file (set-id and sticky bits included).
constexpr mode_t kPermissionBits = 07777;
// A new file gets what the user's file-creation mask leaves of read and write for all.
constexpr mode_t kNewFileMode = 0666;

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    // Closes what it held and takes fd instead.
    void reset(int fd)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now, reporting whether the last writes reached the file.
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// The file a symbolic link names, or path itself when it is no link or
// leads nowhere yet.
std::string followLinks(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

// Waits for the folder lock. Where the file system cannot lock, writing goes
// on unlocked: the file is still never half written.
void lockFolder(int folderFd)
{
    while (::flock(folderFd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// Removes the copies that writers which died before renaming left behind;
// with the folder locked no live writer has one.
void removeStaleCopies(int folderFd, const std::string& name)
{
    const int listFd = ::dup(folderFd);
    if (listFd < 0)
        return;
    DIR* folder = ::fdopendir(listFd);
    if (!folder) {
        ::close(listFd);
        return;
    }
    const std::string prefix = name + std::string(kNewCopyMark);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view entryName(entry->d_name);
        if (entryName.size() > prefix.size() && entryName.substr(0, prefix.size()) == prefix
            && entryName.find_first_not_of("0123456789", prefix.size()) == std::string_view::npos)
            ::unlinkat(folderFd, entry->d_name, 0);
    }
    ::closedir(folder);
}

bool writeAllAt(int fd, std::string_view bytes, off_t offset)
{
    while (!bytes.empty()) {
        const ssize_t put = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
        offset += put;
    }
    return true;
}

// Where a file lives: its folder and its name there.
struct FilePlace {
    std::string folder;
    std::string name;
};

// The place of the file that path names, symbolic links followed.
std::optional<FilePlace> placeOf(const QString& path)
{
    const std::string target = followLinks(QFile::encodeName(path).toStdString());
    const std::size_t slash = target.rfind('/');
    FilePlace place;
    place.folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    place.name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (place.name.empty())
        return std::nullopt;
    return place;
}

// What became of an attempt to replace a file by a finished copy.
enum class CopyOutcome {
    Replaced,    // the copy stands in the file's place
    NoCopy,      // no copy could be made or put in place; nothing changed
    WriteFailed  // the copy could not be written whole (a full disk); nothing changed
};

// Writes content to a new file beside name, with the old file's owner and
// permissions when there was one, flushes it to disk and renames it over
// name. Whatever fails, no copy is left behind.
CopyOutcome replaceByCopy(int folderFd, const std::string& name, std::string_view content, const struct stat* old)
{
    const std::string copyName = name + std::string(kNewCopyMark) + std::to_string(::getpid());
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    Descriptor copy(::openat(folderFd, copyName.c_str(), flags, kNewFileMode));
    if (!copy.valid())
        return CopyOutcome::NoCopy;
    bool written = true;
    if (old) {
        // Only an administrator may give the file back to its owner; the
        // permissions are restored after, as a change of owner may clear some.
        [[maybe_unused]] const int owned = ::fchown(copy.get(), old->st_uid, old->st_gid);
        written = ::fchmod(copy.get(), old->st_mode & kPermissionBits) == 0;
    }
    written = written && writeAll(copy.get(), content) && ::fsync(copy.get()) == 0 && copy.close();
    if (!written) {
        ::unlinkat(folderFd, copyName.c_str(), 0);
        return CopyOutcome::WriteFailed;
    }
    if (::renameat(folderFd, copyName.c_str(), folderFd, name.c_str()) != 0) {
        ::unlinkat(folderFd, copyName.c_str(), 0);
        return CopyOutcome::NoCopy;
    }
    // Makes the rename itself durable; some file systems cannot flush a
    // folder, and the new content is in place either way.
    ::fsync(folderFd);
    return CopyOutcome::Replaced;
}

// Writes content over the file name itself, for a folder where no copy can
// be made. The old bytes stay in memory until the new ones are on disk and
// go back where they were when anything fails; they always fit there, as the
// file held them. Room beyond the old length is claimed and flushed first, so
// a full disk stops the save before an old byte has changed.
bool writeInPlace(int folderFd, const std::string& name, std::string_view content)
{
    const int flags = O_RDWR | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC;
    Descriptor file(::openat(folderFd, name.c_str(), flags));
    if (!file.valid())
        return false;
    const std::optional<Text> old = readRegularFile(file.get(), kFileByteLimit);
    if (!old)
        return false;
    const int fd = file.get();
    const auto oldLength = static_cast<off_t>(old->size());
    const auto newLength = static_cast<off_t>(content.size());
    const auto putBack = [&] {
        writeAllAt(fd, *old, 0);
        [[maybe_unused]] const int cut = ::ftruncate(fd, oldLength);
        ::fsync(fd);
        return false;
    };
    if (newLength > oldLength
        && (!writeAllAt(fd, content.substr(old->size()), oldLength) || ::fsync(fd) != 0))
        return putBack();
    if (!writeAllAt(fd, content.substr(0, std::min(content.size(), old->size())), 0))
        return putBack();
    if (newLength < oldLength && ::ftruncate(fd, newLength) != 0)
        return putBack();
    if (::fsync(fd) != 0)
        return putBack();
    return true;
}

// The target as its folder holds it now: whether it is there, and its state.
struct Target {
    bool existed = false;
    struct stat state {};
};

// Nullopt when the target may not be replaced: it cannot be looked at, or it
// is no regular file (a pipe, a device or a folder in its place stays as it
// is), or it is read-only, as it stays for the platform's own writers.
std::optional<Target> replaceableTarget(int folderFd, const std::string& name)
{
    Target target;
    target.existed = ::fstatat(folderFd, name.c_str(), &target.state, 0) == 0;
    if (!target.existed)
        return errno == ENOENT ? std::optional<Target>(target) : std::nullopt;
    if (!S_ISREG(target.state.st_mode) || ::faccessat(folderFd, name.c_str(), W_OK, AT_EACCESS) != 0)
        return std::nullopt;
    return target;
}

} // namespace

bool updateFile(const QString& path, std::size_t maxBytes, const FileChange& change)
{
    const std::optional<FilePlace> place = placeOf(path);
    if (!place)
        return false;
    const std::string& name = place->name;

    // The lock sits on the folder, not on the file, because the rename puts a
    // new file in the old one's place.
    Descriptor folderFd(::open(place->folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.valid())
        return false;
    lockFolder(folderFd.get());
    removeStaleCopies(folderFd.get(), name);

    const std::optional<Target> target = replaceableTarget(folderFd.get(), name);
    if (!target)
        return false;
    const bool existed = target->existed;
    Text current;
    if (existed) {
        // What was checked above may have been swapped since; the descriptor
        // is checked again before a byte is read.
        Descriptor file(openForReading(folderFd.get(), name.c_str()));
        std::optional<Text> bytes = file.valid() ? readRegularFile(file.get(), maxBytes) : std::nullopt;
        if (!bytes)
            return false;
        current = std::move(*bytes);
    }

    const std::optional<Text> updated = change(current);
    if (!updated)
        return false;
    if (existed && *updated == current)
        return true;
    return replaceByCopy(folderFd.get(), name, *updated, existed ? &target->state : nullptr) == CopyOutcome::Replaced;
}

bool replaceFileBytes(const QString& path, std::string_view bytes)
{
    const std::optional<FilePlace> place = placeOf(path);
    if (!place)
        return false;
    const std::string& name = place->name;

    // A folder the user may pass through but not list still holds files the
    // user may write; such a folder is neither locked nor tidied.
    Descriptor folderFd(::open(place->folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.valid())
        folderFd.reset(::open(place->folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.valid())
        return false;
    lockFolder(folderFd.get());
    removeStaleCopies(folderFd.get(), name);

    const std::optional<Target> target = replaceableTarget(folderFd.get(), name);
    if (!target)
        return false;
    const bool existed = target->existed;

    switch (replaceByCopy(folderFd.get(), name, bytes, existed ? &target->state : nullptr)) {
    case CopyOutcome::Replaced:
        return true;
    case CopyOutcome::WriteFailed:
        return false;
    case CopyOutcome::NoCopy:
        break;
    }
    return existed && writeInPlace(folderFd.get(), name, bytes);
}

} // namespace qinghe
