// The engine's SDL output: the period it asks of the device and reports, an
// audio thread that never waits for the window thread, late blocks, and the
// sound module loaded only when first needed.

#include "media/engine/sound_engine.h"

#include "media_test_support.h"
#include "text/gbk.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <thread>

namespace qinghe::test {
namespace {

// What the output asks for unless told otherwise, and what it asked before.
constexpr int kShortPeriod = 128;
constexpr int kOldPeriod = 512;
// Frames waited for the device to settle before a measure: a few blocks of any period.
constexpr int kSettle = 4 * kOldPeriod;
// Longer than any block takes on a busy machine; only a hang reaches it.
constexpr auto kHoldLimit = std::chrono::seconds(5);
constexpr const char* kSoundModuleName = "qinghe_sound.so";

// Plays the file from its start at full volume.
VoiceId playFile(const QString& path)
{
    return SoundEngine::instance().play(QFile::encodeName(path).toStdString(), {}).voice;
}

// Notes the frames of every block the device takes, and can hold the audio
// thread inside a block until told to let go.
class BlockWatch {
public:
    BlockWatch()
    {
        observeMix([this](const std::int16_t*, int frames, std::uint64_t) {
            smallest_.store(std::min(smallest_.load(), frames));
            largest_.store(std::max(largest_.load(), frames));
            int expected = kHoldAsked;
            if (!state_.compare_exchange_strong(expected, kHolding))
                return;
            const auto limit = std::chrono::steady_clock::now() + kHoldLimit;
            while (state_.load() == kHolding) {
                if (std::chrono::steady_clock::now() > limit) {
                    state_.store(kGaveUp);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    ~BlockWatch() { observeMix({}); }

    void resetSizes()
    {
        smallest_.store(INT_MAX);
        largest_.store(0);
    }
    int smallest() const { return smallest_.load(); }
    int largest() const { return largest_.load(); }

    // Returns once the audio thread is held inside a block.
    bool hold()
    {
        state_.store(kHoldAsked);
        const auto limit = std::chrono::steady_clock::now() + kHoldLimit;
        while (state_.load() != kHolding) {
            if (std::chrono::steady_clock::now() > limit)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }
    bool stillHeld() const { return state_.load() == kHolding; }
    void letGo()
    {
        int expected = kHolding;
        state_.compare_exchange_strong(expected, kIdle);
    }
    // Holds the audio thread for a while, as a machine busy elsewhere would.
    void stall(std::chrono::milliseconds length)
    {
        if (hold()) {
            std::this_thread::sleep_for(length);
            letGo();
        }
    }

private:
    static constexpr int kIdle = 0, kHoldAsked = 1, kHolding = 2, kGaveUp = 3;
    std::atomic<int> state_{kIdle};
    std::atomic<int> smallest_{INT_MAX};
    std::atomic<int> largest_{0};
};

using SoundOutput = DiskOutputTest;

TEST_F(SoundOutput, AsksForShortBlocksAndSaysWhatTheDeviceGives)
{
    writeWav(pathOf("a.wav"), squareWave(2 * kRate, 1000));
    BlockWatch watch;
    const auto periodHeard = [&](int& reported) {
        ASSERT_NE(playFile(pathOf("a.wav")), kNoVoice);
        waitFrames(kSettle);
        watch.resetSizes();
        waitFrames(kSettle);
        reported = mediaOutputFacts().periodFrames;
        EXPECT_EQ(watch.smallest(), reported) << "every block is of the reported size";
        EXPECT_EQ(watch.largest(), reported);
        EXPECT_EQ(mediaOutputFacts().driver, "disk");
        closeMediaOutput();
    };
    int reported = 0;
    periodHeard(reported);
    EXPECT_EQ(reported, kShortPeriod) << "the disk driver takes the period asked";
    setMediaOutputPeriod(kOldPeriod);
    periodHeard(reported);
    EXPECT_EQ(reported, kOldPeriod);
    periodHeard(reported);
    EXPECT_EQ(reported, kShortPeriod) << "closing the output asks for the short period again";
    EXPECT_EQ(mediaOutputFacts().driver, "") << "closed";
}

// The volume and the frame count are handed over without a lock: a volume
// change returns while the audio thread is held inside a block, and is in
// force from the first frame counted after it.
TEST_F(SoundOutput, VolumeChangesNeverWaitForTheAudioThread)
{
    constexpr int kAmplitude = 30000;
    writeWav(pathOf("loud.wav"), squareWave(3 * kRate, kAmplitude));
    BlockWatch watch;
    const VoiceId voice = playFile(pathOf("loud.wav"));
    ASSERT_NE(voice, kNoVoice);
    waitFrames(kSettle);

    ASSERT_TRUE(watch.hold());
    EXPECT_TRUE(SoundEngine::instance().setGains(voice, {370, 0, 0}));
    const auto changed = static_cast<std::int64_t>(mediaMixedFrames());
    EXPECT_TRUE(watch.stillHeld()) << "the volume change waited for the audio thread";
    watch.letGo();
    waitFrames(kSettle);
    const auto end = static_cast<std::int64_t>(mediaMixedFrames());
    const Samples out = recordedOutput();

    EXPECT_EQ(framesAt(out, 0, changed, kAmplitude, kAmplitude), changed - firstSoundFrom(out, 0))
        << "every frame counted before the change plays at full volume";
    EXPECT_EQ(framesAt(out, changed, end, 11100, 0), end - changed)
        << "every frame counted after it at the new volumes";
}

// A block that comes late is counted. The disk driver paces itself with a
// sleep and cannot run dry, so it keeps its period and its output file:
// an open with nothing else open does not reopen it.
TEST_F(SoundOutput, LateBlocksAreCountedAndASelfPacedDriverKeepsItsPeriod)
{
    writeWav(pathOf("a.wav"), squareWave(2 * kRate, 1000));
    BlockWatch watch;
    const VoiceId voice = playFile(pathOf("a.wav"));
    ASSERT_NE(voice, kNoVoice);
    waitFrames(kSettle);
    // Many periods long, so no jitter of a busy machine comes near it.
    constexpr auto kStall = std::chrono::milliseconds(60);
    for (int i = 0; i < 4; ++i) {
        const std::uint64_t before = mediaOutputFacts().lateBlocks;
        watch.stall(kStall);
        waitFrames(kSettle);
        EXPECT_GT(mediaOutputFacts().lateBlocks, before) << "stall " << i;
    }
    SoundEngine::instance().stop(voice);
    waitFrames(kSettle);
    const std::uint64_t counted = mediaMixedFrames();
    ASSERT_NE(playFile(pathOf("a.wav")), kNoVoice);
    EXPECT_GE(mediaMixedFrames(), counted) << "the output was not opened again";
    waitFrames(kSettle);
    EXPECT_EQ(mediaOutputFacts().periodFrames, kShortPeriod);
}

bool soundModuleMapped()
{
    std::ifstream maps("/proc/self/maps");
    const std::string all((std::istreambuf_iterator<char>(maps)), {});
    return all.find(kSoundModuleName) != std::string::npos;
}

std::size_t threadsOfThisProcess()
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                                  std::filesystem::directory_iterator()));
}

// Runs in a copy of this program beside an empty file under the sound
// module's name (see the case below).
TEST_F(SoundOutput, InChildAnUnloadableModuleIsLikeNoAudioDevice)
{
    if (!isChildRun())
        GTEST_SKIP() << "runs inside SoundModule.UnloadableIsLikeNoAudioDevice";
    const QString standIn = QFileInfo(ownProgram()).absolutePath() + "/" + kSoundModuleName;
    ASSERT_EQ(QFileInfo(standIn).size(), 0);
    writeWav(pathOf("a.wav"), squareWave(kRate, 1000));

    EXPECT_FALSE(soundModuleMapped()) << "nothing loads the sound module before a sound plays";
    const VoiceStart failed = SoundEngine::instance().play(QFile::encodeName(pathOf("a.wav")).toStdString(), {});
    EXPECT_EQ(failed.voice, kNoVoice);
    EXPECT_TRUE(failed.noOutput);
    EXPECT_EQ(mediaOutputFacts().driver, "");
    closeMediaOutput();

    // With the real module in its place the next play tries again.
    ASSERT_TRUE(QFile::remove(standIn));
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("QINGHE_TEST_REAL_MODULE"), standIn));
    EXPECT_NE(playFile(pathOf("a.wav")), kNoVoice);
    EXPECT_TRUE(soundModuleMapped());
    waitFrames(kSettle);
    const Samples out = recordedOutput();
    EXPECT_EQ(peakBetween(out, 0, frameCount(out)), 1000) << "and plays";
}

TEST(SoundModule, UnloadableIsLikeNoAudioDevice)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString copy = folder.filePath("media_tests");
    ASSERT_TRUE(QFile::copy(ownProgram(), copy));
    QFile standIn(folder.filePath(kSoundModuleName));
    ASSERT_TRUE(standIn.open(QIODevice::WriteOnly));
    standIn.close();
    const QString real = QFileInfo(ownProgram()).absolutePath() + "/" + kSoundModuleName;
    const ChildRun run = runChildCases(copy, "SoundOutput.InChildAnUnloadableModuleIsLikeNoAudioDevice",
                                       {"QINGHE_TEST_REAL_MODULE=" + real});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
}

// Runs in a child of its own, where nothing has loaded the sound module yet.
TEST_F(SoundOutput, InChildPreparingLoadsTheModuleAndOpensNoDevice)
{
    if (!isChildRun())
        GTEST_SKIP() << "runs inside SoundModule.PreparedBeforeTheFirstSound";
    writeWav(pathOf("a.wav"), squareWave(kRate, 1000));
    EXPECT_FALSE(soundModuleMapped());
    // The first thread of a process may bring a sanitizer's own helper
    // thread, which stays: it is there before the count.
    std::thread([] {}).join();
    const std::size_t threadsBefore = threadsOfThisProcess();
    prepareMediaOutput();
    // Shutting down waits for the load it started: the module is in, and
    // no thread of the load is left.
    shutDownMediaOutput();
    EXPECT_TRUE(soundModuleMapped());
    EXPECT_EQ(threadsOfThisProcess(), threadsBefore);
    EXPECT_EQ(mediaOutputFacts().driver, "") << "no audio device is opened";
    EXPECT_NE(playFile(pathOf("a.wav")), kNoVoice);
    waitFrames(kSettle);
    const Samples out = recordedOutput();
    EXPECT_EQ(peakBetween(out, 0, frameCount(out)), 1000);
}

TEST(SoundModule, PreparedBeforeTheFirstSound)
{
    const ChildRun run = runChildCases(
        ownProgram(), "SoundOutput.InChildPreparingLoadsTheModuleAndOpensNoDevice");
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
}

}  // namespace
}  // namespace qinghe::test
