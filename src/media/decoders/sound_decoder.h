#pragma once

// The decoder layer: any sound file a host keeps, read by what reads it
// best, chosen by the file's content and never by its extension.
//   libsndfile   WAV, FLAC, Ogg Vorbis, Opus, MP3, AIFF, ...
//   FFmpeg       AAC/M4A, WMA, APE, ALAC, the audio of a video file, the rest
//   FluidSynth   MIDI, with the General MIDI sound font the system packages
//   libopenmpt   MOD, XM, IT, S3M
// A decoder reads its file on the thread that calls it, one at a time, and
// holds no more memory than a few blocks, whatever the file's header claims.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qinghe {

// Why a file cannot be played; the host is told which.
enum class SoundFileProblem {
    None,
    NotFound,     // no file there, or it cannot be read
    Unsupported,  // a file, but no decoder reads its format
    Damaged,      // a format a decoder knows, but truncated, lying or broken
};

// Where a channel is meant to be heard, as far as the file says.
enum class Speaker {
    Unknown,
    FrontLeft,
    FrontRight,
    FrontCentre,
    LowFrequency,
    BackLeft,
    BackRight,
    BackCentre,
    SideLeft,
    SideRight,
    FrontLeftOfCentre,
    FrontRightOfCentre,
    TopLeft,  // any height channel on the left
    TopRight,
    TopCentre,
};

// What a decoder says of its file.
struct SoundFileFacts {
    int rate = 0;              // frames per second
    int channels = 0;          // interleaved, in the format's own order (WAV: L R C LFE Ls Rs ...)
    std::int64_t frames = -1;  // the length, -1 when the format does not tell it
    std::string decoder;       // "sndfile", "ffmpeg", "fluidsynth", "openmpt"
    // One a channel when the file names its speakers; empty when it does not,
    // and the format's default order for the channel count stands.
    std::vector<Speaker> speakers;
};

class SoundDecoder {
public:
    virtual ~SoundDecoder() = default;
    virtual const SoundFileFacts& facts() const = 0;
    // Up to frames interleaved float frames (-1..1), in the file's channels
    // and rate; 0 at the end; -1 when the file breaks off and cannot go on.
    virtual std::int64_t read(float* samples, std::int64_t frames) = 0;
    // Goes to frame (in the file's rate) for the next read; false when it cannot.
    virtual bool seek(std::int64_t frame) = 0;
};

struct DecoderOpening {
    std::unique_ptr<SoundDecoder> decoder;  // null with a problem
    SoundFileProblem problem = SoundFileProblem::None;
    std::string reason;  // for a log: which decoders refused it and why
};

// Opens the file (a native path) with the first decoder that reads its
// content. Synthesised formats (MIDI, trackers) render at renderRate.
DecoderOpening openSoundDecoder(const std::string& path, int renderRate = 48000);

}  // namespace qinghe
