// The media player over the engine: where files are found, long files and
// a machine without sound.

#include "media/engine/sound_engine.h"
#include "media/player/media_player.h"

#include "media/player/media_path.h"
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

// Plays the file a name stands for from its start.
bool playName(MediaPlayer& player, const Text& name)
{
    return player.open(name) && player.play();
}

TEST_F(MediaCommands, BackslashPathsResolveAgainstTheCurrentDirectory)
{
    ASSERT_TRUE(QDir(dir_.path()).mkpath("data/sub"));
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("data/sub/x.wav"), squareWave(kRate, 12000)));
    CurrentDirectory here(dir_.path());
    MediaPlayer player;
    ASSERT_TRUE(playName(player, "data\\sub\\x.wav"));
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
    MediaPlayer player;
    {
        CurrentDirectory elsewhere(pathOf("elsewhere"));
        EXPECT_TRUE(playName(player, element));
        ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
        EXPECT_TRUE(player.stop());
        // The stop's fade has run out before the next sound.
        ASSERT_NO_FATAL_FAILURE(waitFrames(kStretch));
        elsewhereEnd = static_cast<std::int64_t>(mediaMixedFrames());
    }
    {
        CurrentDirectory both(pathOf("both"));
        EXPECT_TRUE(playName(player, element));
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
    // The sound module goes with it, as it lies beside the program.
    const QString module = QFileInfo(ownProgram()).absolutePath() + "/qinghe_sound.so";
    ASSERT_TRUE(QFile::copy(module, folder.filePath("qinghe_sound.so")));
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
        // The sound module and the audio device come with the first sound
        // of the process: a short one first, so only the song is measured.
        ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("short.wav"), squareWave(kRate / 10, 1000)));
        MediaPlayer player;
        ASSERT_TRUE(playName(player, gbkPath(pathOf("short.wav"))));
        ASSERT_NO_FATAL_FAILURE(waitFrames(kStretch));
        const std::int64_t before = residentBytes();
        ASSERT_TRUE(playName(player, gbkPath(path)));
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

TEST_F(MediaCommands, WithoutAnAudioDeviceAPlayFailsAndALaterOneTriesAgain)
{
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("a.wav"), squareWave(kRate, 1000)));
    const std::string path = QFile::encodeName(pathOf("a.wav")).toStdString();
    setenv("SDL_AUDIODRIVER", "qinghe-no-such-driver", 1);
    const VoiceStart failed = SoundEngine::instance().play(path, {});
    EXPECT_EQ(failed.voice, kNoVoice);
    EXPECT_TRUE(failed.noOutput);
    EXPECT_EQ(failed.problem, SoundFileProblem::None) << "the file is not to blame";

    setenv("SDL_AUDIODRIVER", "disk", 1);
    EXPECT_NE(SoundEngine::instance().play(path, {}).voice, kNoVoice) << "a later play tries the audio device again";
}

}  // namespace
}  // namespace qinghe::test
