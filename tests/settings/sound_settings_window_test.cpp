// The sound settings window against a PulseAudio server of the test's own:
// it lists the server's devices, writes every choice to my.ini under its
// own section at once and hands it to the routing; and run without a
// server, it says why the virtual microphone is unavailable.

#include "settings/sound_settings_window.h"

#include "app/startup.h"
#include "hotkeys/global_hot_keys.h"
#include "media/engine/sound_engine.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"
#include "soundserver/routing_plan.h"
#include "support/private_sound_server.h"
#include "support/window_test_main.h"
#include "text/gbk.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <memory>

using namespace qinghe;

namespace {

constexpr std::chrono::milliseconds kRequestLimit{20000};
// my.ini as the host left it: two custom slots the settings must not touch.
constexpr const char* kSlotLines = "[自定义音乐]\r\n按钮1path=C:\\声音\\掌声.mp3\r\n按钮1name=掌声\r\n";

QByteArray gbkBytes(const char* utf8)
{
    const Text text = fromQString(QString::fromUtf8(utf8));
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList itemTexts(const QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

// What a person's choice in a drop-down list does.
void choose(QComboBox* box, const QString& text)
{
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// The parts of the window that every case looks at, and the one open copy.
class SettingsWindowFixture {
public:
    SettingsWindowFixture()
    {
        runtime = std::make_unique<WindowRuntime>();
        routing = std::make_unique<SoundRouting>(
            [](const OutputTarget& target) { setMediaOutputDevice(target); });
    }

    bool writeIni(const QByteArray& bytes)
    {
        QFile file(iniPath());
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    QByteArray iniBytes() const
    {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString iniPath() const { return dir.filePath("my.ini"); }

    RuntimeWindow* open() { return window = openSoundSettingsWindow(*runtime, routing.get(), iniPath()); }

    template <class T>
    T* find(const char* name) const
    {
        return window ? window->findChild<T*>(QString::fromUtf8(name)) : nullptr;
    }

    void close()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        routing->shutDown(SoundRouting::kExitLimit);
        closeMediaOutput();
    }

    QTemporaryDir dir;
    std::unique_ptr<WindowRuntime> runtime;
    std::unique_ptr<SoundRouting> routing;
    QPointer<RuntimeWindow> window;
};

}  // namespace

class SoundSettingsWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test_support::PrivateSoundServer> server_;
    std::unique_ptr<SettingsWindowFixture> f_;

    bool serverHas(const QStringList& pactlArguments, const QString& text) const
    {
        return server_->pactl(pactlArguments).contains(text);
    }

    // The window's status once the routing has answered the latest change.
    QString settledStatus()
    {
        f_->routing->waitUntilIdle(kRequestLimit);
        QCoreApplication::processEvents();
        return f_->find<QLabel>("状态说明")->text();
    }

private slots:
    void initTestCase()
    {
        server_ = std::make_unique<test_support::PrivateSoundServer>();
        QVERIFY2(server_->isRunning(), qPrintable(server_->log()));
        server_->useForThisProcess();
    }

    void init()
    {
        f_ = std::make_unique<SettingsWindowFixture>();
        QVERIFY(f_->writeIni(gbkBytes(kSlotLines)));
    }

    void cleanup()
    {
        f_->close();
        f_.reset();
    }

    void listsShowTheServersDevicesWithTheDefaultFirst()
    {
        QVERIFY(f_->open() != nullptr);
        QCOMPARE(f_->window->windowTitle(), QStringLiteral("声音设置"));
        auto* outputs = f_->find<QComboBox>("监听设备");
        auto* inputs = f_->find<QComboBox>("直通来源");
        QTRY_COMPARE(itemTexts(outputs), (QStringList{"系统默认", "Speakers", "Headphones", "Voice"}));
        // Monitors are no microphones.
        QTRY_COMPARE(itemTexts(inputs), (QStringList{"系统默认", "Microphone"}));
        QCOMPARE(outputs->currentIndex(), 0);
        QVERIFY(f_->find<QCheckBox>("虚拟麦克风")->isEnabled());
        QVERIFY(!f_->find<QCheckBox>("虚拟麦克风")->isChecked());
        QVERIFY(!f_->find<QCheckBox>("麦克风直通")->isEnabled());
        QCOMPARE(settledStatus(), QStringLiteral("虚拟麦克风未开启：音效只在监听设备上播放。"));
        // The hot keys have their place in the window already.
        QVERIFY(f_->find<QGroupBox>("热键") != nullptr);
    }

    void everyChoiceIsSavedAtOnceAndCarriedOutOnTheServer()
    {
        QVERIFY(f_->open() != nullptr);
        auto* microphone = f_->find<QCheckBox>("虚拟麦克风");
        auto* passThrough = f_->find<QCheckBox>("麦克风直通");
        auto* inputs = f_->find<QComboBox>("直通来源");
        QTRY_VERIFY(microphone->isEnabled());

        microphone->click();
        QVERIFY(f_->iniBytes().contains(gbkBytes("[声音设置]")));
        QVERIFY(f_->iniBytes().contains(gbkBytes("虚拟麦克风=1\r\n")));
        QCOMPARE(settledStatus(), QStringLiteral("虚拟麦克风已开启：聊天程序的输入设备请选“青禾虚拟麦克风”。"));
        QVERIFY(serverHas({"list", "sources", "short"}, kMicrophoneName));
        QVERIFY(passThrough->isEnabled());
        QVERIFY(!inputs->isEnabled());

        passThrough->click();
        QVERIFY(inputs->isEnabled());
        choose(inputs, "Microphone");
        QVERIFY(f_->iniBytes().contains(gbkBytes("麦克风直通=1\r\n")));
        QVERIFY(f_->iniBytes().contains(gbkBytes("直通来源=fake_microphone\r\n")));
        settledStatus();
        QVERIFY(serverHas({"list", "modules", "short"}, "source=fake_microphone sink=qinghe_mix"));

        choose(f_->find<QComboBox>("监听设备"), "Headphones");
        QVERIFY(f_->iniBytes().contains(gbkBytes("监听设备=fake_headphones\r\n")));
        settledStatus();
        QCOMPARE(mediaOutputDevice().listeningDevice, std::string("fake_headphones"));

        f_->find<QSlider>("聊天音量")->setValue(50);
        QVERIFY(f_->iniBytes().contains(gbkBytes("聊天音量=50\r\n")));
        settledStatus();

        // The custom slots are as the host left them.
        QVERIFY(f_->iniBytes().startsWith(gbkBytes(kSlotLines)));
        // Settings read back as written.
        const SoundSettings saved = readSoundSettings(f_->iniPath());
        SoundSettings chosen{"fake_headphones", true, true, "fake_microphone"};
        chosen.chatLevel = 50;
        QCOMPARE(saved, chosen);

        microphone->click();
        QVERIFY(f_->iniBytes().contains(gbkBytes("虚拟麦克风=0\r\n")));
        settledStatus();
        QVERIFY(!serverHas({"list", "modules", "short"}, "qinghe.role"));
        // Without the virtual microphone the board plays straight to the chosen device, in a stream of its own.
        QCOMPARE(mediaOutputDevice(), (MediaOutputDevice{kServerStreamsDriver, {}, test_support::kFakeHeadphones}));
    }

    // Esc with a drop-down open closes the drop-down; only the next one closes the window.
    void escapeClosesAnOpenListBeforeTheWindow()
    {
        QVERIFY(f_->open() != nullptr);
        QVERIFY(QTest::qWaitForWindowActive(f_->window));
        auto* outputs = f_->find<QComboBox>("监听设备");
        QTRY_VERIFY(outputs->isEnabled() && outputs->count() > 1);
        QTest::mouseClick(outputs, Qt::LeftButton);
        QTRY_VERIFY(outputs->view()->isVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTRY_VERIFY(!outputs->view()->isVisible());
        QVERIFY(f_->window->isVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTRY_VERIFY(!f_->window || !f_->window->isVisible());
    }

    void aSavedDeviceTheServerLacksStaysChosenAndIsMarked()
    {
        QVERIFY(f_->writeIni(gbkBytes(kSlotLines) + gbkBytes("[声音设置]\r\n监听设备=unplugged_usb\r\n")));
        f_->routing->apply(readSoundSettings(f_->iniPath()));
        QVERIFY(f_->open() != nullptr);
        auto* outputs = f_->find<QComboBox>("监听设备");
        QTRY_COMPARE(outputs->count(), 5);
        QCOMPARE(outputs->currentText(), QStringLiteral("unplugged_usb（未连接）"));
        QVERIFY(settledStatus().endsWith(QStringLiteral("所选监听设备不在，暂用系统默认设备。")));
        QCOMPARE(mediaOutputDevice(), (MediaOutputDevice{kServerStreamsDriver, {}, {}}));
    }

    // What the window shows is what the server has, as it changes: the
    // server restarting under it is shown, and so is the virtual microphone
    // coming back on its own.
    void theWindowFollowsAServerThatRestartsWhileItIsOpen()
    {
        QVERIFY(f_->writeIni(gbkBytes(kSlotLines) + gbkBytes("[声音设置]\r\n虚拟麦克风=1\r\n")));
        f_->routing->apply(readSoundSettings(f_->iniPath()));
        QVERIFY(f_->open() != nullptr);
        auto* status = f_->find<QLabel>("状态说明");
        const QString on = QStringLiteral("虚拟麦克风已开启：聊天程序的输入设备请选“青禾虚拟麦克风”。");
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), on, kRequestLimit.count());
        server_->kill();
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("声音服务器已断开，正在重新连接…连上之前音效不播放。"),
                                  kRequestLimit.count());
        QVERIFY(!f_->find<QCheckBox>("虚拟麦克风")->isEnabled());
        QVERIFY2(server_->start(), qPrintable(server_->log()));
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), on, kRequestLimit.count());
        QVERIFY(serverHas({"list", "sources", "short"}, kMicrophoneName));
        QVERIFY(f_->find<QCheckBox>("虚拟麦克风")->isChecked());
    }

    // The whole program: the settings saved in my.ini are put in place at
    // start-up, an effect button's click reaches the virtual microphone, and
    // the program leaves the server as it found it.
    void theProgramSetsTheMicrophoneUpFromMyIniAndRemovesItAtExit()
    {
        f_->close();
        QVERIFY(f_->writeIni(gbkBytes(kSlotLines) + gbkBytes("[声音设置]\r\n虚拟麦克风=1\r\n")));
        const QStringList before = server_->modules();
        bool microphoneLoaded = false;
        bool clickHeard = false;
        int asked = 0;
        QTimer::singleShot(0, [&] {
            QWidget* board = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == QStringLiteral("启动窗口"))
                    board = w;
            const auto loaded = [&] { return serverHas({"list", "sources", "short"}, kMicrophoneName); };
            for (auto waited = std::chrono::milliseconds(0); !loaded() && waited < kRequestLimit;
                 waited += std::chrono::milliseconds(50))
                QTest::qWait(50);
            microphoneLoaded = loaded();
            if (microphoneLoaded && board) {
                test_support::SourceRecorder chat(server_->address(), kMicrophoneName);
                chat.waitUntilFlowing(kRequestLimit);
                const std::int64_t clickFrame = chat.framesSoFar();
                board->findChild<QPushButton*>(QStringLiteral("按钮8"))->click();  // 哄堂大笑
                QTest::qWait(1000);
                clickHeard = test_support::onsetFrame(chat.stop(), clickFrame, 100) >= 0;
            }
            // The virtual microphone is on: leaving asks, and 是 lets the board go.
            setMessageBoxSeam([&asked](const ShownMessageBox&) { return ++asked, kAnswerYes; });
            if (board)
                board->close();
        });
        StartOptions options;
        options.addresses = Addresses::allAt(QStringLiteral("127.0.0.1:9"));
        options.settingsFile = f_->iniPath();
        QCOMPARE(runProgram(options), 0);
        setMessageBoxSeam({});
        QCOMPARE(asked, 1);
        QVERIFY(microphoneLoaded);
        QVERIFY(clickHeard);
        QCOMPARE(server_->modules(), before);
    }

    // 说话时压低音乐 from the window to the board: the switch and a typed
    // threshold are in my.ini at once, and while the microphone is unplugged
    // the board's status line says the music no longer goes down.
    void duckingIsSavedAtOnceAndAnUnpluggedMicrophoneIsNamedOnTheBoard()
    {
        f_->close();
        QVERIFY(f_->writeIni(gbkBytes(kSlotLines)));
        const QString gone = QStringLiteral("麦克风已断开：音乐不再随说话压低");
        QString line;
        QTimer::singleShot(0, [&] {
            QWidget* board = QApplication::activeWindow();
            for (QWidget* w : QApplication::topLevelWidgets())
                board = w->objectName() == QStringLiteral("启动窗口") ? w : board;
            const auto statusLine = [&] { return board->findChild<QLabel*>(QStringLiteral("状态行"))->text(); };
            board->findChild<QAction*>(QStringLiteral("声音设置"))->trigger();
            QWidget* window = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                window = w->objectName() == QStringLiteral("声音设置窗口") ? w : window;
            auto* duck = window->findChild<QCheckBox*>(QStringLiteral("说话时压低音乐"));
            QTRY_VERIFY_WITH_TIMEOUT(duck->isEnabled(), kRequestLimit.count());
            duck->click();
            window->findChild<QSpinBox*>(QStringLiteral("压低阈值"))->setValue(-35);
            QVERIFY(f_->iniBytes().contains(gbkBytes("说话时压低音乐=1\r\n")));
            QVERIFY(f_->iniBytes().contains(gbkBytes("压低阈值=-35\r\n")));
            QString module;
            for (const QString& entry : server_->pactl({"list", "short", "modules"}).split('\n'))
                module = entry.contains("source_name=fake_microphone") ? entry.section('\t', 0, 0) : module;
            server_->pactl({"unload-module", module});
            QTRY_COMPARE_WITH_TIMEOUT(statusLine(), gone, kRequestLimit.count());
            // Plugged in again, it is heard again and the line has nothing to say.
            server_->pactl({"load-module", "module-remap-source", "master=fake_voice.monitor",
                            "source_name=fake_microphone", "source_properties=device.description=Microphone"});
            server_->pactl({"set-default-source", "fake_microphone"});
            QTRY_VERIFY_WITH_TIMEOUT(statusLine().isEmpty(), kRequestLimit.count());
            line = gone;
            for (QWidget* w : QApplication::topLevelWidgets())
                w->close();
        });
        StartOptions options;
        options.addresses = Addresses::allAt(QStringLiteral("127.0.0.1:9"));
        options.settingsFile = f_->iniPath();
        QCOMPARE(runProgram(options), 0);
        QCOMPARE(line, gone);
    }

    // A log-out, kill or Ctrl+C ends the program as closing its window does:
    // the server's modules as they were before it started, my.ini untouched.
    void everyEndingSignalLeavesTheServerAsTheProgramFoundIt_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void everyEndingSignalLeavesTheServerAsTheProgramFoundIt()
    {
        QFETCH(int, signalNumber);
        const QByteArray ini = gbkBytes(kSlotLines) + gbkBytes("[声音设置]\r\n虚拟麦克风=1\r\n麦克风直通=1\r\n");
        QVERIFY(f_->writeIni(ini));
        const QStringList before = server_->modules();
        QProcess program;
        program.setStandardOutputFile(QProcess::nullDevice());
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--run-program"), f_->iniPath()});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(serverHas({"list", "sources", "short"}, kMicrophoneName), kRequestLimit.count());
        QVERIFY(server_->modules().size() > before.size());
        ::kill(static_cast<pid_t>(program.processId()), signalNumber);
        QVERIFY(program.waitForFinished(static_cast<int>(kRequestLimit.count())));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(server_->modules(), before);
        QCOMPARE(f_->iniBytes(), ini);
    }
};

// Run with --without-server: no sound server answers.
class SoundSettingsWithoutServerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<SettingsWindowFixture> f_;

private slots:
    void windowSaysWhyTheVirtualMicrophoneIsUnavailable()
    {
        f_ = std::make_unique<SettingsWindowFixture>();
        QVERIFY(f_->open() != nullptr);
        QVERIFY(f_->routing->waitUntilIdle(kRequestLimit));
        QTRY_COMPARE(f_->find<QLabel>("状态说明")->text(),
                     QStringLiteral("没有找到声音服务器（PulseAudio 或 PipeWire），虚拟麦克风不可用；"
                                    "音效照常从系统默认声卡播放。"));
        QVERIFY(!f_->find<QCheckBox>("虚拟麦克风")->isEnabled());
        QVERIFY(!f_->find<QComboBox>("监听设备")->isEnabled());
        QCOMPARE(itemTexts(f_->find<QComboBox>("监听设备")), QStringList{"系统默认"});
        QCOMPARE(mediaOutputDevice(), MediaOutputDevice{});
        f_->close();
    }

    void windowWithoutRoutingSaysTheSame()
    {
        SettingsWindowFixture f;
        f.routing->shutDown(SoundRouting::kExitLimit);
        auto* window = openSoundSettingsWindow(*f.runtime, nullptr, f.iniPath());
        QVERIFY(window != nullptr);
        QVERIFY(window->findChild<QLabel*>("状态说明")->text().startsWith(QStringLiteral("没有找到声音服务器")));
        window->close();
    }

    // Neither on X11 nor with a shortcuts portal (here the offscreen platform)
    // the keys cannot be global: the window says so with the commands to bind
    // instead, shows the stored keys untouched, and the rest of it keeps working.
    void offX11TheWindowSaysGlobalKeysAreUnavailable()
    {
        SettingsWindowFixture f;
        QVERIFY(f.writeIni(gbkBytes("[热键]\r\n按钮2=F4\r\n")));
        GlobalHotKeys hotKeys;
        QVERIFY(!hotKeys.available());
        QCOMPARE(grabStoredHotKeys(hotKeys, f.iniPath()), 0);
        auto* window = openSoundSettingsWindow(*f.runtime, f.routing.get(), f.iniPath(), &hotKeys);
        QVERIFY(window != nullptr);
        QCOMPARE(window->findChild<QLabel*>("热键说明")->text(),
                 QStringLiteral("本桌面不支持全局热键；可在桌面的快捷键设置里绑定命令："
                                "%1 --play-slot N（N=1–18）、%1 --stop")
                     .arg(QCoreApplication::applicationFilePath()));
        auto* field = window->findChild<QKeySequenceEdit*>(QStringLiteral("按钮2"));
        QVERIFY(field != nullptr);
        QVERIFY(!field->isEnabled());
        QCOMPARE(field->keySequence(), QKeySequence(Qt::Key_F4));
        QVERIFY(window->findChild<QPushButton*>("关闭")->isEnabled());
        QVERIFY(f.iniBytes().contains("F4"));
        window->close();
        f.routing->shutDown(SoundRouting::kExitLimit);
    }
};

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareProcessForWebViews();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QStringList arguments = QCoreApplication::arguments();
    // The whole program on its own, for the cases that end it by a signal.
    if (arguments.size() == 3 && arguments[1] == QStringLiteral("--run-program")) {
        StartOptions options;
        options.addresses = Addresses::allAt(QStringLiteral("127.0.0.1:9"));
        options.settingsFile = arguments[2];
        return runProgram(options);
    }
    if (arguments.removeAll(QStringLiteral("--without-server")) > 0) {
        // A socket nobody listens on: the server is missing, whatever the desktop runs.
        QTemporaryDir empty;
        qputenv("PULSE_SERVER", ("unix:" + empty.filePath("native")).toUtf8());
        SoundSettingsWithoutServerTest test;
        return QTest::qExec(&test, arguments);
    }
    SoundSettingsWindowTest test;
    return QTest::qExec(&test, arguments);
}

#include "sound_settings_window_test.moc"
