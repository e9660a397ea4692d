#include "media_test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qinghe::test {

namespace {

constexpr int kChannels = 2;
// Half a period of the square waves, in frames: a 441 Hz tone.
constexpr int kSquareHalfPeriod = 50;
// Longer than any wait of a test on a busy machine; only a hang reaches it.
constexpr auto kWaitLimit = std::chrono::seconds(30);
constexpr int kChildLimitMs = 60000;
// Set in the environment of a child run.
constexpr const char* kChildMark = "QINGHE_MEDIA_TEST_CHILD";

void putLittle(QByteArray& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

QByteArray wavHeader(std::uint32_t dataBytes)
{
    QByteArray h;
    h.append("RIFF");
    putLittle(h, 36 + dataBytes, 4);
    h.append("WAVEfmt ");
    putLittle(h, 16, 4);
    putLittle(h, 1, 2);  // integer PCM
    putLittle(h, kChannels, 2);
    putLittle(h, kRate, 4);
    putLittle(h, kRate * kChannels * 2, 4);
    putLittle(h, kChannels * 2, 2);
    putLittle(h, 16, 2);
    h.append("data");
    putLittle(h, dataBytes, 4);
    return h;
}

// Every block counted since the output last opened, as handed to the device.
struct HeardBlocks {
    std::mutex lock;
    Samples samples;
    MixObserver testsOwn;
};

HeardBlocks& heardBlocks()
{
    static HeardBlocks heard;
    return heard;
}

void noteBlock(const std::int16_t* samples, int frames, std::uint64_t firstFrame)
{
    HeardBlocks& heard = heardBlocks();
    {
        const std::lock_guard<std::mutex> hold(heard.lock);
        if (firstFrame == 0)
            heard.samples.clear();  // the output opened again, and the file with it
        heard.samples.insert(heard.samples.end(), samples,
                             samples + static_cast<std::ptrdiff_t>(frames) * kChannels);
    }
    // Changed only while no block is being handed over (observeMix).
    if (heard.testsOwn)
        heard.testsOwn(samples, frames, firstFrame);
}

int magnitude(std::int16_t s)
{
    return s < 0 ? -s : s;
}

}  // namespace

Samples squareWave(int frames, int amplitude)
{
    Samples s(static_cast<std::size_t>(frames) * kChannels);
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>((i / kSquareHalfPeriod) % 2 ? -amplitude : amplitude);
        s[2 * i] = v;
        s[2 * i + 1] = v;
    }
    return s;
}

Samples patternWave(int frames)
{
    Samples s(static_cast<std::size_t>(frames) * kChannels);
    for (int i = 0; i < frames; ++i) {
        s[2 * i] = static_cast<std::int16_t>(1000 + (i * 37) % 20000);
        s[2 * i + 1] = static_cast<std::int16_t>(-1000 - (i * 53) % 20000);
    }
    return s;
}

Samples sineWave(int frames, double hertz, int amplitude, bool left, bool right)
{
    Samples s(static_cast<std::size_t>(frames) * kChannels);
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hertz * i / kRate)));
        s[2 * i] = left ? v : 0;
        s[2 * i + 1] = right ? v : 0;
    }
    return s;
}

void writeWav(const QString& path, const Samples& samples)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    f.write(wavHeader(bytes));
    f.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

void writeLongSquareWav(const QString& path, int seconds, int amplitude)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    // One second is a whole number of square periods, so seconds join seamlessly.
    const Samples second = squareWave(kRate, amplitude);
    f.write(wavHeader(static_cast<std::uint32_t>(second.size() * 2 * seconds)));
    for (int i = 0; i < seconds; ++i)
        f.write(reinterpret_cast<const char*>(second.data()),
                static_cast<qint64>(second.size() * 2));
}

std::int64_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::int64_t size = 0;
    std::int64_t resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

int frameCount(const Samples& samples)
{
    return static_cast<int>(samples.size() / kChannels);
}

std::int64_t firstSoundFrom(const Samples& out, std::int64_t from)
{
    for (std::int64_t i = from; i < frameCount(out); ++i) {
        if (out[2 * i] != 0 || out[2 * i + 1] != 0)
            return i;
    }
    return -1;
}

bool silentBetween(const Samples& out, std::int64_t from, std::int64_t to)
{
    const std::int64_t found = firstSoundFrom(out, from);
    return found == -1 || found >= to;
}

bool matchesFile(const Samples& out, std::int64_t outFrame, const Samples& file,
                 std::int64_t fileFrame, std::int64_t frames)
{
    if (outFrame < 0 || outFrame + frames > frameCount(out) || fileFrame + frames > frameCount(file))
        return false;
    return std::memcmp(out.data() + 2 * outFrame, file.data() + 2 * fileFrame,
                       static_cast<std::size_t>(frames) * kChannels * 2)
           == 0;
}

std::int64_t framesAt(const Samples& out, std::int64_t from, std::int64_t to, int left, int right)
{
    std::int64_t count = 0;
    for (std::int64_t i = from; i < to && i < frameCount(out); ++i) {
        if (magnitude(out[2 * i]) == left && magnitude(out[2 * i + 1]) == right)
            ++count;
    }
    return count;
}

int peakBetween(const Samples& out, std::int64_t from, std::int64_t to)
{
    int peak = 0;
    for (std::int64_t i = 2 * from; i < 2 * to && i < static_cast<std::int64_t>(out.size()); ++i)
        peak = std::max(peak, magnitude(out[i]));
    return peak;
}

int largestStep(const Samples& out, std::int64_t from, std::int64_t to, int channel)
{
    int step = 0;
    for (std::int64_t i = std::max<std::int64_t>(from, 1); i < to && i < frameCount(out); ++i)
        step = std::max(step, std::abs(out[2 * i + channel] - out[2 * (i - 1) + channel]));
    return step;
}

ChildRun runChildCases(const QString& program, const QString& filter,
                       const QStringList& environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kChildMark, "1");
    for (const QString& entry : environment) {
        const qsizetype equals = entry.indexOf('=');
        env.insert(entry.left(equals), entry.mid(equals + 1));
    }
    std::vector<QByteArray> texts;
    for (const QString& entry : env.toStringList())
        texts.push_back(entry.toLocal8Bit());
    std::vector<char*> variables;
    for (QByteArray& text : texts)
        variables.push_back(text.data());
    variables.push_back(nullptr);
    QByteArray path = program.toLocal8Bit();
    QByteArray filterOption = ("--gtest_filter=" + filter).toLocal8Bit();
    char* arguments[] = {path.data(), filterOption.data(), nullptr};

    // posix_spawn, not QProcess: QProcess runs the child in this process's
    // memory until it starts the program, through calls ThreadSanitizer
    // watches, which leaves the sanitizer's picture of this process wrong.
    ChildRun run;
    QTemporaryFile output;
    if (!output.open())
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, QFile::encodeName(output.fileName()).constData(),
                                     O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, path.constData(), &actions, nullptr, arguments, variables.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kChildLimitMs);
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.output = QString::fromLocal8Bit(output.readAll());
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    // A filter that matched nothing would pass without testing anything.
    if (!run.output.contains("[  PASSED  ] 1 test") && run.exitCode == 0)
        run.exitCode = -1;
    return run;
}

bool isChildRun()
{
    return qEnvironmentVariableIsSet(kChildMark);
}

QString ownProgram()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

void observeMix(MixObserver observer)
{
    // Swapped with the observer out of the audio thread's hands.
    setMixObserver({});
    heardBlocks().testsOwn = std::move(observer);
    setMixObserver(noteBlock);
}

void DiskOutputTest::SetUp()
{
    ASSERT_TRUE(dir_.isValid());
    {
        const std::lock_guard<std::mutex> hold(heardBlocks().lock);
        heardBlocks().samples.clear();
    }
    observeMix({});
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", QFile::encodeName(pathOf("output.raw")).constData(), 1);
}

void DiskOutputTest::TearDown()
{
    closeMediaOutput();
    setMixObserver({});
}

void DiskOutputTest::waitFrames(std::int64_t frames)
{
    const std::uint64_t target = mediaMixedFrames() + static_cast<std::uint64_t>(frames);
    const auto limit = std::chrono::steady_clock::now() + kWaitLimit;
    while (mediaMixedFrames() < target) {
        ASSERT_LT(std::chrono::steady_clock::now(), limit) << "the audio device stopped taking blocks";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

Samples DiskOutputTest::recordedOutput()
{
    closeMediaOutput();  // the driver's file is complete once the device is closed
    QFile f(pathOf("output.raw"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    Samples all(static_cast<std::size_t>(bytes.size()) / 2);
    std::memcpy(all.data(), bytes.constData(), all.size() * 2);
    Samples heard;
    {
        const std::lock_guard<std::mutex> hold(heardBlocks().lock);
        heard = heardBlocks().samples;
    }
    // The driver writes silence while the device starts, before the first
    // block is counted, and a close that meets a block already begun writes
    // one more silent block after the last. The counted blocks lie where the
    // file holds them as they were handed over, silence on either side; from
    // there, frame i of the output is the i-th frame counted by
    // mediaMixedFrames() (every counted block is noted by the observer).
    const std::int64_t written = frameCount(all);
    const std::int64_t mixed = frameCount(heard);
    std::int64_t lead = -1;
    for (std::int64_t start = written - mixed; start >= 0 && lead < 0; --start) {
        if (silentBetween(all, 0, start) && matchesFile(all, start, heard, 0, mixed)
            && silentBetween(all, start + mixed, written))
            lead = start;
    }
    EXPECT_GE(lead, 0) << "the counted blocks are in the device's file, silence around them";
    lead = std::max<std::int64_t>(lead, 0);
    return Samples(all.begin() + 2 * lead, all.begin() + 2 * std::min(written, lead + mixed));
}

}  // namespace qinghe::test
