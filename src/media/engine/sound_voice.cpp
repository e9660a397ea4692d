#include "sound_voice.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <system_error>
#include <utility>

namespace qinghe {

namespace {

constexpr int kWholeVolume = kFullVolume;
constexpr int kHalfVolume = kWholeVolume / 2;
constexpr std::int32_t kHighest = std::numeric_limits<std::int16_t>::max();
constexpr std::int32_t kLowest = std::numeric_limits<std::int16_t>::min();
constexpr float kSampleScale = 32768.0f;

// Decoded ahead of the mix (0.74 s): the decoder naps between rounds, and a
// long song costs no more memory than a click.
constexpr std::size_t kRingFrames = std::size_t{1} << 15;
// Decoded before a voice is handed over, so its first blocks are there at
// once (46 ms at 44100 Hz: far more than the first blocks a device takes).
constexpr std::size_t kPrefillFrames = 2048;
constexpr std::size_t kDecodeFrames = 4096;
constexpr auto kDecoderNap = std::chrono::milliseconds(20);
// The most a voice adds at once: the mixer's part.
constexpr int kMostFramesAtOnce = 1024;

std::int16_t toSample(float value)
{
    return static_cast<std::int16_t>(
        std::clamp(std::lrint(value * kSampleScale), long{kLowest}, long{kHighest}));
}

// A sample at a volume, rounded half away from zero as the output always has.
std::int32_t atVolume(std::int32_t sample, int volume)
{
    const std::int32_t product = sample * volume;
    return (product >= 0 ? product + kHalfVolume : product - kHalfVolume) / kWholeVolume;
}

// A sample at a volume and a loudness gain, rounded to the nearest value.
std::int32_t atFactor(std::int32_t sample, float factor)
{
    return static_cast<std::int32_t>(std::nearbyint(static_cast<float>(sample) * factor));
}

std::uint32_t volumesWord(int left, int right)
{
    return (static_cast<std::uint32_t>(left) << 16) | static_cast<std::uint32_t>(right);
}

}  // namespace

// Half a cosine from unity to silence, so the sound's slope is not bent at
// the fade's start and its last frame is silent.
float fadeOutGain(int done, int length)
{
    return 0.5f * (1.0f + std::cos(std::numbers::pi_v<float> * static_cast<float>(done) / static_cast<float>(length)));
}

SoundVoice::FrameRing::FrameRing(std::size_t frames) : samples_(frames * kVoiceChannels), capacity_(frames) {}

std::size_t SoundVoice::FrameRing::writable() const
{
    return capacity_ - (head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire));
}

std::size_t SoundVoice::FrameRing::readable() const
{
    return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_relaxed);
}

void SoundVoice::FrameRing::push(const std::int16_t* frames, std::size_t count)
{
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = ((head + i) % capacity_) * kVoiceChannels;
        samples_[at] = frames[2 * i];
        samples_[at + 1] = frames[2 * i + 1];
    }
    head_.store(head + count, std::memory_order_release);
}

std::size_t SoundVoice::FrameRing::pop(std::int16_t* frames, std::size_t count)
{
    const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    const std::size_t taken = std::min<std::size_t>(count, head_.load(std::memory_order_acquire) - tail);
    for (std::size_t i = 0; i < taken; ++i) {
        const std::size_t at = ((tail + i) % capacity_) * kVoiceChannels;
        frames[2 * i] = samples_[at];
        frames[2 * i + 1] = samples_[at + 1];
    }
    tail_.store(tail + taken, std::memory_order_release);
    return taken;
}

SoundVoice::SoundVoice(Opener opener, const Setup& setup)
    : opener_(std::move(opener)), cutFadeFrames_(cutFadeFrames(setup.rate)), fadeAtEnd_(setup.fadeAtEnd), loop_(setup.loop),
      shortestLoopFrames_(static_cast<int>(kShortestLoop.count() * setup.rate / 1000)),
      startFrame_(std::max<std::int64_t>(setup.startFrame, 0)), fadeInFrames_(std::max(setup.fadeInFrames, 0)),
      fadeOutFrames_(std::max(setup.fadeOutFrames, 0)), bed_(setup.bed),
      ring_(kRingFrames), armed_(setup.armed), volumes_(volumesWord(setup.leftVolume, setup.rightVolume)),
      loudness_(setup.loudnessGain), bedAskedGain_(setup.bedGain), lowered_(setup.bed && setup.bedGain < 1.0f),
      input_(kDecodeFrames * kVoiceChannels), output_(kDecodeFrames * kVoiceChannels),
      taken_(static_cast<std::size_t>(kMostFramesAtOnce) * kVoiceChannels), bedGain_(setup.bed ? setup.bedGain : 1.0f),
      bedTarget_(bedGain_)
{
}

SoundVoice::~SoundVoice()
{
    {
        std::lock_guard guard(napLock_);
        stop_.store(true);
    }
    napEnd_.notify_all();
    if (decoder_.joinable())
        decoder_.join();
}

SoundFileProblem SoundVoice::startHere()
{
    openOnThread();
    if (!finished_.load() && !decodedAll_.load()) {
        try {
            decoder_ = std::thread([this] { decodeOnThread(); });
        } catch (const std::system_error&) {
            // No thread to spare: what was decoded plays, and the sound ends there.
            decodedAll_.store(true);
        }
    }
    return problem_.load();
}

SoundFileProblem SoundVoice::startApart(std::chrono::microseconds budget)
{
    try {
        decoder_ = std::thread([this] {
            openOnThread();
            decodeOnThread();
        });
    } catch (const std::system_error&) {
        return startHere();
    }
    std::unique_lock guard(napLock_);
    opened_.wait_for(guard, budget, [this] { return ready_.load() || finished_.load(); });
    return problem_.load();
}

// Here or on the voice's own thread: the stream, and its first blocks.
void SoundVoice::openOnThread()
{
    StreamOpening opening = opener_();
    if (opening.stream && startFrame_ > 0 && !opening.stream->seek(startFrame_))
        opening = {nullptr, SoundFileProblem::Damaged, {}};
    if (!opening.stream) {
        problem_.store(opening.problem == SoundFileProblem::None ? SoundFileProblem::Damaged : opening.problem);
        brokeOff_.store(true);
        decodedAll_.store(true);
        finished_.store(true, std::memory_order_release);
    } else {
        stream_ = std::move(opening.stream);
        const std::int64_t length = stream_->frames();
        length_.store(length, std::memory_order_release);
        if (loop_ && (length < 0 || length >= shortestLoopFrames_)) {
            stream_->setLooping(true);
            looping_.store(true, std::memory_order_release);
        }
        while (!stop_.load() && !decodedAll_.load() && ring_.readable() < kPrefillFrames)
            decodeRound();
        ready_.store(true, std::memory_order_release);
    }
    // Taken under the lock the starter waits with, so its wake is never missed.
    { std::lock_guard guard(napLock_); }
    opened_.notify_all();
}

void SoundVoice::decodeOnThread()
{
    while (!stop_.load() && !decodedAll_.load() && !finished_.load()) {
        if (ring_.writable() >= kDecodeFrames) {
            decodeRound();
            continue;
        }
        std::unique_lock guard(napLock_);
        napEnd_.wait_for(guard, kDecoderNap, [this] { return stop_.load(); });
    }
}

// One round: a block of the stream, already stereo at the output's rate.
void SoundVoice::decodeRound()
{
    const std::size_t room = std::min(ring_.writable(), kDecodeFrames);
    if (room == 0)
        return;
    const std::int64_t read = stream_->read(input_.data(), static_cast<std::int64_t>(room));
    if (read == 0 && looping_.load() && readSinceOpen_ >= shortestLoopFrames_) {
        // The stream could not go back to its start: the file is opened
        // again, and goes on from there in the next round.
        StreamOpening opening = opener_();
        readSinceOpen_ = 0;
        if (opening.stream) {
            opening.stream->setLooping(true);
            stream_ = std::move(opening.stream);
            return;
        }
        brokeOff_.store(true, std::memory_order_release);
    }
    if (read <= 0) {
        looping_.store(false, std::memory_order_release);
        if (read < 0)
            brokeOff_.store(true, std::memory_order_release);
        decodedAll_.store(true, std::memory_order_release);
        return;
    }
    readSinceOpen_ += read;
    const auto count = static_cast<std::size_t>(read) * kVoiceChannels;
    for (std::size_t i = 0; i < count; ++i)
        output_[i] = toSample(input_[i]);
    ring_.push(output_.data(), static_cast<std::size_t>(read));
}

std::int64_t SoundVoice::place() const
{
    const std::int64_t at = startFrame_ + position();
    const std::int64_t soundLength = length();
    return loop_ && soundLength > 0 ? at % soundLength : at;
}

void SoundVoice::setVolumes(int left, int right)
{
    volumes_.store(volumesWord(left, right));
}

void SoundVoice::setLoudnessGain(float factor)
{
    loudness_.store(factor);
}

void SoundVoice::glideBed(float gain, int frames)
{
    if (!bed_)
        return;
    bedAskedGain_.store(gain, std::memory_order_relaxed);
    bedAskedFrames_.store(std::max(frames, cutFadeFrames_), std::memory_order_relaxed);
    if (gain < 1.0f)
        lowered_.store(true, std::memory_order_release);
    bedAsks_.fetch_add(1, std::memory_order_release);
}

void SoundVoice::fadeOut(int frames)
{
    fadeAsked_.store(std::max({frames, fadeOutFrames_, cutFadeFrames_}), std::memory_order_release);
}

// The audio thread's: a fade out over frames from the gain reached, a fade
// in under way held where it is, so the sound only ever falls from here.
void SoundVoice::fadeFromHere(int frames)
{
    float from = fading_ ? fadeFrom_ * fadeOutGain(fadeDone_, fadeLength_) : 1.0f;
    if (fadeInDone_ < fadeInFrames_) {
        from *= 1.0f - fadeOutGain(fadeInDone_, fadeInFrames_);
        fadeInDone_ = fadeInFrames_;
    }
    fadeFrom_ = from;
    fading_ = true;
    fadeLength_ = std::max(frames, 1);
    fadeDone_ = 0;
}

bool SoundVoice::addTo(std::int32_t* mix, std::int32_t* steady, int frames)
{
    if (!armed_.load(std::memory_order_acquire) || !ready_.load(std::memory_order_acquire)
        || finished_.load(std::memory_order_relaxed))
        return false;
    // Read before the ring: once everything is decoded, what the ring holds is all that is left.
    const bool all = decodedAll_.load(std::memory_order_acquire);
    const std::size_t remaining = ring_.readable();
    const std::size_t taken = ring_.pop(taken_.data(), static_cast<std::size_t>(std::min(frames, kMostFramesAtOnce)));
    // A fade asked for cuts short a longer one under way, never lengthens
    // it, and goes on from the gain that one has reached, without a step.
    if (const int asked = fadeAsked_.load(std::memory_order_acquire);
        asked > 0 && (!fading_ || asked < fadeLength_ - fadeDone_))
        fadeFromHere(asked);
    if (const std::uint32_t asks = bedAsks_.load(std::memory_order_acquire); asks != bedSeen_) {
        // A glide asked for goes on from the gain the last one reached.
        bedSeen_ = asks;
        bedTarget_ = bedAskedGain_.load(std::memory_order_relaxed);
        bedLeft_ = bedAskedFrames_.load(std::memory_order_relaxed);
        bedStep_ = (bedTarget_ - bedGain_) / static_cast<float>(bedLeft_);
    }
    const std::int64_t soundLength = length_.load(std::memory_order_relaxed);
    const std::int64_t played = played_.load(std::memory_order_relaxed);
    const std::uint32_t word = volumes_.load();
    const float loudness = loudness_.load();
    const int leftVolume = static_cast<int>(word >> 16);
    const int rightVolume = static_cast<int>(word & 0xffff);
    const float leftFactor = static_cast<float>(leftVolume) / kWholeVolume * loudness;
    const float rightFactor = static_cast<float>(rightVolume) / kWholeVolume * loudness;
    const bool unity = loudness == 1.0f;
    bool ended = false;
    std::size_t used = 0;
    while (used < taken) {
        // A file's own last frames fade out, in case it was cut short; a
        // fade under way that would outlast them is cut short to end with them.
        if (const std::size_t left = remaining - used; fadeAtEnd_ && all && left <= static_cast<std::size_t>(cutFadeFrames_)
                                                       && (!fading_ || static_cast<int>(left) < fadeLength_ - fadeDone_))
            fadeFromHere(static_cast<int>(left));
        // A sound with a fade out of its own fades before its end, where its
        // length is known; past a length that fell short, its last frames' fade ends it.
        if (const std::int64_t toEnd = soundLength - (startFrame_ + played + static_cast<std::int64_t>(used));
            !fading_ && !loop_ && fadeOutFrames_ > 0 && soundLength > 0 && toEnd > 0 && toEnd <= fadeOutFrames_)
            fadeFromHere(static_cast<int>(toEnd));
        const std::int32_t l = taken_[2 * used];
        const std::int32_t r = taken_[2 * used + 1];
        std::int32_t outLeft = unity ? atVolume(l, leftVolume) : atFactor(l, leftFactor);
        std::int32_t outRight = unity ? atVolume(r, rightVolume) : atFactor(r, rightFactor);
        float gain = 1.0f;
        if (fadeInDone_ < fadeInFrames_)
            gain = 1.0f - fadeOutGain(++fadeInDone_, fadeInFrames_);
        if (bedLeft_ > 0) {
            bedGain_ = --bedLeft_ == 0 ? bedTarget_ : bedGain_ + bedStep_;
            if (bedLeft_ == 0)
                lowered_.store(bedGain_ < 1.0f, std::memory_order_release);
        }
        gain *= bedGain_;
        if (fading_)
            gain *= fadeFrom_ * fadeOutGain(++fadeDone_, fadeLength_);
        if (gain != 1.0f) {
            outLeft = static_cast<std::int32_t>(std::lrint(static_cast<float>(outLeft) * gain));
            outRight = static_cast<std::int32_t>(std::lrint(static_cast<float>(outRight) * gain));
        }
        mix[2 * used] += outLeft;
        mix[2 * used + 1] += outRight;
        // A cut's fade is left out of what the limiter follows; a slow fade is music, and followed.
        if (!fading_ || fadeLength_ > cutFadeFrames_) {
            steady[2 * used] += outLeft;
            steady[2 * used + 1] += outRight;
        }
        ++used;
        if (fading_ && fadeDone_ >= fadeLength_) {
            ended = true;
            break;
        }
    }
    played_.fetch_add(static_cast<std::int64_t>(used), std::memory_order_release);
    if (ended || (all && taken < static_cast<std::size_t>(frames)))
        finished_.store(true, std::memory_order_release);
    return used > 0;
}

}  // namespace qinghe
