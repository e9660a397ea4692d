#pragma once

// The file download service: fetches one file from a web address into a
// local file on threads of its own and reports its progress. The program
// keeps one download object; the updater starts a task on it, polls the two
// counters once a second and reacts to the events of its handler.

#include "net/download_task.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace qinghe {

struct DownloadRun;

// The service's own waits between tries of a broken transfer, and how many
// tries it makes after the first: a few cuts are bridged, while a dead
// server is given up within minutes rather than hours.
inline constexpr std::chrono::milliseconds kDefaultRetryWait{5000};
inline constexpr int kDefaultRetryLimit = 5;

class DownloadService {
public:
    DownloadService();
    // Stops a running task as stop() does.
    ~DownloadService();
    DownloadService(const DownloadService&) = delete;
    DownloadService& operator=(const DownloadService&) = delete;

    // Copies the task, checks its address and starts the task's threads;
    // returns at once. False, with nothing started, when a task still runs,
    // the task is an upload, the address has no known scheme ("http://" and
    // the like, any case) or no host, or a thread cannot be created. Every
    // later failure ends the task with a status line and the ended event.
    bool start(const DownloadTask& task);

    // Bytes received since the previous call, the counter then set to 0;
    // 0 when no task runs.
    std::int64_t receivedSinceLastQuery();
    // Bytes received so far by the running task; 0 when no task runs.
    std::int64_t downloaded() const;
    bool running() const;

    // Asks a running task to stop and waits for it to end (its ended event
    // raised, its threads joined), then frees the object for the next start.
    // Every wait of a task watches the stop, so it ends at once unless a
    // handler holds it: a handler must return once a stop is asked. Called
    // from a handler on the task's own threads it only asks; the threads are
    // joined by the next start, stop or the object's end.
    void stop();

    // How long a broken transfer waits before it is tried again, and how
    // many times per connection; a start takes the values then in force.
    void setRetryWait(std::chrono::milliseconds wait);
    void setRetryLimit(int retries);

private:
    bool onTaskThread() const;
    void releaseEnded();
    void joinTaskThread();

    mutable std::mutex slotLock_;
    std::shared_ptr<DownloadRun> run_;
    std::thread taskThread_;
    std::thread::id taskThreadId_;
    std::thread::id connectionThreadId_;
    std::chrono::milliseconds retryWait_ = kDefaultRetryWait;
    int retryLimit_ = kDefaultRetryLimit;
};

}  // namespace qinghe
