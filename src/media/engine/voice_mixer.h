#pragma once

// The sum of an output's voices.

#include "sound_voice.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace qinghe {

// The voices an output plays, and their sum. The mixer alone decides which
// sound stops when one more would be too many, and its limiter is the only
// one between the sounds and the host's ears.
class VoiceMixer {
public:
    // Voices at once, those fading out included.
    static constexpr int kSlots = 3 * kMostVoices;

    explicit VoiceMixer(int rate);
    // Only once the audio thread no longer mixes.
    ~VoiceMixer();
    VoiceMixer(const VoiceMixer&) = delete;
    VoiceMixer& operator=(const VoiceMixer&) = delete;

    int rate() const { return rate_; }

    // The window thread's side. Adds a started voice. Where mostPlaying
    // sounds already play on, those that started first fade out until it
    // is one of mostPlaying; when every slot is taken, the oldest voice that
    // fades out goes at once. nullptr when none can go.
    SoundVoice* add(std::unique_ptr<SoundVoice> voice, int mostPlaying = kMostVoices);
    // Fades out the sounds that started first until at most mostPlaying play on.
    void keepAtMost(int mostPlaying);
    // Takes the voice away at once.
    void remove(SoundVoice* voice);
    // The voice fades out (over at least a cut's fade) and goes once it has.
    void fadeOut(SoundVoice* voice, int frames = 0);
    // Every bed in the mixer, fading out ones too, glides to gain over frames.
    void glideBeds(float gain, int frames);
    // Takes every voice away (the audio thread must be out of the mix for good, or not mind).
    void clear();
    // The limiter back at unity, for an output opened afresh (no mix runs).
    void resetLimiter()
    {
        limiterGain_ = 1.0f;
        limiterHold_ = 0;
    }
    // Whether a voice is heard or about to be (armed, not finished).
    bool anyAudible() const;
    // Whether a voice is heard or about to be and is not fading out.
    bool anyPlayingOn() const;
    // Ends every voice that fades out (the thread that mixes).
    void endFadingOut();
    // Whether any voice waits to be armed and asks for a flush first.
    bool anyWaitingForFlush();
    // Arms every voice that waits (the thread that mixes, or with it held).
    void armAll();
    // Whether any voice fades out slowly (the thread that mixes).
    bool anyFadingSlowly();
    // Whether any voice still plays on (armed, not finished, not fading
    // out), from the thread that mixes.
    bool anySounding();

    // The audio thread's side: adds every voice to the block (what else
    // plays, or silence) and holds the sum at full scale. A block with no
    // voice and nothing held is left as it was, sample for sample.
    void mixInto(std::int16_t* samples, int frames);

private:
    void deleteFinished();
    void limitFrame(std::int16_t* out, const std::int32_t* sum, const std::int32_t* steady);
    // Waits until the audio thread is out of any mix that may have seen a
    // voice just taken out of its slot.
    void waitForMix() const;

    std::array<std::atomic<SoundVoice*>, kSlots> slots_{};
    std::atomic<int> inMix_{0};
    std::uint64_t added_ = 0;  // the window thread's own

    // The audio thread's own: the sum of a part of the block, and the
    // limiter's gain, which falls at once to hold a peak at full scale and
    // comes back once the sum has stayed clear of it.
    static constexpr int kPartFrames = 1024;
    std::array<std::int32_t, kPartFrames * kVoiceChannels> sum_{};
    std::array<std::int32_t, kPartFrames * kVoiceChannels> steady_{};  // without the sounds fading out
    const int rate_;
    const int limiterHoldFrames_;
    const float limiterReturn_;
    float limiterGain_ = 1.0f;
    int limiterHold_ = 0;  // frames the gain stays before it comes back
};

}  // namespace qinghe
