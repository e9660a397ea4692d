#pragma once

// One channel rule and one resampler for every sound: a decoded file as
// stereo float frames at the output's rate. More than two channels are
// folded down with the standard matrix (centre and surrounds at -3 dB, LFE
// left out); mono plays on both sides. Rates are converted by libsoxr at a
// quality that keeps aliases at least 90 dB below the signal.

#include "sound_decoder.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace qinghe {

// The shortest sound that plays again at its end: a shorter one would
// only spin, a buzz and no music.
inline constexpr std::chrono::milliseconds kShortestLoop{20};

class StereoStream {
public:
    // Null when the decoder's facts make no sense (no channels, no rate) or
    // the resampler cannot be made.
    static std::unique_ptr<StereoStream> make(std::unique_ptr<SoundDecoder> decoder, int outputRate);
    virtual ~StereoStream() = default;

    // Up to frames interleaved stereo float frames at the output rate; 0 at the end.
    virtual std::int64_t read(float* stereo, std::int64_t frames) = 0;
    // From here on, at the end the stream goes on from the file's start, the
    // seam passing through the resampler like any other frame, so nothing
    // is heard there. A pass from the start shorter than kShortestLoop, or
    // a file that cannot go back to its start, ends there instead.
    virtual void setLooping(bool looping) = 0;
    // Goes to frame (at the output rate) for the next read; false when it cannot.
    virtual bool seek(std::int64_t frame) = 0;
    // The length at the output rate; -1 when not known.
    virtual std::int64_t frames() const = 0;
    virtual int rate() const = 0;
    virtual const SoundFileFacts& facts() const = 0;
};

// Opens and converts in one: the stream, or the problem with its reason.
struct StreamOpening {
    std::unique_ptr<StereoStream> stream;
    SoundFileProblem problem = SoundFileProblem::None;
    std::string reason;
};
StreamOpening openStereoStream(const std::string& path, int outputRate);

// Whether the file would play, known at once (a few milliseconds for any
// file, and never more memory than a block): its decoder opens it and reads
// a first block. MIDI is checked by its header and tracks, without the
// sound font.
SoundFileProblem checkSoundFile(const std::string& path, std::string* reason = nullptr);

}  // namespace qinghe
