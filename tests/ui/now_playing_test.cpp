// 正在播放 on the board's window, its sounds played on SDL's disk driver:
// what it shows against what the engine plays, and its × on one sound.

#include "support/board_fixtures.h"
#include "support/board_window.h"
#include "support/played_sounds.h"
#include "support/window_test_main.h"
#include "text/gbk.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

constexpr int kSeconds = 4;
constexpr double kLeeway = 0.2;
constexpr int kTimeoutMs = 10000;

}  // namespace

class NowPlayingTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<WindowRuntime> runtime_;
    CustomSoundTables tables_;
    QPointer<MainWindow> window_;

    QWidget* row(int n) const { return window_->findChild<QWidget*>(QStringLiteral("正在播放%1").arg(n)); }
    QString shown(int n, const char* part) const
    {
        return row(n) && row(n)->isVisible() ? row(n)->findChild<QLabel*>(part)->text() : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(dir_.filePath("device.raw")));
        QVERIFY(writeSquareWav(dir_.filePath("a.wav"), kSeconds, 8000));
        QVERIFY(writeSquareWav(dir_.filePath("b.wav"), kSeconds, 8000));
        const Text ini = fromQString(QStringLiteral("[自定义音乐]\r\n按钮1path=%1\r\n按钮1name=开场音乐\r\n按钮2path=%2\r\n"
                                                    "按钮2name=掌声\r\n[声音设置]\r\n叠加播放=1\r\n")
                                         .arg(dir_.filePath("a.wav"), dir_.filePath("b.wav")));
        QFile file(dir_.filePath("my.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ini.data(), qint64(ini.size())) == qint64(ini.size()));
    }

    void cleanup()
    {
        closeBoardWindow(window_);
        runtime_.reset();
    }

    void showsEachSoundCountingDownAndItsCrossStopsThatOneAlone()
    {
        runtime_ = std::make_unique<WindowRuntime>();
        window_ = openBoardWindow(*runtime_, tables_, dir_.filePath("my.ini"));
        QVERIFY(window_);
        auto* strip = window_->findChild<QWidget*>(QStringLiteral("正在播放"));
        auto* nothing = strip->findChild<QLabel*>(QStringLiteral("正在播放提示"));
        auto* timer = strip->findChild<QTimer*>(QStringLiteral("正在播放刷新"));
        QVERIFY(nothing->isVisible() && !timer->isActive());
        QCOMPARE(nothing->text(), QStringLiteral("正在播放：无"));

        test::PlayedSounds played;
        window_->findChild<QPushButton*>(slotButtonName(1))->click();
        window_->findChild<QPushButton*>(slotButtonName(2))->click();
        const QStringList voices = played.lines.filter(QStringLiteral("play ")).replaceInStrings("play ", "");
        QCOMPARE(voices.size(), 2);
        const VoiceId first = voices[0].toULongLong();
        const VoiceId second = voices[1].toULongLong();
        // The newest on top.
        QTRY_COMPARE(shown(1, "名称"), QStringLiteral("掌声"));
        QCOMPARE(shown(2, "名称"), QStringLiteral("开场音乐"));
        QVERIFY(!nothing->isVisible() && timer->isActive());

        // When the count steps down to s seconds, the file has s seconds left, as the engine plays it.
        const QString before = shown(2, "剩余时间");
        QVERIFY(QTest::qWaitFor([&] { return shown(2, "剩余时间") != before; }, kTimeoutMs));
        const std::optional<VoiceProgress> progress = SoundEngine::instance().progress(first);
        QVERIFY(progress && progress->rate > 0);
        const double truth = kSeconds - double(progress->position) / progress->rate;
        const QStringList clock = shown(2, "剩余时间").split(':');
        const double told = clock.value(0).toInt() * 60 + clock.value(1).toInt();
        QVERIFY2(std::abs(truth - told) <= kLeeway, qPrintable(QStringLiteral("%1 shown, %2 left").arg(told).arg(truth)));

        row(2)->findChild<QToolButton*>(QStringLiteral("停止"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!SoundEngine::instance().playing(first), kTimeoutMs);
        QTRY_VERIFY(!row(2)->isVisible());
        QCOMPARE(shown(1, "名称"), QStringLiteral("掌声"));
        QVERIFY(SoundEngine::instance().playing(second));
        QCOMPARE(played.lines.filter(QStringLiteral("stop ")), QStringList{QStringLiteral("stop %1").arg(first)});

        // Once the last sound ends by itself, the strip says so and stops looking.
        QTRY_VERIFY_WITH_TIMEOUT(nothing->isVisible(), kTimeoutMs);
        QVERIFY(!timer->isActive());
    }
};

QINGHE_WINDOW_TEST_MAIN(NowPlayingTest)
#include "now_playing_test.moc"
