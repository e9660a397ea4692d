#pragma once

// Where the engine's voices are heard: an SDL device, or the sound server's
// own streams. Each output sums its voices in a mixer of its own, at its own
// rate. Every call but the mix observer's comes with the engine's lock held.

#include "voice_mixer.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qinghe {

// What an output is now.
struct OutputFacts {
    int rate = 0;
    int channels = 0;
    // Frames in each block the output takes: what it really gave, once a
    // block has been handed over; before that, what it asked for.
    int periodFrames = 0;
    std::uint64_t lateBlocks = 0;  // blocks that reached the device later than it could play them
    std::string driver;            // empty while closed
};

// Sees every block as it is handed to the device: signed 16-bit interleaved
// stereo, its frame count, and the index of its first frame. Runs on the
// audio thread, must return quickly and must not call back into the engine.
using MixObserver = std::function<void(const std::int16_t* samples, int frames, std::uint64_t firstFrame)>;

class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Opens the output if it is not yet; false when it cannot be.
    virtual bool open() = 0;
    // Stops every sound at once and closes the output.
    virtual void close() = 0;
    virtual int rate() const = 0;
    virtual VoiceMixer& mixer() = 0;
    // A voice is in the mixer, unarmed: the output arms it when it can be heard.
    virtual void voiceAdded(SoundVoice* voice) = 0;
    // Called where a reopening cuts no sound.
    virtual void lengthenPeriodIfLate() {}
    virtual OutputFacts facts() const = 0;
    // Frames handed to the device since it opened (0 where not counted).
    virtual std::uint64_t mixedFrames() const { return 0; }
    // Replaces the observer; waits until the audio thread is out of the old one.
    virtual void setMixObserver(MixObserver) {}
};

}  // namespace qinghe
