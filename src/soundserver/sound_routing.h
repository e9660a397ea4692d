#pragma once

// Keeps the sound server in line with the host's sound settings, on a thread
// of its own that it joins when it shuts down: the window thread only hands
// settings over and never waits for the server, except at exit, and then for
// a bounded time.
//
// The thread stays connected and watches the server. On every request, and
// whenever the server's devices or modules change, it compares what the
// program has loaded (known by the role mark) with what the settings ask
// for, unloads what is not wanted (duplicates left by a crashed run
// included), loads what is missing, checks what the server then has, and
// tells the board's output where to play. Modules that already match stay,
// so a run after a crash takes over what the last one left.
//
// The server may come and go (it restarts on updates and log-ins): a lost
// connection is noticed at once and the thread connects again, waiting a
// little longer each time but never more than kLongestRetry, then builds
// the virtual microphone again. While the server is away the board's
// output plays nothing, at once, rather than wait for it.
//
// A chat program records the virtual microphone. When it goes (turned off,
// or the server went), the server moves such recordings to another source;
// the thread notes them, by index while the stream lives and by its
// program across a restart, and moves them back onto the microphone once
// it is there again, so the room hears the board again without the host
// looking for the chat's device. Recordings that ended meanwhile are
// forgotten; one the host moved away while the microphone was there stays.

#include "routing_plan.h"
#include "sound_settings.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace qinghe {

// The server's side of the settings, as of the latest request.
// Only what was found on the server counts, never what was asked for.
struct RoutingStatus {
    bool checked = false;          // the server has been asked at least once
    bool serverReachable = false;
    bool reconnecting = false;     // the server was there and went: the thread is calling it again
    bool microphoneOn = false;     // "青禾虚拟麦克风" is there for chat programs
    bool passThroughOn = false;
    RoutingProblem problem = RoutingProblem::None;
    std::vector<ServerDevice> listeningDevices;  // the host's outputs, the program's own left out
    std::vector<ServerDevice> microphones;       // the host's inputs, monitors and the program's own left out

    bool operator==(const RoutingStatus&) const = default;
};

class SoundRouting {
public:
    // Told where the board's output should play whenever that changes; runs
    // on the routing thread.
    using OutputSwitch = std::function<void(const OutputTarget&)>;
    // Told the status after every request, and whenever it changes on its
    // own (the server went or came back, devices changed); runs on the routing thread.
    using StatusListener = std::function<void(const RoutingStatus&)>;
    // Told every settings handed to apply, on the caller's thread, at once:
    // the other parts that follow the sound settings take them from here.
    using SettingsListener = std::function<void(const SoundSettings&)>;
    using Limit = std::chrono::milliseconds;

    explicit SoundRouting(OutputSwitch switchOutput);
    // Shuts down as shutDown(kExitLimit) does, if that has not been done.
    ~SoundRouting();
    SoundRouting(const SoundRouting&) = delete;
    SoundRouting& operator=(const SoundRouting&) = delete;

    // The longest the program waits at exit for its modules to be unloaded.
    static constexpr Limit kExitLimit{3000};
    // Calls to a server that is not there start this far apart and double,
    // up to kLongestRetry: a server that restarts is back within a second or
    // two, and one that stays away costs a call every two seconds.
    static constexpr Limit kFirstRetry{100};
    static constexpr Limit kLongestRetry{2000};

    // Brings the server in line with settings, soon; a later call before the
    // thread gets to it replaces this one.
    void apply(const SoundSettings& settings);
    // Asks the server again with the last settings (new devices, a new default).
    void refresh();
    void setStatusListener(StatusListener listener);
    // One more listener, beside the one above, for as long as the routing runs.
    void addStatusListener(StatusListener listener);
    void addSettingsListener(SettingsListener listener);
    RoutingStatus status() const;
    SoundSettings settings() const;

    // Waits until every request so far, and every change the server has
    // told of, has been carried out; false when the limit passes first.
    bool waitUntilIdle(Limit limit) const;

    // The at-exit clean-up: the output leaves the program's sinks, then every
    // module the program has on the server is unloaded and the thread ends.
    // False when that took longer than limit: the thread's waits for the
    // server are then cut short, the output is no longer moved, and what is
    // still loaded stays for the next run to take over. Either way the
    // thread has ended and been joined when it returns.
    bool shutDown(Limit limit);

private:
    struct State;
    static void run(State& state);

    std::unique_ptr<State> state_;
    std::thread thread_;
    bool shutDown_ = false;
};

}  // namespace qinghe
