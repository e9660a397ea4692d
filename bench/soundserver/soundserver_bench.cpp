// The virtual microphone's cost, run by hand.
//
//   soundserver_bench [--clicks N] [--idle SECONDS] [--period FRAMES]
//       Starts a PulseAudio server of its own (null sinks for the host's
//       devices, as the tests do), turns the virtual microphone on with the
//       headphones as the listening device, then:
//       - N clicks (default 50) of an effect through the board, each timed
//         from entering the click handler (SoundBoard::playEffect) to the
//         arrival of its first sample in a recording from the server: once
//         at "青禾虚拟麦克风" (what a chat program records) and once at the
//         listening device's monitor, both recorded at the same time;
//       - the CPU this process and the server use over SECONDS (default 30)
//         of idle with the virtual microphone on, after the last click (the
//         output stays open, as it does in the program); then the same with
//         the virtual microphone off and the board playing straight to the
//         headphones, for comparison.
//
// --period asks the output for a period of its own (128, 256 or 512 frames)
// instead of the shortest it keeps up with.
//
// Where the clock stops: a recording reads blocks of 128 frames (2.9 ms);
// a sample's arrival is its block's arrival less the frames after it in the
// block. The figures include the server's own latency in handing recorded
// blocks to a client, which a chat program pays as well.

#include "board/sound_board.h"
#include "media/media_control.h"
#include "media/media_player.h"
#include "soundserver/sound_routing.h"
#include "support/board_fixtures.h"
#include "support/private_sound_server.h"
#include "text/gbk.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qinghe;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultClicks = 50;
constexpr int kDefaultIdleSeconds = 30;
constexpr int kClickAmplitude = 16000;
// A sample above this is the click; the server's rounding stays far below.
constexpr int kOnsetThreshold = 1000;
// Each click sounds this long, then the board is quiet for a random gap, so
// clicks fall at random moments of every period on the way.
constexpr auto kClickLength = 250ms;
constexpr int kLeastGapMs = 100;
constexpr int kMostGapMs = 200;
constexpr auto kRequestLimit = 20s;
constexpr auto kSettle = 1s;
constexpr double kPercent = 100.0;

struct Options {
    int clicks = kDefaultClicks;
    int idleSeconds = kDefaultIdleSeconds;
    int period = 0;  // the output's own choice
};

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--clicks") == 0)
            options.clicks = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--idle") == 0)
            options.idleSeconds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--period") == 0)
            options.period = std::max(0, std::atoi(argv[i + 1]));
    }
    return options;
}

// utime + stime of a process, in clock ticks.
long long cpuTicks(long long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The command name may hold spaces; fields count from after its ')'.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stoll(field);
        if (index == 15) {
            stime = std::stoll(field);
            break;
        }
    }
    return utime + stime;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

void printFigures(const char* where, const std::vector<double>& ms, int clicks)
{
    std::printf("  %-34s median %6.1f ms   p95 %6.1f ms   min %6.1f   max %6.1f   (%zu of %d clicks heard)\n", where,
                percentile(ms, 0.5), percentile(ms, 0.95), percentile(ms, 0.0), percentile(ms, 1.0), ms.size(),
                clicks);
}

// Clicks the effect while recording the sources; for each source, the time
// from each click to its first sample there, for the clicks it heard.
bool clickLatencies(const test_support::PrivateSoundServer& server, SoundBoard& board, const QString& clickFile,
                    const std::vector<std::string>& sources, int clicks, std::vector<std::vector<double>>& heard)
{
    std::vector<std::unique_ptr<test_support::SourceRecorder>> recorders;
    for (const std::string& source : sources) {
        recorders.push_back(std::make_unique<test_support::SourceRecorder>(server.address(), source));
        if (!recorders.back()->waitUntilFlowing(kRequestLimit))
            return false;
    }
    // One click first opens the output; then the streams settle.
    board.playEffect(fromQString(clickFile));
    std::this_thread::sleep_for(kClickLength);
    board.stop();
    std::this_thread::sleep_for(kSettle);

    std::vector<Clock::time_point> clickedAt;
    std::vector<std::vector<std::int64_t>> clickFrames(recorders.size());
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> gapMs(kLeastGapMs, kMostGapMs);
    for (int i = 0; i < clicks; ++i) {
        for (std::size_t r = 0; r < recorders.size(); ++r)
            clickFrames[r].push_back(recorders[r]->framesSoFar());
        clickedAt.push_back(Clock::now());
        board.playEffect(fromQString(clickFile));
        std::this_thread::sleep_for(kClickLength);
        board.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs(random)));
    }
    heard.assign(recorders.size(), {});
    for (std::size_t r = 0; r < recorders.size(); ++r) {
        const test_support::ServerSamples samples = recorders[r]->stop();
        for (int i = 0; i < clicks; ++i) {
            const std::int64_t onset = test_support::onsetFrame(samples, clickFrames[r][i], kOnsetThreshold);
            if (onset >= 0)
                heard[r].push_back(
                    std::chrono::duration<double, std::milli>(recorders[r]->arrivalOf(onset) - clickedAt[i]).count());
        }
    }
    return true;
}

// The CPU this process and the server use over a stretch of idle.
void measureIdle(const char* what, long long serverPid, int idleSeconds)
{
    const long long ticksPerSecond = sysconf(_SC_CLK_TCK);
    const long long programBefore = cpuTicks(getpid());
    const long long serverBefore = cpuTicks(serverPid);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto percent = [&](long long ticks) {
        return kPercent * static_cast<double>(ticks) / static_cast<double>(ticksPerSecond) / seconds;
    };
    std::printf("  %-24s the program %5.2f %%   the sound server %5.2f %%\n", what,
                percent(cpuTicks(getpid()) - programBefore), percent(cpuTicks(serverPid) - serverBefore));
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Options options = parse(argc, argv);
    QTemporaryDir dir;
    test_support::PrivateSoundServer server;
    if (!server.isRunning()) {
        std::fprintf(stderr, "the private sound server did not start:\n%s\n", qPrintable(server.log()));
        return 1;
    }
    server.useForThisProcess();
    const QString clickFile = dir.filePath("click.wav");
    if (!test_support::writeSquareWav(clickFile, 1, kClickAmplitude))
        return 1;

    setMediaOutputPeriod(options.period);
    SoundRouting routing([](const OutputTarget& target) { setMediaOutputDevice(target); });
    routing.apply({test_support::kFakeHeadphones, true, false, {}});
    if (!routing.waitUntilIdle(kRequestLimit) || !routing.status().microphoneOn) {
        std::fprintf(stderr, "the virtual microphone could not be set up\n");
        return 1;
    }
    MediaPlayer player;
    CustomSoundTables tables;
    SoundBoard board(player, tables, dir.filePath("my.ini"), BoardSurface{[] { return 100; }, {}, {}, {}});

    const std::string headphonesMonitor = std::string(test_support::kFakeHeadphones) + ".monitor";
    std::vector<std::vector<double>> heard;
    if (!clickLatencies(server, board, clickFile, {kMicrophoneName, headphonesMonitor}, options.clicks, heard))
        return 1;
    std::printf("click to first sample recorded from the server (%s, period %d frames):\n",
                mediaAudioDriver().c_str(), mediaOutputFormat().periodFrames);
    printFigures("at 青禾虚拟麦克风", heard[0], options.clicks);
    printFigures("at the listening device (monitor)", heard[1], options.clicks);

    std::printf("idle, over %d s each (percent of one core):\n", options.idleSeconds);
    measureIdle("virtual microphone on", server.processId(), options.idleSeconds);
    // The same with the board playing straight to the headphones, as it does
    // with the virtual microphone off: what the microphone itself adds.
    routing.apply({test_support::kFakeHeadphones, false, false, {}});
    routing.waitUntilIdle(kRequestLimit);
    board.playEffect(fromQString(clickFile));
    std::this_thread::sleep_for(kClickLength);
    board.stop();
    measureIdle("virtual microphone off", server.processId(), options.idleSeconds);

    std::vector<std::vector<double>> direct;
    if (!clickLatencies(server, board, clickFile, {headphonesMonitor}, options.clicks, direct))
        return 1;
    std::printf("the same click with the virtual microphone off, the board playing straight to the headphones:\n");
    printFigures("at the listening device (monitor)", direct[0], options.clicks);

    routing.shutDown(SoundRouting::kExitLimit);
    return 0;
}
