// How long a start takes until the window is on screen, measured from
// outside: the bench is an X client of its own that watches the display for
// the first top-level window of the started process to be mapped. The clock
// starts just before the process is spawned, so loading libraries, the
// application object, the window definition and the created event all count.
//
// Three programs are started in turn, round after round:
//   our board shown              the program itself
//   bare Qt window               a window of the board's size and nothing else
//   Qt window with one web view  the same window holding one web view
// Further programs can be given as label=path (an older build, say).
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/startup_bench [--runs N] [--memory] [label=path ...]
//
// Each start is left alone for a moment once shown, so that whatever it does
// after showing (the web panel) is done, then closed the way the user closes
// a window: the window manager's delete request. --memory adds one start of
// the program that idles before its resident memory is read.

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Fifteen starts give a median that a single slow start does not move.
constexpr int kDefaultRuns = 15;
// A start that shows nothing in this time counts as failed.
constexpr int kShowTimeoutMs = 20000;
// Time a shown program is left alone before it is closed: enough for the web
// engine to come up after the window in every program measured.
constexpr int kSettleMs = 1500;
// Time a closed program has to end before it is killed.
constexpr int kExitTimeoutMs = 10000;
// The idle reading comes after the web panel has given up on a page it cannot reach.
constexpr int kIdleSettleMs = 10000;
// Longest wait for one event from the display.
constexpr int kPollSliceMs = 50;

long long monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

double msSince(long long startNs) { return (monotonicNs() - startNs) / 1e6; }

struct Subject {
    std::string label;
    std::string path;
    std::vector<double> shownMs;
    int failed = 0;
};

class Display {
public:
    bool open()
    {
        int screenNumber = 0;
        connection_ = xcb_connect(nullptr, &screenNumber);
        if (connection_ == nullptr || xcb_connection_has_error(connection_) != 0)
            return false;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
            xcb_screen_next(&screens);
        root_ = screens.data->root;
        // Every top-level window mapped on the display reaches us.
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        pidAtom_ = atom("_NET_WM_PID");
        protocolsAtom_ = atom("WM_PROTOCOLS");
        deleteAtom_ = atom("WM_DELETE_WINDOW");
        xcb_flush(connection_);
        return true;
    }

    ~Display()
    {
        if (connection_ != nullptr)
            xcb_disconnect(connection_);
    }

    // The first ordinary top-level window of pid mapped before the deadline.
    std::optional<xcb_window_t> waitForMappedWindow(pid_t pid, long long deadlineNs)
    {
        while (monotonicNs() < deadlineNs) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                std::optional<xcb_window_t> found;
                if ((event->response_type & ~0x80) == XCB_MAP_NOTIFY) {
                    const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                    // Menus and tool tips bypass the window manager; the board does not.
                    if (!map->override_redirect && pidOf(map->window) == pid)
                        found = map->window;
                }
                std::free(event);
                if (found)
                    return found;
            }
            if (xcb_connection_has_error(connection_) != 0)
                return std::nullopt;
            pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
            poll(&fd, 1, kPollSliceMs);
        }
        return std::nullopt;
    }

    // What the close button of a window manager sends.
    void askToClose(xcb_window_t window)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = protocolsAtom_;
        message.data.data32[0] = deleteAtom_;
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }

    // Reads and drops what came in meanwhile, so that it cannot be taken for the next start.
    void drain()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_))
            std::free(event);
    }

private:
    xcb_atom_t atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return value;
    }

    pid_t pidOf(xcb_window_t window)
    {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        pid_t pid = 0;
        if (reply != nullptr && xcb_get_property_value_length(reply) >= 4)
            pid = static_cast<pid_t>(*static_cast<uint32_t*>(xcb_get_property_value(reply)));
        std::free(reply);
        return pid;
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t pidAtom_ = XCB_ATOM_NONE;
    xcb_atom_t protocolsAtom_ = XCB_ATOM_NONE;
    xcb_atom_t deleteAtom_ = XCB_ATOM_NONE;
};

// Starts path in a process group of its own, its output dropped.
pid_t spawn(const std::string& path)
{
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &files, &attributes, argv, environ) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

void sleepMs(int ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Waits for the process to end; kills its group when it does not.
void reap(pid_t pid)
{
    const long long deadline = monotonicNs() + kExitTimeoutMs * 1000000LL;
    while (monotonicNs() < deadline) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        sleepMs(kPollSliceMs);
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

long residentKb(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

// The process and everything it started (the web engine's helpers).
long residentKbWithChildren(int root)
{
    std::map<int, int> parentOf;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (end == entry->d_name || *end != '\0')
                continue;
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string content((std::istreambuf_iterator<char>(stat)), {});
            const auto close = content.rfind(')');
            if (close == std::string::npos)
                continue;
            std::istringstream rest(content.substr(close + 2));
            char state = 0;
            int ppid = 0;
            rest >> state >> ppid;
            parentOf[static_cast<int>(pid)] = ppid;
        }
        closedir(proc);
    }
    long total = 0;
    for (const auto& [pid, ppid] : parentOf) {
        for (int p = pid; p > 1; p = parentOf.count(p) ? parentOf[p] : 0) {
            if (p == root) {
                total += residentKb(pid);
                break;
            }
        }
    }
    return total;
}

// One start: the time to the mapped window, or nothing when none came.
std::optional<double> timeOneStart(Display& display, const std::string& path, int settleMs,
                                   const std::function<void(pid_t)>& whileShown = {})
{
    display.drain();
    const long long started = monotonicNs();
    const pid_t pid = spawn(path);
    if (pid < 0)
        return std::nullopt;
    const std::optional<xcb_window_t> window =
        display.waitForMappedWindow(pid, started + kShowTimeoutMs * 1000000LL);
    const double shownMs = msSince(started);
    if (window) {
        sleepMs(settleMs);
        if (whileShown)
            whileShown(pid);
        display.askToClose(*window);
    } else {
        kill(-pid, SIGTERM);
    }
    reap(pid);
    if (!window)
        return std::nullopt;
    return shownMs;
}

void printRow(const Subject& subject)
{
    std::vector<double> times = subject.shownMs;
    if (times.empty()) {
        std::printf("%-30s  never shown (%d failed starts)\n", subject.label.c_str(), subject.failed);
        return;
    }
    std::sort(times.begin(), times.end());
    // The middle value, or the mean of the two middle values.
    const std::size_t n = times.size();
    const double median = n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    std::printf("%-30s  median %7.1f ms   min %7.1f ms   max %7.1f ms   (%zu starts", subject.label.c_str(), median,
                times.front(), times.back(), n);
    if (subject.failed > 0)
        std::printf(", %d failed", subject.failed);
    std::printf(")\n");
}

}  // namespace

int main(int argc, char* argv[])
{
    int runs = kDefaultRuns;
    bool readMemory = false;
    std::vector<Subject> subjects{
        {"our board shown", QINGHE_PROGRAM, {}, 0},
        {"bare Qt window", QINGHE_BARE_WINDOW_PROBE, {}, 0},
        {"Qt window with one web view", QINGHE_WEB_VIEW_PROBE, {}, 0},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto equals = argument.find('=');
        if (argument == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (argument == "--memory") {
            readMemory = true;
        } else if (equals != std::string::npos && equals > 0) {
            subjects.push_back({argument.substr(0, equals), argument.substr(equals + 1), {}, 0});
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--memory] [label=path ...]\n", argv[0]);
            return 2;
        }
    }

    // The programs draw on the bench's display, with the desktop's own platform.
    unsetenv("QT_QPA_PLATFORM");
    // The board opens its audio device at start; a machine without a sound
    // server would otherwise spend its time looking for one.
    setenv("SDL_AUDIODRIVER", "dummy", 0);

    Display display;
    if (!display.open()) {
        std::fprintf(stderr, "no display: run the bench under Xvfb (xvfb-run -a)\n");
        return 1;
    }
    // Round after round, each program once per round, so that a busy moment
    // of the machine falls on all of them alike.
    for (int run = 0; run < runs; ++run) {
        for (Subject& subject : subjects) {
            if (const std::optional<double> shown = timeOneStart(display, subject.path, kSettleMs))
                subject.shownMs.push_back(*shown);
            else
                ++subject.failed;
        }
    }
    std::printf("start to first top-level window mapped, %d rounds:\n", runs);
    for (const Subject& subject : subjects)
        printRow(subject);

    if (readMemory) {
        long programKb = 0;
        long treeKb = 0;
        const auto shown = timeOneStart(display, subjects[0].path, kIdleSettleMs, [&](pid_t pid) {
            programKb = residentKb(pid);
            treeKb = residentKbWithChildren(pid);
        });
        if (shown) {
            std::printf("resident memory once idle (%d s after shown): program %.1f MiB, with web engine helpers "
                        "%.1f MiB\n",
                        kIdleSettleMs / 1000, programKb / 1024.0, treeKb / 1024.0);
        }
    }
    bool anyShown = false;
    for (const Subject& subject : subjects)
        anyShown = anyShown || !subject.shownMs.empty();
    return anyShown ? 0 : 1;
}
