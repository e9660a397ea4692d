// The board's window heard: with 叠加播放 two clicks play at once and
// 停止播放 silences both; a stop or a cut fades out without a click.
// Measured on every sample the board hands to the audio device.

#include "media/engine/sound_engine.h"
#include "support/board_fixtures.h"
#include "support/board_window.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <numbers>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

constexpr int kAmplitude = 12000;
// Longest wait for the audio device to take the frames a check needs.
constexpr int kDeviceTimeoutMs = 10000;
// A cut fades out within 10 ms.
constexpr std::uint64_t kLongestFade = kWavRate / 100;
constexpr std::uint64_t kTenthOfASecond = kWavRate / 10;

// Every frame the board hands to the audio device.
class HeardFrames {
public:
    HeardFrames()
    {
        setMixObserver([this](const std::int16_t* samples, int frames, std::uint64_t firstFrame) {
            std::lock_guard lock(mutex_);
            for (int i = 0; i < frames; ++i)
                frames_[firstFrame + i] = {samples[2 * i], samples[2 * i + 1]};
        });
    }
    ~HeardFrames() { setMixObserver({}); }
    HeardFrames(const HeardFrames&) = delete;
    HeardFrames& operator=(const HeardFrames&) = delete;

    static std::uint64_t now() { return mediaMixedFrames(); }

    [[nodiscard]] bool waitPast(std::uint64_t frame) const
    {
        return QTest::qWaitFor([frame] { return mediaMixedFrames() > frame; }, kDeviceTimeoutMs);
    }

    int peak(std::uint64_t from, std::uint64_t to, int channel) const
    {
        std::lock_guard lock(mutex_);
        int top = 0;
        for (auto it = frames_.lower_bound(from); it != frames_.end() && it->first < to; ++it)
            top = std::max(top, std::abs(channel == 0 ? it->second.first : it->second.second));
        return top;
    }

    int largestStep(std::uint64_t from, std::uint64_t to, int channel) const
    {
        std::lock_guard lock(mutex_);
        int step = 0;
        int before = 0;
        bool first = true;
        for (auto it = frames_.lower_bound(from); it != frames_.end() && it->first < to; ++it) {
            const int sample = channel == 0 ? it->second.first : it->second.second;
            if (!first)
                step = std::max(step, std::abs(sample - before));
            before = sample;
            first = false;
        }
        return step;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::uint64_t, std::pair<int, int>> frames_;
};

// A 3 s sine from phase 0 on the chosen channels.
[[nodiscard]] bool writeSine(const QString& path, double hertz, bool left, bool right)
{
    return writeStereoWav(path, 3 * kWavRate, [&](int frame) {
        const auto v = qint16(std::lround(kAmplitude * std::sin(2 * std::numbers::pi * hertz * frame / kWavRate)));
        return std::pair{left ? v : qint16(0), right ? v : qint16(0)};
    });
}

}  // namespace

class EngineOverlapTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<WindowRuntime> runtime_;
    CustomSoundTables tables_;
    QPointer<MainWindow> window_;

    QPushButton* button(const char* name) const { return window_->findChild<QPushButton*>(name); }

    // Slot 1 plays on the left, slot 2 on the right; 叠加播放 as asked.
    [[nodiscard]] bool openWith(bool overlap)
    {
        const QString ini = QStringLiteral("[自定义音乐]\r\n按钮1path=%1\r\n按钮1name=左\r\n按钮2path=%2\r\n按钮2name=右\r\n"
                                           "[声音设置]\r\n叠加播放=%3\r\n停止淡出=0\r\n")  // 停止播放 cuts
                                .arg(dir_.filePath("left.wav"), dir_.filePath("right.wav"))
                                .arg(overlap ? 1 : 0);
        QFile file(dir_.filePath("my.ini"));
        const Text bytes = fromQString(ini);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
            return false;
        file.close();
        window_ = openBoardWindow(*runtime_, tables_, dir_.filePath("my.ini"));
        if (!window_)
            return false;
        window_->findChild<QSlider*>("滑块条1")->setValue(100);
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY(writeSine(dir_.filePath("left.wav"), 441, true, false));
        QVERIFY(writeSine(dir_.filePath("right.wav"), 300, false, true));
    }

    void init() { runtime_ = std::make_unique<WindowRuntime>(); }

    void cleanup()
    {
        closeBoardWindow(window_);
        runtime_.reset();
    }

    void withOverlapTwoClicksAreBothHeardAndStopSilencesBoth()
    {
        QVERIFY(openWith(true));
        HeardFrames heard;
        button("按钮109")->click();
        QVERIFY(heard.waitPast(heard.now() + kTenthOfASecond));
        button("按钮112")->click();
        const std::uint64_t both = heard.now();
        QVERIFY(heard.waitPast(both + kTenthOfASecond));
        QVERIFY2(heard.peak(both + kLongestFade, both + kTenthOfASecond, 0) > kAmplitude * 99 / 100, "the first plays on");
        QVERIFY2(heard.peak(both + kLongestFade, both + kTenthOfASecond, 1) > kAmplitude * 99 / 100, "beside the second");

        button("按钮17")->click();  // 停止播放
        const std::uint64_t stopped = heard.now();
        QVERIFY(heard.waitPast(stopped + kTenthOfASecond));
        QCOMPARE(heard.peak(stopped + kLongestFade, stopped + kTenthOfASecond, 0), 0);
        QCOMPARE(heard.peak(stopped + kLongestFade, stopped + kTenthOfASecond, 1), 0);
    }

    void withoutOverlapTheSecondClickCutsTheFirst()
    {
        QVERIFY(openWith(false));
        HeardFrames heard;
        button("按钮109")->click();
        QVERIFY(heard.waitPast(heard.now() + kTenthOfASecond));
        button("按钮112")->click();
        const std::uint64_t cut = heard.now();
        QVERIFY(heard.waitPast(cut + kTenthOfASecond));
        QCOMPARE(heard.peak(cut + kLongestFade, cut + kTenthOfASecond, 0), 0);
        QVERIFY(heard.peak(cut + kLongestFade, cut + kTenthOfASecond, 1) > kAmplitude * 99 / 100);
    }

    // A cut by a new sound and a stop: the sound cut off fades out, never
    // stepping further from one sample to the next than it did itself in
    // its last 10 ms.
    void aCutLeavesNoStepLargerThanTheSoundsOwn()
    {
        QVERIFY(openWith(false));
        HeardFrames heard;
        button("按钮109")->click();
        QVERIFY(heard.waitPast(heard.now() + kTenthOfASecond + 37));
        const std::uint64_t cut = heard.now();
        button("按钮112")->click();  // plays on the right: the left is the cut sound alone
        QVERIFY(heard.waitPast(cut + kTenthOfASecond));
        const int ownStep = heard.largestStep(cut - kLongestFade, cut, 0);
        QVERIFY(ownStep > 0);
        QVERIFY2(heard.largestStep(cut, cut + kTenthOfASecond, 0) <= ownStep, "the cut clicks");

        QVERIFY(heard.waitPast(heard.now() + 19));
        const std::uint64_t stopped = heard.now();
        button("按钮17")->click();
        QVERIFY(heard.waitPast(stopped + kTenthOfASecond));
        const int rightStep = heard.largestStep(stopped - kLongestFade, stopped, 1);
        QVERIFY(rightStep > 0);
        QVERIFY2(heard.largestStep(stopped, stopped + kTenthOfASecond, 1) <= rightStep, "the stop clicks");
        QCOMPARE(heard.peak(stopped + kLongestFade, stopped + kTenthOfASecond, 1), 0);
    }
};

QINGHE_WINDOW_TEST_MAIN(EngineOverlapTest)
#include "engine_overlap_test.moc"
