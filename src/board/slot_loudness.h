#pragma once

// Custom slots play at the loudness of the built-in effects: the file a
// gain was measured on, and the worker that measures files away from the
// window thread. The numbers themselves are in loudness_numbers.h.

#include "board/loudness_numbers.h"
#include "media/player/loudness_meter.h"
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
