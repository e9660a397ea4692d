// The show's music: beds lowered together, sounds that fade in and out,
// and loops that play on without a seam. Heard on the disk driver's output.

#include "media/engine/sound_engine.h"

#include "media_test_support.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qinghe::test {
namespace {

using namespace std::chrono_literals;

constexpr int kLevel = 16000;
// 441 Hz: a whole period every 100 frames, so a stretch of whole periods has a steady peak.
constexpr double kTone = 441;
constexpr int kPeriod = 100;
constexpr int kBlock = 4 * kPeriod;
constexpr auto kPollLimit = 10s;

constexpr std::int64_t framesOf(std::chrono::milliseconds span)
{
    return span.count() * kRate / 1000;
}

// One channel of frames [from, to), as numbers.
std::vector<double> channel(const Samples& out, std::int64_t from, std::int64_t to, int side)
{
    std::vector<double> values;
    for (std::int64_t i = from; i < to && i < frameCount(out); ++i)
        values.push_back(out[2 * i + side]);
    return values;
}

double amplitudeOf(const Samples& out, std::int64_t from, std::int64_t to, int side)
{
    double sum = 0;
    const std::vector<double> values = channel(out, from, to, side);
    for (double value : values)
        sum += value * value;
    return values.empty() ? 0 : std::sqrt(2 * sum / static_cast<double>(values.size()));
}

double decibelsOf(double ratio)
{
    return 20 * std::log10(ratio);
}

class MusicShape : public DiskOutputTest {
protected:
    void TearDown() override
    {
        DiskOutputTest::TearDown();
        engine().setMostPlaying(1);
        engine().setBedLevel(0, 0ms);
    }

    static SoundEngine& engine() { return SoundEngine::instance(); }
    static std::int64_t now() { return static_cast<std::int64_t>(mediaMixedFrames()); }

    std::string tone(const QString& name, int frames, bool left, bool right)
    {
        writeWav(pathOf(name), sineWave(frames, kTone, kLevel, left, right));
        return QFile::encodeName(pathOf(name)).toStdString();
    }

    VoiceId play(const std::string& path, const VoiceShape& shape)
    {
        const VoiceId voice = engine().play(path, {}, 0ms, Audience::Everyone, shape).voice;
        EXPECT_NE(voice, kNoVoice);
        return voice;
    }
};

// The bed on the left, another sound on the right: only the bed goes down.
TEST_F(MusicShape, LoweringTheBedsLeavesOtherSoundsAsTheyAre)
{
    engine().setMostPlaying(2);
    const VoiceId bed = play(tone("bed.wav", 3 * kRate, true, false), {.bed = true});
    const VoiceId other = play(tone("other.wav", 3 * kRate, false, true), {});
    ASSERT_NO_FATAL_FAILURE(waitFrames(framesOf(200ms)));
    const std::int64_t lowered = now();
    engine().setBedLevel(-12, 50ms);
    ASSERT_NO_FATAL_FAILURE(waitFrames(framesOf(300ms)));
    const std::int64_t end = now();
    EXPECT_TRUE(engine().progress(bed)->ducked);
    EXPECT_FALSE(engine().progress(other)->ducked);
    const Samples out = recordedOutput();

    const std::int64_t before = lowered - framesOf(100ms);
    const std::int64_t after = lowered + framesOf(150ms);
    const double bedDrop = decibelsOf(amplitudeOf(out, after, end, 0) / amplitudeOf(out, before, lowered, 0));
    EXPECT_NEAR(bedDrop, -12, 1);
    const double otherDrop = decibelsOf(amplitudeOf(out, after, end, 1) / amplitudeOf(out, before, lowered, 1));
    EXPECT_NEAR(otherDrop, 0, 0.1);
}

// Peak of each block of whole periods from frame from on.
std::vector<int> envelope(const Samples& out, std::int64_t from, std::int64_t to)
{
    std::vector<int> peaks;
    for (std::int64_t at = from; at + kBlock <= to; at += kBlock)
        peaks.push_back(peakBetween(out, at, at + kBlock));
    return peaks;
}

// The largest fall from one block to the next, and the largest rise.
std::pair<int, int> largestFallAndRise(const std::vector<int>& peaks)
{
    int fall = 0;
    int rise = 0;
    for (std::size_t i = 1; i < peaks.size(); ++i) {
        fall = std::max(fall, peaks[i - 1] - peaks[i]);
        rise = std::max(rise, peaks[i] - peaks[i - 1]);
    }
    return {fall, rise};
}

TEST_F(MusicShape, AFadeInRisesFromSilenceToItsLevel)
{
    const std::int64_t asked = now();
    play(tone("rise.wav", 3 * kRate, true, true), {.fadeIn = 2000ms});
    ASSERT_NO_FATAL_FAILURE(waitFrames(framesOf(2300ms)));
    const Samples out = recordedOutput();

    const std::int64_t start = firstSoundFrom(out, asked);
    ASSERT_GE(start, 0);
    const std::vector<int> peaks = envelope(out, start, start + framesOf(2200ms));
    ASSERT_GT(peaks.size(), 200u);
    EXPECT_LT(peaks.front(), kLevel / 100) << "from silence";
    EXPECT_NEAR(peaks[peaks.size() / 2 - 10], kLevel / 2, kLevel / 10) << "half way at half the time";
    EXPECT_NEAR(peaks.back(), kLevel, kLevel / 100) << "at its level once the fade is over";
    EXPECT_LE(largestFallAndRise(peaks).first, kLevel / 200) << "never falls back on the way up";
}

TEST_F(MusicShape, StoppingEverythingWithAFadeFallsToSilenceOverIt)
{
    const VoiceId voice = play(tone("fall.wav", 3 * kRate, true, true), {});
    ASSERT_NO_FATAL_FAILURE(waitFrames(framesOf(300ms)));
    const std::int64_t earliest = now() - kBlock;
    engine().stopAll(300ms);
    const std::int64_t latest = now();
    ASSERT_NO_FATAL_FAILURE(waitFrames(framesOf(500ms)));
    EXPECT_FALSE(engine().playing(voice));
    const std::int64_t end = now();
    const Samples out = recordedOutput();

    EXPECT_NEAR(peakBetween(out, earliest - kBlock, earliest), kLevel, kLevel / 100);
    EXPECT_NEAR(peakBetween(out, latest + framesOf(145ms), latest + framesOf(155ms)), kLevel / 2, kLevel / 6)
        << "half way down half way through";
    EXPECT_GT(peakBetween(out, latest + framesOf(230ms), latest + framesOf(240ms)), kLevel / 50)
        << "still heard near the end of the fade";
    EXPECT_TRUE(silentBetween(out, latest + framesOf(300ms) + kBlock, end)) << "silent once it is over";
    const std::vector<int> peaks = envelope(out, earliest, latest + framesOf(300ms));
    EXPECT_LE(largestFallAndRise(peaks).second, kLevel / 200) << "falls all the way";
}

// A looped one-second tone of whole periods plays on as one unbroken tone,
// each pass the file itself; a sound too short to loop ends instead.
TEST_F(MusicShape, ALoopPlaysOnWithoutAGapOrAStepAtTheSeam)
{
    const VoiceId blip = play(tone("blip.wav", framesOf(10ms), true, true), {.loop = true});
    const auto limit = std::chrono::steady_clock::now() + kPollLimit;
    while (engine().playing(blip) && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(engine().playing(blip)) << "a sound of 10 ms does not loop";

    const Samples file = sineWave(kRate, kTone, kLevel, true, true);
    writeWav(pathOf("loop.wav"), file);
    const std::int64_t asked = now();
    const VoiceId loop = play(QFile::encodeName(pathOf("loop.wav")).toStdString(), {.loop = true});
    ASSERT_NO_FATAL_FAILURE(waitFrames(framesOf(5200ms)));
    const std::optional<VoiceProgress> progress = engine().progress(loop);
    ASSERT_TRUE(progress);
    EXPECT_TRUE(progress->looping);
    EXPECT_TRUE(engine().playing(loop));
    EXPECT_GE(progress->position, 0);
    EXPECT_LT(progress->position, kRate) << "within the file while it loops";
    const Samples out = recordedOutput();

    // The tone starts at phase 0: its first frame is silent.
    const std::int64_t start = firstSoundFrom(out, asked) - 1;
    ASSERT_GE(start, 0);
    ASSERT_TRUE(matchesFile(out, start, file, 0, kRate));
    const std::int64_t end = start + 5 * kRate;
    std::int64_t silentPairs = 0;
    for (std::int64_t i = start + 1; i < end && i < frameCount(out); ++i)
        silentPairs += silentBetween(out, i - 1, i + 1) ? 1 : 0;
    EXPECT_EQ(silentPairs, 0) << "no gap";
    EXPECT_LE(largestStep(out, start, end, 0), largestStep(file, 0, kRate, 0)) << "no step at a seam";
    for (int pass = 1; pass < 5; ++pass)
        EXPECT_TRUE(matchesFile(out, start + pass * kRate, file, 0, kRate)) << "pass " << pass << " is the file again";
}

}  // namespace
}  // namespace qinghe::test
