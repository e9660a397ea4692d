// What 说话时压低音乐 costs, run by hand, on a private PulseAudio server and
// on a private PipeWire (null sinks for the host's devices, as the tests
// have), one after the other:
//
//   ducking_bench [--server pulseaudio|pipewire|both] [--seconds N]
//
// For each server, with the virtual microphone on and nothing playing, N
// seconds (default 20) each of: the idle board without ducking; ducking on
// with a silent microphone; ducking on with a steady tone into the
// microphone (the host speaking). Each prints the CPU, in percent of one
// core, of the listening thread alone, of this whole program, and of the
// server's processes. The tone comes from a player inside this program, so
// the program's figure while speaking includes it; the thread's does not.
// Prints only; holds nothing against a target.

#include "bench/support/process_cpu.h"
#include "media/engine/sound_engine.h"
#include "soundserver/microphone_level.h"
#include "soundserver/sound_routing.h"
#include "support/private_sound_server.h"

#include <QCoreApplication>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qinghe;
using Clock = std::chrono::steady_clock;
using test_support::PrivateSoundServer;
using test_support::SoundServerKind;
using bench::cpuTicks;
using bench::threadCpuTicks;

constexpr int kDefaultSeconds = 20;
constexpr double kPercent = 100;
constexpr int kVoiceAmplitude = 6000;
// Long enough for the server to have made the stream and the first peaks to come.
constexpr auto kSettle = std::chrono::seconds(2);

// The listening thread, by the name it gives itself; 0 when it is not running.
long long duckingThread()
{
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == "qinghe-ducking")
            return std::stoll(task.path().filename().string());
    }
    return 0;
}

struct Cost {
    double thread = 0;
    double program = 0;
    double server = 0;
};

Cost measure(const PrivateSoundServer& server, int seconds)
{
    std::this_thread::sleep_for(kSettle);
    const long long thread = duckingThread();
    const auto serverTicks = [&] {
        long long ticks = 0;
        for (qint64 pid : server.processIds())
            ticks += cpuTicks(pid);
        return ticks;
    };
    const long long threadBefore = thread ? threadCpuTicks(thread) : 0;
    const long long programBefore = cpuTicks(getpid());
    const long long serverBefore = serverTicks();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const auto percent = [&](long long ticks) {
        return kPercent * static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK)) / elapsed;
    };
    return {thread ? percent(threadCpuTicks(thread) - threadBefore) : 0, percent(cpuTicks(getpid()) - programBefore),
            percent(serverTicks() - serverBefore)};
}

void print(const char* server, const char* phase, const Cost& cost)
{
    std::printf("%-10s %-34s thread %5.2f%%  program %5.2f%%  server %5.2f%%\n", server, phase, cost.thread,
                cost.program, cost.server);
}

void run(SoundServerKind kind, int seconds)
{
    PrivateSoundServer server(kind);
    const char* name = test_support::nameOf(kind);
    if (!server.isRunning()) {
        std::printf("%s: did not start\n", name);
        return;
    }
    server.useForThisProcess();
    SoundEngine& engine = SoundEngine::instance();
    MicrophoneLevel level([&engine](const BedLevel& bed) { engine.setBedLevel(bed.decibels, bed.ramp); });
    SoundRouting routing([](const OutputTarget& target) { setMediaOutputDevice(target); });
    routing.addSettingsListener([&level](const SoundSettings& settings) { level.apply(settings); });
    SoundSettings settings;
    settings.virtualMicrophone = true;
    routing.apply(settings);
    routing.waitUntilIdle(std::chrono::seconds(20));
    print(name, "idle board, no ducking", measure(server, seconds));
    settings.duckMusic = true;
    routing.apply(settings);
    routing.waitUntilIdle(std::chrono::seconds(20));
    print(name, "ducking, silent microphone", measure(server, seconds));
    {
        test_support::TonePlayer voice(server.address(), test_support::kFakeVoice, kVoiceAmplitude);
        print(name, "ducking, host speaking", measure(server, seconds));
    }
    routing.shutDown(SoundRouting::kExitLimit);
    level.shutDown();
    closeMediaOutput();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<SoundServerKind> servers{SoundServerKind::PulseAudio, SoundServerKind::PipeWire};
    int seconds = kDefaultSeconds;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--server" && value == "pulseaudio")
            servers = {SoundServerKind::PulseAudio};
        else if (option == "--server" && value == "pipewire")
            servers = {SoundServerKind::PipeWire};
        else if (option == "--seconds")
            seconds = std::max(1, std::atoi(value.c_str()));
    }
    for (SoundServerKind kind : servers)
        run(kind, seconds);
    shutDownMediaOutput();
    return 0;
}
