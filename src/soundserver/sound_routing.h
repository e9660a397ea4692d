#pragma once

// Keeps the sound server in line with the host's sound settings, on a thread
// of its own that it joins when it shuts down: the window thread only hands
// settings over and never waits for the server, except at exit, and then for
// a bounded time.
//
// Each request connects, compares what the program has loaded on the server
// (known by the role mark) with what the settings ask for, unloads what is
// not wanted (duplicates left by a crashed run included), loads what is
// missing, and tells the board's output where to play. Modules that already
// match stay, so a run after a crash takes over what the last one left.

#include "routing_plan.h"
#include "sound_settings.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace qinghe {

// The server's side of the settings, as of the latest request.
struct RoutingStatus {
    bool checked = false;          // the server has been asked at least once
    bool serverReachable = false;
    bool microphoneOn = false;     // "青禾虚拟麦克风" is there for chat programs
    bool passThroughOn = false;
    RoutingProblem problem = RoutingProblem::None;
    std::vector<ServerDevice> listeningDevices;  // the host's outputs, the program's own left out
    std::vector<ServerDevice> microphones;       // the host's inputs, monitors and the program's own left out
};

class SoundRouting {
public:
    // Told where the board's output should play whenever that changes; runs
    // on the routing thread.
    using OutputSwitch = std::function<void(const OutputTarget&)>;
    // Told the status after every request; runs on the routing thread.
    using StatusListener = std::function<void(const RoutingStatus&)>;
    using Limit = std::chrono::milliseconds;

    explicit SoundRouting(OutputSwitch switchOutput);
    // Shuts down as shutDown(kExitLimit) does, if that has not been done.
    ~SoundRouting();
    SoundRouting(const SoundRouting&) = delete;
    SoundRouting& operator=(const SoundRouting&) = delete;

    // The longest the program waits at exit for its modules to be unloaded.
    static constexpr Limit kExitLimit{3000};

    // Brings the server in line with settings, soon; a later call before the
    // thread gets to it replaces this one.
    void apply(const SoundSettings& settings);
    // Asks the server again with the last settings (new devices, a new default).
    void refresh();
    void setStatusListener(StatusListener listener);
    RoutingStatus status() const;
    SoundSettings settings() const;

    // Waits until every request so far has been carried out; false when the
    // limit passes first.
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
