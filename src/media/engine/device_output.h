#pragma once

// The engine's output where no sound server answers, and the tests' disk
// driver: an SDL audio device (from the sound module) whose blocks are the
// sum of the output's voices.
//
// The audio thread never waits for the window thread here: the frame count
// and the mix observer reach it through atomics, and its block allocates
// nothing and takes no lock.

#include "audio_device.h"
#include "sound_output.h"
#include "voice_mixer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace qinghe {

class DeviceOutput final : public SoundOutput {
public:
    // CD rate: what the effect files are made at, so they play without resampling.
    static constexpr int kRate = 44100;

    explicit DeviceOutput(AudioDeviceRequest target) : target_(std::move(target)) {}
    ~DeviceOutput() override;
    DeviceOutput(const DeviceOutput&) = delete;
    DeviceOutput& operator=(const DeviceOutput&) = delete;

    bool open() override;
    void close() override;
    int rate() const override { return kRate; }
    VoiceMixer& mixer() override { return voices_; }
    void voiceAdded(SoundVoice* voice) override { voice->arm(); }
    void lengthenPeriodIfLate() override;
    OutputFacts facts() const override;
    std::uint64_t mixedFrames() const override { return counted_.load(); }
    void setMixObserver(MixObserver observer) override;

    // Where the next opening goes; the default when that one cannot be opened.
    void setTarget(AudioDeviceRequest target) { target_ = std::move(target); }

    // The period asked for at the next opening, before any longer one; 0
    // for the shortest the output knows.
    void setRequestedPeriod(int frames) { requestedPeriod_ = frames; }

private:
    using Clock = std::chrono::steady_clock;

    static void fill(void* self, std::int16_t* samples, int frames);
    void finishBlock(std::int16_t* samples, int frames);
    void notePace(Clock::time_point now, int frames);
    bool openAt(const AudioDeviceRequest& target);
    int firstPeriod() const;

    AudioDeviceRequest target_;
    std::unique_ptr<AudioDevice> device_;
    int requestedPeriod_ = 0;  // 0: the shortest of the ladder
    int askedPeriod_ = 0;      // what the open device was asked for

    std::atomic<std::uint64_t> counted_{0};
    std::atomic<int> deviceFrames_{0};
    std::atomic<std::uint64_t> lateBlocks_{0};
    std::atomic<MixObserver*> observer_{nullptr};
    std::atomic<int> observerCalls_{0};  // 1 while the audio thread is inside it
    VoiceMixer voices_{kRate};

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
