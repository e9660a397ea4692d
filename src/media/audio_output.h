#pragma once

// The one audio device every media device plays through, with the exact
// left and right volume applied to each block after mixing.

#include "media_control.h"

#include <SDL2/SDL_stdinc.h>

#include <cstdint>
#include <mutex>

namespace qinghe {

// Volume scale of the commands; full volume leaves the samples untouched.
inline constexpr int kFullVolume = 1000;

class AudioOutput {
public:
    AudioOutput() = default;
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Opens the audio device if it is not open yet; false when none can be.
    bool open();
    void close();
    bool isOpen() const { return open_; }

    // Volumes 0..kFullVolume for the blocks mixed from now on.
    void setGain(int left, int right);
    std::uint64_t mixedFrames();
    void setMixObserver(MediaMixObserver observer);
    static MediaOutputFormat format();

private:
    static void SDLCALL postMix(void* self, Uint8* stream, int length);
    void finishBlock(std::int16_t* samples, int frames);

    bool open_ = false;
    // Held while a block is finished, so a volume change or a frame count
    // taken after it returns is in force for every later block.
    std::mutex blockLock_;
    int leftGain_ = kFullVolume;
    int rightGain_ = kFullVolume;
    std::uint64_t mixedFrames_ = 0;
    MediaMixObserver observer_;
};

}  // namespace qinghe
