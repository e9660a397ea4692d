#include "voice_mixer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace qinghe {

namespace {

constexpr std::int32_t kHighest = std::numeric_limits<std::int16_t>::max();
constexpr std::int32_t kLowest = std::numeric_limits<std::int16_t>::min();

// The limiter holds its gain while the sum comes near full scale, and for
// 10 ms after: longer than half a period of anything above 50 Hz, so it does
// not pump within a wave. Then the gain comes back towards unity with a
// 10 ms time constant, so a sound after an over (a cut's fade under the new
// sound) is not held down for long, and counts as back within a third of
// the last bit at full scale.
constexpr double kLimiterHoldSeconds = 0.010;
constexpr double kLimiterReturnSeconds = 0.010;
constexpr float kLimiterNear = 0.98f * 32767;
constexpr float kLimiterBack = 1.0f - 1e-5f;

}  // namespace

VoiceMixer::VoiceMixer(int rate)
    : rate_(rate), limiterHoldFrames_(static_cast<int>(std::lround(kLimiterHoldSeconds * rate))),
      limiterReturn_(static_cast<float>(1.0 - std::exp(-1.0 / (kLimiterReturnSeconds * rate))))
{
}

VoiceMixer::~VoiceMixer()
{
    clear();
}

void VoiceMixer::keepAtMost(int mostPlaying)
{
    for (;;) {
        std::vector<SoundVoice*> playingOn;
        for (const auto& slot : slots_) {
            SoundVoice* held = slot.load();
            if (held && !held->finished() && !held->fadingOut())
                playingOn.push_back(held);
        }
        if (static_cast<int>(playingOn.size()) <= std::max(mostPlaying, 0))
            return;
        SoundVoice* oldest = *std::min_element(playingOn.begin(), playingOn.end(),
                                               [](const SoundVoice* a, const SoundVoice* b) { return a->order < b->order; });
        // A sound not heard yet has nothing to fade; the handle that holds it sees it end.
        if (!oldest->armed())
            oldest->endNow();
        else
            oldest->fadeOut();
    }
}

SoundVoice* VoiceMixer::add(std::unique_ptr<SoundVoice> voice, int mostPlaying)
{
    deleteFinished();
    keepAtMost(mostPlaying - 1);
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

void VoiceMixer::fadeOut(SoundVoice* voice, int frames)
{
    if (!voice)
        return;
    voice->detached = true;
    // A voice not heard yet, or heard to its end, has nothing to fade.
    if (!voice->armed() || voice->finished()) {
        remove(voice);
        return;
    }
    voice->fadeOut(frames);
}

void VoiceMixer::glideBeds(float gain, int frames)
{
    for (const auto& slot : slots_) {
        if (SoundVoice* voice = slot.load(); voice && voice->bed())
            voice->glideBed(gain, frames);
    }
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

bool VoiceMixer::anyFadingSlowly()
{
    inMix_.fetch_add(1);
    const bool fading = std::any_of(slots_.begin(), slots_.end(), [](const auto& slot) {
        const SoundVoice* voice = slot.load();
        return voice && voice->armed() && !voice->finished() && voice->fadingSlowly();
    });
    inMix_.fetch_sub(1);
    return fading;
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
        limiterHold_ = limiterHoldFrames_;
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
    limiterGain_ = steadyPeak == 0 ? 1.0f : limiterGain_ + (1.0f - limiterGain_) * limiterReturn_;
    if (limiterGain_ > kLimiterBack)
        limiterGain_ = 1.0f;
}

}  // namespace qinghe
