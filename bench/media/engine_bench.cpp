// The sound engine's resampling quality and its CPU per voice, run by hand:
//
//   engine_bench [aliases] [cpu] [hold] [--server pulseaudio|pipewire] [--seconds S] [--rounds R] [--shaped]
//
// With no part named, all run.
//
// aliases: a sine at -6 dBFS in a 48 kHz file, every 250 Hz from 1 to
// 20 kHz, converted to 44.1 kHz by the sound module's openStream (the one
// channel rule and resampler every voice goes through), as 32-bit float,
// so the file and the analysis add nothing of their own; for each, the
// largest component that is not the tone, relative to the tone. Then the
// same through the whole engine on SDL's disk driver, recorded as the
// device gets it: there every voice is 16-bit without dither, whose
// rounding alone comes to about -92 dB against a -6 dBFS tone (a full-scale
// sine's -98 dB), in spurs or spread over the band. Levels are peak bins,
// so the window's scalloping (up to 0.5 dB) is in them.
//
// cpu: N voices (1, then 8) of one S-second 48 kHz 16-bit file (default
// 10 s): the CPU of this process (every thread of the engine) from the
// first play to the last voice's end, divided by N and by S; on SDL's disk
// driver (and that device alone, open and silent, for as long: a cost no
// voice adds), then on a private sound server beside paplay playing the same
// file N times at once into the same sink, with the server's own CPU, which
// resamples for paplay but not for the engine. R rounds (default 3), the
// engine and paplay by turns; medians, with the spread of the totals. With
// --shaped the engine's voices are music beds that fade in and out over a
// second each while the beds glide down and back up every second, so every
// frame of every voice carries the gains a show's music does.
//
// hold: how long a click's play keeps the window thread, for the files
// that cost the most to open: a WAV whose header claims 4 GB over one
// second of sound, an empty file, a 2 GB WAV of silence (sparse), a MIDI
// file striking 10,000 notes at once, an AAC in M4A (made with ffmpeg), each
// played R times (the first, which loads what that kind needs, apart), with
// the growth of the process's resident memory while each plays.
//
// SDL_AUDIODRIVER and SDL_DISKAUDIOFILE are set to disk and /dev/null
// unless the environment sets them.

#include "bench/support/process_cpu.h"
#include "media/engine/sound_engine.h"
#include "media/engine/sound_module.h"
#include "support/private_sound_server.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace qinghe;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test_support::PrivateSoundServer;

// A file rate the outputs do not run at, so every voice is resampled.
constexpr int kFileRate = 48000;
// The SDL device's rate and the private servers' own.
constexpr int kOutputRate = test_support::kServerRate;
constexpr int kFileChannels = 2;

constexpr double kToneAmplitude = 0.5;  // -6 dBFS
constexpr int kLowestHz = 1000;
constexpr int kHighestHz = 20000;
constexpr int kStepHz = 250;
constexpr double kAliasTargetDb = -90;
// 1.5 s at 44.1 kHz: bins of 0.67 Hz, and the window's noise bandwidth
// spreads any noise over enough bins to leave it far below a spur.
constexpr int kSpectrumFrames = 1 << 16;
// Past the resampler's own start (its filter's delay) and a voice's first block.
constexpr int kSkipFrames = 4096;
// Long enough for the skip and the spectrum at 44.1 kHz, with room for a
// voice's fade at its end.
constexpr double kToneSeconds = 2.0;
// The frequencies taken through the whole engine besides the sweep's worst.
constexpr int kEngineToneHz = 1000;
// 7-term Blackman-Harris: sidelobes near -180 dB, so the window's own
// leakage stays far below any alias worth seeing; main lobe 8 bins each side.
constexpr double kWindow[] = {0.27105140069342, 0.43329793923448, 0.21812299954311, 0.06592544638803,
                              0.01081174209837, 0.00077658482522, 0.00001388721735};
// Bins each side of the tone, and above DC, counted as theirs: the main lobe and a margin.
constexpr int kLobeBins = 12;
// A frequency no bin falls on, for the analysis's own floor.
constexpr double kOffBinHz = 1234.567;

constexpr int kDefaultSeconds = 10;
constexpr int kDefaultRounds = 3;
constexpr int kVoiceCounts[] = {1, kMostVoices};
// Eight voices at once stay clear of the limiter: 8 x -24 dBFS in phase is -6 dBFS.
constexpr double kCpuToneAmplitude = 0.063;
constexpr int kCpuToneHz = 440;
constexpr double kFullScale16 = 32767;
constexpr auto kPoll = 20ms;
constexpr auto kStartLimit = 10s;
constexpr double kMsPerSecond = 1000;

double decibels(double ratio)
{
    return 20 * std::log10(ratio);
}

// A stereo 48 kHz WAV of a sine on both sides: 32-bit float, or 16-bit.
bool writeToneWav(const std::string& path, double hz, double amplitude, double seconds, bool asFloat)
{
    const auto frames = static_cast<std::uint32_t>(seconds * kFileRate);
    const std::uint16_t bytes = asFloat ? 4 : 2;
    const std::uint32_t dataBytes = frames * kFileChannels * bytes;
    std::ofstream out(path, std::ios::binary);
    const auto put = [&out](auto value) { out.write(reinterpret_cast<const char*>(&value), sizeof value); };
    out.write("RIFF", 4);
    put(std::uint32_t{36 + dataBytes});
    out.write("WAVEfmt ", 8);
    constexpr std::uint16_t kPcm = 1;
    constexpr std::uint16_t kIeeeFloat = 3;
    put(std::uint32_t{16});
    put(asFloat ? kIeeeFloat : kPcm);
    put(std::uint16_t{kFileChannels});
    put(std::uint32_t{kFileRate});
    put(std::uint32_t(kFileRate * kFileChannels * bytes));
    put(std::uint16_t(kFileChannels * bytes));
    put(std::uint16_t(8 * bytes));
    out.write("data", 4);
    put(dataBytes);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double value = amplitude * std::sin(2 * std::numbers::pi * hz * i / kFileRate);
        for (int side = 0; side < kFileChannels; ++side) {
            if (asFloat)
                put(static_cast<float>(value));
            else
                put(static_cast<std::int16_t>(std::lround(value * kFullScale16)));
        }
    }
    return static_cast<bool>(out.flush());
}

// In-place radix-2 FFT (size a power of two).
void fourier(std::vector<std::complex<double>>& x)
{
    const std::size_t n = x.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        while (j & bit) {
            j ^= bit;
            bit >>= 1;
        }
        j |= bit;
        if (i < j)
            std::swap(x[i], x[j]);
    }
    for (std::size_t half = 1; half < n; half *= 2) {
        for (std::size_t k = 0; k < half; ++k) {
            const std::complex<double> w = std::polar(1.0, -std::numbers::pi * static_cast<double>(k) / half);
            for (std::size_t start = 0; start < n; start += 2 * half) {
                const std::complex<double> odd = w * x[start + k + half];
                x[start + k + half] = x[start + k] - odd;
                x[start + k] += odd;
            }
        }
    }
}

struct Spurs {
    double toneDbfs = 0;   // the tone's own level
    double worstDb = 0;    // the largest other component, relative to the tone
    double worstHz = 0;
};

// The tone and the largest other component of kSpectrumFrames samples (full scale 1).
Spurs spursOf(const std::vector<double>& samples, double toneHz)
{
    const std::size_t n = samples.size();
    std::vector<std::complex<double>> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        double w = 0;
        for (std::size_t k = 0; k < std::size(kWindow); ++k)
            w += (k % 2 ? -1 : 1) * kWindow[k] * std::cos(2 * std::numbers::pi * static_cast<double>(k * i) / n);
        x[i] = samples[i] * w;
    }
    fourier(x);
    const double binHz = static_cast<double>(kOutputRate) / n;
    const auto toneBin = static_cast<std::ptrdiff_t>(std::lround(toneHz / binHz));
    double tone = 0;
    double worst = 0;
    std::size_t worstBin = 0;
    for (std::size_t bin = 0; bin <= n / 2; ++bin) {
        const double magnitude = std::abs(x[bin]);
        if (std::abs(static_cast<std::ptrdiff_t>(bin) - toneBin) <= kLobeBins) {
            tone = std::max(tone, magnitude);
        } else if (bin > kLobeBins && magnitude > worst) {
            worst = magnitude;
            worstBin = bin;
        }
    }
    // A sine of amplitude A peaks at A * n * a0 / 2.
    return {decibels(2 * tone / (static_cast<double>(n) * kWindow[0])), decibels(worst / tone),
            static_cast<double>(worstBin) * binHz};
}

std::vector<double> leftSide(const std::vector<float>& stereo, std::size_t firstFrame, std::size_t frames)
{
    std::vector<double> left(frames);
    for (std::size_t i = 0; i < frames; ++i)
        left[i] = stereo[2 * (firstFrame + i)];
    return left;
}

// The file as every voice gets it: stereo at kOutputRate; empty when it cannot be opened.
std::vector<float> converted(const SoundModule& module, const std::string& path)
{
    StreamOpening opening = module.openStream(path, kOutputRate);
    std::vector<float> all;
    if (!opening.stream)
        return all;
    std::vector<float> block(2 * 4096);
    while (const std::int64_t got = opening.stream->read(block.data(), 4096)) {
        if (got < 0)
            break;
        all.insert(all.end(), block.begin(), block.begin() + got * 2);
    }
    return all;
}

// Records the left side of the SDL device's blocks from the first sample that
// is not silent on; the audio thread only copies into room made beforehand.
class MixRecording {
public:
    explicit MixRecording(std::size_t frames) : left_(frames)
    {
        setMixObserver([this](const std::int16_t* samples, int frames, std::uint64_t) {
            for (int i = 0; i < frames; ++i) {
                started_ = started_ || samples[2 * i] != 0;
                const std::size_t count = count_.load(std::memory_order_relaxed);
                if (started_ && count < left_.size()) {
                    left_[count] = samples[2 * i];
                    count_.store(count + 1, std::memory_order_release);
                }
            }
        });
    }
    ~MixRecording() { setMixObserver({}); }
    MixRecording(const MixRecording&) = delete;
    MixRecording& operator=(const MixRecording&) = delete;

    // The recording at full scale 1; empty when it did not fill in time.
    std::vector<double> wait()
    {
        const auto limit = Clock::now() + kStartLimit;
        while (count_.load(std::memory_order_acquire) < left_.size()) {
            if (Clock::now() > limit)
                return {};
            std::this_thread::sleep_for(kPoll);
        }
        std::vector<double> samples(left_.size());
        std::transform(left_.begin(), left_.end(), samples.begin(),
                       [](std::int16_t s) { return s / kFullScale16; });
        return samples;
    }

private:
    std::vector<std::int16_t> left_;
    std::atomic<std::size_t> count_{0};
    bool started_ = false;  // the audio thread's own
};

bool aliases(const QTemporaryDir& dir)
{
    const SoundModule* module = soundModule();
    if (!module) {
        std::printf("the sound module could not be loaded (it must lie beside this program)\n");
        return false;
    }
    std::vector<double> exact(kSpectrumFrames);
    for (int i = 0; i < kSpectrumFrames; ++i)
        exact[i] = kToneAmplitude * std::sin(2 * std::numbers::pi * kOffBinHz * i / kOutputRate);
    std::printf("aliases: a -6 dBFS sine in a 48 kHz file, converted to %d Hz by the sound module's stream;\n"
                "largest component that is not the tone (beyond %d bins of it and of DC), relative to the tone;\n"
                "7-term Blackman-Harris over %d frames (%.2f Hz bins)\n",
                kOutputRate, kLobeBins, kSpectrumFrames, static_cast<double>(kOutputRate) / kSpectrumFrames);
    std::printf("  the analysis's own floor (an exact sine at %.3f Hz): %.1f dB\n", kOffBinHz,
                spursOf(exact, kOffBinHz).worstDb);
    const std::string file = dir.filePath("sweep.wav").toStdString();
    Spurs overall{0, -1000, 0};
    int overallHz = 0;
    for (int hz = kLowestHz; hz <= kHighestHz; hz += kStepHz) {
        if (!writeToneWav(file, hz, kToneAmplitude, kToneSeconds, true))
            return false;
        const std::vector<float> out = converted(*module, file);
        if (out.size() < 2 * static_cast<std::size_t>(kSkipFrames + kSpectrumFrames)) {
            std::printf("  %5d Hz: the stream gave %zu frames\n", hz, out.size() / 2);
            return false;
        }
        const Spurs s = spursOf(leftSide(out, kSkipFrames, kSpectrumFrames), hz);
        std::printf("  %5d Hz  tone %6.2f dBFS  worst other %7.1f dB at %8.1f Hz\n", hz, s.toneDbfs, s.worstDb,
                    s.worstHz);
        if (s.worstDb > overall.worstDb) {
            overall = s;
            overallHz = hz;
        }
    }
    std::printf("  worst over the sweep: %.1f dB (tone %d Hz, component at %.1f Hz); target %.0f dB: %s\n",
                overall.worstDb, overallHz, overall.worstHz, kAliasTargetDb,
                overall.worstDb <= kAliasTargetDb ? "met" : "NOT met");

    std::printf("through the engine on SDL's disk driver, 16-bit as the device gets it (its rounding alone, in all:\n"
                "about -92 dB against this tone):\n");
    for (int hz : {kEngineToneHz, overallHz}) {
        if (!writeToneWav(file, hz, kToneAmplitude, kToneSeconds, true))
            return false;
        MixRecording recording(kSkipFrames + kSpectrumFrames);
        const VoiceStart start = SoundEngine::instance().play(file, VoiceGains{});
        const std::vector<double> recorded = recording.wait();
        if (start.voice == kNoVoice || recorded.empty()) {
            std::printf("  %5d Hz: nothing came from the device (driver \"%s\")\n", hz,
                        mediaOutputFacts().driver.c_str());
            return false;
        }
        const Spurs s = spursOf(std::vector<double>(recorded.begin() + kSkipFrames, recorded.end()), hz);
        std::printf("  %5d Hz  tone %6.2f dBFS  worst other %7.1f dB at %8.1f Hz   (driver %s)\n", hz, s.toneDbfs,
                    s.worstDb, s.worstHz, mediaOutputFacts().driver.c_str());
        // The next tone is recorded from a device opened afresh, with nothing of this one left.
        closeMediaOutput();
    }
    return true;
}

// CPU seconds and wall time of one run.
struct Cost {
    double program = 0;
    double server = 0;
    double wall = 0;
    int failed = 0;  // paplay runs that did not end well (their CPU still counts)
    double together() const { return program + server; }
};

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double selfCpu()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double serverCpu(const PrivateSoundServer* server)
{
    if (!server)
        return 0;
    long long ticks = 0;
    for (qint64 pid : server->processIds())
        ticks += bench::cpuTicks(pid);
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The engine's voices as beds with fades, the beds gliding all the while (--shaped).
bool shapedVoices = false;
constexpr VoiceShape kShaped{.fadeIn = 1000ms, .fadeOut = 1000ms, .bed = true};
constexpr auto kGlideEvery = 1000ms;

// N voices of the file on the engine's output, until the last has ended.
bool engineRun(const std::string& file, int voices, const PrivateSoundServer* server, Cost& cost)
{
    SoundEngine& engine = SoundEngine::instance();
    engine.setMostPlaying(kMostVoices);
    const double programBefore = selfCpu();
    const double serverBefore = serverCpu(server);
    const auto start = Clock::now();
    std::vector<VoiceId> playing;
    for (int i = 0; i < voices; ++i)
        playing.push_back(engine.play(file, VoiceGains{}, 0ms, Audience::Everyone, shapedVoices ? kShaped : VoiceShape{}).voice);
    if (std::count(playing.begin(), playing.end(), kNoVoice) > 0)
        return false;
    for (auto glided = start; std::any_of(playing.begin(), playing.end(), [&](VoiceId v) { return engine.playing(v); });) {
        if (shapedVoices && Clock::now() - glided >= kGlideEvery) {
            glided = Clock::now();
            engine.setBedLevel(std::chrono::duration_cast<std::chrono::seconds>(glided - start).count() % 2 ? -12 : 0,
                               kGlideEvery / 2);
        }
        std::this_thread::sleep_for(kPoll);
    }
    engine.setBedLevel(0, 0ms);
    cost = {selfCpu() - programBefore, serverCpu(server) - serverBefore,
            std::chrono::duration<double>(Clock::now() - start).count()};
    return true;
}

// The output open with nothing playing, for as long as the sound lasts.
Cost outputAlone(double soundSeconds)
{
    const double programBefore = selfCpu();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(soundSeconds));
    return {selfCpu() - programBefore, 0, std::chrono::duration<double>(Clock::now() - start).count()};
}

// N paplay processes of the file at once into the sink, each from its start
// to its end; false when one could not be started.
bool paplayRun(const std::string& file, int voices, const PrivateSoundServer& server, const std::string& sink,
               Cost& cost)
{
    const double serverBefore = serverCpu(&server);
    const auto start = Clock::now();
    std::vector<pid_t> children;
    std::string program = "paplay";
    std::string device = "--device=" + sink;
    std::string path = file;
    char* arguments[] = {program.data(), device.data(), path.data(), nullptr};
    for (int i = 0; i < voices; ++i) {
        pid_t child = 0;
        if (posix_spawnp(&child, "paplay", nullptr, nullptr, arguments, environ) == 0)
            children.push_back(child);
    }
    cost = {};
    for (pid_t child : children) {
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        cost.failed += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
        cost.program += seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }
    cost.wall = std::chrono::duration<double>(Clock::now() - start).count();
    cost.server = serverCpu(&server) - serverBefore;
    return static_cast<int>(children.size()) == voices;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// One row: ms of CPU per voice per second of sound (= per mille of one core);
// returns the median of the totals.
double printRow(const std::string& what, int voices, const std::vector<Cost>& runs, double soundSeconds)
{
    const double scale = kMsPerSecond / (std::max(voices, 1) * soundSeconds);
    std::vector<double> program, server, together, wall;
    int failed = 0;
    for (const Cost& c : runs) {
        program.push_back(c.program * scale);
        server.push_back(c.server * scale);
        together.push_back(c.together() * scale);
        wall.push_back(c.wall);
        failed += c.failed;
    }
    const auto [least, most] = std::minmax_element(together.begin(), together.end());
    std::printf("  %-30s %6d %9.2f %9.2f %9.2f  (%.2f..%.2f) %7.2f s", what.c_str(), voices, median(program),
                median(server), median(together), *least, *most, median(wall));
    std::printf(failed > 0 ? "  (%d exits not 0)\n" : "\n", failed);
    return median(together);
}

// The output's period and late blocks as the runs left them: a server's
// streams ask for a longer period after an underflow, which changes how often
// the program and the server wake.
void printOutputNow()
{
    const OutputFacts facts = mediaOutputFacts();
    std::printf("  %-30s period now %d frames, %llu late blocks\n", "", facts.periodFrames,
                static_cast<unsigned long long>(facts.lateBlocks));
}

// What each voice past the first adds, from the totals of one and of the most voices.
void printEachMore(const std::string& what, double one, double most)
{
    std::printf("  %-30s each voice past the first: %.2f ms per voice-second\n", what.c_str(),
                (most * kMostVoices - one) / (kMostVoices - 1));
}

void printLoad(const char* when)
{
    std::ifstream load("/proc/loadavg");
    std::string line;
    std::getline(load, line);
    std::printf("load average %s: %s (%u cores, shared)\n", when, line.c_str(), std::thread::hardware_concurrency());
}

struct Options {
    bool aliases = false;
    bool cpu = false;
    bool hold = false;
    test_support::SoundServerKind server = test_support::SoundServerKind::PulseAudio;
    int seconds = kDefaultSeconds;
    int rounds = kDefaultRounds;
};

bool cpu(const QTemporaryDir& dir, const Options& options)
{
    const std::string file = dir.filePath("long.wav").toStdString();
    if (!writeToneWav(file, kCpuToneHz, kCpuToneAmplitude, options.seconds, false))
        return false;
    const double sound = options.seconds;
    std::printf("\nCPU per voice per second of sound: a %d s 48 kHz 16-bit file, resampled to %d Hz;\n"
                "ms of CPU per voice-second (= per mille of one core), median of %d rounds\n",
                options.seconds, kOutputRate, options.rounds);
    printLoad("before");
    std::printf("  %-30s %6s %9s %9s %9s  %-13s %7s\n", "", "voices", "program", "server", "together",
                "(spread)", "wall");
    // The module loads, and the device opens, before anything is counted.
    Cost warmUp;
    if (!engineRun(dir.filePath("tone.wav").toStdString(), 1, nullptr, warmUp)) {
        std::printf("the engine plays nothing on SDL's device\n");
        return false;
    }
    const std::string sdlName = "engine, SDL " + mediaOutputFacts().driver;
    std::vector<double> sdl;
    for (int voices : kVoiceCounts) {
        std::vector<Cost> runs(options.rounds);
        for (Cost& run : runs)
            if (!engineRun(file, voices, nullptr, run))
                return false;
        sdl.push_back(printRow(sdlName, voices, runs, sound));
        printOutputNow();
    }
    std::vector<Cost> alone(options.rounds);
    for (Cost& run : alone)
        run = outputAlone(sound);
    printRow("the SDL device alone, silent", 0, alone, sound);
    printEachMore(sdlName, sdl.front(), sdl.back());
    closeMediaOutput();

    PrivateSoundServer server(options.server);
    if (!server.isRunning()) {
        std::fprintf(stderr, "the private sound server did not start:\n%s\n", qPrintable(server.log()));
        return false;
    }
    server.useForThisProcess();
    setMediaOutputDevice({kServerStreamsDriver, test_support::kFakeSpeakers, kNoListeningDevice});
    if (!engineRun(dir.filePath("tone.wav").toStdString(), 1, &server, warmUp)) {
        std::printf("the engine plays nothing on the server's streams\n");
        return false;
    }
    const std::string engineName = std::string("engine, ") + test_support::nameOf(options.server) + " stream";
    const std::string paplayName = std::string("paplay, ") + test_support::nameOf(options.server);
    std::vector<double> engine, paplay;
    for (int voices : kVoiceCounts) {
        std::vector<Cost> engineRuns(options.rounds);
        std::vector<Cost> paplayRuns(options.rounds);
        for (int round = 0; round < options.rounds; ++round) {
            if (!engineRun(file, voices, &server, engineRuns[round])) {
                std::printf("the engine could not play %d voices\n", voices);
                return false;
            }
            if (!paplayRun(file, voices, server, test_support::kFakeSpeakers, paplayRuns[round])) {
                std::printf("paplay could not be started\n");
                return false;
            }
        }
        engine.push_back(printRow(engineName, voices, engineRuns, sound));
        printOutputNow();
        paplay.push_back(printRow(paplayName, voices, paplayRuns, sound));
    }
    printEachMore(engineName, engine.front(), engine.back());
    printEachMore(paplayName, paplay.front(), paplay.back());
    printLoad("after");
    std::printf("the engine's stream is one (no listening stream), like paplay's; the server resamples paplay's\n"
                "48 kHz, the engine resamples in the program; paplay's figure includes its own start-up.\n"
                "SDL's disk driver sleeps whole milliseconds between blocks, so it plays faster than real time\n"
                "(see wall); the program's time is still divided by the seconds of sound.\n");
    shutDownMediaOutput();
    return true;
}

// A WAV header over one second of a tone that claims dataBytes of sound.
bool writeLyingWav(const std::string& path, std::uint32_t claimedBytes)
{
    if (!writeToneWav(path, kEngineToneHz, kToneAmplitude, 1.0, false))
        return false;
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    constexpr std::streamoff kDataSizeAt = 40;
    file.seekp(kDataSizeAt);
    file.write(reinterpret_cast<const char*>(&claimedBytes), sizeof claimedBytes);
    return static_cast<bool>(file.flush());
}

// One track at 120 bpm striking every one of its 10,000 notes at once
// (128 keys on 16 channels, over and over), then holding them a second.
bool writeCrowdedMidi(const std::string& path)
{
    constexpr int kNotes = 10000;
    constexpr int kKeys = 128;
    constexpr int kChannels = 16;
    std::string track;
    for (int i = 0; i < kNotes; ++i) {
        track += '\0';  // no time since the last event
        track += static_cast<char>(0x90 | (i / kKeys) % kChannels);
        track += static_cast<char>(i % kKeys);
        track += static_cast<char>(100);
    }
    track += std::string("\x83\x60\xb0\x7b\x00", 5);  // a second (480 ticks) on, then all notes off
    track += std::string("\x00\xff\x2f\x00", 4);
    const auto be32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    std::ofstream out(path, std::ios::binary);
    out << "MThd" << be32(6) << std::string("\0\0\0\1\x01\xe0", 6) << "MTrk" << be32(track.size()) << track;
    return static_cast<bool>(out.flush());
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

bool hold(const QTemporaryDir& dir, const Options& options)
{
    using Clock = std::chrono::steady_clock;
    const std::string lying = dir.filePath("claims4gb.wav").toStdString();
    const std::string empty = dir.filePath("empty.wav").toStdString();
    const std::string silence = dir.filePath("silence2gb.wav").toStdString();
    const std::string crowd = dir.filePath("crowd.mid").toStdString();
    const std::string m4a = dir.filePath("tone.m4a").toStdString();
    constexpr std::uint32_t kFourGigabytes = 0xfffffff0u;
    constexpr std::uint32_t kTwoGigabytes = 0x80000000u;
    std::ofstream{empty};
    if (!writeLyingWav(lying, kFourGigabytes) || !writeLyingWav(silence, kTwoGigabytes)
        || truncate(silence.c_str(), static_cast<off_t>(kTwoGigabytes) + 44) != 0 || !writeCrowdedMidi(crowd)
        || std::system(("ffmpeg -loglevel error -y -f lavfi -i sine=1000:d=3 -c:a aac '" + m4a + "'").c_str()) != 0)
        return false;
    SoundEngine& engine = SoundEngine::instance();
    std::printf("\nhold: the window thread's wait in a click's play, ms (first play apart; then median and most of %d)\n",
                options.rounds);
    for (const std::string& file : {lying, empty, silence, crowd, m4a}) {
        std::vector<double> waits;
        long grown = 0;
        for (int round = 0; round <= options.rounds; ++round) {
            const long before = residentKiB();
            const Clock::time_point start = Clock::now();
            const VoiceStart started = engine.play(file, {});
            waits.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            grown = std::max(grown, residentKiB() - before);
            engine.stop(started.voice);
        }
        const double first = waits.front();
        waits.erase(waits.begin());
        std::sort(waits.begin(), waits.end());
        std::printf("  %-16s first %6.2f   median %6.2f   most %6.2f   resident growth while playing %ld KiB\n",
                    file.substr(file.rfind('/') + 1).c_str(), first, waits[waits.size() / 2], waits.back(), grown);
    }
    return true;
}

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "aliases") {
            options.aliases = true;
        } else if (name == "cpu") {
            options.cpu = true;
        } else if (name == "hold") {
            options.hold = true;
        } else if (name == "--shaped") {
            shapedVoices = true;
        } else if (i + 1 < argc) {
            const std::string value = argv[++i];
            if (name == "--server")
                options.server = value == "pipewire" ? test_support::SoundServerKind::PipeWire : test_support::SoundServerKind::PulseAudio;
            else if (name == "--seconds")
                options.seconds = std::max(1, std::atoi(value.c_str()));
            else if (name == "--rounds")
                options.rounds = std::max(1, std::atoi(value.c_str()));
        }
    }
    if (!options.aliases && !options.cpu && !options.hold)
        options.aliases = options.cpu = options.hold = true;
    return options;
}

}  // namespace

int main(int argc, char** argv)
{
    // The engine's device is SDL's disk driver into nothing, unless told otherwise.
    setenv("SDL_AUDIODRIVER", "disk", 0);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
    QCoreApplication app(argc, argv);
    const Options options = parse(argc, argv);
    QTemporaryDir dir;
    // The warm-up's short sound.
    if (!writeToneWav(dir.filePath("tone.wav").toStdString(), kEngineToneHz, kToneAmplitude, kToneSeconds, true))
        return 1;
    bool ok = true;
    if (options.aliases)
        ok = aliases(dir);
    if (ok && options.cpu)
        ok = cpu(dir, options);
    if (ok && options.hold)
        ok = hold(dir, options);
    shutDownMediaOutput();
    return ok ? 0 : 1;
}
