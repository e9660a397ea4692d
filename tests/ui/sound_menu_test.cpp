// The board buttons' menus through the real window: a sound's own volume set
// in its window is heard on the disk audio driver's output and read again by
// the next start; a slot is renamed and cleared, its keys in my.ini with it.

#include "media/engine/sound_engine.h"
#include "runtime/dialogs.h"
#include "runtime/window_runtime.h"
#include "support/board_fixtures.h"
#include "support/board_window.h"
#include "support/recorded_boxes.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"
#include "ui/sound_menu_driver.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

// Half a second of an effect is compared, from its first sound on.
constexpr int kHeardFrames = kWavRate / 2;
// Longest wait for the audio device; only a hang reaches it.
constexpr int kDeviceTimeoutMs = 10000;
// A gain of -6 dB in amplitude, and how near the output must come to it.
const double kMinusSixDecibels = std::pow(10.0, -6.0 / 20.0);
constexpr double kGainTolerance = 0.02;

// Interleaved stereo samples the disk driver wrote to path.
std::vector<std::int16_t> samplesIn(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

// Root mean square of the frames from the first sound on; 0 when there is none.
double levelFromFirstSound(const std::vector<std::int16_t>& samples, int frames)
{
    std::size_t first = 0;
    while (first < samples.size() && samples[first] == 0)
        ++first;
    first -= first % 2;
    const std::size_t end = first + 2 * static_cast<std::size_t>(frames);
    if (end > samples.size())
        return 0;
    double sum = 0;
    for (std::size_t i = first; i < end; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(end - first));
}

}  // namespace

class SoundMenuTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<WindowRuntime> runtime_;
    CustomSoundTables tables_;
    QPointer<MainWindow> window_;

    QString iniPath() const { return dir_.filePath("my.ini"); }
    QPushButton* button(const char* name) const { return window_->findChild<QPushButton*>(name); }

    QString iniText() const
    {
        QFile file(iniPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = file.readAll();
        return toQString(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    }

    [[nodiscard]] bool writeIni(const QString& text) const
    {
        const Text bytes = fromQString(text);
        QFile file(iniPath());
        return file.open(QIODevice::WriteOnly) && file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
    }

    void openWindow()
    {
        runtime_ = std::make_unique<WindowRuntime>();
        window_ = openBoardWindow(*runtime_, tables_, iniPath());
        QVERIFY(window_ != nullptr);
    }

    void closeWindow()
    {
        closeBoardWindow(window_);
        runtime_.reset();
    }

    // Clicks the effect and keeps what the disk driver wrote of it in a file of its own.
    std::vector<std::int16_t> heardOnce(const char* effect, const QString& fileName)
    {
        closeMediaOutput();
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(dir_.filePath(fileName)));
        const std::uint64_t before = mediaMixedFrames();
        button(effect)->click();
        // Twice the frames compared, so the start of the device's file and of the effect both fit.
        const bool heard = QTest::qWaitFor([before] { return mediaMixedFrames() > before + 2 * kHeardFrames; },
                                           kDeviceTimeoutMs);
        button("按钮17")->click();  // 停止播放
        closeMediaOutput();
        return heard ? samplesIn(dir_.filePath(fileName)) : std::vector<std::int16_t>{};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        // The board's effects are "data\..." files, found from the program's own folder.
        QVERIFY(QDir::setCurrent(QStringLiteral(QINGHE_SOURCE_DIR)));
        qputenv("SDL_AUDIODRIVER", "disk");
    }

    void cleanup()
    {
        closeWindow();
        setInputBoxSeam({});
    }

    void aSoundsOwnVolumeOfMinusSixDecibelsHalvesItAndSurvivesARestart()
    {
        QVERIFY(writeIni(QString()));
        openWindow();
        const double full = levelFromFirstSound(heardOnce("按钮8", "full.raw"), kHeardFrames);  // 哄堂大笑
        QVERIFY(full > 100);

        // What the host does: the menu, then six steps down on the window's slider, then 确定.
        QVERIFY(chooseFromMenu(button("按钮8"), kVolumeItem));
        QWidget* volume = openWindowNamed("音量窗口");
        QVERIFY(volume != nullptr);
        QVERIFY(volume->findChild<QLabel*>("音量说明")->text().contains(QStringLiteral("哄堂大笑")));
        auto* slider = volume->findChild<QSlider*>("音量");
        QCOMPARE(slider->value(), 0);
        for (int step = 0; step < 6; ++step)
            QTest::keyClick(slider, Qt::Key_Left);
        QCOMPARE(volume->findChild<QLabel*>("分贝")->text(), QStringLiteral("−6 dB"));
        volume->findChild<QPushButton*>("确定")->click();
        QTRY_VERIFY(openWindowNamed("音量窗口") == nullptr);
        QVERIFY(iniText().contains(QStringLiteral("[音量]")));

        // The next start reads it from my.ini.
        closeWindow();
        openWindow();
        const double lowered = levelFromFirstSound(heardOnce("按钮8", "lowered.raw"), kHeardFrames);
        qInfo("at -6 dB the effect's level is %.4f of its level at 0 dB", lowered / full);
        QVERIFY2(std::abs(lowered / full - kMinusSixDecibels) <= kGainTolerance * kMinusSixDecibels,
                 qPrintable(QStringLiteral("%1 of the level at 0 dB").arg(lowered / full)));

        // The window opens at the kept gain; 取消 keeps it as it was.
        QVERIFY(chooseFromMenu(button("按钮8"), kVolumeItem));
        volume = openWindowNamed("音量窗口");
        QVERIFY(volume != nullptr);
        QCOMPARE(volume->findChild<QSlider*>("音量")->value(), -6);
        QTest::keyClick(volume->findChild<QSlider*>("音量"), Qt::Key_Right);
        volume->findChild<QPushButton*>("取消")->click();
        QTRY_VERIFY(openWindowNamed("音量窗口") == nullptr);
        QVERIFY(chooseFromMenu(button("按钮8"), kVolumeItem));
        QCOMPARE(openWindowNamed("音量窗口")->findChild<QSlider*>("音量")->value(), -6);
        openWindowNamed("音量窗口")->close();
    }

    void aSlotIsRenamedFromItsNameAndClearedAfterAskingWithItsKeys()
    {
        QVERIFY(writeIni(QStringLiteral("[自定义音乐]\r\n按钮1path=%1\r\n按钮1name=掌声\r\n"
                                        "[热键]\r\n按钮1=F5\r\n按钮2=F6\r\n[音量]\r\n按钮1=-6\r\n")
                             .arg(QStringLiteral(QINGHE_SOURCE_DIR "/data/1.mp3"))));
        openWindow();
        QPushButton* slot = button("按钮109");
        QCOMPARE(slot->text(), QStringLiteral("掌声"));

        QCOMPARE(slot->toolTip(), QStringLiteral("按钮1：1.mp3"));

        QStringList prefilled;
        QStringList answers{QString(), QStringLiteral("开场掌声")};
        setInputBoxSeam([&](const InputBoxRequest& request) {
            prefilled << request.initialText;
            return InputBoxAnswer{true, answers.takeFirst()};
        });
        // An empty name shows the file's; my.ini keeps the name the host gave.
        QVERIFY(chooseFromMenu(slot, kRenameItem));
        QCOMPARE(slot->text(), QStringLiteral("1"));
        QVERIFY(iniText().contains(QStringLiteral("按钮1name=\r\n")));
        QVERIFY(chooseFromMenu(slot, kRenameItem));
        QCOMPARE(prefilled, QStringList({QStringLiteral("掌声"), QString()}));
        QCOMPARE(slot->text(), QStringLiteral("开场掌声"));
        QVERIFY(iniText().contains(QStringLiteral("按钮1name=开场掌声")));

        {
            // 否 keeps everything.
            RecordedBoxes boxes(kAnswerNo);
            QVERIFY(chooseFromMenu(slot, kClearItem));
            QCOMPARE(boxes.shown.size(), 1);
            QVERIFY(boxes.shown[0].text.startsWith(QStringLiteral("清除按钮1“开场掌声”？")));
            QCOMPARE(slot->text(), QStringLiteral("开场掌声"));
            QVERIFY(iniText().contains(QStringLiteral("[热键]\r\n按钮1=F5\r\n")));
        }
        RecordedBoxes boxes(kAnswerYes);
        QVERIFY(chooseFromMenu(slot, kClearItem));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(slot->text(), QStringLiteral("个性音效"));
        QCOMPARE(slot->toolTip(), QStringLiteral("按钮1"));
        QVERIFY(tables_.paths[1].empty());
        const QString ini = iniText();
        QVERIFY2(!ini.contains(QStringLiteral("1.mp3")) && !ini.contains(QStringLiteral("开场掌声")) &&
                     !ini.contains(QStringLiteral("按钮1=F5")) && !ini.contains(QStringLiteral("按钮1=-6")),
                 qPrintable(ini));
        // Another slot's key stays.
        QVERIFY(ini.contains(QStringLiteral("按钮2=F6")));
        // An empty slot has nothing to rename or clear.
        QVERIFY(!chooseFromMenu(slot, kClearItem));
        QVERIFY(!chooseFromMenu(slot, kRenameItem));

        // The next start finds the slot empty.
        closeWindow();
        openWindow();
        QVERIFY(tables_.paths[1].empty());
    }
};

QINGHE_WINDOW_TEST_MAIN(SoundMenuTest)

#include "sound_menu_test.moc"
