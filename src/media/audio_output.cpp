#include "audio_output.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>

#include <utility>

namespace qinghe {

namespace {

// CD rate: what the effect files are made at, so they play without resampling.
constexpr int kOutputRate = 44100;
constexpr int kOutputChannels = 2;
// 512 frames is 11.6 ms at 44100 Hz: short enough that a click sounds at
// once, long enough that a busy two-core machine does not starve the device.
constexpr int kOutputPeriodFrames = 512;
constexpr int kBytesPerSample = 2;
// Half of the divisor, to round a scaled sample to the nearest value.
constexpr int kHalfVolume = kFullVolume / 2;

int scaled(int sample, int gain)
{
    const int product = sample * gain;
    return (product >= 0 ? product + kHalfVolume : product - kHalfVolume) / kFullVolume;
}

}  // namespace

AudioOutput::~AudioOutput()
{
    close();
}

bool AudioOutput::open()
{
    if (open_)
        return true;
    // The program handles its own signals; the audio layer must not take them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    Mix_Init(MIX_INIT_MP3);
    // No format changes allowed: blocks always arrive as 16-bit stereo at
    // kOutputRate in kOutputPeriodFrames, whatever the device does underneath.
    if (Mix_OpenAudioDevice(kOutputRate, AUDIO_S16SYS, kOutputChannels, kOutputPeriodFrames,
                            nullptr, 0)
        != 0) {
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    // Only the music stream is used; its own volume stays at unity so the
    // post-mix gains are the only scaling.
    Mix_AllocateChannels(0);
    Mix_VolumeMusic(MIX_MAX_VOLUME);
    {
        std::lock_guard guard(blockLock_);
        mixedFrames_ = 0;
        leftGain_ = kFullVolume;
        rightGain_ = kFullVolume;
    }
    Mix_SetPostMix(&AudioOutput::postMix, this);
    open_ = true;
    return true;
}

void AudioOutput::close()
{
    if (!open_)
        return;
    Mix_HaltMusic();
    // Every block up to the last one handed over is still finished and counted.
    Mix_CloseAudio();
    Mix_SetPostMix(nullptr, nullptr);
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    open_ = false;
}

void AudioOutput::setGain(int left, int right)
{
    std::lock_guard guard(blockLock_);
    leftGain_ = left;
    rightGain_ = right;
}

std::uint64_t AudioOutput::mixedFrames()
{
    std::lock_guard guard(blockLock_);
    return mixedFrames_;
}

void AudioOutput::setMixObserver(MediaMixObserver observer)
{
    std::lock_guard guard(blockLock_);
    observer_ = std::move(observer);
}

MediaOutputFormat AudioOutput::format()
{
    return {kOutputRate, kOutputChannels, kOutputPeriodFrames};
}

void SDLCALL AudioOutput::postMix(void* self, Uint8* stream, int length)
{
    static_cast<AudioOutput*>(self)->finishBlock(
        reinterpret_cast<std::int16_t*>(stream), length / (kBytesPerSample * kOutputChannels));
}

void AudioOutput::finishBlock(std::int16_t* samples, int frames)
{
    std::lock_guard guard(blockLock_);
    if (leftGain_ != kFullVolume || rightGain_ != kFullVolume) {
        for (int i = 0; i < frames; ++i) {
            samples[2 * i] = static_cast<std::int16_t>(scaled(samples[2 * i], leftGain_));
            samples[2 * i + 1] = static_cast<std::int16_t>(scaled(samples[2 * i + 1], rightGain_));
        }
    }
    if (observer_)
        observer_(samples, frames, mixedFrames_);
    mixedFrames_ += static_cast<std::uint64_t>(frames);
}

}  // namespace qinghe
