#include "slot_loudness.h"

#include "base/window_thread.h"
#include "media/media_path.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace qinghe {

namespace {

// Decibels of an amplitude ratio: 20 per factor of ten.
constexpr double kDecibelsPerDecade = 20;

}  // namespace

double evenLoudnessGain(const FileLoudness& loudness)
{
    const double toEffects = kEffectLoudnessLufs - loudness.integratedLufs;
    const double toFullScale = -kDecibelsPerDecade * std::log10(loudness.peak);
    const double gain = std::min({toEffects, toFullScale, kLargestLoudnessGainDb});
    // Down, so a gain held by the peak stays below full scale.
    return std::floor(gain / kLoudnessGainStep) * kLoudnessGainStep;
}

std::optional<double> loudnessGainFromText(const Text& text)
{
    double gain = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, gain);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(gain)
        || std::abs(gain) > kLargestLoudnessGainDb)
        return std::nullopt;
    return gain;
}

std::optional<FileStamp> fileStamp(const Text& elementName)
{
    const QString path = resolveMediaFile(elementName);
    if (path.isEmpty())
        return std::nullopt;
    const QFileInfo file(path);
    return FileStamp{file.size(), file.lastModified().toMSecsSinceEpoch()};
}

std::optional<std::int64_t> stampNumberFromText(const Text& text)
{
    std::int64_t number = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return number;
}

std::optional<double> peakFromText(const Text& text)
{
    double peak = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, peak);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(peak) || !(peak > 0)
        || peak > kLargestStoredPeak)
        return std::nullopt;
    return peak;
}

double heldLoudnessGain(double wantedDb, std::optional<double> peak)
{
    const double wanted = std::min(wantedDb, kLargestLoudnessGainDb);
    if (wanted <= 0)
        return wanted;
    if (!peak)
        return 0;
    // Down to the step, so the peak stays below full scale; never a cut where a boost was asked.
    const double room = *peak > 0 ? -kDecibelsPerDecade * std::log10(*peak) : kLargestLoudnessGainDb;
    const double held = std::floor(room / kLoudnessGainStep) * kLoudnessGainStep;
    return std::clamp(held, 0.0, wanted);
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
