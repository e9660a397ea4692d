// Custom slots play at the loudness of the built-in effects: measured on
// what the board hands to the audio device, with the meter of the EBU R128
// reference (libebur128), after slots are bound by the dialog and by drops.

#include "board/slot_loudness.h"
#include "base/private_profile.h"
#include "media/engine/sound_engine.h"
#include "runtime/dialogs.h"
#include "runtime/window_runtime.h"
#include "support/board_fixtures.h"
#include "support/board_window.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

// What the host must hear alike: within one loudness unit.
constexpr double kLoudnessTolerance = 1;
// A 441 Hz square at -20 dBFS, and the same 12 dB quieter.
constexpr int kToneAmplitude = 3277;
constexpr int kQuietToneAmplitude = 823;
constexpr int kToneSeconds = 3;
// Two seconds of a slot's sound are measured: five measuring blocks and more.
constexpr int kHeardFrames = 2 * kWavRate;
// Longest wait for the audio device or the measurement; only a hang reaches it.
constexpr int kPatienceMs = 30000;
constexpr int kFullScale = 32767;

// Every frame the board hands to the audio device, in order.
class HeardFrames {
public:
    HeardFrames()
    {
        setMixObserver([this](const std::int16_t* samples, int frames, std::uint64_t firstFrame) {
            std::lock_guard lock(mutex_);
            if (samples_.empty())
                first_ = firstFrame;
            if (firstFrame != first_ + samples_.size() / 2)
                return;  // never: blocks are counted one after another
            samples_.insert(samples_.end(), samples, samples + 2 * frames);
        });
    }
    ~HeardFrames() { setMixObserver({}); }
    HeardFrames(const HeardFrames&) = delete;
    HeardFrames& operator=(const HeardFrames&) = delete;

    // The frames [from, from + count), once the device has taken them; empty if it never does.
    std::vector<std::int16_t> take(std::uint64_t from, int count) const
    {
        const std::uint64_t until = from + static_cast<std::uint64_t>(count);
        if (!QTest::qWaitFor([until] { return mediaMixedFrames() > until; }, kPatienceMs))
            return {};
        std::lock_guard lock(mutex_);
        if (samples_.empty() || from < first_ || until > first_ + samples_.size() / 2)
            return {};
        const auto begin = samples_.begin() + static_cast<std::ptrdiff_t>(2 * (from - first_));
        return {begin, begin + 2 * count};
    }

private:
    mutable std::mutex mutex_;
    std::uint64_t first_ = 0;
    std::vector<std::int16_t> samples_;
};

// Integrated loudness of stereo frames; NaN when it cannot be measured.
double integratedLoudness(const std::vector<std::int16_t>& samples)
{
    ebur128_state* meter = ebur128_init(2, kWavRate, EBUR128_MODE_I);
    if (!meter)
        return std::nan("");
    double loudness = std::nan("");
    if (ebur128_add_frames_short(meter, samples.data(), samples.size() / 2) != EBUR128_SUCCESS
        || ebur128_loudness_global(meter, &loudness) != EBUR128_SUCCESS)
        loudness = std::nan("");
    ebur128_destroy(&meter);
    return loudness;
}

int peakOf(const std::vector<std::int16_t>& samples)
{
    int peak = 0;
    for (const std::int16_t s : samples)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
}

}  // namespace

class SlotLoudnessTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<WindowRuntime> runtime_;
    CustomSoundTables tables_;
    QPointer<MainWindow> window_;
    QStringList fileAnswers_;

    QString iniPath() const { return dir_->filePath("my.ini"); }
    QPushButton* slotButton(int slot) const { return window_->findChild<QPushButton*>(slotButtonName(slot)); }

    [[nodiscard]] bool openWindow()
    {
        window_ = openBoardWindow(*runtime_, tables_, iniPath());
        return window_ != nullptr;
    }

    void closeWindow() { closeBoardWindow(window_); }

    // Binds the slot through its own dialog.
    void chooseForSlot(int slot, const QString& file)
    {
        fileAnswers_ << file;
        slotButton(slot)->click();
    }

    [[nodiscard]] bool dropOnSlot(int slot, const QString& file)
    {
        return dragAndDrop(slotButton(slot), *droppedUrls({QUrl::fromLocalFile(file)}));
    }

    [[nodiscard]] bool measured(int slot) const
    {
        return QTest::qWaitFor([this, slot] { return tables_.loudnessGains[slot].has_value(); }, kPatienceMs);
    }

    // What the device takes after a click on the slot.
    std::vector<std::int16_t> heardAfterClicking(int slot, int frames = kHeardFrames)
    {
        HeardFrames heard;
        slotButton(slot)->click();
        return heard.take(mediaMixedFrames(), frames);
    }

    Text storedGain(int slot) const
    {
        return readProfileString(iniPath(), fromQString(QStringLiteral("响度")),
                                 fromQString(QStringLiteral("按钮%1").arg(slot)), "absent");
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        runtime_ = std::make_unique<WindowRuntime>();
        fileAnswers_.clear();
        setFileDialogSeam([this](const FileDialogRequest&) {
            return fileAnswers_.isEmpty() ? QString() : fileAnswers_.takeFirst();
        });
        setInputBoxSeam([](const InputBoxRequest& request) { return InputBoxAnswer{true, request.initialText}; });
        QVERIFY(openWindow());
    }

    void cleanup()
    {
        closeWindow();
        runtime_.reset();
        setFileDialogSeam({});
        setInputBoxSeam({});
    }

    void twoCopiesTwelveDecibelsApartPlayAlikeAndKeepTheirGainAfterARestart()
    {
        const QString loud = dir_->filePath("掌声.wav");
        const QString quiet = dir_->filePath("掌声 小.wav");
        const auto square = [](int amplitude) {
            return [amplitude](int i) { return (i / kSquareHalfPeriod) % 2 ? amplitude : -amplitude; };
        };
        QVERIFY(writeWav(loud, kToneSeconds * kWavRate, square(kToneAmplitude)));
        QVERIFY(writeWav(quiet, kToneSeconds * kWavRate, square(kQuietToneAmplitude)));
        chooseForSlot(1, loud);
        QVERIFY(dropOnSlot(2, quiet));
        QVERIFY(measured(1));
        QVERIFY(measured(2));

        const double loudHeard = integratedLoudness(heardAfterClicking(1));
        const double quietHeard = integratedLoudness(heardAfterClicking(2));
        QVERIFY2(std::abs(loudHeard - quietHeard) < kLoudnessTolerance,
                 qPrintable(QStringLiteral("%1 and %2 LUFS").arg(loudHeard).arg(quietHeard)));
        QVERIFY2(std::abs(quietHeard - kEffectLoudnessLufs) < kLoudnessTolerance, qPrintable(QString::number(quietHeard)));

        // my.ini keeps each gain as "%.13g" text; the next start plays at it again.
        QCOMPARE(storedGain(1), numberToText(*tables_.loudnessGains[1]));
        QCOMPARE(storedGain(2), numberToText(*tables_.loudnessGains[2]));
        const double quietGain = *tables_.loudnessGains[2];
        closeWindow();
        QVERIFY(openWindow());
        QCOMPARE(tables_.loudnessGains[2], std::optional<double>(std::stod(storedGain(2))));
        QVERIFY(std::abs(*tables_.loudnessGains[2] - quietGain) < kLoudnessGainStep);
        const double afterRestart = integratedLoudness(heardAfterClicking(2));
        QVERIFY2(std::abs(afterRestart - quietHeard) < kLoudnessTolerance, qPrintable(QString::number(afterRestart)));
    }

    void aFileThatCannotBeMeasuredPlaysAsBefore()
    {
        constexpr int kAmplitude = 10000;
        // Shorter than the meter's 400 ms block, yet a sound the player plays.
        const QString blip = dir_->filePath("blip.wav");
        const QString tone = dir_->filePath("tone.wav");
        QVERIFY(writeWav(blip, kWavRate / 4, [](int i) { return (i / kSquareHalfPeriod) % 2 ? kAmplitude : -kAmplitude; }));
        QVERIFY(writeSquareWav(tone, 1, kAmplitude));
        chooseForSlot(3, blip);
        chooseForSlot(4, tone);
        // Files are measured in turn: once the second is, the first is done.
        QVERIFY(measured(4));
        QVERIFY(!tables_.loudnessGains[3]);
        QCOMPARE(storedGain(3), Text("absent"));

        window_->findChild<QSlider*>("滑块条1")->setValue(37);
        const std::vector<std::int16_t> heard = heardAfterClicking(3, kWavRate / 8);
        QVERIFY(!heard.empty());
        for (const std::int16_t s : heard)
            QVERIFY2(s == 0 || std::abs(s) == 3700, qPrintable(QString::number(s)));  // 10000 at volume 370, as ever
        QCOMPARE(peakOf(heard), 3700);
    }

    // Loud peaks over a quiet body: the gain the body asks for would clip
    // them, so the slot is raised only as far as its peaks allow.
    void aQuietFileWithLoudPeaksIsRaisedOnlyUpToFullScale()
    {
        constexpr int kBody = 800;
        constexpr int kSpike = 30000;
        constexpr int kSpikeEvery = kWavRate / 10;
        const QString peaky = dir_->filePath("peaky.wav");
        QVERIFY(writeWav(peaky, kToneSeconds * kWavRate, [](int i) {
            if (i % kSpikeEvery == kSpikeEvery / 2)
                return kSpike;
            return (i / kSquareHalfPeriod) % 2 ? kBody : -kBody;
        }));
        QVERIFY(dropOnSlot(5, peaky));
        QVERIFY(measured(5));
        QVERIFY(*tables_.loudnessGains[5] > 0);

        const std::vector<std::int16_t> heard = heardAfterClicking(5);
        QVERIFY(!heard.empty());
        const int peak = peakOf(heard);
        QVERIFY2(peak < kFullScale, "a sample was held at full scale");
        QVERIFY2(peak > kSpike, qPrintable(QString::number(peak)));
        QVERIFY2(integratedLoudness(heard) < kEffectLoudnessLufs - kLoudnessTolerance, "held back by its peaks");
    }
};

QINGHE_WINDOW_TEST_MAIN(SlotLoudnessTest)
#include "slot_loudness_test.moc"
