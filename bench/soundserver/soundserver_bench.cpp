// The virtual microphone's cost, run by hand, on a private PulseAudio server
// and on a private PipeWire with WirePlumber and pipewire-pulse (null sinks
// for the host's devices, as the tests have), one after the other:
//
//   soundserver_bench [--server pulseaudio|pipewire|both] [--clicks N]
//                     [--after-silence N] [--idle SECONDS] [--tone SECONDS]
//                     [--spaced-clicks N]
//
// For each server, with the virtual microphone on and the headphones as the
// listening device:
//   - click to first sample: N clicks (default 50) of an effect through the
//     board, each timed from entering the click handler
//     (SoundBoard::playEffect) to its first sample in recordings from the
//     server, at "青禾虚拟麦克风" (what a chat program records) and at the
//     listening device's monitor; then N (default 3) more clicks, each after
//     10 s of silence, when the board's streams are corked;
//   - the floors, timed the same way: a minimal client of our own (one
//     stream, the board's buffer sizes, writing blocks of 64 frames without
//     pause) whose next block carries the click, straight into the
//     headphones (the direct floor), and straight into the mix (the mix
//     floor, heard at the virtual microphone); and the ratios;
//   - idle cost: the CPU of the server's processes and of this program over
//     SECONDS (default 20) after 10 s of silence, against the server with
//     the same modules and no stream of the board's;
//   - the microphone's loopback: a steady tone into the fake microphone for
//     SECONDS (default 20) recorded at the virtual microphone, gaps counted
//     from a second after it starts, once with the cores idle and once with
//     both kept busy (the private servers run without real-time priority);
//   - --spaced-clicks N: N clicks, each after the streams have corked: how
//     many were heard, and whether the server is still there.
//
// Where the clock stops: a recording reads blocks of 128 frames (2.9 ms); a
// sample's arrival is its block's arrival less the frames after it in the
// block. Every figure includes the server's own latency in handing recorded
// blocks to a client, which a chat program pays as well.

#include "bench/support/process_cpu.h"
#include "board/sound_board.h"
#include "media/engine/sound_engine.h"
#include "media/player/media_player.h"
#include "media/engine/server_streams.h"
#include "soundserver/sound_routing.h"
#include "support/board_fixtures.h"
#include "support/private_sound_server.h"
#include "text/gbk.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <pulse/simple.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qinghe;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test_support::PrivateSoundServer;
using test_support::SoundServerKind;
using bench::cpuTicks;

constexpr int kDefaultClicks = 50;
constexpr int kDefaultAfterSilence = 3;
constexpr int kDefaultIdleSeconds = 20;
constexpr int kDefaultToneSeconds = 20;
constexpr int kClickAmplitude = 16000;
constexpr int kToneAmplitude = 12000;
// A sample above this is the click; the server's rounding stays far below.
constexpr int kOnsetThreshold = 1000;
// Each click sounds this long, then the board is quiet for a random gap, so
// clicks fall at random moments of every period on the way.
constexpr auto kClickLength = 250ms;
constexpr int kLeastGapMs = 100;
constexpr int kMostGapMs = 200;
constexpr auto kRequestLimit = 20s;
constexpr auto kSettle = 1s;
// The silence before a click the streams have corked for.
constexpr auto kLongSilence = 10s;
constexpr double kPercent = 100.0;
// The floor client's buffer: the board's streams' own sizes.
constexpr std::uint32_t kFloorTargetFrames = 256;
constexpr int kFloorBlockFrames = 64;
constexpr int kBytesPerFrame = 4;
// A gap in the tone: this many frames in a row near silence (the tone is a
// square wave, which is never near silence).
constexpr int kGapFrames = 44;  // 1 ms
constexpr int kGapThreshold = kToneAmplitude / 4;
// The targets the figures are held against.
constexpr double kPulseAudioMedianRatio = 1.5;
constexpr double kPulseAudioP95Ms = 12.0;
constexpr double kPipeWireMedianRatio = 1.2;
constexpr double kIdleAllowancePercent = 1.0;

struct Options {
    std::vector<SoundServerKind> servers{SoundServerKind::PulseAudio, SoundServerKind::PipeWire};
    int clicks = kDefaultClicks;
    int afterSilence = kDefaultAfterSilence;
    int idleSeconds = kDefaultIdleSeconds;
    int toneSeconds = kDefaultToneSeconds;
    int spacedClicks = 0;
};

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--server" && value == "pulseaudio")
            options.servers = {SoundServerKind::PulseAudio};
        else if (name == "--server" && value == "pipewire")
            options.servers = {SoundServerKind::PipeWire};
        else if (name == "--clicks")
            options.clicks = std::max(1, std::atoi(value.c_str()));
        else if (name == "--after-silence")
            options.afterSilence = std::max(0, std::atoi(value.c_str()));
        else if (name == "--idle")
            options.idleSeconds = std::max(1, std::atoi(value.c_str()));
        else if (name == "--tone")
            options.toneSeconds = std::max(1, std::atoi(value.c_str()));
        else if (name == "--spaced-clicks")
            options.spacedClicks = std::max(0, std::atoi(value.c_str()));
    }
    return options;
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
    std::printf("  %-44s median %6.1f ms   p95 %6.1f ms   min %6.1f   max %6.1f   (%zu of %d heard)\n", where,
                percentile(ms, 0.5), percentile(ms, 0.95), percentile(ms, 0.0), percentile(ms, 1.0), ms.size(),
                clicks);
}

// Something that sounds a click when told: the board, or the floor client.
using Click = std::function<void()>;
using Quiet = std::function<void()>;

// Clicks while recording the sources; for each source, the time from each
// click to its first sample there, for the clicks it heard. gap() is the
// silence before each click.
bool clickLatencies(const PrivateSoundServer& server, const Click& click, const Quiet& quiet,
                    const std::vector<std::string>& sources, int clicks, const std::function<Clock::duration()>& gap,
                    std::vector<std::vector<double>>& heard)
{
    std::vector<std::unique_ptr<test_support::SourceRecorder>> recorders;
    for (const std::string& source : sources) {
        recorders.push_back(std::make_unique<test_support::SourceRecorder>(server.address(), source));
        if (!recorders.back()->waitUntilFlowing(kRequestLimit))
            return false;
    }
    std::this_thread::sleep_for(kSettle);
    std::vector<Clock::time_point> clickedAt;
    std::vector<std::vector<std::int64_t>> clickFrames(recorders.size());
    for (int i = 0; i < clicks; ++i) {
        std::this_thread::sleep_for(gap());
        for (std::size_t r = 0; r < recorders.size(); ++r)
            clickFrames[r].push_back(recorders[r]->framesSoFar());
        clickedAt.push_back(Clock::now());
        click();
        std::this_thread::sleep_for(kClickLength);
        quiet();
    }
    std::this_thread::sleep_for(kSettle / 4);
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

Clock::duration randomGap()
{
    static std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> gapMs(kLeastGapMs, kMostGapMs);
    return std::chrono::milliseconds(gapMs(random));
}

// A minimal client of our own: one stream into a sink at the board's buffer
// sizes, writing blocks without pause; the block after a click carries it.
class FloorClient {
public:
    FloorClient(const QString& address, const std::string& sink)
    {
        const pa_sample_spec format{PA_SAMPLE_S16LE, test_support::kServerRate, 2};
        pa_buffer_attr attributes;
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = kFloorTargetFrames * kBytesPerFrame;
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        attributes.minreq = kFloorBlockFrames * kBytesPerFrame;
        attributes.fragsize = static_cast<std::uint32_t>(-1);
        int error = 0;
        stream_ = pa_simple_new(address.toUtf8().constData(), "qinghe-bench-floor", PA_STREAM_PLAYBACK, sink.c_str(),
                                "floor", &format, nullptr, &attributes, &error);
        if (stream_)
            thread_ = std::thread([this] { run(); });
    }
    ~FloorClient()
    {
        stopping_.store(true);
        if (thread_.joinable())
            thread_.join();
        if (stream_)
            pa_simple_free(stream_);
    }
    FloorClient(const FloorClient&) = delete;
    FloorClient& operator=(const FloorClient&) = delete;

    bool started() const { return stream_ != nullptr; }
    void click() { sounding_.store(true); }
    void quiet() { sounding_.store(false); }

private:
    void run()
    {
        std::vector<std::int16_t> block(kFloorBlockFrames * 2);
        while (!stopping_.load()) {
            const std::int16_t value = sounding_.load() ? kClickAmplitude : 0;
            std::fill(block.begin(), block.end(), value);
            int error = 0;
            if (pa_simple_write(stream_, block.data(), block.size() * sizeof(std::int16_t), &error) < 0)
                return;
        }
    }

    pa_simple* stream_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> sounding_{false};
    std::thread thread_;
};

// The CPU the server's processes and this program use over a stretch of idle, in percent of one core.
struct IdleCost {
    double server = 0;
    double program = 0;
};

IdleCost measureIdle(const PrivateSoundServer& server, int seconds)
{
    const auto total = [&] {
        long long ticks = 0;
        for (qint64 pid : server.processIds())
            ticks += cpuTicks(pid);
        return ticks;
    };
    const long long ticksPerSecond = sysconf(_SC_CLK_TCK);
    const long long programBefore = cpuTicks(getpid());
    const long long serverBefore = total();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const auto percent = [&](long long ticks) {
        return kPercent * static_cast<double>(ticks) / static_cast<double>(ticksPerSecond) / elapsed;
    };
    return {percent(total() - serverBefore), percent(cpuTicks(getpid()) - programBefore)};
}

// Gaps in a steady tone recorded at the virtual microphone, from its first
// sample on: runs of kGapFrames or more near silence.
int toneGaps(const PrivateSoundServer& server, int seconds, bool busy)
{
    std::atomic<bool> spinning{busy};
    std::vector<std::thread> spinners;
    if (busy)
        for (unsigned core = 0; core < std::max(2u, std::thread::hardware_concurrency()); ++core)
            spinners.emplace_back([&] {
                while (spinning.load()) {
                }
            });
    test_support::TonePlayer voice(server.address(), test_support::kFakeVoice, kToneAmplitude);
    test_support::SourceRecorder chat(server.address(), kMicrophoneName);
    int gaps = -1;
    if (voice.started() && chat.waitUntilFlowing(kRequestLimit)) {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const test_support::ServerSamples samples = chat.stop();
        // From a second after the tone's first sample: the loopback settles its latency first.
        std::int64_t first = test_support::onsetFrame(samples, 0, kGapThreshold);
        if (first >= 0)
            first += test_support::kServerRate;
        gaps = 0;
        int quietRun = 0;
        // The last tenth of a second may hold the recording's own end.
        const std::int64_t last = test_support::frameCountOf(samples) - test_support::kServerRate / 10;
        for (std::int64_t i = std::max<std::int64_t>(first, 0); first >= 0 && i < last; ++i) {
            const bool quiet = std::abs(samples[2 * i]) < kGapThreshold && std::abs(samples[2 * i + 1]) < kGapThreshold;
            quietRun = quiet ? quietRun + 1 : 0;
            if (quietRun == kGapFrames)
                ++gaps;
        }
    }
    spinning.store(false);
    for (std::thread& spinner : spinners)
        spinner.join();
    return gaps;
}

bool benchOn(SoundServerKind kind, const Options& options, const QString& clickFile, const QString& iniFile)
{
    std::printf("\n== %s ==\n", test_support::nameOf(kind));
    PrivateSoundServer server(kind);
    if (!server.isRunning()) {
        std::fprintf(stderr, "the private sound server did not start:\n%s\n", qPrintable(server.log()));
        return false;
    }
    server.useForThisProcess();
    SoundRouting routing([](const OutputTarget& target) { setMediaOutputDevice(target); });
    routing.apply({test_support::kFakeHeadphones, true, false, {}});
    if (!routing.waitUntilIdle(kRequestLimit) || !routing.status().microphoneOn) {
        std::fprintf(stderr, "the virtual microphone could not be set up\n");
        return false;
    }
    MediaPlayer player;
    CustomSoundTables tables;
    SoundBoard board(tables, iniFile, BoardSurface{[] { return 100; }, {}, {}, {}, {}, {}, {}});
    const Click boardClick = [&] { board.playEffect(fromQString(clickFile)); };
    const Quiet boardQuiet = [&] { board.stop(); };
    const std::string headphones = std::string(test_support::kFakeHeadphones) + ".monitor";

    // The output opens on the first click; the figures start after it.
    boardClick();
    std::this_thread::sleep_for(kClickLength);
    boardQuiet();
    std::vector<std::vector<double>> program;
    if (!clickLatencies(server, boardClick, boardQuiet, {kMicrophoneName, headphones}, options.clicks, randomGap,
                        program))
        return false;
    std::printf("click to first sample (the board's streams, %s):\n", mediaOutputFacts().driver.c_str());
    printFigures("at 青禾虚拟麦克风", program[0], options.clicks);
    printFigures("at the listening device (monitor)", program[1], options.clicks);

    std::vector<std::vector<double>> afterSilence;
    if (options.afterSilence > 0) {
        if (!clickLatencies(server, boardClick, boardQuiet, {kMicrophoneName, headphones}, options.afterSilence,
                            [] { return kLongSilence; }, afterSilence))
            return false;
        std::printf("the first click after %lld s of silence (streams corked):\n",
                    static_cast<long long>(std::chrono::seconds(kLongSilence).count()));
        printFigures("at 青禾虚拟麦克风", afterSilence[0], options.afterSilence);
        printFigures("at the listening device (monitor)", afterSilence[1], options.afterSilence);
    }

    std::vector<std::vector<double>> direct;
    std::vector<std::vector<double>> intoMix;
    {
        FloorClient client(server.address(), test_support::kFakeHeadphones);
        if (!client.started() || !clickLatencies(server, [&] { client.click(); }, [&] { client.quiet(); }, {headphones},
                                                 options.clicks, randomGap, direct))
            return false;
    }
    {
        FloorClient client(server.address(), kMixSinkName);
        if (!client.started() || !clickLatencies(server, [&] { client.click(); }, [&] { client.quiet(); },
                                                 {kMicrophoneName}, options.clicks, randomGap, intoMix))
            return false;
    }
    std::printf("floors (a minimal client of our own, the same buffer sizes):\n");
    printFigures("straight into the headphones, at their monitor", direct[0], options.clicks);
    printFigures("straight into the mix, at 青禾虚拟麦克风", intoMix[0], options.clicks);
    const double floorMedian = percentile(direct[0], 0.5);
    const double medianRatio = percentile(program[0], 0.5) / floorMedian;
    const double target = kind == SoundServerKind::PulseAudio ? kPulseAudioMedianRatio : kPipeWireMedianRatio;
    std::printf("ratios to the direct floor's median (target: median at most %.1fx%s):\n", target,
                kind == SoundServerKind::PulseAudio ? ", p95 at most 12 ms" : "");
    std::printf("  %-44s %5.2fx   (p95 %.1f ms)\n", "at 青禾虚拟麦克风", medianRatio, percentile(program[0], 0.95));
    std::printf("  %-44s %5.2fx\n", "at the listening device", percentile(program[1], 0.5) / floorMedian);
    if (!afterSilence.empty())
        std::printf("  %-44s %5.2fx\n", "after silence, at 青禾虚拟麦克风", percentile(afterSilence[0], 0.5) / floorMedian);
    std::printf("  %-44s %5.2fx\n", "the mix floor", percentile(intoMix[0], 0.5) / floorMedian);
    const bool latencyMet = medianRatio <= target
                            && (kind != SoundServerKind::PulseAudio || percentile(program[0], 0.95) <= kPulseAudioP95Ms);
    std::printf("  latency target %s\n", latencyMet ? "met" : "NOT met");

    // Idle: the board quiet for 10 s, its streams corked.
    std::this_thread::sleep_for(kLongSilence);
    const IdleCost idle = measureIdle(server, options.idleSeconds);
    // The floor: the same modules, no stream of the board's.
    const MediaOutputDevice streams = mediaOutputDevice();
    setMediaOutputDevice(kNoOutput);
    std::this_thread::sleep_for(kSettle);
    const IdleCost floorIdle = measureIdle(server, options.idleSeconds);
    setMediaOutputDevice(streams);
    std::printf("idle after 10 s of silence, over %d s (percent of one core):\n", options.idleSeconds);
    std::printf("  %-44s server %5.2f %%   program %5.2f %%   together %5.2f %%\n", "the board, streams corked",
                idle.server, idle.program, idle.server + idle.program);
    std::printf("  %-44s server %5.2f %%\n", "floor: the same modules, no stream", floorIdle.server);
    std::printf("  idle target (floor + %.0f %%) %s\n", kIdleAllowancePercent,
                idle.server + idle.program <= floorIdle.server + kIdleAllowancePercent ? "met" : "NOT met");

    // The microphone's loopback with a steady tone.
    routing.apply({test_support::kFakeHeadphones, true, true, {}});
    routing.waitUntilIdle(kRequestLimit);
    const int idleGaps = toneGaps(server, options.toneSeconds, false);
    const int busyGaps = toneGaps(server, options.toneSeconds, true);
    std::printf("the microphone's loopback, a %d s tone at the virtual microphone (gaps of 1 ms or more):\n",
                options.toneSeconds);
    std::printf("  cores idle %d   both cores busy %d\n", idleGaps, busyGaps);

    if (options.spacedClicks > 0) {
        std::vector<std::vector<double>> spaced;
        const bool ran = clickLatencies(server, boardClick, boardQuiet, {kMicrophoneName}, options.spacedClicks,
                                        [] { return ServerStreams::kIdleBeforeCork + 1s; }, spaced);
        std::printf("clicks each after the streams corked: %zu of %d heard; the server %s\n",
                    ran ? spaced[0].size() : 0, options.spacedClicks,
                    server.isRunning() ? "still runs" : "is GONE");
    }
    routing.shutDown(SoundRouting::kExitLimit);
    closeMediaOutput();
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Options options = parse(argc, argv);
    QTemporaryDir dir;
    const QString clickFile = dir.filePath("click.wav");
    if (!test_support::writeSquareWav(clickFile, 1, kClickAmplitude))
        return 1;
    bool ok = true;
    for (SoundServerKind kind : options.servers)
        ok = benchOn(kind, options, clickFile, dir.filePath("my.ini")) && ok;
    shutDownMediaOutput();
    return ok ? 0 : 1;
}
