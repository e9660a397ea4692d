#include "loudness_numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace qinghe {

namespace {

// Decibels of an amplitude ratio: 20 per factor of ten.
constexpr double kDecibelsPerDecade = 20;

}  // namespace

double evenLoudnessGain(const FileLoudness& loudness)
{
    const double toEffects = kEffectLoudnessLufs - loudness.integratedLufs;
    const double toFullScale = -kDecibelsPerDecade * std::log10(loudness.peak);
    const double gain = std::min({toEffects, toFullScale, kLargestLoudnessGainDb});
    // Down, so a gain held by the peak stays below full scale.
    return std::floor(gain / kLoudnessGainStep) * kLoudnessGainStep;
}

std::optional<double> loudnessGainFromText(const Text& text)
{
    double gain = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, gain);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(gain)
        || std::abs(gain) > kLargestLoudnessGainDb)
        return std::nullopt;
    return gain;
}

std::optional<std::int64_t> stampNumberFromText(const Text& text)
{
    std::int64_t number = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return number;
}

std::optional<double> peakFromText(const Text& text)
{
    double peak = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, peak);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(peak) || !(peak > 0)
        || peak > kLargestStoredPeak)
        return std::nullopt;
    return peak;
}

double heldLoudnessGain(double wantedDb, std::optional<double> peak)
{
    const double wanted = std::min(wantedDb, kLargestLoudnessGainDb);
    if (wanted <= 0)
        return wanted;
    if (!peak)
        return 0;
    // Down to the step, so the peak stays below full scale; never a cut where a boost was asked.
    const double room = *peak > 0 ? -kDecibelsPerDecade * std::log10(*peak) : kLargestLoudnessGainDb;
    const double held = std::floor(room / kLoudnessGainStep) * kLoudnessGainStep;
    return std::clamp(held, 0.0, wanted);
}

}  // namespace qinghe
