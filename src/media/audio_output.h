#pragma once

// The one audio device every media device plays through: SDL_mixer's music
// with the exact left and right volume applied to each block after mixing,
// and the layer's own voices added to it there, each at its own volumes.
//
// The audio thread never waits for the window thread here: the volumes, the
// frame count and the mix observer reach it through atomics, and its
// post-mix stage allocates nothing and takes no lock.

#include "media_control.h"
#include "music_output.h"
#include "sound_library.h"
#include "sound_voice.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

namespace qinghe {

// Volume scale of the commands; full volume leaves the samples untouched.
inline constexpr int kFullVolume = 1000;
// The loudness gain that leaves the samples untouched.
inline constexpr float kUnityLoudnessGain = 1.0f;

class AudioOutput final : public MusicOutput {
public:
    // CD rate: what the effect files are made at, so they play without resampling.
    static constexpr int kRate = 44100;
    static constexpr int kChannels = 2;

    AudioOutput() = default;
    ~AudioOutput() override;
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Opens the audio device if it is not open yet; false when none can be
    // (no sound library, no driver, no device).
    bool open() override;
    void close() override;
    bool isOpen() const { return open_; }
    // The sound library's entry points; only while open.
    const SoundLibrary& library() const { return *library_; }

    // Where the next opening goes; the default when that one cannot be opened.
    void setTarget(MediaOutputDevice target) { target_ = std::move(target); }
    const MediaOutputDevice& target() const { return target_; }

    // The period asked for at the next opening, before any longer one; 0
    // for the shortest the output knows.
    void setRequestedPeriod(int frames) { requestedPeriod_ = frames; }
    // Called where a reopening cuts no sound: when the device kept falling
    // behind at its period, it is opened again at the next longer one.
    void lengthenPeriodIfLate() override;

    // Files play as the layer's own voices (libsndfile), mixed in the
    // post-mix stage, when ownVoice asks for it and libsndfile reads them;
    // otherwise as SDL_mixer's music, streamed from the file, one at a time.
    OpenedMusic* loadMusic(const char* path, bool ownVoice) override;
    void freeMusic(OpenedMusic* music) override;
    double musicDuration(OpenedMusic* music) override;
    int playMusic(OpenedMusic* music, std::optional<double> fromSeconds, bool fadeAtEnd) override;
    void haltMusic(OpenedMusic* music, bool fade) override;
    bool playingMusic(OpenedMusic* music) override;
    double musicPosition(OpenedMusic* music) override;

    void setGain(OpenedMusic* music, int left, int right) override;
    void setLoudnessGain(OpenedMusic* music, float factor) override;

    // The library's music: volumes 0..kFullVolume for the blocks counted
    // from now on, and a factor on top of them (kUnityLoudnessGain for
    // none); a sample it would push past full scale is held there. The own
    // voices take theirs as they are mixed, after the block is counted.
    void setMusicGain(int left, int right);
    void setMusicLoudnessGain(float factor) { loudnessGain_.store(factor); }
    // Frames of the blocks counted so far: a block is counted as its
    // post-mix stage begins, with the volumes in force at that instant.
    std::uint64_t mixedFrames() const;
    std::uint64_t lateBlocks() const { return lateBlocks_.load(); }
    // Replaces the observer; waits until the audio thread is out of the old one.
    void setMixObserver(MediaMixObserver observer);
    MediaOutputFormat format() const;
    std::string driverName() const;

private:
    using Clock = std::chrono::steady_clock;

    static void SDLCALL postMix(void* self, Uint8* stream, int length);
    void finishBlock(std::int16_t* samples, int frames);
    void notePace(Clock::time_point now, int frames);
    bool startAudio(const MediaOutputDevice& target);
    void chooseDriver(const std::string& driver);
    bool openDevice(const std::string& device);
    int firstPeriod() const;

    const SoundLibrary* library_ = nullptr;
    bool open_ = false;
    MediaOutputDevice target_;
    bool driverChosen_ = false;  // the driver hint was set here, over the environment's
    int requestedPeriod_ = 0;  // 0: the shortest of the ladder
    int askedPeriod_ = 0;      // what the open device was asked for

    // Frame count in the high bits, left and right volume in the low ones:
    // one word, so a block takes the volumes in force at the very instant
    // it is counted, and a volume change is never half seen.
    std::atomic<std::uint64_t> counted_{0};
    // Frames in the latest block: the period the device really takes.
    std::atomic<int> deviceFrames_{0};
    std::atomic<std::uint64_t> lateBlocks_{0};
    std::atomic<MediaMixObserver*> observer_{nullptr};
    std::atomic<int> observerCalls_{0};  // 1 while the audio thread is inside it
    // The playing file's loudness gain. A word of its own: it changes when a
    // device starts playing, while the music is halted, so no block holds
    // sound of one file under the gain of another.
    std::atomic<float> loudnessGain_{kUnityLoudnessGain};
    static_assert(std::atomic<float>::is_always_lock_free, "the audio thread must not wait for the gain");
    // The file SDL_mixer's music plays now, if any (the window thread's own).
    OpenedMusic* libraryPlaying_ = nullptr;
    // The own voices, added to each block after it is counted.
    VoiceMixer voices_;

    // The audio thread's own: how far the blocks lag behind the clock.
    struct Pace {
        bool started = false;
        Clock::time_point start{};
        Clock::time_point windowStart{};
        std::int64_t handed = 0;     // frames handed over since start
        std::int64_t leastLag = 0;   // smallest lag in the current window
    } pace_;
};

}  // namespace qinghe
