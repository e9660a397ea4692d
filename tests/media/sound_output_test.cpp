// The sound output under the media-control layer: the period it asks of the
// device and reports, an audio thread that never waits for the window
// thread, late blocks, and the sound library loaded only when first needed.

#include "media/media_control.h"

#include "media_test_support.h"
#include "text/gbk.h"

#include <QFile>
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
constexpr const char* kSoundLibraryName = "libSDL2_mixer-2.0.so.0";

Text gbkPath(const QString& path)
{
    return fromQString(path);
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
        ASSERT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("a.wav")), "a"}), kMediaOk);
        ASSERT_EQ(sendMediaCommand("play a"), kMediaOk);
        waitFrames(kSettle);
        watch.resetSizes();
        waitFrames(kSettle);
        reported = mediaOutputFormat().periodFrames;
        EXPECT_EQ(watch.smallest(), reported) << "every block is of the reported size";
        EXPECT_EQ(watch.largest(), reported);
        EXPECT_EQ(mediaAudioDriver(), "disk");
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
    EXPECT_EQ(mediaAudioDriver(), "") << "closed";
}

// The volume and the frame count are handed over without a lock: a volume
// change returns while the audio thread is held inside a block, and is in
// force from the first frame counted after it.
TEST_F(SoundOutput, VolumeChangesNeverWaitForTheAudioThread)
{
    constexpr int kAmplitude = 30000;
    writeWav(pathOf("loud.wav"), squareWave(3 * kRate, kAmplitude));
    BlockWatch watch;
    ASSERT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("loud.wav")), "a"}), kMediaOk);
    ASSERT_EQ(sendMediaCommand("play a"), kMediaOk);
    waitFrames(kSettle);

    ASSERT_TRUE(watch.hold());
    EXPECT_EQ(sendMediaCommand("setaudio a left volume to 370"), kMediaOk);
    EXPECT_EQ(sendMediaCommand("setaudio a right volume to 0"), kMediaOk);
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
    ASSERT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("a.wav")), "a"}), kMediaOk);
    ASSERT_EQ(sendMediaCommand("play a"), kMediaOk);
    waitFrames(kSettle);
    // Many periods long, so no jitter of a busy machine comes near it.
    constexpr auto kStall = std::chrono::milliseconds(60);
    for (int i = 0; i < 4; ++i) {
        const std::uint64_t before = mediaLateBlocks();
        watch.stall(kStall);
        waitFrames(kSettle);
        EXPECT_GT(mediaLateBlocks(), before) << "stall " << i;
    }
    ASSERT_EQ(sendMediaCommand("close a"), kMediaOk);
    const std::uint64_t counted = mediaMixedFrames();
    ASSERT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("a.wav")), "a"}), kMediaOk);
    EXPECT_GE(mediaMixedFrames(), counted) << "the output was not opened again";
    waitFrames(kSettle);
    EXPECT_EQ(mediaOutputFormat().periodFrames, kShortPeriod);
}

bool soundLibraryMapped()
{
    std::ifstream maps("/proc/self/maps");
    const std::string all((std::istreambuf_iterator<char>(maps)), {});
    return all.find(kSoundLibraryName) != std::string::npos;
}

std::size_t threadsOfThisProcess()
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                                  std::filesystem::directory_iterator()));
}

// Runs in a child whose library path finds an empty file under the sound
// library's name before the real library (see the case below).
TEST_F(SoundOutput, InChildAnUnloadableLibraryIsLikeNoAudioDevice)
{
    if (!isChildRun())
        GTEST_SKIP() << "runs inside SoundLibrary.UnloadableIsLikeNoAudioDevice";
    const QString standIn = qEnvironmentVariable("LD_LIBRARY_PATH") + "/" + kSoundLibraryName;
    ASSERT_TRUE(QFile::exists(standIn));
    writeWav(pathOf("a.wav"), squareWave(kRate, 1000));

    EXPECT_FALSE(soundLibraryMapped()) << "nothing loads the sound library before a sound opens";
    EXPECT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("a.wav")), "a"}), kMediaHardwareError);
    EXPECT_EQ(sendMediaCommand("play a"), kMediaInvalidDeviceName);
    EXPECT_EQ(sendMediaCommand("setaudio a left volume to 500"), kMediaInvalidDeviceName);
    EXPECT_EQ(sendMediaCommand("stop a"), kMediaInvalidDeviceName);
    EXPECT_EQ(mediaAudioDriver(), "");
    closeMediaOutput();

    // With the stand-in gone the real library is found: the next open tries again.
    ASSERT_TRUE(QFile::remove(standIn));
    EXPECT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("a.wav")), "a"}), kMediaOk);
    EXPECT_EQ(sendMediaCommand("play a"), kMediaOk);
    EXPECT_TRUE(soundLibraryMapped());
    waitFrames(kSettle);
    const Samples out = recordedOutput();
    EXPECT_EQ(peakBetween(out, 0, frameCount(out)), 1000) << "and plays";
}

TEST(SoundLibrary, UnloadableIsLikeNoAudioDevice)
{
    QTemporaryDir libraries;
    ASSERT_TRUE(libraries.isValid());
    QFile standIn(libraries.filePath(kSoundLibraryName));
    ASSERT_TRUE(standIn.open(QIODevice::WriteOnly));
    standIn.close();
    const ChildRun run = runChildCases(ownProgram(),
                                       "SoundOutput.InChildAnUnloadableLibraryIsLikeNoAudioDevice",
                                       {"LD_LIBRARY_PATH=" + libraries.path()});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
}

// Runs in a child of its own, where nothing has loaded the sound library yet.
TEST_F(SoundOutput, InChildPreparingLoadsTheLibraryAndOpensNoDevice)
{
    if (!isChildRun())
        GTEST_SKIP() << "runs inside SoundLibrary.PreparedBeforeTheFirstSound";
    writeWav(pathOf("a.wav"), squareWave(kRate, 1000));
    EXPECT_FALSE(soundLibraryMapped());
    // The first thread of a process may bring a sanitizer's own helper
    // thread, which stays: it is there before the count.
    std::thread([] {}).join();
    const std::size_t threadsBefore = threadsOfThisProcess();
    prepareMediaOutput();
    // Shutting down waits for the load it started: the library is in, and
    // no thread of the load is left.
    shutDownMediaOutput();
    EXPECT_TRUE(soundLibraryMapped());
    EXPECT_EQ(threadsOfThisProcess(), threadsBefore);
    EXPECT_EQ(mediaAudioDriver(), "") << "no audio device is opened";
    EXPECT_EQ(openMediaDevice({"waveaudio", gbkPath(pathOf("a.wav")), "a"}), kMediaOk);
    EXPECT_EQ(sendMediaCommand("play a"), kMediaOk);
    waitFrames(kSettle);
    const Samples out = recordedOutput();
    EXPECT_EQ(peakBetween(out, 0, frameCount(out)), 1000);
}

TEST(SoundLibrary, PreparedBeforeTheFirstSound)
{
    const ChildRun run = runChildCases(
        ownProgram(), "SoundOutput.InChildPreparingLoadsTheLibraryAndOpensNoDevice");
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
}

}  // namespace
}  // namespace qinghe::test
