// The board's remote as a host's shortcut tool uses it: the program's own
// command line against a running board on a session bus of the test's own,
// bad calls answered with errors while the board plays on, and two boards
// sharing one name, the second taking over when the first ends.

#include "remote/board_remote.h"

#include "media/engine/sound_engine.h"
#include "runtime/dialogs.h"
#include "runtime/window_runtime.h"
#include "soundserver/sound_routing.h"
#include "support/board_fixtures.h"
#include "support/private_sound_server.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include "support/played_sounds.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <array>

using namespace qinghe;

namespace {

// The command line calls the board by the program's own id; the bus is the test's.
const QString kService = QStringLiteral("com.example.qinghe");
constexpr int kPatienceMs = 30000;

// What the program's command line gave.
struct RemoteRun {
    int exitCode = -1;
    QString errors;
};

}  // namespace

class RemoteTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    CustomSoundTables tables_;
    std::unique_ptr<WindowRuntime> runtime_;
    QPointer<MainWindow> window_;
    test::PlayedSounds played_;
    QStringList& sent_ = played_.lines;

    // The program's command line, run while this thread's loop serves the board.
    static RemoteRun remote(const QStringList& arguments)
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        program.setProcessEnvironment(environment);
        QSignalSpy finished(&program, &QProcess::finished);
        program.start(QStringLiteral(QINGHE_PROGRAM), arguments);
        if (!finished.wait(kPatienceMs))
            return {};
        return {program.exitCode(), QString::fromUtf8(program.readAllStandardError())};
    }

    void openBoard(SoundRouting* routing = nullptr, const QString& moreSlots = {})
    {
        QFile ini(dir_.filePath("my.ini"));
        const Text bytes = fromQString(QStringLiteral("[自定义音乐]\r\n按钮1path=%1\r\n按钮1name=掌声\r\n")
                                           .arg(QStringLiteral(QINGHE_SOURCE_DIR "/data/1.mp3")) + moreSlots);
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(bytes.data(), qint64(bytes.size())) > 0);
        ini.close();
        runtime_ = std::make_unique<WindowRuntime>();
        MainWindowContext context{*runtime_, tables_, Addresses::allAt("127.0.0.1:9"), dir_.filePath("my.ini"),
                                  [] { return false; }};
        context.remoteServiceName = kService;
        context.soundRouting = routing;
        window_ = MainWindow::open(context);
        QVERIFY(window_ != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(kService).value(),
                                 kPatienceMs);
        sent_.clear();
    }

    bool sentStartingWith(const QString& start) const
    {
        for (const QString& command : sent_)
            if (command.startsWith(start))
                return true;
        return false;
    }

    // The status line's whole text (its tooltip); empty while hidden.
    QString statusLine() const
    {
        const auto* line = window_->findChild<QLabel*>(QStringLiteral("状态行"));
        return line->isVisible() ? line->toolTip() : QString();
    }

    // Why the board played nothing, as the command line says it (exit 3); else the exit code.
    static QString whyNotPlayed(const QStringList& arguments)
    {
        const RemoteRun run = remote(arguments);
        return run.exitCode == kRemotePlayedNothing ? run.errors.trimmed() : QString::number(run.exitCode);
    }

    // A call straight on the bus, answered while this thread serves the board.
    static QDBusMessage call(const QString& method, const QVariantList& arguments)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, QString::fromLatin1(kRemoteObjectPath),
                                                              QString::fromLatin1(kRemoteInterface), method);
        message.setArguments(arguments);
        QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message);
        QDBusPendingCallWatcher watcher(pending);
        QSignalSpy done(&watcher, &QDBusPendingCallWatcher::finished);
        done.wait(kPatienceMs);
        return pending.reply();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
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

    void commandLinePlaysASlotAnEffectAndStops()
    {
        openBoard();
        RemoteRun run = remote({QStringLiteral("--play-slot"), QStringLiteral("1")});
        QCOMPARE(run.exitCode, kRemoteDone);
        QTRY_VERIFY(sentStartingWith(QStringLiteral("play ")));
        QVERIFY(sentStartingWith(QStringLiteral("open ") + QStringLiteral(QINGHE_SOURCE_DIR "/data/1.mp3")));

        sent_.clear();
        run = remote({QStringLiteral("--play"), QStringLiteral("哄堂大笑")});
        QCOMPARE(run.exitCode, kRemoteDone);
        QTRY_VERIFY(sentStartingWith(QStringLiteral("play ")));
        QVERIFY(sentStartingWith(QStringLiteral("open ") + test::effectFile("qzxs.mp3")));

        sent_.clear();
        QCOMPARE(remote({QStringLiteral("--stop")}).exitCode, kRemoteDone);
        QTRY_VERIFY(sentStartingWith(QStringLiteral("stop ")));
    }

    void badCallsAreRefusedAndTheBoardPlaysOn()
    {
        openBoard();
        // On the command line, refused before anything is sent.
        for (const QStringList& arguments :
             {QStringList{"--play-slot", "0"}, QStringList{"--play-slot", "19"}, QStringList{"--play-slot", "-1"},
              QStringList{"--play-slot", "x"}, QStringList{"--virtual-mic", "maybe"}, QStringList{"--unknown"}}) {
            const RemoteRun run = remote(arguments);
            QCOMPARE(run.exitCode, kRemoteBadArgument);
            QVERIFY2(run.errors.startsWith(QStringLiteral("用法：qinghe")), qPrintable(run.errors));
        }
        QCOMPARE(remote({QStringLiteral("--play"), QStringLiteral("没有这个")}).exitCode, kRemoteBadArgument);
        // On the bus itself, answered with errors.
        for (const auto& [method, argument] :
             {std::pair{QStringLiteral("PlaySlot"), QVariant(0)}, std::pair{QStringLiteral("PlaySlot"), QVariant(19)},
              std::pair{QStringLiteral("PlaySlot"), QVariant(-1)},
              std::pair{QStringLiteral("Play"), QVariant(QStringLiteral("没有这个"))},
              std::pair{QStringLiteral("Play"), QVariant(QString(10240, QLatin1Char('x')))}}) {
            const QDBusMessage answer = call(method, {argument});
            QCOMPARE(answer.type(), QDBusMessage::ErrorMessage);
            QCOMPARE(answer.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
        }
        QVERIFY(sent_.filter(QStringLiteral("play ")).isEmpty());
        // The board still answers and plays.
        QCOMPARE(call(QStringLiteral("PlaySlot"), {1}).type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY(sentStartingWith(QStringLiteral("play ")));
        // The interface says what it offers.
        const QDBusMessage introspection = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            kService, QString::fromLatin1(kRemoteObjectPath), QStringLiteral("org.freedesktop.DBus.Introspectable"),
            QStringLiteral("Introspect")));
        QVERIFY(introspection.arguments().value(0).toString().contains(QStringLiteral("SetVirtualMicrophone")));
    }

    // The switch of 声音设置 from a shortcut tool: the virtual microphone
    // appears on the host's sound server, the choice is kept, and off takes it away.
    void commandLineSwitchesTheVirtualMicrophone()
    {
        test_support::PrivateSoundServer server(test_support::SoundServerKind::PulseAudio);
        QVERIFY2(server.isRunning(), qPrintable(server.log()));
        server.useForThisProcess();
        SoundRouting routing([](const OutputTarget& target) { setMediaOutputDevice(target); });
        openBoard(&routing);
        const auto ownModules = [&server] { return server.modules().filter(QStringLiteral("qinghe.role=")); };

        QCOMPARE(remote({QStringLiteral("--virtual-mic"), QStringLiteral("on")}).exitCode, kRemoteDone);
        QTRY_VERIFY_WITH_TIMEOUT(routing.status().microphoneOn, kPatienceMs);
        QVERIFY(!ownModules().isEmpty());
        QVERIFY(readSoundSettings(dir_.filePath("my.ini")).virtualMicrophone);

        QCOMPARE(remote({QStringLiteral("--virtual-mic"), QStringLiteral("off")}).exitCode, kRemoteDone);
        QTRY_VERIFY_WITH_TIMEOUT(!routing.status().microphoneOn && routing.status().checked, kPatienceMs);
        QTRY_VERIFY_WITH_TIMEOUT(ownModules().isEmpty(), kPatienceMs);
        QVERIFY(!readSoundSettings(dir_.filePath("my.ini")).virtualMicrophone);

        // The window lets the routing go before the routing ends.
        cleanup();
        QVERIFY(routing.shutDown(SoundRouting::kExitLimit));
        closeMediaOutput();
    }

    // What keeps a click silent (a folder where its file was) is said on the
    // board and to the remote, at once, with no dialog, even while a box waits
    // for the host; the slot keeps its file.
    void aSilentClickSaysWhyOnTheBoardAndToTheRemote()
    {
        openBoard(nullptr, QStringLiteral("按钮2path=%1\r\n按钮2name=铃\r\n").arg(dir_.path()));
        int dialogs = 0;
        setFileDialogSeam([&dialogs](const FileDialogRequest&) { return ++dialogs, QString(); });
        const QString missing = QStringLiteral("找不到文件：") + dir_.path();
        auto* slot2 = window_->findChild<QAbstractButton*>(test_support::slotButtonName(2));
        slot2->click();
        QCOMPARE(statusLine(), missing);
        QVERIFY(slot2->text() == QStringLiteral("铃") && toQString(tables_.paths[2]) == dir_.path());
        QCOMPARE(whyNotPlayed({"--play-slot", "2"}), missing);
        QStringList answers;
        QTimer::singleShot(0, this, [&answers] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                answers << whyNotPlayed({"--play-slot", "5"}) << whyNotPlayed({"--play", "哄堂大笑"});
                box->close();
            }
        });
        window_->findChild<QAbstractButton*>(QStringLiteral("选择框1"))->click();  // its box waits for the host
        QCOMPARE(answers, (QStringList{QStringLiteral("按钮5 还没有声音"), QString::number(kRemoteDone)}));
        QVERIFY(dialogs == 0 && sentStartingWith(QStringLiteral("play ")));
        setFileDialogSeam({});
    }

    // A sound server gone away mid-show: a click and the remote say so while
    // the routing calls it again.
    void aClickWhileTheServerIsAwaySaysSo()
    {
        test_support::PrivateSoundServer server(test_support::SoundServerKind::PulseAudio);
        QVERIFY2(server.isRunning(), qPrintable(server.log()));
        server.useForThisProcess();
        SoundRouting routing([](const OutputTarget& target) { setMediaOutputDevice(target); });
        openBoard(&routing);
        routing.apply({});
        QTRY_VERIFY_WITH_TIMEOUT(routing.status().serverReachable, kPatienceMs);
        server.kill();
        QTRY_VERIFY_WITH_TIMEOUT(routing.status().reconnecting, kPatienceMs);
        const QString away = QStringLiteral("声音服务器没有响应，正在重新连接…");
        window_->findChild<QAbstractButton*>(test_support::slotButtonName(1))->click();
        QCOMPARE(statusLine(), away);
        QCOMPARE(whyNotPlayed({"--play", "哄堂大笑"}), away);
        cleanup();
        QVERIFY(routing.shutDown(SoundRouting::kExitLimit));
        closeMediaOutput();
    }

    void withoutABoardTheCommandLineSaysSo()
    {
        // The board of the test before has ended and let its name go.
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kService).value());
        const RemoteRun run = remote({QStringLiteral("--stop")});
        QCOMPARE(run.exitCode, kRemoteNoBoard);
        QCOMPARE(run.errors.trimmed(), QStringLiteral("青禾主持人音效辅助工具没有在运行。"));
    }

    // Two copies of the program, as a host may start them: one call is heard
    // from the copy that took the name first, and once, and when that copy is
    // ended, the other answers the next.
    void twoRunningBoardsHearOneCallOnce()
    {
        QTemporaryDir outputs;  // what each copy plays, on the disk audio driver
        QVERIFY(outputs.isValid());
        std::array<QProcess, 2> boards;
        const auto heard = [&outputs](int board) {
            QFile output(outputs.filePath(QStringLiteral("board%1.raw").arg(board)));
            if (!output.open(QIODevice::ReadOnly))
                return false;
            const QByteArray bytes = output.readAll();
            return bytes.count('\0') != bytes.size();
        };
        for (int board = 0; board < 2; ++board) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("disk"));
            environment.insert(QStringLiteral("SDL_DISKAUDIOFILE"), outputs.filePath(QStringLiteral("board%1.raw").arg(board)));
            boards[board].setProcessEnvironment(environment);
            boards[board].setStandardOutputFile(QProcess::nullDevice());
            boards[board].setStandardErrorFile(QProcess::nullDevice());
            boards[board].start(QStringLiteral(QINGHE_PROGRAM), {});
            QVERIFY(boards[board].waitForStarted(kPatienceMs));
            // The first copy is the one that asked for the name first.
            if (board == 0)
                QTRY_VERIFY_WITH_TIMEOUT(
                    QDBusConnection::sessionBus().interface()->isServiceRegistered(kService).value(), kPatienceMs);
        }
        QCOMPARE(remote({QStringLiteral("--play"), QStringLiteral("哄堂大笑")}).exitCode, kRemoteDone);
        QTRY_VERIFY_WITH_TIMEOUT(heard(0), kPatienceMs);

        boards[0].terminate();
        QVERIFY(boards[0].waitForFinished(kPatienceMs));
        QTRY_COMPARE_WITH_TIMEOUT(
            QDBusConnection::sessionBus().interface()->servicePid(kService).value(), uint(boards[1].processId()),
            kPatienceMs);
        QVERIFY(!heard(1));
        QCOMPARE(remote({QStringLiteral("--play"), QStringLiteral("哄堂大笑")}).exitCode, kRemoteDone);
        QTRY_VERIFY_WITH_TIMEOUT(heard(1), kPatienceMs);
        boards[1].terminate();
        QVERIFY(boards[1].waitForFinished(kPatienceMs));
    }

    // Two boards: the first to take the name is called; when it ends, the other takes over.
    void aSecondBoardTakesOverWhenTheFirstEnds()
    {
        int firstCalls = 0;
        int secondCalls = 0;
        auto first = std::make_unique<BoardRemote>(BoardActions{{}, {}, [&] { ++firstCalls; return QString(); }, {}});
        QVERIFY(first->publish(kService));
        auto secondBus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("second board")));
        BoardRemote second(BoardActions{{}, {}, [&] { ++secondCalls; return QString(); }, {}});
        QVERIFY(second.publish(kService, *secondBus));

        QCOMPARE(remote({QStringLiteral("--stop")}).exitCode, kRemoteDone);
        QCOMPARE(firstCalls, 1);
        QCOMPARE(secondCalls, 0);
        // The first board ends, and the bus hands the name on.
        first.reset();
        QTRY_COMPARE_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->serviceOwner(kService).value(),
                                  secondBus->baseService(), kPatienceMs);
        QCOMPARE(remote({QStringLiteral("--stop")}).exitCode, kRemoteDone);
        QCOMPARE(secondCalls, 1);
        QCOMPARE(firstCalls, 1);
        QDBusConnection::disconnectFromBus(QStringLiteral("second board"));
    }
};

QINGHE_WINDOW_TEST_MAIN(RemoteTest)

#include "remote_test.moc"
