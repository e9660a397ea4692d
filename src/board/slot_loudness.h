#pragma once

// Custom slots play at the loudness of the built-in effects: the gain a
// measured file needs, how my.ini holds it, and the worker that measures
// files away from the window thread.

#include "media/loudness_meter.h"
#include "text/text.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace qinghe {

// The loudness the custom slots are brought to: the median integrated
// loudness of the 95 effect files in data/*.mp3 (-21.69 to -10.10 LUFS), as
// effect_loudness_bench prints it when run in the source folder; it measures
// them with the meter the slots are measured with. The board plays the
// effects unchanged, so at full volume half of them sound louder than this.
inline constexpr double kEffectLoudnessLufs = -13.03;
// Gains are kept to hundredths of a decibel, far below what anyone hears,
// so my.ini holds short numbers.
inline constexpr double kLoudnessGainStep = 0.01;
// A file that would need more is all but silence; more would only lift its noise.
inline constexpr double kLargestLoudnessGainDb = 60;

// The gain in decibels that brings the file to kEffectLoudnessLufs, lowered
// where the file's peak would pass full scale (at full volume), and at most
// kLargestLoudnessGainDb; rounded down to kLoudnessGainStep.
double evenLoudnessGain(const FileLoudness& loudness);

// A gain as my.ini holds it, "%.13g" text; nullopt for any text that is no
// gain the board would store (an empty value: the file could not be measured).
std::optional<double> loudnessGainFromText(const Text& text);

// Measures files one at a time on a thread of its own, started with the
// first file; each answer is handed to the window thread.
class LoudnessWorker {
public:
    using Measured = std::function<void(std::optional<FileLoudness>)>;

    LoudnessWorker() = default;
    // Stops the measurement under way and waits for the thread; answers not
    // yet delivered are dropped.
    ~LoudnessWorker();
    LoudnessWorker(const LoudnessWorker&) = delete;
    LoudnessWorker& operator=(const LoudnessWorker&) = delete;

    // measured runs on the window thread with the file's loudness (nullopt
    // when it cannot be measured), unless this worker is gone by then.
    void measure(Text file, Measured measured);

private:
    struct Job {
        Text file;
        Measured measured;
    };

    void run();
    void deliver(Measured measured, std::optional<FileLoudness> loudness);

    std::mutex lock_;  // the queue; never held while a file is measured
    std::condition_variable wake_;
    std::deque<Job> queue_;
    std::atomic<bool> stopping_{false};
    // Answers posted to the window thread hold it weakly: gone, they are dropped.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::thread thread_;
};

}  // namespace qinghe
