#include "slot_loudness.h"

#include "base/window_thread.h"
#include "media/player/media_path.h"

#include <QDateTime>
#include <QFileInfo>

#include <system_error>

namespace qinghe {

std::optional<FileStamp> fileStamp(const Text& elementName)
{
    const QString path = resolveMediaFile(elementName);
    if (path.isEmpty())
        return std::nullopt;
    const QFileInfo file(path);
    return FileStamp{file.size(), file.lastModified().toMSecsSinceEpoch()};
}

LoudnessWorker::~LoudnessWorker()
{
    {
        std::lock_guard guard(lock_);
        stopping_.store(true);
        queue_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void LoudnessWorker::measure(Text file, Measured measured)
{
    {
        std::lock_guard guard(lock_);
        queue_.push_back({std::move(file), std::move(measured)});
    }
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // No thread to spare: the files play as they are.
            std::lock_guard guard(lock_);
            for (Job& job : queue_)
                deliver(std::move(job.measured), std::nullopt, fileStamp(job.file));
            queue_.clear();
            return;
        }
    }
    wake_.notify_one();
}

void LoudnessWorker::run()
{
    for (;;) {
        Job job;
        {
            std::unique_lock guard(lock_);
            wake_.wait(guard, [this] { return stopping_.load() || !queue_.empty(); });
            if (stopping_.load())
                return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        // Stamped before it is read: a file changed meanwhile is measured again.
        const std::optional<FileStamp> stamp = fileStamp(job.file);
        std::optional<FileLevels> levels = measureFileLevels(job.file, stopping_);
        if (stopping_.load())
            return;
        deliver(std::move(job.measured), levels, stamp);
    }
}

void LoudnessWorker::deliver(Measured measured, std::optional<FileLevels> levels, std::optional<FileStamp> stamp)
{
    postToWindowThread([alive = std::weak_ptr<int>(alive_), measured = std::move(measured), levels, stamp] {
        // The worker dies on the window thread, so it cannot go while this runs.
        if (alive.lock())
            measured(levels, stamp);
    });
}

}  // namespace qinghe
