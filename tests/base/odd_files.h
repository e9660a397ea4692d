#pragma once

// Things that sit where a file is expected: pipes that feed or block, device
// nodes that read nothing or endless zeros. Made inside the test's own
// folder, so no device of the machine is ever at risk.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qinghe::test {

// Linux's numbers of the null and the zero device.
inline constexpr unsigned kMemoryDevicesMajor = 1;
inline constexpr unsigned kNullDeviceMinor = 3;
inline constexpr unsigned kZeroDeviceMinor = 5;
// Address space of a child that must fail for want of memory rather than
// take the machine's: far more than a settings file or a note needs.
inline constexpr rlim_t kChildAddressSpace = rlim_t(2) << 30;

inline QByteArray nativePath(const QString& path) { return QFile::encodeName(path); }

// A character device at path with the given numbers; the reason when it
// cannot be made (only an administrator may).
inline std::string makeCharacterDevice(const QString& path, unsigned minor)
{
    if (::mknod(nativePath(path).constData(), S_IFCHR | 0666, ::makedev(kMemoryDevicesMajor, minor)) == 0)
        return {};
    return std::string("cannot make a device node: ") + std::strerror(errno);
}

inline bool isCharacterDevice(const QString& path, unsigned minor)
{
    struct stat info {};
    return ::lstat(nativePath(path).constData(), &info) == 0 && S_ISCHR(info.st_mode)
        && info.st_rdev == ::makedev(kMemoryDevicesMajor, minor);
}

inline bool isFifo(const QString& path)
{
    struct stat info {};
    return ::lstat(nativePath(path).constData(), &info) == 0 && S_ISFIFO(info.st_mode);
}

// A named pipe with a writer waiting on its other end: whoever opens it for
// reading gets content and then the end of the file. A reader that must not
// read pipes shows itself by the content it returns, with no clock involved.
class FeedingFifo {
public:
    FeedingFifo(const QString& path, std::string content)
    {
        if (::mkfifo(nativePath(path).constData(), 0666) != 0)
            return;
        feeder_ = ::fork();
        if (feeder_ == 0) {
            ::signal(SIGPIPE, SIG_DFL);
            const int fd = ::open(nativePath(path).constData(), O_WRONLY);
            std::string_view rest(content);
            while (fd >= 0 && !rest.empty()) {
                const ssize_t put = ::write(fd, rest.data(), rest.size());
                if (put <= 0)
                    break;
                rest.remove_prefix(static_cast<std::size_t>(put));
            }
            ::_exit(0);
        }
    }
    ~FeedingFifo()
    {
        if (feeder_ > 0) {
            // Still waiting for a reader when nobody read the pipe.
            ::kill(feeder_, SIGKILL);
            ::waitpid(feeder_, nullptr, 0);
        }
    }
    FeedingFifo(const FeedingFifo&) = delete;
    FeedingFifo& operator=(const FeedingFifo&) = delete;

    bool made() const { return feeder_ > 0; }

private:
    pid_t feeder_ = -1;
};

// Runs check in a child process with a bounded address space; true when it
// returned true. A check that reads without end dies there for want of memory.
inline bool inChildWithBoundedMemory(const std::function<bool()>& check)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{kChildAddressSpace, kChildAddressSpace};
        ::setrlimit(RLIMIT_AS, &limit);
        // Nothing may unwind into the test runner's copy in this process.
        try {
            ::_exit(check() ? 0 : 1);
        } catch (...) {
            ::_exit(1);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace qinghe::test
