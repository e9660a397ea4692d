#pragma once

// What one started download shares between the download object, the task's
// thread and its connection's thread. Held by shared pointers, so a thread
// that outlives a stop still finds it whole.

#include "net/download_address.h"
#include "net/download_socket.h"
#include "net/download_task.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace qinghe {

// Settings of the service itself, not of a task.
struct DownloadSettings {
    // A broken transfer is tried again after this wait ...
    std::chrono::milliseconds retryWait{0};
    // ... this many times per connection.
    int retryLimit = 0;
};

// How the connection ended, for the ended event.
struct DownloadEnd {
    std::int64_t value = 0;  // b of the ended event
    DownloadOutcome outcome = DownloadOutcome::cannotConnect;
    int httpStatus = 0;
    Text savedPath;          // where the file went, once it had a name
};

struct DownloadRun {
    DownloadRun(const DownloadTask& parameters, const DownloadAddress& parsed, const DownloadSettings& chosen)
        : task(parameters), address(parsed), settings(chosen)
    {
    }

    const DownloadTask task;  // as copied at start
    const DownloadAddress address;
    const DownloadSettings settings;
    StopSignal stop;

    // The task's lock: every change of the two counters is made under it;
    // the queries read them without it.
    std::mutex counterLock;
    std::atomic<std::int64_t> downloaded{0};
    std::atomic<std::int64_t> receivedSinceQuery{0};

    void addReceived(std::int64_t count)
    {
        std::lock_guard lock(counterLock);
        downloaded.fetch_add(count, std::memory_order_relaxed);
        receivedSinceQuery.fetch_add(count, std::memory_order_relaxed);
    }
    // The download starts over from its first byte.
    void restartDownloaded()
    {
        std::lock_guard lock(counterLock);
        downloaded.store(0, std::memory_order_relaxed);
    }

    // From the connection's thread to the task's thread: sizes for the
    // size-known event, then the end of the connection with the value the
    // ended event carries.
    std::mutex queueLock;
    std::condition_variable queueChanged;
    std::deque<std::int64_t> announcedSizes;
    bool connectionEnded = false;
    DownloadEnd end;

    void postSizeKnown(std::int64_t size)
    {
        std::lock_guard lock(queueLock);
        announcedSizes.push_back(size);
        queueChanged.notify_one();
    }
    void postConnectionEnded(DownloadEnd how)
    {
        std::lock_guard lock(queueLock);
        connectionEnded = true;
        end = std::move(how);
        queueChanged.notify_one();
    }

    // Started by the download object; joined by the task's thread.
    std::thread connectionThread;
    // Set once the ended event has been raised: the object is idle again.
    std::atomic<bool> ended{false};
};

// The connection's thread: the whole HTTP download of the run.
void runDownloadConnection(DownloadRun& run);

}  // namespace qinghe
