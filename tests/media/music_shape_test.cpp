// The show's music on the disk driver's output. Tones of 441 Hz: a whole period every 100
// frames, so each block of 400 frames holds the tone's largest step, which tells its level.
#include "media/engine/sound_engine.h"
#include "media_test_support.h"
#include <QFile>
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <thread>

namespace qinghe::test {
namespace {
using namespace std::chrono_literals;
constexpr int kBlock = 400;
const Samples kTone = sineWave(kRate, 441, 16000, true, false);
const int kStep = largestStep(kTone, 0, kRate, 0);
std::int64_t framesOf(std::chrono::milliseconds span) { return span.count() * kRate / 1000; }
std::int64_t now() { return static_cast<std::int64_t>(mediaMixedFrames()); }
SoundEngine& engine() { return SoundEngine::instance(); }
int levelAt(const Samples& out, std::int64_t at) { return largestStep(out, at, at + kBlock, 0); }
// The most the level falls, and rises, from one block to the next in [from, to).
std::pair<int, int> fallAndRise(const Samples& out, std::int64_t from, std::int64_t to)
{
    std::pair<int, int> most;
    for (std::int64_t at = from + kBlock, change = 0; at + kBlock <= to; at += kBlock) {
        change = levelAt(out, at) - levelAt(out, at - kBlock);
        most = {std::max<int>(most.first, -change), std::max<int>(most.second, change)};
    }
    return most;
}

struct MusicShape : DiskOutputTest {
    VoiceId play(const QString& name, const Samples& samples, const VoiceShape& shape)
    {
        writeWav(pathOf(name), samples);
        return engine().play(QFile::encodeName(pathOf(name)).toStdString(), {}, 0ms, Audience::Everyone, shape).voice;
    }
};

// A bed on the left rises over its 2 s fade-in, goes down 12 dB alone (not the
// sound on the right), and a stop of everything falls to silence over 300 ms.
TEST_F(MusicShape, ABedFadesInIsLoweredAloneAndFadesOutOnAStop)
{
    engine().setMostPlaying(2);
    const std::int64_t asked = now();
    const VoiceId bed = play("bed.wav", sineWave(4 * kRate, 441, 16000, true, false), {.fadeIn = 2000ms, .bed = true});
    const VoiceId other = play("other.wav", sineWave(4 * kRate, 441, 16000, false, true), {});
    ASSERT_NO_FATAL_FAILURE(waitFrames(framesOf(2200ms)));
    const std::int64_t lowered = now();
    engine().setBedLevel(-12, 50ms);
    ASSERT_NO_FATAL_FAILURE(waitFrames(framesOf(300ms)));
    EXPECT_TRUE(engine().progress(bed)->ducked && !engine().progress(other)->ducked);
    const std::int64_t stopped = now();
    engine().stopAll(300ms);
    ASSERT_NO_FATAL_FAILURE(waitFrames(framesOf(500ms)));
    const std::int64_t end = now();
    const Samples out = recordedOutput();
    engine().setBedLevel(0, 0ms);
    engine().setMostPlaying(1);
    const std::int64_t start = firstSoundFrom(out, asked);
    EXPECT_LT(levelAt(out, start), kStep / 100);
    EXPECT_NEAR(levelAt(out, start + framesOf(1000ms)), kStep / 2, kStep / 20) << "half way at half the time";
    EXPECT_NEAR(levelAt(out, lowered - kBlock), kStep, kStep / 100);
    EXPECT_LE(fallAndRise(out, start, lowered).first, kStep / 100) << "never falls back on the way up";
    const int low = levelAt(out, stopped - kBlock);
    EXPECT_NEAR(20 * std::log10(1.0 * low / kStep), -12, 1);
    EXPECT_EQ(largestStep(out, lowered, stopped, 1), kStep) << "the other sound stays as it was";
    EXPECT_NEAR(levelAt(out, stopped + framesOf(150ms)), low / 2, low / 6);
    EXPECT_LE(fallAndRise(out, stopped, stopped + framesOf(300ms)).second, low / 40) << "falls all the way";
    EXPECT_TRUE(silentBetween(out, stopped + framesOf(300ms) + kBlock, end));
}

// Five passes of a looped 1 s tone are the file five times over; a sound too short to loop ends.
TEST_F(MusicShape, ALoopPlaysOnWithoutAGapOrAStepAtTheSeam)
{
    const VoiceId blip = play("blip.wav", sineWave(framesOf(10ms), 441, 16000, true, true), {.loop = true});
    for (int wait = 0; wait < 2000 && engine().playing(blip); ++wait)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(engine().playing(blip));
    const std::int64_t asked = now();
    const VoiceId loop = play("loop.wav", kTone, {.loop = true});
    ASSERT_NO_FATAL_FAILURE(waitFrames(framesOf(5200ms)));
    EXPECT_TRUE(engine().progress(loop)->looping);
    EXPECT_LT(engine().progress(loop)->position, kRate) << "within the file while it loops";
    const Samples out = recordedOutput();
    const std::int64_t start = firstSoundFrom(out, asked) - 1;  // a sine's first frame is silent
    for (int pass = 0; pass < 5; ++pass)
        EXPECT_TRUE(matchesFile(out, start + pass * kRate, kTone, 0, kRate)) << "pass " << pass;
    EXPECT_LE(largestStep(out, start, start + 5 * kRate, 0), kStep);
}

}  // namespace
}  // namespace qinghe::test
