#pragma once

// 说话时压低音乐: while ducking is on, listens to the host's microphone and
// says where the music beds go as the host speaks and falls silent, by the
// rule of DuckRule. The microphone is the pass-through's while pass-through
// is on, else the server's default source, never the program's own virtual
// microphone nor a monitor.
//
// It listens on a thread of its own, with a connection of its own to the
// sound server and a record stream of the server's peaks only (a hundred a
// second, one float each, sent fifty times a second), so it costs little. The thread is
// joined when it shuts down. A microphone that goes (unplugged, the server
// gone) brings the beds back to their level and is looked for again, as
// the server comes back and its devices change.

#include "duck_rule.h"
#include "sound_settings.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace qinghe {

// What the watch is doing, as the window shows it.
enum class MicrophoneWatch {
    Off,        // ducking is off
    Listening,  // the microphone is heard
    Lost,       // ducking is on, but there is no microphone to hear: the beds stay at their level
};

class MicrophoneLevel {
public:
    // Both run on the watching thread.
    using BedListener = std::function<void(const BedLevel&)>;
    using WatchListener = std::function<void(MicrophoneWatch)>;
    using Limit = std::chrono::milliseconds;

    // moveBeds is told every change of the beds' level.
    explicit MicrophoneLevel(BedListener moveBeds);
    ~MicrophoneLevel();
    MicrophoneLevel(const MicrophoneLevel&) = delete;
    MicrophoneLevel& operator=(const MicrophoneLevel&) = delete;

    // Takes the ducking and the microphone from settings, soon; never waits.
    void apply(const SoundSettings& settings);
    // Told each change of what the watch is doing, for as long as it runs.
    void addWatchListener(WatchListener listener);
    MicrophoneWatch watch() const;

    // Ends the thread and joins it; the server's waits are cut short.
    void shutDown();

private:
    struct State;
    static void run(State& state);

    std::unique_ptr<State> state_;
    std::thread thread_;
};

}  // namespace qinghe
