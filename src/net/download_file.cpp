#include "download_file.h"

#include "text/gbk.h"

#include <QFile>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace qinghe {

std::string nativePath(const Text& savePath)
{
    QString path = nameToQString(savePath);
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QFile::encodeName(path).toStdString();
}

std::optional<std::int64_t> existingSize(const std::string& path)
{
    struct stat entry {};
    if (lstat(path.c_str(), &entry) != 0)
        return std::nullopt;
    struct stat followed {};
    if (stat(path.c_str(), &followed) == 0)
        return static_cast<std::int64_t>(followed.st_size);
    return 0;
}

PartialFile::~PartialFile()
{
    discard();
}

bool PartialFile::create(const std::string& target)
{
    discard();
    target_ = target;
    partial_ = target + kPartialFileSuffix;
    // Read and write for everyone the umask allows, as any new file.
    constexpr mode_t kNewFileMode = 0666;
    descriptor_ = open(partial_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
    size_ = 0;
    lastError_ = descriptor_ >= 0 ? 0 : errno;
    return descriptor_ >= 0;
}

bool PartialFile::fits(std::int64_t size) const
{
    struct statvfs disk {};
    if (descriptor_ < 0 || fstatvfs(descriptor_, &disk) != 0)
        return true;
    const auto available = static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize;
    return size <= 0 || static_cast<unsigned long long>(size) <= available;
}

bool PartialFile::reserve(std::int64_t size)
{
    if (size <= 0)
        return true;
    if (fallocate(descriptor_, 0, 0, static_cast<off_t>(size)) == 0)
        return true;
    lastError_ = errno;
    return errno == EOPNOTSUPP || errno == ENOSYS;
}

bool PartialFile::append(const char* bytes, std::size_t count)
{
    while (count > 0) {
        const ssize_t written = pwrite(descriptor_, bytes, count, static_cast<off_t>(size_));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            lastError_ = written < 0 ? errno : ENOSPC;
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
        size_ += written;
    }
    return true;
}

bool PartialFile::restart()
{
    size_ = 0;
    if (ftruncate(descriptor_, 0) == 0)
        return true;
    lastError_ = errno;
    return false;
}

bool PartialFile::finish(bool replace)
{
    // The room claimed ahead may be larger than what came.
    bool good = ftruncate(descriptor_, static_cast<off_t>(size_)) == 0 && fdatasync(descriptor_) == 0;
    struct stat replaced {};
    if (good && replace && stat(target_.c_str(), &replaced) == 0)
        good = fchmod(descriptor_, replaced.st_mode & ALLPERMS) == 0;
    good = ::close(descriptor_) == 0 && good;
    descriptor_ = -1;
    if (good && replace) {
        good = rename(partial_.c_str(), target_.c_str()) == 0;
    } else if (good) {
        good = renameat2(AT_FDCWD, partial_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) == 0;
        // A file system that cannot refuse to replace: look first.
        if (!good && errno == EINVAL && !existingSize(target_))
            good = rename(partial_.c_str(), target_.c_str()) == 0;
    }
    if (!good) {
        lastError_ = errno;
        unlink(partial_.c_str());
    }
    partial_.clear();
    return good;
}

void PartialFile::discard()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = -1;
    if (!partial_.empty())
        unlink(partial_.c_str());
    partial_.clear();
}

}  // namespace qinghe
