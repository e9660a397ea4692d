#pragma once

// The program's own voices: each plays one file, decoded by libsndfile a
// little ahead on a thread of its own, at the output's rate and channels.
// The voices are added together on the audio thread, each at its own
// volumes, and the sum passes a limiter that holds it at full scale. Both
// outputs play through them: the SDL device (AudioOutput, while the layer
// mixes voices or fades its cuts) and the sound server's streams
// (ServerStreams, always).
//
// The audio thread takes no lock here and allocates nothing: what the
// window thread changes reaches it through atomics, and a voice the window
// thread takes away is deleted only once the audio thread is out of the mix.

#include "media_control.h"
#include "sound_file_library.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qinghe {

// The rate and channels every voice plays at: the outputs' own.
inline constexpr int kVoiceRate = 44100;
inline constexpr int kVoiceChannels = 2;
// A cut sound fades out over this many frames (kMediaCutFade).
inline constexpr int kCutFadeFrames =
    static_cast<int>(kMediaCutFade.count() * kVoiceRate / 1000000);
static_assert(kCutFadeFrames * 1000 >= 5 * kVoiceRate && kCutFadeFrames * 100 <= kVoiceRate,
              "a cut fades over 5 to 10 ms");
// The gain at frame done (1..length) of a fade out, the last frame silent.
float fadeOutGain(int done, int length);

class SoundVoice;

// A file an output has opened. Files the program's own voices play are
// held open from the load to the first play; a file only the sound library
// can read (the SDL output, outside voice mode or as a fallback) is its music.
struct OpenedMusic {
    std::string path;
    SF_INFO info{};
    SNDFILE* held = nullptr;
    // The voice playing the file now, owned by the output's mixer; a voice
    // that was cut and fades out is no longer the file's.
    SoundVoice* voice = nullptr;
    // The sound library's own music (Mix_Music), when the file is played by it.
    void* libraryMusic = nullptr;
    // The volumes and the loudness gain it plays at, kept for its next play.
    int leftVolume = 1000;
    int rightVolume = 1000;
    float loudnessGain = 1.0f;
};

// One file on its way out.
class SoundVoice {
public:
    struct Setup {
        std::int64_t startFrame = 0;  // where in the file it starts, in output frames
        bool armed = true;            // plays from its first mix on; else from arm()
        bool fadeAtEnd = false;       // the file's own last frames fade out
        int leftVolume = 1000;        // 0..1000
        int rightVolume = 1000;
        float loudnessGain = 1.0f;
    };

    // Takes the open file, closed with the voice.
    SoundVoice(const SoundFileLibrary& files, SNDFILE* file, const SF_INFO& info, const Setup& setup);
    // Stops the decoder and waits for it (it never sleeps through a stop).
    ~SoundVoice();
    SoundVoice(const SoundVoice&) = delete;
    SoundVoice& operator=(const SoundVoice&) = delete;

    // Decodes the first blocks here, then the rest on a thread of its own.
    void start();

    // The window thread's side, in force for every block mixed after the call.
    void setVolumes(int left, int right);
    void setLoudnessGain(float factor);
    // Fades out over kCutFadeFrames from the next block on, then ends.
    void fadeOut();
    // Plays from the next block on (a voice made unarmed).
    void arm() { armed_.store(true, std::memory_order_release); }
    // Ends here, without its fade (the thread that mixes).
    void endNow() { finished_.store(true, std::memory_order_release); }

    bool armed() const { return armed_.load(std::memory_order_acquire); }
    // Played to its end, or faded out.
    bool finished() const { return finished_.load(std::memory_order_acquire); }
    bool fadingOut() const { return fadeAsked_.load(std::memory_order_acquire); }
    // Output frames from the file's start to the next frame it plays.
    std::int64_t position() const { return startFrame_ + played_.load(std::memory_order_acquire); }

    // The audio thread's side: adds at most frames frames to mix
    // (interleaved stereo), and to steady those not fading out; true when
    // the voice added any.
    bool addTo(std::int32_t* mix, std::int32_t* steady, int frames);

    // The window thread's own marks for the mixer: a voice that is no
    // longer any file's is deleted once it has finished.
    bool detached = false;
    // Added to the mixer in this order.
    std::uint64_t order = 0;
    // ServerStreams: the streams are flushed before the voice is armed.
    bool flushFirst = false;

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

    const SoundFileLibrary& files_;
    SNDFILE* file_;
    const int channels_;
    const double step_;  // file frames per output frame
    const std::int64_t startFrame_;
    const bool fadeAtEnd_;
    FrameRing ring_;

    std::atomic<bool> armed_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> decodedAll_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> fadeAsked_{false};
    std::atomic<std::int64_t> played_{0};
    // Left volume in the high half, right in the low: one word, never half seen.
    std::atomic<std::uint32_t> volumes_;
    std::atomic<float> loudness_;

    // The decoder's nap, cut short by a stop.
    std::mutex napLock_;
    std::condition_variable napEnd_;
    std::thread decoder_;

    // The decoder's own (the first rounds run on the caller's thread, before the decoder starts).
    std::vector<float> input_;
    std::vector<std::int16_t> output_;
    std::array<float, 2> previous_{};
    bool primed_ = false;
    double phase_ = 0;

    // The audio thread's own.
    std::vector<std::int16_t> taken_;
    bool fading_ = false;
    int fadeLength_ = 0;
    int fadeDone_ = 0;
};

class VoiceMixer;

// Seconds of the file; negative when not known.
double voiceDuration(const OpenedMusic& music);

// Starts a voice for the music (a file libsndfile opened) from its start
// or a position in seconds: on the file held since the load, else on the
// file opened anew. A voice the music still had (one played to its end)
// goes first. The new voice is the music's; nullptr when the file cannot
// be opened or positioned, or the mixer has no room.
SoundVoice* startVoice(VoiceMixer& mixer, const SoundFileLibrary& files, OpenedMusic& music,
                       std::optional<double> fromSeconds, bool fadeAtEnd, bool armed, bool flushFirst = false);

// The voices an output plays, and their sum.
class VoiceMixer {
public:
    // Voices at once, those fading out included.
    static constexpr int kSlots = 3 * kMostMediaVoices;

    VoiceMixer() = default;
    // Only once the audio thread no longer mixes.
    ~VoiceMixer();
    VoiceMixer(const VoiceMixer&) = delete;
    VoiceMixer& operator=(const VoiceMixer&) = delete;

    // The window thread's side. Adds a started voice; when every slot is
    // taken, the oldest voice that fades out goes at once. nullptr when
    // none can go.
    SoundVoice* add(std::unique_ptr<SoundVoice> voice);
    // Takes the voice away at once.
    void remove(SoundVoice* voice);
    // The voice fades out and goes once it has.
    void fadeOut(SoundVoice* voice);
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
    float limiterGain_ = 1.0f;
    int limiterHold_ = 0;  // frames the gain stays before it comes back
};

}  // namespace qinghe
