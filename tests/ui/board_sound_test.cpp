#include "runtime/window_runtime.h"
#include "board/sound_catalogue.h"
#include "media/engine/sound_engine.h"
#include "support/board_fixtures.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include "support/played_sounds.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

#include <cstdlib>
#include <map>
#include <mutex>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

constexpr int kRate = 44100;
constexpr int kLoud = 30000;
constexpr int kQuiet = 10000;
// Frames a cut sound takes to fade out, the block it began in included.
constexpr int kCutFrames = int(kRate * kCutFade.count() / 1000000) + 512;
// Longest wait for the audio device to take the frames a check needs.
constexpr int kDeviceTimeoutMs = 10000;

// Everything the board's player hands to the audio device, frame by frame.
class HeardSound {
public:
    HeardSound()
    {
        setMixObserver([this](const std::int16_t* samples, int frames, std::uint64_t firstFrame) {
            std::lock_guard lock(mutex_);
            for (int i = 0; i < frames; ++i)
                frames_[firstFrame + i] = {samples[2 * i], samples[2 * i + 1]};
        });
    }
    ~HeardSound() { setMixObserver({}); }
    HeardSound(const HeardSound&) = delete;
    HeardSound& operator=(const HeardSound&) = delete;

    // Frames handed over so far: what a click returning now can affect comes after.
    static std::uint64_t now() { return mediaMixedFrames(); }

    // False when the device stops taking sound before frame: the caller's test stops there.
    [[nodiscard]] bool waitPast(std::uint64_t frame) const
    {
        return QTest::qWaitFor([frame] { return mediaMixedFrames() > frame; }, kDeviceTimeoutMs);
    }

    // The distinct (|left|, |right|) levels of frames in [from, to).
    std::map<std::pair<int, int>, int> levels(std::uint64_t from, std::uint64_t to) const
    {
        std::lock_guard lock(mutex_);
        std::map<std::pair<int, int>, int> seen;
        for (auto it = frames_.lower_bound(from); it != frames_.end() && it->first < to; ++it)
            ++seen[{std::abs(it->second.first), std::abs(it->second.second)}];
        return seen;
    }

    int peak(std::uint64_t from, std::uint64_t to) const
    {
        int top = 0;
        for (const auto& [level, count] : levels(from, to))
            top = std::max({top, level.first, level.second});
        return top;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::uint64_t, std::pair<int, int>> frames_;
};

}  // namespace

// The board heard: clicks, the slider and the stop buttons, measured on the
// samples the player hands to the audio device.
class BoardSoundTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<WindowRuntime> runtime_;
    CustomSoundTables tables_;
    QPointer<MainWindow> window_;
    std::unique_ptr<test::PlayedSounds> played_;

    QPushButton* button(const char* name) const { return window_->findChild<QPushButton*>(name); }
    QSlider* slider() const { return window_->findChild<QSlider*>("滑块条1"); }

    // Slot 1 plays a loud square wave, slot 2 a quiet one, slot 3 a file that is gone.
    [[nodiscard]] bool writeSlots()
    {
        if (!writeSquareWav(dir_.filePath("loud.wav"), 3, kLoud) ||
            !writeSquareWav(dir_.filePath("quiet.wav"), 3, kQuiet))
            return false;
        const QString ini = QStringLiteral("[自定义音乐]\r\n按钮1path=%1\r\n按钮1name=响\r\n按钮2path=%2\r\n"
                                           "按钮2name=轻\r\n按钮3path=%3\r\n按钮3name=无\r\n"
                                           "[声音设置]\r\n停止淡出=0\r\n")  // stops cut, so silence follows at once
                                .arg(dir_.filePath("loud.wav"), dir_.filePath("quiet.wav"),
                                     dir_.filePath("gone.wav"));
        QFile file(dir_.filePath("my.ini"));
        const Text bytes = fromQString(ini);
        return file.open(QIODevice::WriteOnly) && file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY(writeSlots());
        // The board's effects are "data\..." files, found from the program's own folder.
        QVERIFY(QDir::setCurrent(QStringLiteral(QINGHE_SOURCE_DIR)));
        played_ = std::make_unique<test::PlayedSounds>();
    }

    void cleanupTestCase() { played_.reset(); }

    void init()
    {
        runtime_ = std::make_unique<WindowRuntime>();
        MainWindowContext context{*runtime_, tables_, Addresses::allAt("127.0.0.1:9"), dir_.filePath("my.ini"),
                                  [] { return false; }};
        window_ = MainWindow::open(context);
        QVERIFY(window_ != nullptr);
        played_->lines.clear();
    }

    void cleanup()
    {
        // Closing while a sound plays would ask the host.
        SoundEngine::instance().stopAll();
        if (window_)
            window_->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runtime_.reset();
    }

    void effectClickOpensPlaysAndSetsTheSliderVolume()
    {
        HeardSound heard;
        slider()->setValue(37);
        played_->lines.clear();
        button("按钮8")->click();  // "哄堂大笑"
        const std::uint64_t clicked = heard.now();

        QCOMPARE(played_->lines.filter(QStringLiteral("open ")), QStringList{"open " + test::effectFile("qzxs.mp3")});
        QVERIFY(heard.waitPast(clicked + kRate / 2));
        QVERIFY(heard.peak(clicked, clicked + kRate / 2) > 1000);
    }

    void sliderSetsBothChannelsAndChangesAPlayingSoundAtOnce()
    {
        HeardSound heard;
        slider()->setValue(37);
        button("按钮109")->click();  // slot 1, the loud square wave
        const std::uint64_t clicked = heard.now();
        QVERIFY(heard.waitPast(clicked + kRate / 10));
        QCOMPARE(heard.levels(clicked, clicked + kRate / 10),
                 (std::map<std::pair<int, int>, int>{{{11100, 11100}, kRate / 10}}));

        slider()->setValue(50);
        const std::uint64_t moved = heard.now();
        QVERIFY(heard.waitPast(moved + kRate / 10));
        QCOMPARE(heard.levels(moved, moved + kRate / 10).begin()->first, std::make_pair(15000, 15000));
        QCOMPARE(heard.levels(moved, moved + kRate / 10).size(), std::size_t(1));

        slider()->setValue(1);  // the lowest position is quiet, never silent
        const std::uint64_t lowest = heard.now();
        QVERIFY(heard.waitPast(lowest + kRate / 10));
        QCOMPARE(heard.levels(lowest, lowest + kRate / 10).begin()->first, std::make_pair(300, 300));
    }

    void aSecondClickCutsTheFirstOffAtOnce()
    {
        HeardSound heard;
        button("按钮109")->click();  // loud
        QVERIFY(heard.waitPast(heard.now() + kRate / 10));
        button("按钮112")->click();  // quiet
        const std::uint64_t cut = heard.now() + kCutFrames;
        QVERIFY(heard.waitPast(cut + kRate / 5));
        QCOMPARE(heard.levels(cut, cut + kRate / 5),
                 (std::map<std::pair<int, int>, int>{{{kQuiet, kQuiet}, kRate / 5}}));
    }

    void everyStopButtonSilences()
    {
        for (const BoardButton& entry : boardCatalogue()) {
            if (entry.action != BoardAction::Stop)
                continue;
            HeardSound heard;
            button("按钮109")->click();
            QVERIFY(heard.waitPast(heard.now() + kRate / 20));
            played_->lines.clear();
            window_->findChild<QPushButton*>(buttonName(entry))->click();
            const std::uint64_t stopped = heard.now() + kCutFrames;
            QTRY_COMPARE(played_->lines.filter(QStringLiteral("stop ")).size(), 1);
            QVERIFY(heard.waitPast(stopped + kRate / 10));
            QCOMPARE(heard.peak(stopped, stopped + kRate / 10), 0);
        }
    }

    void aMissingFilePlaysNothingAndBreaksNothing()
    {
        HeardSound heard;
        button("按钮109")->click();
        QVERIFY(heard.waitPast(heard.now() + kRate / 20));
        played_->lines.clear();
        button("按钮115")->click();  // slot 3: its file is gone
        const std::uint64_t silent = heard.now() + kCutFrames;
        QVERIFY(played_->lines.filter(QStringLiteral("play ")).isEmpty());
        QVERIFY(heard.waitPast(silent + kRate / 10));
        QCOMPARE(heard.peak(silent, silent + kRate / 10), 0);

        button("按钮112")->click();
        const std::uint64_t again = heard.now();
        QVERIFY(heard.waitPast(again + kRate / 10));
        QCOMPARE(heard.peak(again, again + kRate / 10), kQuiet);
    }

    void everyEffectButtonOpensItsFileInData()
    {
        int effects = 0;
        for (const BoardButton& entry : boardCatalogue()) {
            if (entry.action != BoardAction::PlayEffect)
                continue;
            ++effects;
            played_->lines.clear();
            window_->findChild<QPushButton*>(buttonName(entry))->click();
            QCOMPARE(played_->lines.filter(QStringLiteral("open ")),
                     QStringList{"open " + resolveMediaFile(Text(entry.effectFile))});
        }
        QCOMPARE(effects, 102);
    }
};

QINGHE_WINDOW_TEST_MAIN(BoardSoundTest)
#include "board_sound_test.moc"
