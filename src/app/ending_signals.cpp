#include "ending_signals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace qinghe {

namespace {

constexpr std::array<int, 3> kEndingSignals = {SIGTERM, SIGINT, SIGHUP};

// The handler may run on any thread at any moment: it sees only these. The
// pipe is made once and stays open for the process, so a handler that runs
// while a watcher goes never writes into a descriptor that was reused.
int pipeEnds[2] = {-1, -1};
bool watched = false;
std::array<struct sigaction, kEndingSignals.size()> previous{};

bool havePipe()
{
    return pipeEnds[0] >= 0 || pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) == 0;
}

extern "C" void noteEndingSignal(int number)
{
    const int saved = errno;
    const char byte = static_cast<char>(number);
    // A full pipe already holds a request to end: one more changes nothing.
    [[maybe_unused]] const ssize_t written = write(pipeEnds[1], &byte, 1);
    errno = saved;
}

}  // namespace

EndingSignals::EndingSignals(std::function<void()> end, QObject* parent) : QObject(parent), end_(std::move(end))
{
    // One watcher at a time; a second one leaves the signals as they are.
    if (watched || !havePipe())
        return;
    watched = true;
    // Signals a watcher before this one did not get to are not this one's.
    std::array<char, 16> stale{};
    while (read(pipeEnds[0], stale.data(), stale.size()) > 0) {
    }
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &EndingSignals::readPipe);
    struct sigaction action {};
    action.sa_handler = &noteEndingSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted calls carry on: the program ends through its message loop, not through EINTR.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i)
        sigaction(kEndingSignals[i], &action, &previous[i]);
}

EndingSignals::~EndingSignals()
{
    if (!notifier_)
        return;
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i)
        sigaction(kEndingSignals[i], &previous[i], nullptr);
    delete notifier_;
    watched = false;
}

void EndingSignals::readPipe()
{
    std::array<char, 16> bytes{};
    bool any = false;
    while (read(pipeEnds[0], bytes.data(), bytes.size()) > 0)
        any = true;
    if (any && end_)
        end_();
}

}  // namespace qinghe
