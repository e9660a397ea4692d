#pragma once

// Custom slots play at the loudness of the built-in effects: the gain a
// measured file needs, how my.ini holds it, and the worker that measures
// files away from the window thread.

#include "media/loudness_meter.h"
#include "text/text.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
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

// A file as it lies on disk. A gain measured on a file holds only while the
// file has the same size and modification time; another file under the
// same name is measured again.
struct FileStamp {
    std::int64_t bytes = 0;
    std::int64_t modifiedMs = 0;  // milliseconds since 1970

    bool operator==(const FileStamp&) const = default;
};

// The file the element name stands for, found as the media layer finds it;
// nullopt when there is none.
std::optional<FileStamp> fileStamp(const Text& elementName);

// A stamp's number as my.ini holds it; nullopt for anything but a whole number.
std::optional<std::int64_t> stampNumberFromText(const Text& text);
// A peak as my.ini holds it ("%.13g", 1.0 full scale); nullopt for anything
// but a finite number above 0 and at most kLargestStoredPeak.
inline constexpr double kLargestStoredPeak = 1000;  // far past any overshoot a decoder gives
std::optional<double> peakFromText(const Text& text);

// The gain a sound plays at when wantedDb is asked of it (its loudness
// gain, its own volume): a cut as asked, a boost only as far as the file's
// peak leaves room below full scale, and none while the peak is unknown.
double heldLoudnessGain(double wantedDb, std::optional<double> peak);

// Measures files one at a time on a thread of its own, started with the
// first file; each answer is handed to the window thread.
class LoudnessWorker {
public:
    // The file's levels (nullopt when it cannot be decoded) and its stamp
    // as it was before the measurement began (nullopt when it was not there).
    using Measured = std::function<void(std::optional<FileLevels>, std::optional<FileStamp>)>;

    LoudnessWorker() = default;
    // Stops the measurement under way and waits for the thread; answers not
    // yet delivered are dropped.
    ~LoudnessWorker();
    LoudnessWorker(const LoudnessWorker&) = delete;
    LoudnessWorker& operator=(const LoudnessWorker&) = delete;

    // measured runs on the window thread with the file's levels, unless
    // this worker is gone by then.
    void measure(Text file, Measured measured);

private:
    struct Job {
        Text file;
        Measured measured;
    };

    void run();
    void deliver(Measured measured, std::optional<FileLevels> levels, std::optional<FileStamp> stamp);

    std::mutex lock_;  // the queue; never held while a file is measured
    std::condition_variable wake_;
    std::deque<Job> queue_;
    std::atomic<bool> stopping_{false};
    // Answers posted to the window thread hold it weakly: gone, they are dropped.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::thread thread_;
};

}  // namespace qinghe
