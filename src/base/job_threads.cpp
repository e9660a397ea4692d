#include "job_threads.h"

#include <algorithm>
#include <system_error>

namespace qinghe {

JobThreads::~JobThreads()
{
    stopAndJoin();
}

bool JobThreads::start(Work work)
{
    joinFinished();
    Job job{{}, std::make_shared<std::atomic<bool>>(false), std::make_shared<std::atomic<bool>>(false)};
    try {
        job.thread = std::thread([work = std::move(work), stop = job.stop, finished = job.finished] {
            try {
                work(*stop);
            } catch (...) {
                // A job's failure is its own: it reports nothing, and the set goes on.
            }
            finished->store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        return false;
    }
    jobs_.push_back(std::move(job));
    return true;
}

void JobThreads::requestStop()
{
    for (Job& job : jobs_)
        job.stop->store(true, std::memory_order_release);
}

void JobThreads::stopAndJoin()
{
    requestStop();
    for (Job& job : jobs_)
        job.thread.join();
    jobs_.clear();
}

bool JobThreads::running() const
{
    return std::any_of(jobs_.begin(), jobs_.end(),
                       [](const Job& job) { return !job.finished->load(std::memory_order_acquire); });
}

void JobThreads::joinFinished()
{
    const auto firstRunning = std::partition(jobs_.begin(), jobs_.end(), [](const Job& job) {
        return job.finished->load(std::memory_order_acquire);
    });
    for (auto job = jobs_.begin(); job != firstRunning; ++job)
        job->thread.join();
    jobs_.erase(jobs_.begin(), firstRunning);
}

}  // namespace qinghe
