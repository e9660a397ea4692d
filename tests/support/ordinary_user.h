#pragma once

// An administrator writes through mode bits; checks about folders a host
// cannot write run as the unprivileged account instead, in a child process.

#include <functional>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qinghe::test_support {

// The unprivileged account every Debian system has.
inline constexpr uid_t kNobody = 65534;

// True when check holds as that account (or as ourselves, when we are no
// administrator); false when it fails, throws, or the account cannot be taken.
inline bool asOrdinaryUser(const std::function<bool()>& check)
{
    if (::geteuid() != 0)
        return check();
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            ::_exit(::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 && check() ? 0 : 1);
        } catch (...) {
            ::_exit(2);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace qinghe::test_support
