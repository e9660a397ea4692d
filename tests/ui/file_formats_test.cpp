// Every kind of file a host brings, bound to a custom slot through the
// slot's dialog and clicked on the board: heard at its pitch and level (the
// slot's loudness gain and the slider on top) where the sound goes out, on
// SDL's disk driver and in the chat through the virtual microphone.

#include "base/private_profile.h"
#include "board/loudness_numbers.h"
#include "board/sound_board.h"
#include "media/engine/sound_engine.h"
#include "runtime/dialogs.h"
#include "runtime/window_runtime.h"
#include "soundserver/routing_plan.h"
#include "soundserver/sound_routing.h"
#include "soundserver/sound_settings.h"
#include "support/board_fixtures.h"
#include "support/board_window.h"
#include "support/private_sound_server.h"
#include "support/tone_measure.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>

#include <cstdlib>
#include <functional>
#include <mutex>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

constexpr int kSlider = 80;
constexpr double kFrequencyTolerance = 0.01;
constexpr double kLosslessDb = 0.25;
constexpr double kLossyDb = 0.5;
constexpr double kCentre = 0.70710678;  // the fold-down's -3 dB on each side
constexpr double kAudible = 0.01;       // a synthesiser's own level: heard at least
// Each click is measured over the stretch ending this long after it: past
// any output's latency, well before its four-second file ends.
constexpr double kListenSeconds = 1.2;
constexpr int kStretchFrames = 1 << 14;
constexpr int kBlockFrames = kStretchFrames / 8;
constexpr int kPatienceMs = 30000;

struct FileKind {
    const char* file;
    const char* command;  // makes the file in the test's folder; null: the held MIDI note
    double frequency;
    double amplitude;     // as written; 0: the synthesiser's own
    double fold;          // what of it each side carries
    double toleranceDb;
};

#define QINGHE_SINE(rate) "ffmpeg -f lavfi -i 'aevalsrc=0.5*sin(2*PI*1000*t):s=" rate ":d=4' "
const FileKind kKinds[] = {
    {"8bit.wav", "sox -D -n -r 44100 -c 2 -b 8 8bit.wav synth 4 sine 1000 vol 0.5", 1000, 0.5, 1, kLosslessDb},
    {"24bit.wav", "sox -n -r 44100 -c 2 -b 24 24bit.wav synth 4 sine 1000 vol 0.5", 1000, 0.5, 1, kLosslessDb},
    {"float.wav", "sox -n -r 22050 -c 2 -e floating-point -b 32 float.wav synth 4 sine 1000 vol 0.5", 1000, 0.5, 1, kLosslessDb},
    {"mono8k.wav", "sox -n -r 8000 -c 1 -b 16 mono8k.wav synth 4 sine 440 vol 0.5", 440, 0.5, 1, kLosslessDb},
    {"hi.flac", "sox -n -r 96000 -c 2 -b 24 hi.flac synth 4 sine 1000 vol 0.5", 1000, 0.5, 1, kLosslessDb},
    {"tone.ogg", "sox -n -r 44100 -c 2 tone.ogg synth 4 sine 1000 vol 0.5", 1000, 0.5, 1, kLossyDb},
    {"tone.opus", QINGHE_SINE("48000") "-c:a libopus -b:a 128k tone.opus", 1000, 0.5, 1, kLossyDb},
    {"tone.m4a", QINGHE_SINE("44100") "-c:a aac -b:a 192k tone.m4a", 1000, 0.5, 1, kLossyDb},
    {"tone.wma", QINGHE_SINE("44100") "-c:a wmav2 -b:a 192k tone.wma", 1000, 0.5, 1, kLossyDb},
    {"held.mid", nullptr, 440, 0, 1, 0},
    {"centre.wav", "sox -n -r 48000 -c 1 -b 24 c.wav synth 4 sine 1000 vol 0.5 && sox c.wav centre.wav remix 0 0 1 0 0 0",
     1000, 0.5, kCentre, kLosslessDb},
};
#undef QINGHE_SINE

// One track: an ocarina (a near-pure fundamental, tuned true in the packaged
// sound font) holding A4 for four seconds at 120 bpm.
const QByteArray kHeldNote = QByteArray::fromHex("4d546864000000060000000100604d54726b00000010"
                                                 "00c04f00904564860080450000ff2f00");

// Every block handed to the SDL device, in order.
class MixRecording {
public:
    MixRecording()
    {
        setMixObserver([this](const std::int16_t* samples, int frames, std::uint64_t) {
            const std::lock_guard hold(lock_);
            samples_.insert(samples_.end(), samples, samples + 2 * frames);
        });
    }
    ~MixRecording() { setMixObserver({}); }
    MixRecording(const MixRecording&) = delete;
    MixRecording& operator=(const MixRecording&) = delete;

    std::int64_t framesSoFar()
    {
        const std::lock_guard hold(lock_);
        return frameCountOf(samples_);
    }
    ServerSamples stop()
    {
        setMixObserver({});
        const std::lock_guard hold(lock_);
        return samples_;
    }

private:
    std::mutex lock_;
    ServerSamples samples_;
};

// Where the board's sound is heard: frames so far (the one being made now),
// everything at the end, at what rate, and the engine's driver meanwhile.
struct Listening {
    std::function<std::int64_t()> framesSoFar;
    std::function<ServerSamples()> stop;
    std::function<int()> rate;
    std::string driver;
};

}  // namespace

class FileFormatsTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    CustomSoundTables tables_;
    std::unique_ptr<WindowRuntime> runtime_;
    QPointer<MainWindow> window_;
    std::unique_ptr<PrivateSoundServer> server_;
    std::unique_ptr<SoundRouting> routing_;
    QString chosen_;

    QString iniPath() const { return dir_.filePath("my.ini"); }
    QPushButton* slotButton(int slot) const { return window_->findChild<QPushButton*>(slotButtonName(slot)); }

    // The slot's loudness gain once the board has measured its file.
    std::optional<double> measuredGain(int slot) const
    {
        const Text section = fromQString(QString::fromUtf8(kSlotLoudnessSection));
        if (readProfileString(iniPath(), section, slotSoundKey(slot) + kSlotPeakSuffix).empty())
            return std::nullopt;
        return loudnessGainFromText(readProfileString(iniPath(), section, slotSoundKey(slot)));
    }

    // Binds each kind to a slot of its own, clicks each in turn, and checks
    // the tone each side carried over the stretch before the next click.
    void hearEveryKind(const Listening& output)
    {
        runtime_ = std::make_unique<WindowRuntime>();
        MainWindowContext context{*runtime_, tables_, Addresses::allAt("127.0.0.1:9"), iniPath(), [] { return false; }};
        context.soundRouting = routing_.get();
        window_ = MainWindow::open(context);
        QVERIFY(window_ != nullptr);
        window_->findChild<QSlider*>("滑块条1")->setValue(kSlider);
        const int kinds = int(std::size(kKinds));
        std::vector<double> gains;
        for (int slot = 1; slot <= kinds; ++slot) {
            chosen_ = dir_.filePath(kKinds[slot - 1].file);
            slotButton(slot)->click();
            QCOMPARE(slotButton(slot)->text(), QString::fromUtf8(kKinds[slot - 1].file));
        }
        for (int slot = 1; slot <= kinds; ++slot) {
            QTRY_VERIFY_WITH_TIMEOUT(measuredGain(slot).has_value(), kPatienceMs);
            gains.push_back(*measuredGain(slot));
        }
        std::vector<std::int64_t> ends;
        for (int slot = 1; slot <= kinds; ++slot) {
            slotButton(slot)->click();
            QCOMPARE(QString::fromStdString(mediaOutputFacts().driver), QString::fromStdString(output.driver));
            ends.push_back(output.framesSoFar() + std::int64_t(output.rate() * kListenSeconds));
            QTRY_VERIFY_WITH_TIMEOUT(output.framesSoFar() >= ends.back(), kPatienceMs);
        }
        const ServerSamples heard = output.stop();
        QStringList wrong;
        for (int kind = 0; kind < kinds; ++kind) {
            const FileKind& each = kKinds[kind];
            const double expected = each.amplitude * each.fold * std::pow(10, gains[kind] / 20) * kSlider / 100;
            for (int side = 0; side < 2; ++side) {
                std::vector<double> stretch;
                for (std::int64_t frame = ends[kind] - kStretchFrames; frame < ends[kind]; ++frame)
                    stretch.push_back(heard[std::size_t(2 * frame + side)] / 32768.0);
                const double frequencyError = dominantFrequency(stretch, output.rate()) / each.frequency - 1;
                // The middle of its blocks' levels: a moment's gap on a busy machine is no file's level.
                std::vector<double> levels;
                for (auto block = stretch.begin(); block != stretch.end(); block += kBlockFrames)
                    levels.push_back(toneAmplitude({block, block + kBlockFrames}));
                std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
                const double level = levels[levels.size() / 2];
                const QString line = QStringLiteral("%1 side %2: frequency %3%, level %4 (%5 dB from %6)")
                                         .arg(each.file).arg(side).arg(frequencyError * 100, 0, 'f', 3)
                                         .arg(level, 0, 'f', 4).arg(decibels(level / expected), 0, 'f', 2)
                                         .arg(expected, 0, 'f', 4);
                qInfo("%s", qPrintable(line));
                if (std::abs(frequencyError) > kFrequencyTolerance ||
                    (each.amplitude > 0 ? std::abs(decibels(level / expected)) > each.toleranceDb : level < kAudible))
                    wrong << line;
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        // Whatever falls back to SDL's disk driver writes in the test's folder.
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(dir_.filePath("device.raw")));
        for (const FileKind& kind : kKinds) {
            if (kind.command == nullptr) {
                QFile midi(dir_.filePath(kind.file));
                QVERIFY(midi.open(QIODevice::WriteOnly) && midi.write(kHeldNote) == kHeldNote.size());
                continue;
            }
            const QString line = "cd '" + dir_.path() + "' && " + kind.command + " </dev/null >/dev/null 2>&1";
            QVERIFY2(std::system(QFile::encodeName(line).constData()) == 0, kind.command);
        }
        setFileDialogSeam([this](const FileDialogRequest&) { return chosen_; });
        setInputBoxSeam([this](const InputBoxRequest&) { return InputBoxAnswer{true, QFileInfo(chosen_).fileName()}; });
    }

    void cleanupTestCase()
    {
        setFileDialogSeam({});
        setInputBoxSeam({});
    }

    void cleanup()
    {
        closeBoardWindow(window_);
        runtime_.reset();
        if (routing_)
            QVERIFY(routing_->shutDown(SoundRouting::kExitLimit));
        routing_.reset();
        closeMediaOutput();
        server_.reset();
        QFile::remove(iniPath());
    }

    // No sound server: the board plays through SDL, here its disk driver.
    void heardOnTheDiskDriver()
    {
        qputenv("PULSE_SERVER", QFile::encodeName("unix:" + dir_.filePath("absent")));
        qputenv("SDL_AUDIODRIVER", "disk");
        MixRecording mix;
        hearEveryKind({[&mix] { return mix.framesSoFar(); }, [&mix] { return mix.stop(); },
                       [] { return mediaOutputFacts().rate; }, "disk"});
    }

    // A private server (QINGHE_TEST_SOUND_SERVER picks PulseAudio or
    // PipeWire) with the virtual microphone on, as my.ini says at start-up;
    // the chat's side recorded. The engine plays at the server's own rate.
    void heardAtTheVirtualMicrophone()
    {
        server_ = std::make_unique<PrivateSoundServer>();
        QVERIFY2(server_->isRunning(), qPrintable(server_->log()));
        server_->useForThisProcess();
        SoundSettings settings;
        settings.virtualMicrophone = true;
        QVERIFY(writeSoundSettings(iniPath(), settings));
        routing_ = std::make_unique<SoundRouting>([](const OutputTarget& target) { setMediaOutputDevice(target); });
        routing_->apply(readSoundSettings(iniPath()));
        QVERIFY(routing_->waitUntilIdle(std::chrono::milliseconds(kPatienceMs)));
        QVERIFY2(routing_->status().microphoneOn, qPrintable(server_->log()));
        SourceRecorder chat(server_->address(), kMicrophoneName);
        QVERIFY(chat.waitUntilFlowing(std::chrono::milliseconds(kPatienceMs)));
        hearEveryKind({[&chat] { return chat.framesSoFar(); }, [&chat] { return chat.stop(); },
                       [] { return kServerRate; }, kServerStreamsDriver});
        // pactl info's line of the server's default sample format: "s16le 2ch 44100Hz".
        const QString rate = QRegularExpression("Default Sample \\w+: \\S+ \\S+ (\\d+)Hz")
                                 .match(server_->pactl({"info"})).captured(1);
        qInfo("%s plays at %s Hz", nameOf(server_->kind()), qPrintable(rate));
        QCOMPARE(mediaOutputFacts().rate, rate.toInt());
    }
};

QINGHE_WINDOW_TEST_MAIN(FileFormatsTest)
#include "file_formats_test.moc"
