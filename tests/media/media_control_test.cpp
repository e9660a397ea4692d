// The media-control layer: commands and their answers, devices by alias,
// where files are found, long files and a machine without sound.

#include "media/media_control.h"

#include "media/media_path.h"
#include "media_test_support.h"
#include "text/gbk.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace qinghe::test {
namespace {

// A stretch of output long enough to judge: several of the device's blocks.
constexpr int kStretch = 512;

Text gbkPath(const QString& path)
{
    return fromQString(path);
}

// Makes the current directory another one while it lives.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const QString& path) : previous_(QDir::currentPath())
    {
        QDir::setCurrent(path);
    }
    ~CurrentDirectory() { QDir::setCurrent(previous_); }

private:
    QString previous_;
};

using MediaCommands = DiskOutputTest;

TEST_F(MediaCommands, CommandsAnswerTheErrorOfTheirFault)
{
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("a.wav"), squareWave(kRate, 1000)));
    ASSERT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("a.wav")), "dev"}), kMediaOk);
    struct Row {
        Text command;
        int result;
    };
    const std::vector<Row> rows = {
        {"", kMediaMissingCommandString},
        {"   ", kMediaMissingCommandString},
        {"jump dev", kMediaUnrecognizedCommand},
        {"play", kMediaMissingDeviceName},
        {"play nosuch", kMediaInvalidDeviceName},
        {"stop nosuch", kMediaInvalidDeviceName},
        {"setaudio nosuch left volume to 5", kMediaInvalidDeviceName},
        {"play dev wait", kMediaUnrecognizedKeyword},
        {"play dev from", kMediaBadInteger},
        {"play dev from ten", kMediaBadInteger},
        {"play dev from -5", kMediaOutOfRange},
        {"play dev from 99999999", kMediaOutOfRange},
        {"play dev from 9223372036854775807", kMediaOutOfRange},
        {"play dev from 9223372036854775808", kMediaBadInteger},
        {"seek dev", kMediaMissingParameter},
        {"seek dev to middle", kMediaBadInteger},
        {"setaudio dev left volume to", kMediaBadInteger},
        {"setaudio dev left volume to 1001", kMediaOutOfRange},
        {"setaudio dev left volume to -1", kMediaOutOfRange},
        {"setaudio dev left loudness to 5", kMediaUnrecognizedKeyword},
        {"window dev handle 12345", kMediaOk},
        {"window dev handle", kMediaBadInteger},
        {"SetAudio DEV Right Volume To 1000", kMediaOk},
        {"setaudio dev  left   volume to 0", kMediaOk},
        {"seek dev to 500", kMediaOk},
        {"seek dev to end", kMediaOk},
        {"stop dev", kMediaOk},
        {"close dev", kMediaOk},
        {"close dev", kMediaInvalidDeviceName},
    };
    for (const Row& row : rows)
        EXPECT_EQ(sendMediaCommand(row.command), row.result) << '"' << row.command << '"';
}

TEST_F(MediaCommands, OpenFailsForMissingUnplayableAndUnnamedFiles)
{
    QFile junk(pathOf("junk.mp3"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("this is not a sound");
    junk.close();
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("a.wav"), squareWave(kRate, 1000)));

    EXPECT_EQ(openMediaDevice({"MPEGvideo", gbkPath(pathOf("none.mp3")), "a"}), kMediaFileNotFound);
    EXPECT_EQ(openMediaDevice({"MPEGvideo", "", "a"}), kMediaFileNotFound);
    EXPECT_EQ(openMediaDevice({"MPEGvideo", gbkPath(pathOf("junk.mp3")), "a"}), kMediaInvalidFile);
    EXPECT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("a.wav")), ""}), kMediaMissingDeviceName);
    EXPECT_EQ(sendMediaCommand("play a"), kMediaInvalidDeviceName) << "a failed open leaves no device";
}

TEST_F(MediaCommands, SeveralAliasesStayOpenAndTheLatestPlayTakesTheOutput)
{
    const Samples first = patternWave(2 * kRate);
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("first.wav"), first));
    constexpr int kSecondAmplitude = 25000;  // never a sample of the pattern
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("second.wav"), squareWave(2 * kRate, kSecondAmplitude)));
    ASSERT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("first.wav")), "one"}), kMediaOk);
    ASSERT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("second.wav")), "two"}), kMediaOk);
    EXPECT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("second.wav")), "ONE"}),
              kMediaDuplicateAlias);

    ASSERT_EQ(sendMediaCommand("play one"), kMediaOk);
    ASSERT_NO_FATAL_FAILURE(waitFrames(6 * kStretch));
    ASSERT_EQ(sendMediaCommand("play two"), kMediaOk);
    const auto taken = static_cast<std::int64_t>(mediaMixedFrames());
    ASSERT_NO_FATAL_FAILURE(waitFrames(6 * kStretch));
    ASSERT_EQ(sendMediaCommand("close two"), kMediaOk);
    const auto resumed = static_cast<std::int64_t>(mediaMixedFrames());
    ASSERT_EQ(sendMediaCommand("play one"), kMediaOk) << "one is still open";
    ASSERT_NO_FATAL_FAILURE(waitFrames(6 * kStretch));
    const Samples out = recordedOutput();

    const std::int64_t start = firstSoundFrom(out, 0);
    const std::int64_t heard = taken - start;  // frames of the first before it lost the output
    ASSERT_GT(heard, 0);
    EXPECT_TRUE(matchesFile(out, start, first, 0, heard));
    EXPECT_EQ(framesAt(out, taken, resumed, kSecondAmplitude, kSecondAmplitude) > 0, true);
    EXPECT_EQ(peakBetween(out, taken, resumed), kSecondAmplitude) << "only the second plays";
    // A wave file resumes at the whole second where it stood.
    const std::int64_t again = firstSoundFrom(out, resumed);
    EXPECT_TRUE(matchesFile(out, again, first, heard - heard % kRate, 4 * kStretch))
        << "the first carries on where it stood";
}

TEST_F(MediaCommands, StopKeepsThePositionAndSeekMovesIt)
{
    const Samples file = patternWave(3 * kRate);
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("p.wav"), file));
    ASSERT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("p.wav")), "p"}), kMediaOk);
    std::vector<std::int64_t> marks;
    const auto step = [&](const Text& command) {
        ASSERT_EQ(sendMediaCommand(command), kMediaOk) << command;
        marks.push_back(static_cast<std::int64_t>(mediaMixedFrames()));
        ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    };
    ASSERT_NO_FATAL_FAILURE(step("seek p to 2000"));
    ASSERT_NO_FATAL_FAILURE(step("play p"));
    ASSERT_NO_FATAL_FAILURE(step("stop p"));
    ASSERT_NO_FATAL_FAILURE(step("play p"));
    ASSERT_NO_FATAL_FAILURE(step("play p from 1500"));
    ASSERT_NO_FATAL_FAILURE(step("seek p to end"));
    ASSERT_NO_FATAL_FAILURE(step("play p"));
    const Samples out = recordedOutput();

    const auto startsAt = [&](std::int64_t mark, std::int64_t fileFrame) {
        const std::int64_t found = firstSoundFrom(out, mark);
        return found >= mark && found <= mark + kStretch
               && matchesFile(out, found, file, fileFrame, 2 * kStretch);
    };
    EXPECT_TRUE(silentBetween(out, 0, marks[1])) << "seek does not play";
    EXPECT_TRUE(startsAt(marks[1], 2 * kRate)) << "play starts where seek put the device";
    EXPECT_TRUE(silentBetween(out, marks[2], marks[3]));
    // A wave file resumes at the whole second where it stood.
    EXPECT_TRUE(startsAt(marks[3], 2 * kRate)) << "stop kept the position";
    EXPECT_TRUE(startsAt(marks[4], kRate)) << "play from 1500 ms";
    EXPECT_TRUE(silentBetween(out, marks[5], frameCount(out))) << "nothing is left at the end";
}

TEST_F(MediaCommands, BackslashPathsResolveAgainstTheCurrentDirectory)
{
    ASSERT_TRUE(QDir(dir_.path()).mkpath("data/sub"));
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("data/sub/x.wav"), squareWave(kRate, 12000)));
    CurrentDirectory here(dir_.path());
    ASSERT_EQ(openMediaDevice({"waveaudio", "data\\sub\\x.wav", "x"}), kMediaOk);
    ASSERT_EQ(sendMediaCommand("play x"), kMediaOk);
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const Samples out = recordedOutput();
    EXPECT_EQ(peakBetween(out, 0, frameCount(out)), 12000);
}

// The file the program-folder case plays, put beside a copy of this program.
constexpr const char* kBesideProgram = "data/qinghe_media_test.wav";
constexpr int kBesideAmplitude = 9000;
constexpr int kHereAmplitude = 17000;

// Runs in a copy of this program (see the case below), so that its program
// folder is a temporary one and nothing is written beside the real program.
TEST_F(MediaCommands, InChildRelativeNamesFallBackToTheProgramFolder)
{
    if (!isChildRun())
        GTEST_SKIP() << "runs inside RelativeNamesFallBackToTheProgramFolder";
    ASSERT_TRUE(QFileInfo::exists(programFolder() + "/" + kBesideProgram))
        << "not run from a copy of the program";
    ASSERT_TRUE(QDir(dir_.path()).mkpath("elsewhere/data"));
    ASSERT_TRUE(QDir(dir_.path()).mkpath("both/data"));
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf(QString("both/") + kBesideProgram), squareWave(kRate, kHereAmplitude)));
    const Text element = "data\\qinghe_media_test.wav";

    std::int64_t elsewhereEnd = 0;
    {
        CurrentDirectory elsewhere(pathOf("elsewhere"));
        EXPECT_EQ(openMediaDevice({"waveaudio", element, "f"}), kMediaOk);
        EXPECT_EQ(sendMediaCommand("play f"), kMediaOk);
        ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
        EXPECT_EQ(sendMediaCommand("close f"), kMediaOk);
        elsewhereEnd = static_cast<std::int64_t>(mediaMixedFrames());
    }
    {
        CurrentDirectory both(pathOf("both"));
        EXPECT_EQ(openMediaDevice({"waveaudio", element, "f"}), kMediaOk);
        EXPECT_EQ(sendMediaCommand("play f"), kMediaOk);
        ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    }
    const Samples out = recordedOutput();

    EXPECT_EQ(peakBetween(out, 0, elsewhereEnd), kBesideAmplitude) << "found beside the program";
    EXPECT_EQ(peakBetween(out, elsewhereEnd, frameCount(out)), kHereAmplitude)
        << "the current directory is tried first";
}

TEST(MediaPath, RelativeNamesFallBackToTheProgramFolder)
{
    // A copy, not a link: the program folder is where the program file
    // really lies.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString copy = folder.filePath("media_tests");
    ASSERT_TRUE(QFile::copy(ownProgram(), copy));
    ASSERT_TRUE(QDir(folder.path()).mkpath("data"));
    ASSERT_NO_FATAL_FAILURE(writeWav(folder.filePath(kBesideProgram), squareWave(kRate, kBesideAmplitude)));

    const ChildRun run =
        runChildCases(copy, "MediaCommands.InChildRelativeNamesFallBackToTheProgramFolder");
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
}

TEST(MediaPath, ProgramFolderIsTheFolderOfTheRunningProgram)
{
    const QString withoutApplication = programFolder();
    const QString own = QFileInfo(QFileInfo("/proc/self/exe").canonicalFilePath()).absolutePath();
    EXPECT_EQ(withoutApplication, own);
    int argc = 1;
    char name[] = "media_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    EXPECT_EQ(programFolder(), own);
}

// A long song is streamed: opening it decodes nothing and memory does not
// grow with its length.
class LongSongs : public DiskOutputTest {
protected:
    void expectStreamed(const QString& path, std::int64_t decodedBytes)
    {
        // The sound library and the audio device come with the first sound
        // of the process: a short one first, so only the song is measured.
        ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("short.wav"), squareWave(kRate / 10, 1000)));
        ASSERT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("short.wav")), "short"}), kMediaOk);
        ASSERT_EQ(sendMediaCommand("play short"), kMediaOk);
        ASSERT_NO_FATAL_FAILURE(waitFrames(kStretch));
        const std::int64_t before = residentBytes();
        ASSERT_EQ(openMediaDevice({"MPEGvideo", gbkPath(path), "song"}), kMediaOk);
        ASSERT_EQ(sendMediaCommand("play song"), kMediaOk);
        ASSERT_NO_FATAL_FAILURE(waitFrames(20 * kStretch));
        const std::int64_t grown = residentBytes() - before;
        EXPECT_LT(grown, decodedBytes / 20)
            << "memory grew by " << grown << " bytes for " << decodedBytes << " decoded";
        const Samples out = recordedOutput();
        EXPECT_GT(peakBetween(out, 0, frameCount(out)), 8000) << "the song is heard";
    }
};

constexpr int kTenMinutes = 600;
constexpr std::int64_t kBytesPerSecond = kRate * 4;

TEST_F(LongSongs, TenMinuteWaveIsStreamed)
{
    ASSERT_NO_FATAL_FAILURE(writeLongSquareWav(pathOf("long.wav"), kTenMinutes, 20000));
    ASSERT_NO_FATAL_FAILURE(expectStreamed(pathOf("long.wav"), kTenMinutes * kBytesPerSecond));
}

TEST_F(LongSongs, TenMinuteMp3IsStreamed)
{
    QFile fixture(QStringLiteral(QINGHE_MEDIA_FIXTURES "/tone.mp3"));
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    const QByteArray second = fixture.readAll();
    QFile song(pathOf("long.mp3"));
    ASSERT_TRUE(song.open(QIODevice::WriteOnly));
    for (int i = 0; i < kTenMinutes; ++i)
        song.write(second);
    song.close();
    ASSERT_NO_FATAL_FAILURE(expectStreamed(pathOf("long.mp3"), kTenMinutes * kBytesPerSecond));
}

TEST_F(MediaCommands, WithoutAnAudioDeviceEveryCommandFailsQuietly)
{
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("a.wav"), squareWave(kRate, 1000)));
    setenv("SDL_AUDIODRIVER", "qinghe-no-such-driver", 1);
    EXPECT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("a.wav")), "a"}), kMediaHardwareError);
    EXPECT_EQ(sendMediaCommand("play a"), kMediaInvalidDeviceName);
    EXPECT_EQ(sendMediaCommand("setaudio a left volume to 500"), kMediaInvalidDeviceName);
    EXPECT_EQ(sendMediaCommand("stop a"), kMediaInvalidDeviceName);

    setenv("SDL_AUDIODRIVER", "disk", 1);
    EXPECT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("a.wav")), "a"}), kMediaOk)
        << "a later open tries the audio device again";
}

}  // namespace
}  // namespace qinghe::test
