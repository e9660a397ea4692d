// Any bytes as the values my.ini holds for a sound's loudness: a slot's gain,
// its file's stamp and peak, a sound's own volume. Whatever reads as a
// number must keep the promises the board plays by: a gain and a volume in
// range, a peak the board may divide by, and a held gain that never lifts
// that peak past full scale.

#include "board/loudness_numbers.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace qinghe;
    const Text text(reinterpret_cast<const char*>(data), size);
    const std::optional<double> gain = loudnessGainFromText(text);
    if (gain && !(std::isfinite(*gain) && std::abs(*gain) <= kLargestLoudnessGainDb))
        std::abort();
    const std::optional<double> peak = peakFromText(text);
    if (peak && !(*peak > 0 && *peak <= kLargestStoredPeak))
        std::abort();
    if (const std::optional<int> volume = soundVolumeFromText(text, -30, 10); volume && (*volume < -30 || *volume > 10))
        std::abort();
    stampNumberFromText(text);
    if (gain) {
        const double held = heldLoudnessGain(*gain, peak);
        if (held > *gain || (held > 0 && peak && *peak * std::pow(10.0, held / 20) > 1.0) || (held > 0 && !peak))
            std::abort();
    }
    return 0;
}
