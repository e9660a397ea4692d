#include "duck_rule.h"

#include <cmath>

namespace qinghe {

std::optional<BedLevel> DuckRule::setSettings(const SoundSettings& settings)
{
    const bool deeper = ducked_ && settings.duckDepthDb != settings_.duckDepthDb;
    settings_ = settings;
    on_ = settings.duckMusic;
    threshold_ = static_cast<float>(std::pow(10.0, settings.duckThresholdDb / 20.0));
    if (!on_)
        return forget();
    // A new depth typed while the host speaks is heard at once.
    if (deeper)
        return down();
    return std::nullopt;
}

std::optional<BedLevel> DuckRule::hear(float peak, Clock::time_point now)
{
    if (!on_)
        return std::nullopt;
    if (std::fabs(peak) > threshold_) {
        lastLoud_ = now;
        if (!ducked_) {
            ducked_ = true;
            return down();
        }
        return std::nullopt;
    }
    return check(now);
}

std::optional<BedLevel> DuckRule::check(Clock::time_point now)
{
    if (!ducked_ || now < releaseAt())
        return std::nullopt;
    ducked_ = false;
    return up();
}

std::optional<BedLevel> DuckRule::forget()
{
    if (!ducked_)
        return std::nullopt;
    ducked_ = false;
    return up();
}

BedLevel DuckRule::down() const
{
    return {-static_cast<double>(settings_.duckDepthDb), std::chrono::milliseconds(settings_.duckAttackMs)};
}

BedLevel DuckRule::up() const
{
    return {0, std::chrono::milliseconds(settings_.duckReleaseMs)};
}

}  // namespace qinghe
