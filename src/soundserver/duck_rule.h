#pragma once

// When the music goes down under the host's voice and when it comes back,
// worked out from the microphone's peaks alone: no server, no clock of its
// own, so the same peaks at the same times always give the same answers.

#include "sound_settings.h"

#include <chrono>
#include <optional>

namespace qinghe {

// Where every bed is to go, and how long it takes to get there.
struct BedLevel {
    double decibels = 0;  // 0 the beds' own level, below 0 lowered
    std::chrono::milliseconds ramp{0};

    bool operator==(const BedLevel&) const = default;
};

class DuckRule {
public:
    using Clock = std::chrono::steady_clock;

    // Takes the threshold, depth and times; turning ducking off while the
    // beds are down brings them back.
    std::optional<BedLevel> setSettings(const SoundSettings& settings);
    // A peak of the microphone (1 is full scale) heard at now.
    std::optional<BedLevel> hear(float peak, Clock::time_point now);
    // The hold may end with no peak coming (a microphone that stops sending).
    std::optional<BedLevel> check(Clock::time_point now);
    // The microphone is gone: the beds come back, whatever it said last.
    std::optional<BedLevel> forget();

    bool ducked() const { return ducked_; }
    // When the beds come back if nothing louder is heard; meaningless unless ducked.
    Clock::time_point releaseAt() const { return lastLoud_ + std::chrono::milliseconds(settings_.duckHoldMs); }

private:
    BedLevel down() const;
    BedLevel up() const;

    bool on_ = false;
    float threshold_ = 0;
    SoundSettings settings_;
    bool ducked_ = false;
    Clock::time_point lastLoud_;
};

}  // namespace qinghe
