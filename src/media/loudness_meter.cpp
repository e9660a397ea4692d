#include "loudness_meter.h"

#include "media_path.h"
#include "sound_file_library.h"

#include <QFile>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace qinghe {

namespace {

// Frames decoded at a time: a few tens of milliseconds, so a cancel is
// noticed at once and the buffer stays small for any channel count.
constexpr int kBlockFrames = 4096;
// More channels than any sound file a host would bind; the meter's own limit
// is far higher, but a corrupt header should not size the buffer.
constexpr int kMostChannels = 64;

struct MeterDeleter {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using Meter = std::unique_ptr<ebur128_state, MeterDeleter>;

struct FileCloser {
    const SoundFileLibrary* library;
    void operator()(SNDFILE* file) const { library->close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, FileCloser>;

// A mono file plays on both output channels, so it is heard (and measured
// at the device) as two channels carrying the same sound.
bool mapChannels(ebur128_state* meter, int channels)
{
    if (channels == 1)
        return ebur128_set_channel(meter, 0, EBUR128_DUAL_MONO) == EBUR128_SUCCESS;
    return true;  // the meter's own map: left, right, centre, ...
}

double highestPeak(ebur128_state* meter, int channels)
{
    double highest = 0;
    for (int channel = 0; channel < channels; ++channel) {
        double sample = 0;
        double truePeak = 0;
        if (ebur128_sample_peak(meter, static_cast<unsigned>(channel), &sample) == EBUR128_SUCCESS)
            highest = std::max(highest, sample);
        if (ebur128_true_peak(meter, static_cast<unsigned>(channel), &truePeak) == EBUR128_SUCCESS)
            highest = std::max(highest, truePeak);
    }
    return highest;
}

}  // namespace

std::optional<FileLoudness> measureFileLoudness(const Text& elementName, const std::atomic<bool>& cancelled)
{
    const std::optional<FileLevels> levels = measureFileLevels(elementName, cancelled);
    if (!levels || !levels->integratedLufs || !(levels->peak > 0))
        return std::nullopt;
    return FileLoudness{*levels->integratedLufs, levels->peak};
}

std::optional<FileLevels> measureFileLevels(const Text& elementName, const std::atomic<bool>& cancelled)
{
    const SoundFileLibrary* library = soundFileLibrary();
    const QString path = resolveMediaFile(elementName);
    if (!library || path.isEmpty())
        return std::nullopt;
    SF_INFO info{};
    SoundFile file(library->open(QFile::encodeName(path).constData(), SFM_READ, &info), FileCloser{library});
    if (!file || info.channels < 1 || info.channels > kMostChannels || info.samplerate <= 0)
        return std::nullopt;

    Meter meter(ebur128_init(static_cast<unsigned>(info.channels), static_cast<unsigned long>(info.samplerate),
                             EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
    if (!meter || !mapChannels(meter.get(), info.channels))
        return std::nullopt;
    std::vector<float> block(static_cast<std::size_t>(kBlockFrames) * static_cast<std::size_t>(info.channels));
    for (;;) {
        if (cancelled.load())
            return std::nullopt;
        const sf_count_t frames = library->readFloatFrames(file.get(), block.data(), kBlockFrames);
        if (frames <= 0)
            break;
        if (ebur128_add_frames_float(meter.get(), block.data(), static_cast<std::size_t>(frames)) != EBUR128_SUCCESS)
            return std::nullopt;
    }

    FileLevels levels;
    double integrated = 0;
    // Silence, or a file too short for one measuring block, has no loudness.
    if (ebur128_loudness_global(meter.get(), &integrated) == EBUR128_SUCCESS && std::isfinite(integrated))
        levels.integratedLufs = integrated;
    levels.peak = highestPeak(meter.get(), info.channels);
    return levels;
}

}  // namespace qinghe
