#include "media/decoders/file_levels.h"

#include "media/decoders/decoder_backends.h"
#include "media/decoders/stereo_stream.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace qinghe {

namespace {

// Synthesised sounds (MIDI, modules) are measured as rendered at this rate.
constexpr int kRenderRate = 48000;
constexpr unsigned kSides = 2;

struct MeterDeleter {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using Meter = std::unique_ptr<ebur128_state, MeterDeleter>;

double highestPeak(ebur128_state* meter)
{
    double highest = 0;
    for (unsigned side = 0; side < kSides; ++side) {
        double sample = 0;
        double truePeak = 0;
        if (ebur128_sample_peak(meter, side, &sample) == EBUR128_SUCCESS)
            highest = std::max(highest, sample);
        if (ebur128_true_peak(meter, side, &truePeak) == EBUR128_SUCCESS)
            highest = std::max(highest, truePeak);
    }
    return highest;
}

std::optional<FileLevels> measure(const std::string& path, const std::atomic<bool>& cancelled)
{
    DecoderOpening opening = openSoundDecoder(path, kRenderRate);
    if (!opening.decoder)
        return std::nullopt;
    // At the file's own rate nothing is resampled: what is measured is what
    // the file holds, folded to the two sides the listener hears (a mono
    // file twice, which the meter counts as dual mono).
    const int rate = opening.decoder->facts().rate;
    std::unique_ptr<StereoStream> stream = StereoStream::make(std::move(opening.decoder), rate);
    if (!stream)
        return std::nullopt;
    Meter meter(ebur128_init(kSides, static_cast<unsigned long>(rate),
                             EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_TRUE_PEAK));
    if (!meter)
        return std::nullopt;
    std::vector<float> block(static_cast<std::size_t>(decoders::kBlockFrames) * kSides);
    for (;;) {
        if (cancelled.load())
            return std::nullopt;
        const std::int64_t frames = stream->read(block.data(), decoders::kBlockFrames);
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
    levels.peak = highestPeak(meter.get());
    return levels;
}

}  // namespace

std::optional<FileLevels> measureSoundFileLevels(const std::string& path, const std::atomic<bool>& cancelled)
{
    try {
        return measure(path, cancelled);
    } catch (...) {
        return std::nullopt;  // nothing thrown by a library or an allocation leaves the layer
    }
}

}  // namespace qinghe
