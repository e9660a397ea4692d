#pragma once

// The numbers behind a sound's loudness: the gain that brings a measured
// file to the effects' loudness, how far a gain may lift a file before its
// peak reaches full scale, and how my.ini holds gains, peaks, file stamps and
// a sound's own volume. Nothing here touches a file.

#include "media/player/loudness_meter.h"
#include "text/text.h"

#include <cstdint>
#include <optional>

namespace qinghe {

// The loudness the custom slots are brought to: the median integrated
// loudness of the 95 effect files in data/*.mp3 (-21.69 to -10.10 LUFS), as
// effect_loudness_bench prints it when run in the source folder; it measures
// them with the meter the slots are measured with. The board plays the
// effects unchanged, so at full volume half of them sound louder than this.
inline constexpr double kEffectLoudnessLufs = -13.03;
// Gains are kept to hundredths of a decibel, far below what anyone hears,
// so my.ini holds short numbers.
inline constexpr double kLoudnessGainStep = 0.01;
// A file that would need more is all but silence; more would only lift its noise.
inline constexpr double kLargestLoudnessGainDb = 60;

// The gain in decibels that brings the file to kEffectLoudnessLufs, lowered
// where the file's peak would pass full scale (at full volume), and at most
// kLargestLoudnessGainDb; rounded down to kLoudnessGainStep.
double evenLoudnessGain(const FileLoudness& loudness);

// A gain as my.ini holds it, "%.13g" text; nullopt for any text that is no
// gain the board would store (an empty value: the file could not be measured).
std::optional<double> loudnessGainFromText(const Text& text);

// A stamp's number as my.ini holds it; nullopt for anything but a whole number.
std::optional<std::int64_t> stampNumberFromText(const Text& text);
// A peak as my.ini holds it ("%.13g", 1.0 full scale); nullopt for anything
// but a finite number above 0 and at most kLargestStoredPeak.
inline constexpr double kLargestStoredPeak = 1000;  // far past any overshoot a decoder gives
std::optional<double> peakFromText(const Text& text);

// The gain a sound plays at when wantedDb is asked of it (its loudness
// gain, its own volume): a cut as asked, a boost only as far as the file's
// peak leaves room below full scale, and none while the peak is unknown.
double heldLoudnessGain(double wantedDb, std::optional<double> peak);

// A sound's own volume as my.ini holds it ([音量]): whole dB in
// leastDb..mostDb; nullopt for anything else.
inline std::optional<int> soundVolumeFromText(const Text& text, int leastDb, int mostDb)
{
    return wholeNumberFromText(text, leastDb, mostDb);
}

}  // namespace qinghe
