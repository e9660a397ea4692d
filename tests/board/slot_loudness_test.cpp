// The gain that brings a custom slot's file to the effects' loudness, and
// how my.ini holds it.

#include "board/slot_loudness.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qinghe {
namespace {

double peakAt(double decibels)
{
    return std::pow(10.0, decibels / 20);
}

TEST(SlotLoudness, GainReachesTheEffectsUnlessThePeakWouldPassFullScale)
{
    // A quiet file with room to spare is raised all the way.
    EXPECT_NEAR(evenLoudnessGain({kEffectLoudnessLufs - 12, peakAt(-20)}), 12, kLoudnessGainStep);
    // A loud one is lowered.
    EXPECT_NEAR(evenLoudnessGain({kEffectLoudnessLufs + 6, peakAt(-1)}), -6, kLoudnessGainStep);
    // A quiet body under loud peaks is raised only as far as its peak allows,
    // and never a step beyond.
    const double held = evenLoudnessGain({kEffectLoudnessLufs - 20, peakAt(-0.766)});
    EXPECT_NEAR(held, 0.76, kLoudnessGainStep / 2);
    EXPECT_LE(peakAt(-0.766) * peakAt(held), 1.0);
    // A peak already past full scale (an MP3 decoded with overshoot) is brought back under it.
    EXPECT_NEAR(evenLoudnessGain({kEffectLoudnessLufs - 3, peakAt(0.98)}), -0.98, kLoudnessGainStep / 2);
    // All but silence is not lifted into noise without end.
    EXPECT_LE(evenLoudnessGain({-69, peakAt(-80)}), kLargestLoudnessGainDb);
}

TEST(SlotLoudness, StoredGainsReadBackAndAnythingElseIsNoGain)
{
    for (const double gain : {12.0, -6.37, 0.0, -0.01, kLargestLoudnessGainDb})
        EXPECT_EQ(loudnessGainFromText(numberToText(gain)), std::optional<double>(gain)) << gain;
    for (const char* text : {"", " 3", "3 ", "3dB", "abc", "nan", "inf", "1e5", "-61", "0x10"})
        EXPECT_FALSE(loudnessGainFromText(text)) << text;
}

}  // namespace
}  // namespace qinghe
