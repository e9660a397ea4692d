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

// The volume scale of the commands.
constexpr int kWholeVolume = 1000;
constexpr int kHalfVolume = kWholeVolume / 2;
constexpr std::int32_t kHighest = std::numeric_limits<std::int16_t>::max();
constexpr std::int32_t kLowest = std::numeric_limits<std::int16_t>::min();
constexpr float kSampleScale = 32768.0f;
constexpr int kMostChannels = 64;  // a corrupt header should not size a buffer

// Decoded ahead of the mix (0.74 s): the decoder naps between rounds, and a
// long song costs no more memory than a click.
constexpr std::size_t kRingFrames = std::size_t{1} << 15;
// Decoded before a voice is handed over, so its first blocks are there at once.
constexpr std::size_t kPrefillFrames = 4096;
constexpr std::size_t kDecodeFrames = 4096;
constexpr auto kDecoderNap = std::chrono::milliseconds(20);
// The most a voice adds at once: the mixer's part.
constexpr int kMostFramesAtOnce = 1024;

// The limiter holds its gain while the sum comes near full scale, and for
// 10 ms after: longer than half a period of anything above 50 Hz, so it does
// not pump within a wave. Then the gain comes back towards unity with a
// 10 ms time constant, so a sound after an over (a cut's fade under the new
// sound) is not held down for long, and counts as back within a third of
// the last bit at full scale.
constexpr int kLimiterHoldFrames = 441;
constexpr float kLimiterNear = 0.98f * 32767;
constexpr float kLimiterReturn = 1.0f - 0.997735f;  // 1 - exp(-1 / (10 ms at 44100 Hz))
constexpr float kLimiterBack = 1.0f - 1e-5f;

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

SoundVoice::SoundVoice(const SoundFileLibrary& files, SNDFILE* file, const SF_INFO& info, const Setup& setup)
    : files_(files), file_(file), channels_(std::clamp(info.channels, 1, kMostChannels)),
      step_(static_cast<double>(info.samplerate) / kVoiceRate), startFrame_(setup.startFrame),
      fadeAtEnd_(setup.fadeAtEnd), ring_(kRingFrames), armed_(setup.armed),
      volumes_(volumesWord(setup.leftVolume, setup.rightVolume)), loudness_(setup.loudnessGain),
      input_(kDecodeFrames * static_cast<std::size_t>(channels_)), output_(kDecodeFrames * 2 + 4),
      taken_(static_cast<std::size_t>(kMostFramesAtOnce) * kVoiceChannels)
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
    files_.close(file_);
}

void SoundVoice::start()
{
    while (!decodedAll_.load() && ring_.readable() < kPrefillFrames)
        decodeRound();
    if (decodedAll_.load())
        return;
    try {
        decoder_ = std::thread([this] { decodeOnThread(); });
    } catch (const std::system_error&) {
        // No thread to spare: what was decoded plays, and the sound ends there.
        decodedAll_.store(true);
    }
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

// One round: a block of the file to frames at the output's rate, linearly
// interpolated when the file's rate is another.
void SoundVoice::decodeRound()
{
    const std::size_t room = std::min(ring_.writable(), kDecodeFrames);
    const auto wanted = static_cast<sf_count_t>(std::floor(static_cast<double>(room) * std::min(step_, 1.0)) - 2);
    if (wanted <= 0)
        return;
    const sf_count_t read =
        files_.readFloatFrames(file_, input_.data(), std::min<sf_count_t>(wanted, kDecodeFrames));
    if (read <= 0) {
        decodedAll_.store(true, std::memory_order_release);
        return;
    }
    std::size_t produced = 0;
    for (sf_count_t i = 0; i < read; ++i) {
        const float* frame = &input_[static_cast<std::size_t>(i) * static_cast<std::size_t>(channels_)];
        const std::array<float, 2> now = {frame[0], channels_ > 1 ? frame[1] : frame[0]};
        if (step_ == 1.0) {
            output_[2 * produced] = toSample(now[0]);
            output_[2 * produced + 1] = toSample(now[1]);
            ++produced;
            continue;
        }
        if (!primed_) {
            previous_ = now;
            primed_ = true;
            continue;
        }
        while (phase_ < 1.0 && produced < kDecodeFrames + 2) {
            const auto part = static_cast<float>(phase_);
            output_[2 * produced] = toSample(previous_[0] + (now[0] - previous_[0]) * part);
            output_[2 * produced + 1] = toSample(previous_[1] + (now[1] - previous_[1]) * part);
            ++produced;
            phase_ += step_;
        }
        phase_ -= 1.0;
        previous_ = now;
    }
    ring_.push(output_.data(), std::min(produced, ring_.writable()));
}

void SoundVoice::setVolumes(int left, int right)
{
    volumes_.store(volumesWord(left, right));
}

void SoundVoice::setLoudnessGain(float factor)
{
    loudness_.store(factor);
}

void SoundVoice::fadeOut()
{
    fadeAsked_.store(true, std::memory_order_release);
}

bool SoundVoice::addTo(std::int32_t* mix, std::int32_t* steady, int frames)
{
    if (!armed_.load(std::memory_order_acquire) || finished_.load(std::memory_order_relaxed))
        return false;
    // Read before the ring: once everything is decoded, what the ring holds is all that is left.
    const bool all = decodedAll_.load(std::memory_order_acquire);
    const std::size_t remaining = ring_.readable();
    const std::size_t taken = ring_.pop(taken_.data(), static_cast<std::size_t>(std::min(frames, kMostFramesAtOnce)));
    if (!fading_ && fadeAsked_.load(std::memory_order_acquire)) {
        fading_ = true;
        fadeLength_ = kCutFadeFrames;
        fadeDone_ = 0;
    }
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
        // A file's own last frames fade out, in case it was cut short.
        if (!fading_ && fadeAtEnd_ && all && remaining - used <= static_cast<std::size_t>(kCutFadeFrames)) {
            fading_ = true;
            fadeLength_ = static_cast<int>(remaining - used);
            fadeDone_ = 0;
        }
        const std::int32_t l = taken_[2 * used];
        const std::int32_t r = taken_[2 * used + 1];
        std::int32_t outLeft = unity ? atVolume(l, leftVolume) : atFactor(l, leftFactor);
        std::int32_t outRight = unity ? atVolume(r, rightVolume) : atFactor(r, rightFactor);
        if (fading_) {
            const float gain = fadeOutGain(++fadeDone_, fadeLength_);
            outLeft = static_cast<std::int32_t>(std::lrint(static_cast<float>(outLeft) * gain));
            outRight = static_cast<std::int32_t>(std::lrint(static_cast<float>(outRight) * gain));
        }
        mix[2 * used] += outLeft;
        mix[2 * used + 1] += outRight;
        if (!fading_) {
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

double voiceDuration(const OpenedMusic& music)
{
    const sf_count_t frames = music.info.frames;
    if (frames <= 0 || frames == std::numeric_limits<sf_count_t>::max() || music.info.samplerate <= 0)
        return -1;
    return static_cast<double>(frames) / music.info.samplerate;
}

SoundVoice* startVoice(VoiceMixer& mixer, const SoundFileLibrary& files, OpenedMusic& music,
                       std::optional<double> fromSeconds, bool fadeAtEnd, bool armed, bool flushFirst)
{
    if (music.voice) {
        mixer.remove(music.voice);
        music.voice = nullptr;
    }
    SF_INFO info = music.info;
    SNDFILE* file = std::exchange(music.held, nullptr);
    if (!file)
        file = files.open(music.path.c_str(), SFM_READ, &info);
    if (!file)
        return nullptr;
    SoundVoice::Setup setup;
    if (fromSeconds) {
        // Positions come half a frame past the frame they name: the frame is the whole part.
        const auto fileFrame = static_cast<sf_count_t>(std::floor(*fromSeconds * info.samplerate));
        if (files.seek(file, fileFrame, SEEK_SET) < 0) {
            files.close(file);
            return nullptr;
        }
        setup.startFrame = static_cast<std::int64_t>(std::floor(*fromSeconds * kVoiceRate));
    }
    setup.armed = armed;
    setup.fadeAtEnd = fadeAtEnd;
    setup.leftVolume = music.leftVolume;
    setup.rightVolume = music.rightVolume;
    setup.loudnessGain = music.loudnessGain;
    auto voice = std::make_unique<SoundVoice>(files, file, info, setup);
    voice->flushFirst = flushFirst;
    voice->start();
    music.voice = mixer.add(std::move(voice));
    return music.voice;
}

VoiceMixer::~VoiceMixer()
{
    clear();
}

SoundVoice* VoiceMixer::add(std::unique_ptr<SoundVoice> voice)
{
    deleteFinished();
    auto freeSlot = std::find_if(slots_.begin(), slots_.end(), [](const auto& slot) { return slot.load() == nullptr; });
    if (freeSlot == slots_.end()) {
        // Every slot is taken: the oldest voice that fades out goes now.
        SoundVoice* oldest = nullptr;
        for (const auto& slot : slots_) {
            SoundVoice* held = slot.load();
            if (held && held->detached && (!oldest || held->order < oldest->order))
                oldest = held;
        }
        if (!oldest)
            return nullptr;
        remove(oldest);
        freeSlot = std::find_if(slots_.begin(), slots_.end(), [](const auto& slot) { return slot.load() == nullptr; });
    }
    voice->order = ++added_;
    SoundVoice* added = voice.release();
    freeSlot->store(added);
    return added;
}

void VoiceMixer::remove(SoundVoice* voice)
{
    if (!voice)
        return;
    for (auto& slot : slots_) {
        SoundVoice* expected = voice;
        if (slot.compare_exchange_strong(expected, nullptr)) {
            waitForMix();
            delete voice;
            return;
        }
    }
}

void VoiceMixer::fadeOut(SoundVoice* voice)
{
    if (!voice)
        return;
    voice->detached = true;
    // A voice not heard yet, or heard to its end, has nothing to fade.
    if (!voice->armed() || voice->finished()) {
        remove(voice);
        return;
    }
    voice->fadeOut();
}

void VoiceMixer::clear()
{
    std::vector<SoundVoice*> taken;
    for (auto& slot : slots_) {
        if (SoundVoice* voice = slot.exchange(nullptr))
            taken.push_back(voice);
    }
    if (taken.empty())
        return;
    waitForMix();
    for (SoundVoice* voice : taken)
        delete voice;
}

void VoiceMixer::deleteFinished()
{
    for (auto& slot : slots_) {
        SoundVoice* voice = slot.load();
        if (voice && voice->detached && voice->finished())
            remove(voice);
    }
}

void VoiceMixer::waitForMix() const
{
    while (inMix_.load() != 0)
        std::this_thread::yield();
}

bool VoiceMixer::anyAudible() const
{
    return std::any_of(slots_.begin(), slots_.end(), [](const auto& slot) {
        const SoundVoice* voice = slot.load();
        return voice && voice->armed() && !voice->finished();
    });
}

bool VoiceMixer::anyPlayingOn() const
{
    return std::any_of(slots_.begin(), slots_.end(), [](const auto& slot) {
        const SoundVoice* voice = slot.load();
        return voice && voice->armed() && !voice->finished() && !voice->fadingOut();
    });
}

void VoiceMixer::endFadingOut()
{
    inMix_.fetch_add(1);
    for (auto& slot : slots_) {
        SoundVoice* voice = slot.load();
        if (voice && voice->fadingOut())
            voice->endNow();
    }
    inMix_.fetch_sub(1);
}

bool VoiceMixer::anyWaitingForFlush()
{
    inMix_.fetch_add(1);
    const bool waiting = std::any_of(slots_.begin(), slots_.end(), [](const auto& slot) {
        const SoundVoice* voice = slot.load();
        return voice && !voice->armed() && voice->flushFirst;
    });
    inMix_.fetch_sub(1);
    return waiting;
}

void VoiceMixer::armAll()
{
    inMix_.fetch_add(1);
    for (auto& slot : slots_) {
        if (SoundVoice* voice = slot.load())
            voice->arm();
    }
    inMix_.fetch_sub(1);
}

bool VoiceMixer::anySounding()
{
    inMix_.fetch_add(1);
    const bool sounding = anyPlayingOn();
    inMix_.fetch_sub(1);
    return sounding;
}

void VoiceMixer::mixInto(std::int16_t* samples, int frames)
{
    // Noted before any slot is read, so a voice taken away is deleted only once this mix is over.
    inMix_.fetch_add(1);
    for (int offset = 0; offset < frames; offset += kPartFrames) {
        const int count = std::min(kPartFrames, frames - offset);
        std::int16_t* part = samples + static_cast<std::ptrdiff_t>(offset) * kVoiceChannels;
        const int values = count * kVoiceChannels;
        std::copy(part, part + values, sum_.begin());
        std::copy(part, part + values, steady_.begin());
        bool added = false;
        for (auto& slot : slots_) {
            if (SoundVoice* voice = slot.load())
                added = voice->addTo(sum_.data(), steady_.data(), count) || added;
        }
        if (!added && limiterGain_ == 1.0f)
            continue;
        for (int i = 0; i < count; ++i)
            limitFrame(part + 2 * i, &sum_[2 * i], &steady_[2 * i]);
    }
    inMix_.fetch_sub(1);
}

// The limiter follows the sounds that play on. A sound fading out may push
// the sum past full scale for the few milliseconds of its fade: those frames
// alone are held, so the sound that cut in is not held down after it.
void VoiceMixer::limitFrame(std::int16_t* out, const std::int32_t* sum, const std::int32_t* steady)
{
    const std::int32_t steadyPeak = std::max(std::abs(steady[0]), std::abs(steady[1]));
    const std::int32_t peak = std::max(std::abs(sum[0]), std::abs(sum[1]));
    const float reached = static_cast<float>(steadyPeak) * limiterGain_;
    if (reached > static_cast<float>(kHighest))
        limiterGain_ = static_cast<float>(kHighest) / static_cast<float>(steadyPeak);
    if (reached >= kLimiterNear && limiterGain_ < 1.0f)
        limiterHold_ = kLimiterHoldFrames;
    float gain = limiterGain_;
    if (static_cast<float>(peak) * gain > static_cast<float>(kHighest))
        gain = static_cast<float>(kHighest) / static_cast<float>(peak);
    if (gain == 1.0f) {
        out[0] = static_cast<std::int16_t>(std::clamp(sum[0], kLowest, kHighest));
        out[1] = static_cast<std::int16_t>(std::clamp(sum[1], kLowest, kHighest));
    } else {
        for (int channel = 0; channel < kVoiceChannels; ++channel)
            out[channel] = static_cast<std::int16_t>(
                std::clamp<long>(std::lrint(static_cast<float>(sum[channel]) * gain), -kHighest, kHighest));
    }
    if (limiterGain_ == 1.0f)
        return;
    if (limiterHold_ > 0) {
        --limiterHold_;
        return;
    }
    // Over silence no step of the gain can be heard: it is back at once.
    limiterGain_ = steadyPeak == 0 ? 1.0f : limiterGain_ + (1.0f - limiterGain_) * kLimiterReturn;
    if (limiterGain_ > kLimiterBack)
        limiterGain_ = 1.0f;
}

}  // namespace qinghe
