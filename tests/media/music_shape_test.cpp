// The show's music: beds lowered together, sounds that fade in and out,
// and loops that play on without a seam. Heard on the disk driver's output.

#include "media/engine/sound_engine.h"

#include "media_test_support.h"

#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
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

}  // namespace
}  // namespace qinghe::test
