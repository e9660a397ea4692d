// The show's music through the real window, heard on SDL's disk driver: no
// sound doubled, fading stops, and the menu's loop and fades on the next click.

#include "support/board_fixtures.h"
#include "support/board_window.h"
#include "support/recorded_boxes.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/sound_menu_driver.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <map>
#include <mutex>
#include <numeric>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

constexpr int kAmplitude = 8000;
constexpr std::uint64_t kMs = kWavRate / 1000;  // frames in a millisecond

// The loudest sample of each block the board hands to the device.
class HeardPeaks {
    mutable std::mutex mutex_;
    std::map<std::uint64_t, int> blocks_;  // by the block's first frame

public:
    HeardPeaks()
    {
        setMixObserver([this](const std::int16_t* samples, int frames, std::uint64_t first) {
            const auto louder = [](std::int16_t a, std::int16_t b) { return std::abs(a) < std::abs(b); };
            const int top = std::abs(int(*std::max_element(samples, samples + 2 * frames, louder)));
            std::lock_guard lock(mutex_);
            blocks_[first] = top;
        });
    }
    ~HeardPeaks() { setMixObserver({}); }

    // The loudest block from fromMs to toMs after frame from, once the device took it; -1 if it hangs.
    int peak(std::uint64_t from, std::uint64_t fromMs, std::uint64_t toMs) const
    {
        const std::uint64_t to = from + toMs * kMs;
        if (!QTest::qWaitFor([to] { return mediaMixedFrames() > to + 1024; }, 10000))
            return -1;
        std::lock_guard lock(mutex_);
        return std::accumulate(blocks_.lower_bound(from + fromMs * kMs), blocks_.lower_bound(to), 0,
                               [](int top, const auto& block) { return std::max(top, block.second); });
    }
};

}  // namespace

class BoardMusicTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    WindowRuntime runtime_;
    CustomSoundTables tables_;
    QPointer<MainWindow> window_;

    QPushButton* button(const char* name) const { return window_->findChild<QPushButton*>(name); }

    QString ini() const
    {
        QFile file(dir_.filePath("my.ini"));
        return file.open(QIODevice::ReadOnly) ? toQString(file.readAll().toStdString()) : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(dir_.filePath("heard.raw")));
        QVERIFY(writeSquareWav(dir_.filePath("tone.wav"), 3, kAmplitude));
        // Slot 2's style holds values that are no fade and no switch.
        QFile file(dir_.filePath("my.ini"));
        const Text bytes = fromQString(QStringLiteral("[自定义音乐]\r\n按钮1path=%1\r\n按钮2path=%1\r\n[声音设置]\r\n叠加播放=1\r\n"
                                                      "[循环]\r\n按钮2=abc\r\n[淡入]\r\n按钮2=-5\r\n[淡出]\r\n按钮2=20000\r\n"
                                                      "[背景音乐]\r\n按钮2=2\r\n")
                                           .arg(dir_.filePath("tone.wav")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes.data(), qint64(bytes.size())) > 0 && file.flush());
        window_ = openBoardWindow(runtime_, tables_, dir_.filePath("my.ini"));
        QVERIFY(window_ != nullptr);
    }

    void cleanupTestCase() { closeBoardWindow(window_); }

    void noSoundDoublesStopsFadeAndTheMenusLoopAndFadesShapeTheNextClick()
    {
        HeardPeaks heard;
        QSignalSpy started(&SoundEngine::instance(), &SoundEngine::voiceStarted);
        const auto progress = [&](int n) {
            return SoundEngine::instance().progress(started.at(n).at(0).value<VoiceId>());
        };
        QPushButton* slot = button("按钮109");
        slot->click();
        const std::uint64_t again = mediaMixedFrames();
        slot->click();  // starts again: the first makes way (叠加播放 is on)
        QCOMPARE(started.size(), 2);
        QVERIFY2(std::abs(heard.peak(again, 30, 200) - kAmplitude) < kAmplitude / 100, "one copy, never two");
        QTRY_VERIFY(!progress(0) && progress(1));

        // 再次点击停止, ticked in 声音设置, counts once the window closes.
        window_->findChild<QAction*>("声音设置")->trigger();
        QWidget* settings = openWindowNamed("声音设置窗口");
        QVERIFY(settings != nullptr);
        settings->findChild<QCheckBox*>("再次点击停止")->click();
        settings->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(heard.peak(again, 500, 600) > 0);  // past a double click
        std::uint64_t stopped = mediaMixedFrames();
        slot->click();  // fades out over 300 ms
        QCOMPARE(started.size(), 2);
        QVERIFY2(heard.peak(stopped, 60, 120) > kAmplitude / 4, "fading, not cut");
        QCOMPARE(heard.peak(stopped, 340, 440), 0);

        // A double click (two clicks as fast) starts the sound once, and leaves it playing.
        started.clear();
        slot->click();
        slot->click();
        QCOMPARE(started.size(), 1);
        QVERIFY(heard.peak(mediaMixedFrames(), 500, 600) > 0 && progress(0));
        stopped = mediaMixedFrames();
        button("按钮17")->click();  // 停止播放 fades over 300 ms by default
        QVERIFY2(heard.peak(stopped, 60, 120) > kAmplitude / 4, "fading, not cut");
        QCOMPARE(heard.peak(stopped, 340, 440), 0);

        // Slot 2's values count as none: no rise, no loop, no bed (beds are held low here), a stop's fade.
        SoundEngine::instance().setBedLevel(-12, {});
        started.clear();
        std::uint64_t clicked = mediaMixedFrames();
        button("按钮112")->click();
        QVERIFY(std::abs(heard.peak(clicked, 0, 40) - kAmplitude) < kAmplitude / 100);
        QVERIFY(!progress(0)->looping && !progress(0)->ducked);
        stopped = mediaMixedFrames();
        button("按钮17")->click();
        QCOMPARE(heard.peak(stopped, 340, 440), 0);

        QVERIFY(chooseFromMenu(slot, kLoopItem));
        QVERIFY(chooseFromMenu(slot, kFadeItem));
        QWidget* fades = openWindowNamed("淡入淡出窗口");
        QVERIFY(fades != nullptr);
        fades->findChild<QDoubleSpinBox*>("淡入")->setValue(0.5);
        fades->findChild<QDoubleSpinBox*>("淡出")->setValue(1.2);
        fades->findChild<QPushButton*>("确定")->click();
        QTRY_VERIFY(openWindowNamed("淡入淡出窗口") == nullptr);
        for (const char* kept : {"按钮1=1\r\n[淡入]", "按钮1=500\r\n[淡出]", "按钮1=1200\r\n[背景音乐]"})
            QVERIFY2(ini().contains(QString::fromUtf8(kept)), qPrintable(ini()));

        // The next click rises over half a second, is a bed, and loops on past the file's 3 s.
        clicked = mediaMixedFrames();
        slot->click();
        QVERIFY2(heard.peak(clicked, 0, 40) < kAmplitude / 8, "rises from silence");
        QVERIFY(progress(1)->looping && progress(1)->ducked);
        SoundEngine::instance().setBedLevel(0, {});
        QVERIFY(std::abs(heard.peak(clicked, 3100, 3200) - kAmplitude) < kAmplitude / 100);

        // 清除 takes the slot's style with it.
        RecordedBoxes yes(kAnswerYes);
        QVERIFY(chooseFromMenu(slot, kClearItem));
        QVERIFY2(!ini().contains(QStringLiteral("按钮1=")), qPrintable(ini()));
    }
};

QINGHE_WINDOW_TEST_MAIN(BoardMusicTest)
#include "board_music_test.moc"
