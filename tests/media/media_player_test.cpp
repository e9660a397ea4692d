// The media player component: the commands it really sends, and the sound
// the board hears through it.

#include "media/media_player.h"

#include "media/media_control.h"
#include "media_test_support.h"
#include "text/gbk.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace qinghe::test {
namespace {

// A stretch of output long enough to judge: several of the device's blocks.
constexpr int kStretch = 512;

// Records every command while it lives.
class CommandLog {
public:
    CommandLog()
    {
        setMediaCommandObserver([this](const SentMediaCommand& sent) { sent_.push_back(sent); });
    }
    ~CommandLog() { setMediaCommandObserver({}); }
    const std::vector<SentMediaCommand>& sent() const { return sent_; }
    std::vector<Text> strings() const
    {
        std::vector<Text> out;
        for (const SentMediaCommand& s : sent_)
            out.push_back(s.isOpen ? "open " + s.open.deviceType + " " + s.open.elementName
                                   : s.command);
        return out;
    }
    void clear() { sent_.clear(); }

private:
    std::vector<SentMediaCommand> sent_;
};

Text gbkPath(const QString& path)
{
    return fromQString(path);
}

using PlayerCommands = DiskOutputTest;

TEST_F(PlayerCommands, AliasIsAFreshGuidInLowercaseHexUsedInEveryCommand)
{
    MediaPlayer first;
    MediaPlayer second;
    EXPECT_EQ(first.alias().size(), 32u);
    EXPECT_EQ(first.alias().find_first_not_of("0123456789abcdef"), Text::npos);
    EXPECT_NE(first.alias(), second.alias());

    CommandLog log;
    {
        MediaPlayer player;
        const Text& a = player.alias();
        player.open("x.mp3");
        player.play();
        player.play(1500);
        player.stop();
        EXPECT_EQ(log.sent()[1].open.alias, a);
        log.clear();
    }
    ASSERT_EQ(log.sent().size(), 1u);
    EXPECT_EQ(log.sent()[0].command.substr(0, 6), "close ");  // destroying closes the device
}

TEST_F(PlayerCommands, OpenClosesFirstAndChoosesTheDeviceTypeFromTheExtension)
{
    struct Row {
        Text fileName, extension, deviceType;
        bool hasVideo;
    };
    const std::vector<Row> rows = {
        {"data\\SONG.MP3", "mp3", "MPEGvideo", false},
        {"a.wma", "wma", "MPEGvideo2", true},
        {"b.midi", "mid", "Sequencer", false},
        {"c.mpeg", "mpe", "MPEGvideo", true},
        {"abcdef", "abc", "MPEGvideo", true},
        {"data\\noext", "dat", "MPEGvideo", true},
        {"d.avi", "avi", "avivideo", true},
        {"e.Wav", "wav", "waveaudio", false},
        {"f.cda", "cda", "cdaudio", false},
        {"g.ra", "ra", "MPEGvideo", true},
        {"h.rmi", "rmi", "Sequencer", true},
        {"i.asx", "asx", "MPEGvideo2", true},
        {"j.ogg", "ogg", "MPEGvideo", true},
        {"k.", "", "MPEGvideo", true},
        // A double-byte character whose second byte is "A": only real letters are lowered.
        {"l.\x81" "AB", "\x81" "Ab", "MPEGvideo", true},
    };
    MediaPlayer player;
    CommandLog log;
    for (const Row& row : rows) {
        log.clear();
        EXPECT_FALSE(player.open(row.fileName)) << "no such file";
        EXPECT_EQ(player.fileName(), row.fileName);
        EXPECT_EQ(player.extension(), row.extension) << row.fileName;
        EXPECT_EQ(player.hasVideo(), row.hasVideo) << row.fileName;
        ASSERT_EQ(log.strings(), (std::vector<Text>{"close " + player.alias(),
                                                    "open " + row.deviceType + " " + row.fileName}))
            << row.fileName;
        EXPECT_EQ(log.sent()[1].open.alias, player.alias());
    }
}

TEST_F(PlayerCommands, VolumeIsPercentTimesTenAndOutOfRangeValuesAreNotSent)
{
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("v.wav"), squareWave(kRate, 1000)));
    MediaPlayer player;
    ASSERT_TRUE(player.open(gbkPath(pathOf("v.wav"))));
    const Text a = player.alias();
    CommandLog log;

    EXPECT_TRUE(player.setVolume(0, 0));
    EXPECT_TRUE(player.setVolume(100, 100));
    EXPECT_TRUE(player.setVolume(37, 37));
    EXPECT_EQ(log.strings(),
              (std::vector<Text>{"setaudio " + a + " left volume to 0",
                                 "setaudio " + a + " right volume to 0",
                                 "setaudio " + a + " left volume to 1000",
                                 "setaudio " + a + " right volume to 1000",
                                 "setaudio " + a + " left volume to 370",
                                 "setaudio " + a + " right volume to 370"}));

    log.clear();
    EXPECT_FALSE(player.setVolume(101, 101));
    EXPECT_FALSE(player.setVolume(-1, INT_MAX));
    EXPECT_TRUE(log.sent().empty());

    EXPECT_FALSE(player.setVolume(std::nullopt, 50)) << "the left channel decides the result";
    EXPECT_TRUE(player.setVolume(50, std::nullopt));
    EXPECT_EQ(log.strings(), (std::vector<Text>{"setaudio " + a + " right volume to 500",
                                                "setaudio " + a + " left volume to 500"}));
}

TEST_F(PlayerCommands, StopWithoutAnOpenDeviceFailsAndSendsNoSeek)
{
    MediaPlayer player;
    CommandLog log;
    EXPECT_FALSE(player.stop());
    EXPECT_EQ(log.strings(), std::vector<Text>{"stop " + player.alias()});
    EXPECT_FALSE(player.play());
    EXPECT_FALSE(player.setVolume(50, 50));
}

TEST_F(PlayerCommands, StopSeeksToTheStartAfterAStopThatSucceeded)
{
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("s.wav"), squareWave(kRate, 1000)));
    MediaPlayer player;
    ASSERT_TRUE(player.open(gbkPath(pathOf("s.wav"))));
    CommandLog log;
    EXPECT_TRUE(player.stop());
    EXPECT_EQ(log.strings(), (std::vector<Text>{"stop " + player.alias(),
                                                "seek " + player.alias() + " to start"}));
}

TEST_F(PlayerCommands, NamesWithSpacesAndChineseCharactersOpen)
{
    const QString name = QString::fromUtf8("音效 一号.wav");
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf(name), squareWave(kRate / 10, 1000)));
    MediaPlayer player;
    EXPECT_TRUE(player.open(gbkPath(pathOf(name))));
    EXPECT_TRUE(player.play());
}

using PlayerSound = DiskOutputTest;

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
    EXPECT_TRUE(matchesFile(out, start, file, 0, frameCount(file)));
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
    EXPECT_EQ(framesAt(out, cut, frameCount(out), kFirstAmplitude, kFirstAmplitude), 0);
    const std::int64_t start = firstSoundFrom(out, cut);
    EXPECT_TRUE(matchesFile(out, start, second, 0, frameCount(second)));
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
    EXPECT_TRUE(silentBetween(out, stopped, replayed));
    const std::int64_t again = firstSoundFrom(out, stopped);
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
    EXPECT_FALSE(player.setVolume(100, 100));
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const Samples out = recordedOutput();
    EXPECT_TRUE(silentBetween(out, closed, frameCount(out)))
        << "the sound before is closed, and nothing new plays";
}

}  // namespace
}  // namespace qinghe::test
