#pragma once

// Sound files made by the tests, and the sound the media layer really put
// out: the disk audio driver writes every mixed block to a file, so the
// tests measure loudness, silence and cut-off on the samples themselves.

#include "media/engine/sound_engine.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace qinghe::test {

// Interleaved signed 16-bit stereo, left first.
using Samples = std::vector<std::int16_t>;

inline constexpr int kRate = 44100;

// A square wave of the given amplitude: every sample is +a or -a.
Samples squareWave(int frames, int amplitude);
// Every frame different and none silent, so a stretch of output can be told
// apart from any other stretch of the file.
Samples patternWave(int frames);
// A sine from phase 0 on the chosen channels, silence on the others.
Samples sineWave(int frames, double hertz, int amplitude, bool left, bool right);
void writeWav(const QString& path, const Samples& samples);
// A square wave of the given length, written in pieces.
void writeLongSquareWav(const QString& path, int seconds, int amplitude);

// Resident memory of this process.
std::int64_t residentBytes();

int frameCount(const Samples& samples);
// First frame at or after from with a sample other than zero, or -1.
std::int64_t firstSoundFrom(const Samples& out, std::int64_t from);
// Frames [from, to) are all silent.
bool silentBetween(const Samples& out, std::int64_t from, std::int64_t to);
// Frames of out from outFrame on equal frames of file from fileFrame on.
bool matchesFile(const Samples& out, std::int64_t outFrame, const Samples& file,
                 std::int64_t fileFrame, std::int64_t frames);
// Frames in [from, to) whose left and right samples have these magnitudes.
std::int64_t framesAt(const Samples& out, std::int64_t from, std::int64_t to, int left, int right);
// Largest sample magnitude in frames [from, to).
int peakBetween(const Samples& out, std::int64_t from, std::int64_t to);
// Largest step between neighbouring samples of one channel (0 left, 1
// right) in frames [from, to).
int largestStep(const Samples& out, std::int64_t from, std::int64_t to, int channel);

// A test program run again in a child process, for cases that need a
// process of their own: another program folder, another library path.
struct ChildRun {
    int exitCode = -1;  // -1 when it did not finish
    QString output;     // both output streams
};
// Runs the cases of program that match filter, with extra environment
// variables (NAME=value) and the mark that isChildRun() sees.
ChildRun runChildCases(const QString& program, const QString& filter,
                       const QStringList& environment = {});
// True in a child started by runChildCases; its cases skip themselves otherwise.
bool isChildRun();
// The file of the running test program.
QString ownProgram();

// Sets the observer of the mixed blocks for a test; the output a test reads
// back is still located by every counted block, which the fixture keeps
// behind any observer set here. An empty one sets none of the test's own.
void observeMix(MixObserver observer);

// Each test gets the disk audio driver writing into a file of its own.
class DiskOutputTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString pathOf(const QString& name) const { return dir_.filePath(name); }
    // Waits until this many more frames have been handed to the device.
    void waitFrames(std::int64_t frames);
    // Closes the output and reads every sample it put out.
    Samples recordedOutput();

    QTemporaryDir dir_;
};

}  // namespace qinghe::test
