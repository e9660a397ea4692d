#include "private_sound_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <pulse/simple.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace qinghe::test_support {

namespace {

constexpr int kChannels = 2;
constexpr int kBytesPerFrame = kChannels * 2;
// A server starts within a second on a quiet machine; ten allow a busy one.
constexpr int kStartLimitMs = 10000;
constexpr int kStartPollMs = 50;
constexpr int kCommandLimitMs = 10000;
// Blocks of 128 frames (2.9 ms): fine enough to time an onset by.
constexpr int kRecordBlockFrames = 128;
constexpr int kToneBlockFrames = 441;
// Half a period of the tones, in frames: 441 Hz.
constexpr int kToneHalfPeriod = 50;

pa_sample_spec serverSpec()
{
    return {PA_SAMPLE_S16LE, kServerRate, kChannels};
}

// PulseAudio reads the whole set-up from its script; PipeWire is given the
// same devices through its Pulse layer once it answers.
const QStringList kFakeDeviceCommands = {
    "load-module module-null-sink sink_name=fake_speakers rate=44100 sink_properties=device.description=Speakers",
    "load-module module-null-sink sink_name=fake_headphones rate=44100 sink_properties=device.description=Headphones",
    "load-module module-null-sink sink_name=fake_voice rate=44100 sink_properties=device.description=Voice",
    "load-module module-remap-source master=fake_voice.monitor source_name=fake_microphone "
    "source_properties=device.description=Microphone",
    "set-default-sink fake_speakers",
    "set-default-source fake_microphone",
};

QString script(const QString& socket)
{
    return "load-module module-native-protocol-unix socket=" + socket + " auth-anonymous=1\n"
           + kFakeDeviceCommands.join('\n') + '\n';
}

}  // namespace

SoundServerKind soundServerKindFromEnvironment()
{
    return qEnvironmentVariable("QINGHE_TEST_SOUND_SERVER") == QStringLiteral("pipewire") ? SoundServerKind::PipeWire
                                                                                           : SoundServerKind::PulseAudio;
}

const char* nameOf(SoundServerKind kind)
{
    return kind == SoundServerKind::PipeWire ? "PipeWire" : "PulseAudio";
}

PrivateSoundServer::PrivateSoundServer(SoundServerKind kind) : kind_(kind)
{
    if (!folder_.isValid())
        return;
    address_ = "unix:" + addressPath();
    start();
}

PrivateSoundServer::~PrivateSoundServer()
{
    // Ended politely, so PipeWire and PulseAudio leave no client hanging.
    for (auto process = processes_.rbegin(); process != processes_.rend(); ++process) {
        if ((*process)->state() == QProcess::NotRunning)
            continue;
        (*process)->terminate();
        if (!(*process)->waitForFinished(kCommandLimitMs)) {
            (*process)->kill();
            (*process)->waitForFinished();
        }
    }
}

QString PrivateSoundServer::addressPath() const
{
    return kind_ == SoundServerKind::PipeWire ? folder_.filePath("pulse/native") : folder_.filePath("native");
}

void PrivateSoundServer::kill()
{
    for (auto process = processes_.rbegin(); process != processes_.rend(); ++process) {
        (*process)->kill();
        (*process)->waitForFinished();
    }
    processes_.clear();
}

bool PrivateSoundServer::start()
{
    if (!folder_.isValid() || !processes_.empty())
        return false;
    return kind_ == SoundServerKind::PipeWire ? startPipeWire() : startPulseAudio();
}

QProcess* PrivateSoundServer::launch(const QString& program, const QStringList& arguments)
{
    auto process = std::make_unique<QProcess>();
    // Everything the server keeps goes into the private folder.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", folder_.path());
    env.insert("XDG_RUNTIME_DIR", folder_.path());
    env.insert("XDG_CONFIG_HOME", folder_.filePath("config"));
    env.insert("XDG_STATE_HOME", folder_.filePath("state"));
    env.insert("PULSE_RUNTIME_PATH", kind_ == SoundServerKind::PipeWire ? folder_.filePath("pulse") : folder_.path());
    env.insert("PULSE_STATE_PATH", folder_.filePath("state"));
    env.insert("PIPEWIRE_RUNTIME_DIR", folder_.path());
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder_.filePath("bus"));
    env.remove("PULSE_SERVER");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    process->setProcessEnvironment(env);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(folder_.filePath(QFileInfo(program).fileName() + ".log"), QIODevice::Append);
    process->start(program, arguments);
    if (!process->waitForStarted())
        return nullptr;
    processes_.push_back(std::move(process));
    return processes_.back().get();
}

bool PrivateSoundServer::waitUntilAnswering(const QStringList& mustShow)
{
    for (int waited = 0; waited < kStartLimitMs; waited += kStartPollMs) {
        bool ok = false;
        const QString info = pactl({"info"}, &ok);
        bool shows = ok;
        for (const QString& text : mustShow)
            shows = shows && info.contains(text);
        if (shows)
            return true;
        for (const auto& process : processes_)
            if (process->state() == QProcess::NotRunning)
                return false;
        QThread::msleep(kStartPollMs);
    }
    return false;
}

bool PrivateSoundServer::startPulseAudio()
{
    QFile scriptFile(folder_.filePath("server.pa"));
    if (!scriptFile.open(QIODevice::WriteOnly) || scriptFile.write(script(addressPath()).toUtf8()) < 0)
        return false;
    scriptFile.close();
    return launch("pulseaudio", {"-n", "--daemonize=no", "--use-pid-file=false", "--exit-idle-time=-1",
                                 "--realtime=false", "--high-priority=false", "--log-target=stderr", "-F",
                                 scriptFile.fileName()})
           && waitUntilAnswering({});
}

bool PrivateSoundServer::startPipeWire()
{
    // WirePlumber keeps the defaults and needs a session bus; the desktop's is not the test's.
    const QString bus = folder_.filePath("bus");
    QFile::remove(bus);
    if (!launch("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--address=unix:path=" + bus}))
        return false;
    for (int waited = 0; !QFile::exists(bus) && waited < kStartLimitMs; waited += kStartPollMs)
        QThread::msleep(kStartPollMs);
    // WirePlumber and the Pulse layer give up at once if PipeWire does not
    // answer yet. A server killed before this start left its socket behind,
    // which is no sign of the new one.
    const QString socket = folder_.filePath("pipewire-0");
    QFile::remove(socket);
    if (!launch("pipewire", {}))
        return false;
    for (int waited = 0; !QFile::exists(socket) && waited < kStartLimitMs; waited += kStartPollMs)
        QThread::msleep(kStartPollMs);
    if (!launch("wireplumber", {}) || !launch("pipewire-pulse", {}) || !waitUntilAnswering({}))
        return false;
    for (const QString& command : kFakeDeviceCommands) {
        bool ok = false;
        // The defaults are WirePlumber's to keep: they take once it is up.
        for (int waited = 0; !ok && waited < kStartLimitMs; waited += kStartPollMs) {
            pactl(command.split(' '), &ok);
            if (!ok)
                QThread::msleep(kStartPollMs);
        }
        if (!ok)
            return false;
    }
    return waitUntilAnswering({"Default Sink: fake_speakers", "Default Source: fake_microphone"});
}

bool PrivateSoundServer::isRunning() const
{
    bool ok = false;
    return !processes_.empty() && processes_.back()->state() == QProcess::Running && (pactl({"info"}, &ok), ok);
}

qint64 PrivateSoundServer::processId() const
{
    return processes_.empty() ? 0 : processes_.back()->processId();
}

QList<qint64> PrivateSoundServer::processIds() const
{
    QList<qint64> ids;
    for (const auto& process : processes_)
        if (process->program() != QStringLiteral("dbus-daemon"))
            ids << process->processId();
    return ids;
}

QString PrivateSoundServer::log() const
{
    QString text;
    for (const QString& name : QDir(folder_.path()).entryList({"*.log"}, QDir::Files)) {
        QFile file(folder_.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += "== " + name + '\n' + QString::fromUtf8(file.readAll());
    }
    return text;
}

void PrivateSoundServer::useForThisProcess() const
{
    setenv("PULSE_SERVER", address_.toUtf8().constData(), 1);
}

QString PrivateSoundServer::pactl(const QStringList& arguments, bool* ok) const
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_SERVER", address_);
    tool.setProcessEnvironment(env);
    tool.start("pactl", arguments);
    const bool finished = tool.waitForFinished(kCommandLimitMs);
    const bool succeeded = finished && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
    if (ok)
        *ok = succeeded;
    return succeeded ? QString::fromUtf8(tool.readAllStandardOutput()) : QString();
}

QStringList PrivateSoundServer::modules() const
{
    QStringList lines;
    for (const QString& line : pactl({"list", "modules", "short"}).split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split('\t');
        if (fields.size() >= 3)
            lines << (fields[1] + ' ' + fields[2]).trimmed();
    }
    return lines;
}

SourceRecorder::SourceRecorder(const QString& serverAddress, const std::string& source)
{
    const pa_sample_spec format = serverSpec();
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.fragsize = kRecordBlockFrames * kBytesPerFrame;
    int error = 0;
    stream_ = pa_simple_new(serverAddress.toUtf8().constData(), "qinghe-tests", PA_STREAM_RECORD, source.c_str(),
                            "recording", &format, nullptr, &attr, &error);
    started_ = stream_ != nullptr;
    if (started_)
        thread_ = std::thread(&SourceRecorder::record, this);
}

SourceRecorder::~SourceRecorder()
{
    stop();
}

void SourceRecorder::record()
{
    std::vector<std::int16_t> block(kRecordBlockFrames * kChannels);
    while (!stopping_.load()) {
        int error = 0;
        if (pa_simple_read(static_cast<pa_simple*>(stream_), block.data(), block.size() * 2, &error) < 0)
            break;
        const auto now = std::chrono::steady_clock::now();
        samples_.insert(samples_.end(), block.begin(), block.end());
        blocks_.push_back({frameCountOf(samples_), now});
        frames_.store(frameCountOf(samples_));
    }
}

bool SourceRecorder::waitUntilFlowing(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (started_ && frames_.load() == 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return started_;
}

ServerSamples SourceRecorder::stop()
{
    if (!stream_)
        return samples_;
    stopping_.store(true);
    if (thread_.joinable())
        thread_.join();
    pa_simple_free(static_cast<pa_simple*>(stream_));
    stream_ = nullptr;
    return samples_;
}

std::chrono::steady_clock::time_point SourceRecorder::arrivalOf(std::int64_t frame) const
{
    for (const Block& block : blocks_) {
        if (frame < block.endFrame) {
            // Frames arrive at the server's rate: the later in its block, the later it was made.
            const auto framesAfter = block.endFrame - 1 - frame;
            return block.arrived - std::chrono::microseconds(framesAfter * 1000000 / kServerRate);
        }
    }
    return blocks_.empty() ? std::chrono::steady_clock::time_point{} : blocks_.back().arrived;
}

TonePlayer::TonePlayer(const QString& serverAddress, const std::string& sink, int amplitude) : amplitude_(amplitude)
{
    const pa_sample_spec format = serverSpec();
    int error = 0;
    stream_ = pa_simple_new(serverAddress.toUtf8().constData(), "qinghe-tests", PA_STREAM_PLAYBACK, sink.c_str(),
                            "tone", &format, nullptr, nullptr, &error);
    started_ = stream_ != nullptr;
    if (!started_)
        return;
    thread_ = std::thread([this] {
        std::vector<std::int16_t> block(kToneBlockFrames * kChannels);
        std::int64_t frame = 0;
        while (!stopping_.load()) {
            for (int i = 0; i < kToneBlockFrames; ++i, ++frame) {
                const auto v = static_cast<std::int16_t>((frame / kToneHalfPeriod) % 2 ? -amplitude_ : amplitude_);
                block[2 * i] = v;
                block[2 * i + 1] = v;
            }
            int error = 0;
            if (pa_simple_write(static_cast<pa_simple*>(stream_), block.data(), block.size() * 2, &error) < 0)
                break;
        }
    });
}

TonePlayer::~TonePlayer()
{
    stopping_.store(true);
    if (thread_.joinable())
        thread_.join();
    if (stream_)
        pa_simple_free(static_cast<pa_simple*>(stream_));
}

std::int64_t frameCountOf(const ServerSamples& samples)
{
    return static_cast<std::int64_t>(samples.size() / kChannels);
}

std::int64_t onsetFrame(const ServerSamples& samples, std::int64_t from, int threshold)
{
    for (std::int64_t i = std::max<std::int64_t>(from, 0); i < frameCountOf(samples); ++i)
        if (std::abs(samples[2 * i]) > threshold || std::abs(samples[2 * i + 1]) > threshold)
            return i;
    return -1;
}

double rmsLevel(const ServerSamples& samples, std::int64_t from, std::int64_t to)
{
    double sum = 0;
    std::int64_t count = 0;
    for (std::int64_t i = std::max<std::int64_t>(from, 0) * kChannels;
         i < std::min(to, frameCountOf(samples)) * kChannels; ++i, ++count)
        sum += static_cast<double>(samples[i]) * samples[i];
    return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

}  // namespace qinghe::test_support
