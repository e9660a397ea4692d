// The media player control over the engine: the sound heard through it.

#include "media/player/media_player.h"

#include "media/engine/sound_engine.h"
#include "media_test_support.h"
#include "text/gbk.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace qinghe::test {
namespace {

// A stretch of output long enough to judge: several of the device's blocks.
constexpr int kStretch = 512;

Text gbkPath(const QString& path)
{
    return fromQString(path);
}

using PlayerSound = DiskOutputTest;

// A sound cut or stopped fades out within this many frames (10 ms), plus the block that takes the call.
constexpr int kFadeOut = kRate / 100 + 128;

TEST_F(PlayerSound, NamesWithSpacesAndChineseCharactersOpen)
{
    const QString name = QString::fromUtf8("音效 一号.wav");
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf(name), squareWave(kRate / 10, 1000)));
    MediaPlayer player;
    EXPECT_TRUE(player.open(gbkPath(pathOf(name))));
    EXPECT_TRUE(player.play());
}

TEST_F(PlayerSound, PlaysTheFileFromItsStartAndStaysOpenAtItsEnd)
{
    const Samples file = patternWave(kRate / 4);
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("p.wav"), file));
    MediaPlayer player;
    ASSERT_TRUE(player.open(gbkPath(pathOf("p.wav"))));
    const std::uint64_t before = mediaMixedFrames();
    ASSERT_TRUE(player.play(-1));
    const std::uint64_t after = mediaMixedFrames();
    ASSERT_NO_FATAL_FAILURE(waitFrames(frameCount(file) + 4 * kStretch));
    EXPECT_TRUE(player.setVolume(50, 50)) << "the device stays open at the end of its file";
    const Samples out = recordedOutput();

    const std::int64_t start = firstSoundFrom(out, 0);
    ASSERT_GE(start, 0) << "nothing was heard";
    EXPECT_GE(start, static_cast<std::int64_t>(before));
    EXPECT_LE(start, static_cast<std::int64_t>(after)) << "playback starts with the next block";
    // Its own last milliseconds fade out, in case it ends mid-wave.
    EXPECT_TRUE(matchesFile(out, start, file, 0, frameCount(file) - kFadeOut));
    EXPECT_TRUE(silentBetween(out, start + frameCount(file), frameCount(out))) << "plays once";
}

TEST_F(PlayerSound, OpeningASecondFileCutsTheFirstOffAtOnce)
{
    constexpr int kFirstAmplitude = 25000;  // never a sample of the pattern
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("first.wav"), squareWave(3 * kRate, kFirstAmplitude)));
    const Samples second = patternWave(kRate / 4);
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("second.wav"), second));
    MediaPlayer player;
    ASSERT_TRUE(player.open(gbkPath(pathOf("first.wav"))));
    ASSERT_TRUE(player.play());
    EXPECT_TRUE(player.setVolume(100, 100));
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    ASSERT_TRUE(player.open(gbkPath(pathOf("second.wav"))));
    const auto cut = static_cast<std::int64_t>(mediaMixedFrames());
    ASSERT_TRUE(player.play());
    EXPECT_TRUE(player.setVolume(100, 100));
    ASSERT_NO_FATAL_FAILURE(waitFrames(frameCount(second) + 2 * kStretch));
    const Samples out = recordedOutput();

    EXPECT_GT(framesAt(out, 0, cut, kFirstAmplitude, kFirstAmplitude), 0) << "the first played";
    EXPECT_EQ(framesAt(out, cut + kFadeOut, frameCount(out), kFirstAmplitude, kFirstAmplitude), 0)
        << "the first fades out at once";
    EXPECT_GE(firstSoundFrom(out, cut + kFadeOut), 0) << "the second plays";
}

TEST_F(PlayerSound, VolumeIsAppliedExactlyOnEachChannelAndAtOnce)
{
    constexpr int kAmplitude = 30000;
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("loud.wav"), squareWave(5 * kRate, kAmplitude)));
    MediaPlayer player;
    ASSERT_TRUE(player.open(gbkPath(pathOf("loud.wav"))));
    ASSERT_TRUE(player.play());

    struct Step {
        int left, right;  // percent
        int expectedLeft, expectedRight;
        std::int64_t from = 0, to = 0;
    };
    std::vector<Step> steps = {
        {37, 37, 11100, 11100}, {100, 0, 30000, 0}, {0, 100, 0, 30000},
        {20, 70, 6000, 21000},  {100, 100, 30000, 30000}, {50, 50, 15000, 15000},
    };
    for (Step& step : steps) {
        ASSERT_TRUE(player.setVolume(step.left, step.right));
        step.from = static_cast<std::int64_t>(mediaMixedFrames());
        ASSERT_NO_FATAL_FAILURE(waitFrames(6 * kStretch));
        step.to = static_cast<std::int64_t>(mediaMixedFrames());
    }
    const Samples out = recordedOutput();
    for (const Step& step : steps) {
        const std::int64_t frames = step.to - step.from;
        EXPECT_EQ(framesAt(out, step.from, step.to, step.expectedLeft, step.expectedRight), frames)
            << "volume " << step.left << "/" << step.right
            << ": every block mixed after the change plays at it";
    }
}

TEST_F(PlayerSound, StopSilencesAndPlayAfterItStartsFromTheBeginning)
{
    const Samples file = patternWave(kRate);
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("p.wav"), file));
    MediaPlayer player;
    ASSERT_TRUE(player.open(gbkPath(pathOf("p.wav"))));
    ASSERT_TRUE(player.play());
    ASSERT_NO_FATAL_FAILURE(waitFrames(8 * kStretch));
    ASSERT_TRUE(player.stop());
    const auto stopped = static_cast<std::int64_t>(mediaMixedFrames());
    ASSERT_NO_FATAL_FAILURE(waitFrames(8 * kStretch));
    const auto replayed = static_cast<std::int64_t>(mediaMixedFrames());
    ASSERT_TRUE(player.play(-1));
    ASSERT_NO_FATAL_FAILURE(waitFrames(8 * kStretch));
    EXPECT_TRUE(player.stop()) << "stop after stop";
    const Samples out = recordedOutput();

    EXPECT_GT(firstSoundFrom(out, 0), -1);
    EXPECT_TRUE(silentBetween(out, stopped + kFadeOut, replayed));
    const std::int64_t again = firstSoundFrom(out, stopped + kFadeOut);
    ASSERT_GE(again, replayed);
    EXPECT_TRUE(matchesFile(out, again, file, 0, 4 * kStretch));
}

TEST_F(PlayerSound, AMissingFileFailsOpenAndNothingPlays)
{
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("p.wav"), squareWave(kRate, 20000)));
    MediaPlayer player;
    ASSERT_TRUE(player.open(gbkPath(pathOf("p.wav"))));
    ASSERT_TRUE(player.play());
    ASSERT_NO_FATAL_FAILURE(waitFrames(2 * kStretch));
    EXPECT_FALSE(player.open("data\\nosuch.mp3"));
    const auto closed = static_cast<std::int64_t>(mediaMixedFrames());
    EXPECT_FALSE(player.play());
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const Samples out = recordedOutput();
    EXPECT_TRUE(silentBetween(out, closed + kFadeOut, frameCount(out)))
        << "the sound before is closed, and nothing new plays";
}

}  // namespace
}  // namespace qinghe::test
