#pragma once

// Work that waits (the network, the disk) runs on threads owned here, never
// on the window thread and never detached. Each job is handed a stop flag
// of its own that its waits look at; a job reports back to the window thread
// itself (a queued call to an object that owns this set, which joins every
// job before that object goes). Used from one thread, the owner's.

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace qinghe {

class JobThreads {
public:
    using Work = std::function<void(const std::atomic<bool>& stop)>;

    JobThreads() = default;
    // Asks every job to stop and joins it.
    ~JobThreads();
    JobThreads(const JobThreads&) = delete;
    JobThreads& operator=(const JobThreads&) = delete;

    // Runs work on a thread of its own; false when no thread could be had.
    bool start(Work work);
    // Asks every running job to stop and returns at once; the jobs are
    // joined later, by the next start or the set's end. Jobs started after
    // this are not asked.
    void requestStop();
    // Asks every job to stop and waits until each has ended.
    void stopAndJoin();
    // Whether a job started here has not finished yet.
    bool running() const;

private:
    struct Job {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> stop;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    // Joins the jobs that have finished, which takes no time.
    void joinFinished();

    std::vector<Job> jobs_;
};

}  // namespace qinghe
