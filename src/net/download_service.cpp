#include "download_service.h"

#include "net/download_address.h"
#include "net/download_run.h"


namespace qinghe {

namespace {

// Stop looks whether the task has ended this often.
constexpr std::chrono::milliseconds kStopCheckStep{20};

void raiseEvent(const DownloadTask& parameters, DownloadTask& record, int event, std::int64_t b)
{
    if (!parameters.eventHandler)
        return;
    try {
        parameters.eventHandler(event, 0, b, 0, record);
    } catch (...) {
        // The caller's handler; the task ends all the same.
    }
}

// The task's thread: raises the size-known event as the connection reports
// it, then, once the connection has ended, the ended event.
void runTask(const std::shared_ptr<DownloadRun>& run)
{
    DownloadTask record = run->task;
    std::int64_t endValue = 0;
    for (;;) {
        std::unique_lock lock(run->queueLock);
        run->queueChanged.wait(lock, [&] { return !run->announcedSizes.empty() || run->connectionEnded; });
        if (!run->announcedSizes.empty()) {
            const std::int64_t size = run->announcedSizes.front();
            run->announcedSizes.pop_front();
            lock.unlock();
            raiseEvent(run->task, record, kDownloadSizeKnownEvent, size);
            continue;
        }
        endValue = run->endValue;
        break;
    }
    run->connectionThread.join();
    raiseEvent(run->task, record, kDownloadEndedEvent, endValue);
    run->ended.store(true, std::memory_order_release);
}

}  // namespace

DownloadService::DownloadService() = default;

DownloadService::~DownloadService()
{
    stop();
}

bool DownloadService::start(const DownloadTask& task)
{
    if (task.kind == kUploadTaskKind)
        return false;
    try {
        const std::optional<DownloadAddress> address = parseDownloadAddress(task.address);
        if (!address)
            return false;

        std::lock_guard lock(slotLock_);
        if (run_ && !run_->ended.load(std::memory_order_acquire))
            return false;
        releaseEnded();
        auto run = std::make_shared<DownloadRun>(task, *address, DownloadSettings{retryWait_, retryLimit_});
        run->connectionThread = std::thread([run] { runDownloadConnection(*run); });
        connectionThreadId_ = run->connectionThread.get_id();
        try {
            taskThread_ = std::thread([run] { runTask(run); });
        } catch (...) {
            run->stop.raise();
            run->connectionThread.join();
            return false;
        }
        taskThreadId_ = taskThread_.get_id();
        run_ = std::move(run);
        return true;
    } catch (...) {
        // No memory or no thread: nothing was started.
        return false;
    }
}

// Joins the thread of a task that has ended and empties the slot. Called
// with the slot lock held.
void DownloadService::releaseEnded()
{
    if (run_ && !run_->ended.load(std::memory_order_acquire))
        return;
    if (taskThread_.joinable())
        taskThread_.join();
    run_.reset();
}

std::int64_t DownloadService::receivedSinceLastQuery()
{
    std::lock_guard lock(slotLock_);
    if (!run_ || run_->ended.load(std::memory_order_acquire))
        return 0;
    return run_->receivedSinceQuery.exchange(0);
}

std::int64_t DownloadService::downloaded() const
{
    std::lock_guard lock(slotLock_);
    if (!run_ || run_->ended.load(std::memory_order_acquire))
        return 0;
    return run_->downloaded.load();
}

bool DownloadService::running() const
{
    std::lock_guard lock(slotLock_);
    return run_ && !run_->ended.load(std::memory_order_acquire);
}

bool DownloadService::onTaskThread() const
{
    const std::thread::id here = std::this_thread::get_id();
    return here == taskThreadId_ || here == connectionThreadId_;
}

void DownloadService::stop()
{
    std::shared_ptr<DownloadRun> run;
    {
        std::lock_guard lock(slotLock_);
        if (!run_ || run_->ended.load(std::memory_order_acquire)) {
            releaseEnded();
            return;
        }
        run = run_;
        run->stop.raise();
        if (onTaskThread())
            return;
    }
    // No lock is held while waiting: the task's handlers may call the
    // queries, or wait for the thread that called stop.
    const int waitMs = run->task.stopWaitMs;
    for (std::chrono::milliseconds waited{0};
         !run->ended.load(std::memory_order_acquire) && waited.count() < waitMs; waited += kStopCheckStep)
        std::this_thread::sleep_for(kStopCheckStep);

    std::lock_guard lock(slotLock_);
    if (run_ != run)
        return;
    if (run->ended.load(std::memory_order_acquire)) {
        releaseEnded();
        return;
    }
    // A handler holds the task beyond the stop wait. The threads keep the
    // run alive and end when the handler lets them; the object is free now.
    taskThread_.detach();
    run_.reset();
}

void DownloadService::setRetryWait(std::chrono::milliseconds wait)
{
    std::lock_guard lock(slotLock_);
    retryWait_ = wait;
}

void DownloadService::setRetryLimit(int retries)
{
    std::lock_guard lock(slotLock_);
    retryLimit_ = retries;
}

}  // namespace qinghe
