#pragma once

// The engine's voices: each plays one sound, read from its stereo stream a
// little ahead on a thread of its own, already at the output's rate. The
// voices are added together on the audio thread, each at its own volumes,
// and the sum passes the one limiter of the program, which holds it at full
// scale. Every output plays through a VoiceMixer: the SDL device and the
// sound server's streams alike.
//
// The audio thread takes no lock here and allocates nothing: what the
// window thread changes reaches it through atomics, and a voice the window
// thread takes away is deleted only once the audio thread is out of the mix.

#include "media/decoders/stereo_stream.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qinghe {

inline constexpr int kVoiceChannels = 2;
// The most sounds a host may have playing at once.
inline constexpr int kMostVoices = 8;
// Volume scale of a voice's channels; full volume leaves the samples untouched.
inline constexpr int kFullVolume = 1000;
// How long a cut sound takes to fade out: long enough to leave no click,
// short enough that the sound that cuts in is not muddied.
inline constexpr std::chrono::microseconds kCutFade{8000};
// Frames of a cut's fade at a rate.
constexpr int cutFadeFrames(int rate)
{
    return static_cast<int>(kCutFade.count() * rate / 1000000);
}
// The gain at frame done (1..length) of a fade out, the last frame silent.
float fadeOutGain(int done, int length);

// One sound on its way out.
class SoundVoice {
public:
    struct Setup {
        int rate = 44100;             // the output's, which the stream already plays at
        bool armed = true;            // plays from its first mix on; else from arm()
        bool fadeAtEnd = false;       // the sound's own last frames fade out
        int leftVolume = kFullVolume; // 0..kFullVolume
        int rightVolume = kFullVolume;
        float loudnessGain = 1.0f;
        std::int64_t startFrame = 0;  // where in the sound it starts, in output frames
        bool loop = false;            // plays again from its start until stopped
        int fadeInFrames = 0;         // rises from silence over these
        int fadeOutFrames = 0;        // its own fade out: before its end, and the least a stop or a cut gets
        bool bed = false;             // follows glideBed
        float bedGain = 1.0f;         // the beds' level when it starts
    };

    // Opens the sound: the stream, or why there is none.
    using Opener = std::function<StreamOpening()>;

    SoundVoice(Opener opener, const Setup& setup);
    // Stops the decoder and waits for it (it never sleeps through a stop).
    ~SoundVoice();
    SoundVoice(const SoundVoice&) = delete;
    SoundVoice& operator=(const SoundVoice&) = delete;

    // Opens the sound and decodes its first blocks here, so it is heard from
    // the next block, then the rest on a thread of its own. The file's
    // problem when it does not open; None otherwise.
    SoundFileProblem startHere();
    // The same, all on the voice's own thread, waiting at most budget for
    // the first blocks: for a sound slow to open (a MIDI file's synthesiser,
    // thousands of notes at once), which then comes a little later and never
    // holds the caller longer. A problem found after the budget ends the
    // voice as broken off.
    SoundFileProblem startApart(std::chrono::microseconds budget);

    // The window thread's side, in force for every block mixed after the call.
    void setVolumes(int left, int right);
    void setLoudnessGain(float factor);
    // Fades out over frames (at least its own fade out, and a cut's fade)
    // from the next block on, then ends.
    void fadeOut(int frames = 0);
    // A bed glides from the gain it has reached to gain over frames (a
    // cut's fade at least, so the step is never heard as a click).
    void glideBed(float gain, int frames);
    bool bed() const { return bed_; }
    // A bed below its own level, or on its way there.
    bool lowered() const { return lowered_.load(std::memory_order_acquire); }
    // Plays from the next block on (a voice made unarmed).
    void arm() { armed_.store(true, std::memory_order_release); }
    // Ends here, without its fade (the thread that mixes).
    void endNow() { finished_.store(true, std::memory_order_release); }

    bool armed() const { return armed_.load(std::memory_order_acquire); }
    // Played to its end, or faded out.
    bool finished() const { return finished_.load(std::memory_order_acquire); }
    bool fadingOut() const { return fadeAsked_.load(std::memory_order_acquire) > 0; }
    // Fading out over longer than a cut's fade: a sound the host lets go of slowly.
    bool fadingSlowly() const { return fadeAsked_.load(std::memory_order_acquire) > cutFadeFrames_; }
    // Output frames from the sound's start to the next frame it plays.
    std::int64_t position() const { return played_.load(std::memory_order_acquire); }
    // Where in the sound the next frame is: within its length while it loops.
    std::int64_t place() const;
    // Plays again from its start at its end (asked to, and not given up: a
    // sound too short, or one that could not be read again).
    bool looping() const { return looping_.load(std::memory_order_acquire); }
    // The sound's length in output frames; -1 when not known (or not opened yet).
    std::int64_t length() const { return length_.load(std::memory_order_acquire); }
    // The stream broke off before its end (a file that went bad under it).
    bool brokeOff() const { return brokeOff_.load(std::memory_order_acquire); }

    // The audio thread's side: adds at most frames frames to mix
    // (interleaved stereo), and to steady those not fading out; true when
    // the voice added any.
    bool addTo(std::int32_t* mix, std::int32_t* steady, int frames);

    // The window thread's own marks for the mixer: a voice that is no
    // longer any handle's is deleted once it has finished.
    bool detached = false;
    // Added to the mixer in this order.
    std::uint64_t order = 0;
    // ServerStreams: the streams are flushed before the voice is armed.
    std::atomic<bool> flushFirst{false};

private:
    void decodeRound();
    void decodeOnThread();

    // Decoded frames handed from the decoder to the audio thread: one
    // writer, one reader, no lock.
    class FrameRing {
    public:
        explicit FrameRing(std::size_t frames);
        std::size_t writable() const;
        std::size_t readable() const;
        void push(const std::int16_t* frames, std::size_t count);
        std::size_t pop(std::int16_t* frames, std::size_t count);

    private:
        std::vector<std::int16_t> samples_;
        std::size_t capacity_;
        std::atomic<std::uint64_t> head_{0};
        std::atomic<std::uint64_t> tail_{0};
    };

    void openOnThread();
    void fadeFromHere(int frames);

    Opener opener_;
    std::unique_ptr<StereoStream> stream_;  // the decoder thread's own once it runs
    const int cutFadeFrames_;
    const bool fadeAtEnd_;
    const bool loop_;
    const int shortestLoopFrames_;
    const std::int64_t startFrame_;
    const int fadeInFrames_;
    const int fadeOutFrames_;
    const bool bed_;
    std::atomic<std::int64_t> length_{-1};
    // Opened and its first blocks decoded: the mix takes it from then on.
    std::atomic<bool> ready_{false};
    std::atomic<SoundFileProblem> problem_{SoundFileProblem::None};
    FrameRing ring_;

    std::atomic<bool> armed_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> decodedAll_{false};
    std::atomic<bool> brokeOff_{false};
    std::atomic<bool> looping_{false};
    std::atomic<bool> finished_{false};
    std::atomic<int> fadeAsked_{0};  // the fade's length in frames; 0 until asked
    std::atomic<std::int64_t> played_{0};
    // Left volume in the high half, right in the low: one word, never half seen.
    std::atomic<std::uint32_t> volumes_;
    std::atomic<float> loudness_;
    // A bed's glide: its gain and length, then the count that says a new one is asked.
    std::atomic<float> bedAskedGain_;
    std::atomic<int> bedAskedFrames_{0};
    std::atomic<std::uint32_t> bedAsks_{0};
    std::atomic<bool> lowered_;

    // The decoder's nap, cut short by a stop; and the wait for the first blocks.
    std::mutex napLock_;
    std::condition_variable napEnd_;
    std::condition_variable opened_;
    std::thread decoder_;

    // The decoder's own (the first rounds run on the caller's thread, before the decoder starts).
    std::vector<float> input_;
    std::vector<std::int16_t> output_;
    std::int64_t readSinceOpen_ = 0;

    // The audio thread's own.
    std::vector<std::int16_t> taken_;
    bool fading_ = false;
    float fadeFrom_ = 1.0f;  // the gain the fade under way started from
    int fadeLength_ = 0;
    int fadeDone_ = 0;
    int fadeInDone_ = 0;
    std::uint32_t bedSeen_ = 0;
    float bedGain_;
    float bedTarget_;
    float bedStep_ = 0.0f;
    int bedLeft_ = 0;  // frames of the glide still to go
};

}  // namespace qinghe
