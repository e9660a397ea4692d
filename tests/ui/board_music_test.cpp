// The show's music through the real window, heard on SDL's disk driver: a
// click on a playing sound never doubles it, 再次点击停止 and 停止播放 fade,
// and a sound's loop and fades set in its menu shape its next click.

#include "media/engine/sound_engine.h"
#include "support/board_fixtures.h"
#include "support/board_window.h"
#include "support/played_sounds.h"
#include "support/recorded_boxes.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"
#include "ui/sound_menu_driver.h"

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDoubleSpinBox>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <map>
#include <mutex>
#include <string>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

constexpr int kAmplitude = 8000;
constexpr std::uint64_t kMs = kWavRate / 1000;  // frames in a millisecond

// The loudest sample of each block the board hands to the device.
class HeardPeaks {
public:
    HeardPeaks()
    {
        setMixObserver([this](const std::int16_t* samples, int frames, std::uint64_t first) {
            int top = 0;
            for (int i = 0; i < 2 * frames; ++i)
                top = std::max(top, std::abs(int(samples[i])));
            std::lock_guard lock(mutex_);
            blocks_[first] = top;
        });
    }
    ~HeardPeaks() { setMixObserver({}); }

    // The loudest of the blocks starting from from + fromMs to from + toMs, once the device took them; -1 if it hangs.
    int peak(std::uint64_t from, std::uint64_t fromMs, std::uint64_t toMs) const
    {
        const std::uint64_t to = from + toMs * kMs;
        if (!QTest::qWaitFor([to] { return mediaMixedFrames() > to + 1024; }, 10000))
            return -1;
        std::lock_guard lock(mutex_);
        int top = 0;
        for (auto it = blocks_.lower_bound(from + fromMs * kMs); it != blocks_.end() && it->first < to; ++it)
            top = std::max(top, it->second);
        return top;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::uint64_t, int> blocks_;
};

bool nearAmplitude(int peak)
{
    return peak > kAmplitude * 99 / 100 && peak < kAmplitude * 101 / 100;
}

// The voices started since the lines were last cleared.
QList<VoiceId> started(const test::PlayedSounds& played)
{
    QList<VoiceId> voices;
    for (const QString& line : played.lines)
        if (line.startsWith(QLatin1String("play ")))
            voices << line.mid(5).toULongLong();
    return voices;
}

// Whether each item of the button's menu is checked and enabled; the menu closes again.
std::map<std::string, std::pair<bool, bool>> menuOf(QWidget* button)
{
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(2, 2), button->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(button, &click);
    std::map<std::string, std::pair<bool, bool>> items;
    for (QMenu* menu : button->findChildren<QMenu*>()) {
        for (QAction* action : menu->isVisible() ? menu->actions() : QList<QAction*>())
            items[action->text().toStdString()] = {action->isChecked(), action->isEnabled()};
        menu->close();
    }
    return items;
}

}  // namespace

class BoardMusicTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    WindowRuntime runtime_;
    CustomSoundTables tables_;
    QPointer<MainWindow> window_;

    QPushButton* button(const char* name) const { return window_->findChild<QPushButton*>(name); }

    void open(const QString& ini)
    {
        QFile file(dir_.filePath("my.ini"));
        const Text bytes = fromQString(QStringLiteral("[自定义音乐]\r\n按钮1path=%1\r\n按钮2path=%1\r\n")
                                           .arg(dir_.filePath("tone.wav")) + ini);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes.data(), qint64(bytes.size())) > 0);
        file.close();
        window_ = openBoardWindow(runtime_, tables_, dir_.filePath("my.ini"));
        QVERIFY(window_ != nullptr);
    }

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
    }

    void cleanup() { closeBoardWindow(window_); }

    void aClickOnAPlayingSoundNeverDoublesItAndStopsFade()
    {
        open(QStringLiteral("[声音设置]\r\n叠加播放=1\r\n"));
        HeardPeaks heard;
        test::PlayedSounds played;
        QPushButton* slot = button("按钮109");
        slot->click();
        QVERIFY(heard.peak(mediaMixedFrames(), 0, 100) > 0);
        const std::uint64_t again = mediaMixedFrames();
        slot->click();  // starts again: the first makes way
        QCOMPARE(started(played).size(), 2);
        QVERIFY2(nearAmplitude(heard.peak(again, 30, 200)), "one copy, never two");
        SoundEngine& engine = SoundEngine::instance();
        QTRY_VERIFY(!engine.playing(started(played)[0]) && engine.playing(started(played)[1]));

        // 再次点击停止, ticked in 声音设置, counts once the window closes.
        window_->findChild<QAction*>("声音设置")->trigger();
        QTRY_VERIFY(openWindowNamed("声音设置窗口") != nullptr);
        openWindowNamed("声音设置窗口")->findChild<QCheckBox*>("再次点击停止")->click();
        openWindowNamed("声音设置窗口")->close();
        QTRY_VERIFY(openWindowNamed("声音设置窗口") == nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(ini().contains(QStringLiteral("再次点击停止=1")));
        QVERIFY(heard.peak(again, 500, 600) > 0);  // past a double click
        const std::uint64_t stopped = mediaMixedFrames();
        slot->click();  // fades out over 300 ms
        QCOMPARE(started(played).size(), 2);
        QVERIFY2(heard.peak(stopped, 60, 120) > kAmplitude / 4, "fading, not cut");
        QCOMPARE(heard.peak(stopped, 340, 440), 0);

        // A double click starts the sound once, and leaves it playing.
        played.lines.clear();
        QSignalSpy clicks(slot, &QPushButton::clicked);
        QTest::mouseClick(slot, Qt::LeftButton);
        QMouseEvent second(QEvent::MouseButtonDblClick, QPointF(4, 4), slot->mapToGlobal(QPointF(4, 4)), Qt::LeftButton,
                           Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(slot, &second);
        QTest::mouseRelease(slot, Qt::LeftButton);
        QCOMPARE(clicks.size(), 2);
        QCOMPARE(started(played).size(), 1);
        QVERIFY(heard.peak(mediaMixedFrames(), 500, 600) > 0);
        QVERIFY(engine.playing(started(played)[0]));
        const std::uint64_t stopAll = mediaMixedFrames();
        button("按钮17")->click();  // 停止播放 fades over 300 ms by default
        QVERIFY2(heard.peak(stopAll, 60, 120) > kAmplitude / 4, "fading, not cut");
        QCOMPARE(heard.peak(stopAll, 340, 440), 0);
    }

    void aLoopAndFadesSetInTheMenuShapeTheNextClickAndBadValuesAreNone()
    {
        open(QStringLiteral("[声音设置]\r\n叠加播放=1\r\n[循环]\r\n按钮2=abc\r\n[淡入]\r\n按钮2=-5\r\n[淡出]\r\n按钮2=20000\r\n[背景音乐]\r\n按钮2=2\r\n"));
        auto items = menuOf(button("按钮112"));
        QVERIFY(!items[kLoopItem].first && items[kMusicBedItem] == std::pair(false, true));
        QVERIFY(chooseFromMenu(button("按钮112"), kFadeItem));
        QWidget* fades = openWindowNamed("淡入淡出窗口");
        QVERIFY(fades != nullptr);
        QCOMPARE(fades->findChild<QDoubleSpinBox*>("淡入")->value() + fades->findChild<QDoubleSpinBox*>("淡出")->value(), 0.0);
        fades->close();
        QVERIFY(menuOf(button("按钮98"))[kMusicBedItem] == std::pair(true, false));  // 魔幻音乐 is music anyway

        QVERIFY(chooseFromMenu(button("按钮109"), kLoopItem));
        QVERIFY(chooseFromMenu(button("按钮109"), kFadeItem));
        fades = openWindowNamed("淡入淡出窗口");
        fades->findChild<QDoubleSpinBox*>("淡入")->setValue(0.5);
        fades->findChild<QDoubleSpinBox*>("淡出")->setValue(1.2);
        fades->findChild<QPushButton*>("确定")->click();
        QTRY_VERIFY(openWindowNamed("淡入淡出窗口") == nullptr);
        const QString kept = ini();
        QVERIFY2(kept.contains(QStringLiteral("按钮1=1\r\n[淡入]")) && kept.contains(QStringLiteral("按钮1=500\r\n[淡出]")) &&
                     kept.contains(QStringLiteral("按钮1=1200\r\n[背景音乐]")),
                 qPrintable(kept));
        QVERIFY(menuOf(button("按钮109"))[kLoopItem].first && menuOf(button("按钮109"))[kMusicBedItem].first);

        // The next click rises over half a second and loops on past the file's 3 s; the other plays plain.
        HeardPeaks heard;
        test::PlayedSounds played;
        const std::uint64_t clicked = mediaMixedFrames();
        button("按钮109")->click();
        QVERIFY2(heard.peak(clicked, 0, 40) < kAmplitude / 2, "rises from silence");
        QVERIFY(nearAmplitude(heard.peak(clicked, 3100, 3200)));
        button("按钮112")->click();
        QCOMPARE(started(played).size(), 2);
        const auto looping = [&](int n) { return SoundEngine::instance().progress(started(played)[n]).value_or(VoiceProgress{}).looping; };
        QVERIFY(looping(0) && !looping(1));

        // 清除 takes the slot's style with it.
        RecordedBoxes yes(kAnswerYes);
        QVERIFY(chooseFromMenu(button("按钮109"), kClearItem));
        QVERIFY2(!ini().contains(QStringLiteral("按钮1=")), qPrintable(ini()));
    }
};

QINGHE_WINDOW_TEST_MAIN(BoardMusicTest)
#include "board_music_test.moc"
