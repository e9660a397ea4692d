#pragma once

// A steady tone measured: its peak amplitude and its strongest frequency,
// refined between the bins of a Kaiser-windowed spectrum.

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace qinghe::test_support {

// The window's sidelobes lie far below the 90 dB the alias checks ask.
inline constexpr double kKaiserBeta = 20;

inline double decibels(double ratio)
{
    return 20 * std::log10(ratio);
}

// Peak amplitude of a steady tone, from its RMS.
inline double toneAmplitude(const std::vector<double>& samples)
{
    double sum = 0;
    for (double sample : samples)
        sum += sample * sample;
    return std::sqrt(2 * sum / static_cast<double>(samples.size()));
}

inline double besselI0(double x)
{
    double sum = 1;
    double term = 1;
    for (int k = 1; k < 60; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

// Power spectrum of a Kaiser-windowed stretch (length a power of two).
inline std::vector<double> spectrum(const std::vector<double>& samples)
{
    const std::size_t size = samples.size();
    std::vector<std::complex<double>> bins(size);
    for (std::size_t index = 0; index < size; ++index) {
        const double place = 2.0 * static_cast<double>(index) / static_cast<double>(size - 1) - 1;
        bins[index] = samples[index] * besselI0(kKaiserBeta * std::sqrt(1 - place * place)) / besselI0(kKaiserBeta);
    }
    for (std::size_t index = 1, reversed = 0; index < size; ++index) {
        std::size_t bit = size >> 1;
        for (; reversed & bit; bit >>= 1)
            reversed ^= bit;
        reversed ^= bit;
        if (index < reversed)
            std::swap(bins[index], bins[reversed]);
    }
    for (std::size_t length = 2; length <= size; length <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2 * std::numbers::pi / static_cast<double>(length));
        for (std::size_t start = 0; start < size; start += length) {
            std::complex<double> turn = 1;
            for (std::size_t k = 0; k < length / 2; ++k, turn *= step) {
                const std::complex<double> odd = bins[start + k + length / 2] * turn;
                bins[start + k + length / 2] = bins[start + k] - odd;
                bins[start + k] += odd;
            }
        }
    }
    std::vector<double> power(size / 2);
    for (std::size_t index = 0; index < size / 2; ++index)
        power[index] = std::norm(bins[index]);
    return power;
}

// The strongest frequency, refined between bins (length a power of two).
inline double dominantFrequency(const std::vector<double>& samples, int rate)
{
    const std::vector<double> power = spectrum(samples);
    const auto peak = static_cast<std::size_t>(std::max_element(power.begin() + 1, power.end() - 1) - power.begin());
    const double before = std::log(power[peak - 1]);
    const double at = std::log(power[peak]);
    const double after = std::log(power[peak + 1]);
    const double shift = 0.5 * (before - after) / (before - 2 * at + after);
    return (static_cast<double>(peak) + shift) * rate / static_cast<double>(samples.size());
}

}  // namespace qinghe::test_support
