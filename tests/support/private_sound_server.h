#pragma once

// A sound server of the test's own, in a private runtime folder, with null
// sinks standing in for the host's devices:
//   fake_speakers    "Speakers", the server's default output
//   fake_headphones  "Headphones", the listening device a host would choose
//   fake_voice       what the host says; its monitor, remapped, is
//   fake_microphone  "Microphone", the server's default input
// Either PulseAudio, or PipeWire with WirePlumber and pipewire-pulse (and a
// session bus of their own, which WirePlumber needs); both are reached at
// "unix:<folder>/.../native" through libpulse. They run as root as well as
// as anyone else: PulseAudio with -n reads no configuration but the test's
// own script, and the warning a root start gives is only one.
// Also recording from and playing into the server, and measuring what came.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QProcess;

namespace qinghe::test_support {

inline constexpr int kServerRate = 44100;
inline constexpr const char* kFakeSpeakers = "fake_speakers";
inline constexpr const char* kFakeHeadphones = "fake_headphones";
inline constexpr const char* kFakeVoice = "fake_voice";
inline constexpr const char* kFakeMicrophone = "fake_microphone";

enum class SoundServerKind { PulseAudio, PipeWire };

// QINGHE_TEST_SOUND_SERVER=pipewire: PipeWire; anything else: PulseAudio.
SoundServerKind soundServerKindFromEnvironment();
const char* nameOf(SoundServerKind kind);

class PrivateSoundServer {
public:
    // Starts the server and waits until it answers with its fake devices in
    // place; isRunning() says whether it did.
    explicit PrivateSoundServer(SoundServerKind kind = soundServerKindFromEnvironment());
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    SoundServerKind kind() const { return kind_; }
    bool isRunning() const;
    // Kills every process of the server at once, as a crash does; the
    // address stays, and nothing answers there until start().
    void kill();
    // Starts it again (after kill) at the same address; true once it
    // answers with its fake devices in place.
    bool start();
    // The process that answers libpulse's clients (pulseaudio, or pipewire-pulse).
    qint64 processId() const;
    // Every process of the server, for the CPU they use together.
    QList<qint64> processIds() const;
    // For PULSE_SERVER: "unix:<folder>/native".
    QString address() const { return address_; }
    // What the server's log says, for a failure message.
    QString log() const;
    // Points every later libpulse client of this process at the server. Call
    // it before any thread of the process talks to a sound server.
    void useForThisProcess() const;

    // "name argument" of every loaded module, in loading order.
    QStringList modules() const;
    // pactl with the arguments against this server; its output, or empty on failure.
    QString pactl(const QStringList& arguments, bool* ok = nullptr) const;

private:
    bool startPulseAudio();
    bool startPipeWire();
    // Starts one process of the server with the private environment, its
    // output in <name>.log; null when it does not start.
    QProcess* launch(const QString& program, const QStringList& arguments);
    bool waitUntilAnswering(const QStringList& mustShow);
    QString addressPath() const;

    SoundServerKind kind_;
    QTemporaryDir folder_;
    QString address_;
    // In starting order; ended the other way round.
    std::vector<std::unique_ptr<QProcess>> processes_;
};

// Interleaved signed 16-bit stereo at kServerRate.
using ServerSamples = std::vector<std::int16_t>;

// Records from a source on a thread of its own until stopped; every block
// comes with the time it arrived.
class SourceRecorder {
public:
    SourceRecorder(const QString& serverAddress, const std::string& source);
    ~SourceRecorder();
    SourceRecorder(const SourceRecorder&) = delete;
    SourceRecorder& operator=(const SourceRecorder&) = delete;

    bool started() const { return started_; }
    // Waits until the stream has delivered its first block. An idle null
    // sink renders in long blocks until someone asks it for short ones, so
    // what comes first may be a long stretch at once; after it, frames come
    // as they are made.
    bool waitUntilFlowing(std::chrono::milliseconds limit);
    // Frames recorded so far: once flowing, the frame being made now.
    std::int64_t framesSoFar() const { return frames_.load(); }
    // Ends the recording and gives everything recorded.
    ServerSamples stop();
    // The arrival time of frame, on the steady clock; only after stop.
    std::chrono::steady_clock::time_point arrivalOf(std::int64_t frame) const;

private:
    void record();

    struct Block {
        std::int64_t endFrame;
        std::chrono::steady_clock::time_point arrived;
    };
    void* stream_ = nullptr;
    bool started_ = false;
    std::atomic<bool> stopping_{false};
    std::atomic<std::int64_t> frames_{0};
    ServerSamples samples_;
    std::vector<Block> blocks_;
    std::thread thread_;
};

// Plays a square tone into a sink on a thread of its own until destroyed.
class TonePlayer {
public:
    TonePlayer(const QString& serverAddress, const std::string& sink, int amplitude);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;
    bool started() const { return started_; }

private:
    void* stream_ = nullptr;
    bool started_ = false;
    int amplitude_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// First frame at or after from with a sample above threshold in magnitude; -1 when none.
std::int64_t onsetFrame(const ServerSamples& samples, std::int64_t from, int threshold);
// Root mean square of frames [from, to), both channels.
double rmsLevel(const ServerSamples& samples, std::int64_t from, std::int64_t to);
std::int64_t frameCountOf(const ServerSamples& samples);

}  // namespace qinghe::test_support
