#include "download_service.h"

#include "net/download_address.h"
#include "net/download_run.h"


namespace qinghe {

namespace {

void raiseEvent(const DownloadTask& parameters, DownloadTask& record, int event, std::int64_t b,
                std::int64_t a = 0, std::int64_t c = 0)
{
    if (!parameters.eventHandler)
        return;
    try {
        parameters.eventHandler(event, a, b, c, record);
    } catch (...) {
        // The caller's handler; the task ends all the same.
    }
}

// The task's thread: raises the size-known event as the connection reports
// it, then, once the connection has ended, the ended event.
void runTask(const std::shared_ptr<DownloadRun>& run)
{
    DownloadTask record = run->task;
    DownloadEnd end;
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
        end = run->end;
        break;
    }
    run->connectionThread.join();
    if (!end.savedPath.empty())
        record.savePath = end.savedPath;
    raiseEvent(run->task, record, kDownloadEndedEvent, end.value, static_cast<std::int64_t>(end.outcome),
               end.httpStatus);
    run->ended.store(true, std::memory_order_release);
}

}  // namespace

DownloadService::DownloadService() = default;

DownloadService::~DownloadService()
{
    stop();
    std::lock_guard lock(slotLock_);
    joinTaskThread();
    run_.reset();
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
    joinTaskThread();
    run_.reset();
}

// A task's own thread cannot join itself; it is joined by whoever comes next.
void DownloadService::joinTaskThread()
{
    if (taskThread_.joinable() && taskThread_.get_id() != std::this_thread::get_id())
        taskThread_.join();
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
    std::thread task;
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
        task = std::move(taskThread_);
    }
    // No lock is held while joining: the task's handlers may call the
    // queries. Every wait of the task watches the stop, so this is short.
    if (task.joinable())
        task.join();
    std::lock_guard lock(slotLock_);
    if (run_ == run)
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
