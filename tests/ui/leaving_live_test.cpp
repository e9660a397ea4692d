// Leaving the board in the middle of a show, on an X server of the test's
// own with a real window manager (openbox): Esc, the window manager's close
// and the icon's 退出 each ask first while a sound plays or the virtual
// microphone is on; 否 keeps the board with its sound, 是 lets it go; with
// nothing live nothing asks. While the real question stands, a remote call
// is answered at once.

#include "app/startup.h"
#include "media/engine/sound_engine.h"
#include "remote/board_remote.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"
#include "soundserver/sound_routing.h"
#include "support/board_fixtures.h"
#include "support/private_sound_server.h"
#include "support/recorded_boxes.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

using namespace qinghe;

namespace {

const QString kService = QStringLiteral("com.example.qinghe.leaving");
const QString kQuestion = QStringLiteral("正在直播：虚拟麦克风开启中（或：正在播放），确定要退出吗？");
constexpr int kPatienceMs = 30000;
// Long enough to play on through every way of leaving.
constexpr int kSoundSeconds = 60;

enum class Way { Escape, WindowManagerClose, IconQuit };

// A window the window manager names on the root window; 0 when it names none.
unsigned long rootWindowProperty(const char* name)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return 0;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    unsigned long window = 0;
    if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, name, False), 0, 1, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data != nullptr && count == 1)
        window = *reinterpret_cast<unsigned long*>(data);
    if (data != nullptr)
        XFree(data);
    XCloseDisplay(display);
    return window;
}

}  // namespace

class LeavingLiveTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QProcess windowManager_;
    std::unique_ptr<WindowRuntime> runtime_;
    CustomSoundTables tables_;
    QPointer<MainWindow> window_;

    void openBoard(SoundRouting* routing = nullptr)
    {
        runtime_ = std::make_unique<WindowRuntime>();
        MainWindowContext context{*runtime_, tables_, Addresses::allAt("127.0.0.1:9"), dir_.filePath("my.ini"),
                                  [] { return false; }};
        context.soundRouting = routing;
        context.remoteServiceName = kService;
        window_ = MainWindow::open(context);
        QVERIFY(window_ != nullptr);
        // The web panel shows after the first paint, and the window takes a new
        // native window for it; then the window manager has taken that one:
        // it has a frame of its own, and the focus.
        QTRY_VERIFY_WITH_TIMEOUT(window_->findChild<QWebEngineView*>()->isVisible(), kPatienceMs);
        QTRY_VERIFY_WITH_TIMEOUT(window_->frameGeometry() != window_->geometry(), kPatienceMs);
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
        QTRY_COMPARE_WITH_TIMEOUT(rootWindowProperty("_NET_ACTIVE_WINDOW"), static_cast<unsigned long>(window_->winId()),
                                  kPatienceMs);
    }

    // Plays the slot's long sound; the voice the click started.
    VoiceId playLongSound()
    {
        QSignalSpy started(&SoundEngine::instance(), &SoundEngine::voiceStarted);
        window_->findChild<QPushButton*>(test_support::slotButtonName(1))->click();
        if (!QTest::qWaitFor([&] { return !started.isEmpty(); }, kPatienceMs))
            return kNoVoice;
        return started.first().first().value<VoiceId>();
    }

    void leave(Way way)
    {
        switch (way) {
        case Way::Escape:
            window_->activateWindow();
            QTRY_VERIFY_WITH_TIMEOUT(window_->isActiveWindow(), kPatienceMs);
            QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : window_.data(),
                            Qt::Key_Escape);
            break;
        case Way::WindowManagerClose: {
            // What the title bar's X does: the window manager is asked to close the window.
            Display* display = XOpenDisplay(nullptr);
            QVERIFY(display != nullptr);
            XEvent close{};
            close.xclient.type = ClientMessage;
            close.xclient.window = static_cast<Window>(window_->winId());
            close.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
            close.xclient.format = 32;
            close.xclient.data.l[0] = CurrentTime;
            close.xclient.data.l[1] = 2;  // asked for by the user, through a pager or a bar
            XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
                       &close);
            XCloseDisplay(display);
            break;
        }
        case Way::IconQuit:
            iconMenu(QStringLiteral("退出"));
            break;
        }
    }

    void iconMenu(const QString& entry)
    {
        for (QAction* action : window_->notificationIcon().menu()->actions())
            if (action->text() == entry)
                action->trigger();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
        const QString sound = dir_.filePath("long.wav");
        QVERIFY(test_support::writeSquareWav(sound, kSoundSeconds, 8000));
        QFile ini(dir_.filePath("my.ini"));
        const Text bytes = fromQString(QStringLiteral("[自定义音乐]\r\n按钮1path=%1\r\n按钮1name=长音\r\n").arg(sound));
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(bytes.data(), qint64(bytes.size())) > 0);
        ini.close();
        windowManager_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        windowManager_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        QVERIFY(windowManager_.waitForStarted());
        // A window mapped before the window manager has taken the display stays without it.
        QTRY_VERIFY_WITH_TIMEOUT(rootWindowProperty("_NET_SUPPORTING_WM_CHECK") != 0, kPatienceMs);
    }

    void cleanupTestCase()
    {
        windowManager_.terminate();
        windowManager_.waitForFinished();
    }

    void cleanup()
    {
        setMessageBoxSeam({});
        SoundEngine::instance().stopAll();
        if (window_)
            window_->close();
        QTRY_VERIFY_WITH_TIMEOUT(window_ == nullptr, kPatienceMs);
        runtime_.reset();
    }

    void everyWayAsksWhileASoundPlaysAndNoneOtherwise()
    {
        RecordedBoxes boxes(kAnswerNo);
        openBoard();
        const VoiceId voice = playLongSound();
        QVERIFY(voice != kNoVoice);
        for (Way way : {Way::Escape, Way::WindowManagerClose, Way::IconQuit}) {
            const qsizetype asked = boxes.shown.size();
            leave(way);
            QTRY_COMPARE_WITH_TIMEOUT(boxes.shown.size(), asked + 1, kPatienceMs);
            QCOMPARE(boxes.shown.last().text, kQuestion);
            QCOMPARE(boxes.shown.last().style, kBoxYesNoQuestion | kBoxSecondButtonDefault);
            // 否: the show goes on.
            QVERIFY(window_ != nullptr && window_->isVisible());
            QVERIFY(SoundEngine::instance().playing(voice));
        }
        iconMenu(QStringLiteral("停止播放"));
        QTRY_VERIFY_WITH_TIMEOUT(!SoundEngine::instance().playing(voice), kPatienceMs);
        for (Way way : {Way::Escape, Way::WindowManagerClose, Way::IconQuit}) {
            if (window_ == nullptr)
                openBoard();
            leave(way);
            QTRY_VERIFY_WITH_TIMEOUT(window_ == nullptr, kPatienceMs);
        }
        QCOMPARE(boxes.shown.size(), 3);
    }

    // The real box, answered by a click; the remote plays meanwhile.
    void theVirtualMicrophoneOnAsksAndTheRemoteIsServedMeanwhile()
    {
        test_support::PrivateSoundServer server(test_support::SoundServerKind::PulseAudio);
        QVERIFY2(server.isRunning(), qPrintable(server.log()));
        server.useForThisProcess();
        SoundRouting routing([](const OutputTarget& target) { setMediaOutputDevice(target); });
        SoundSettings settings;
        settings.virtualMicrophone = true;
        routing.apply(settings);
        QTRY_VERIFY_WITH_TIMEOUT(routing.status().microphoneOn, kPatienceMs);
        openBoard(&routing);
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(kService).value(),
                                 kPatienceMs);

        QString question;
        bool noIsDefault = false;
        bool remoteAnswered = false;
        QSignalSpy started(&SoundEngine::instance(), &SoundEngine::voiceStarted);
        QTimer look;
        connect(&look, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !question.isEmpty())
                return;
            question = box->text();
            noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
            QDBusMessage call = QDBusMessage::createMethodCall(kService, QString::fromLatin1(kRemoteObjectPath),
                                                               QString::fromLatin1(kRemoteInterface), "PlaySlot");
            call.setArguments({1});
            QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(call));
            remoteAnswered = QTest::qWaitFor([&] { return watcher.isFinished(); }, kPatienceMs) && !watcher.isError();
            box->button(QMessageBox::No)->click();
        });
        look.start(20);
        leave(Way::Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!question.isEmpty(), kPatienceMs);
        look.stop();
        QCOMPARE(question, kQuestion);
        QVERIFY(noIsDefault);
        QVERIFY(remoteAnswered);
        QVERIFY(!started.isEmpty());
        QVERIFY(window_ != nullptr && window_->isVisible());
        // 是 lets the board go.
        RecordedBoxes yes(kAnswerYes);
        leave(Way::IconQuit);
        QTRY_VERIFY_WITH_TIMEOUT(window_ == nullptr, kPatienceMs);
        QCOMPARE(yes.shown.size(), 1);
        runtime_.reset();
        QVERIFY(routing.shutDown(SoundRouting::kExitLimit));
        closeMediaOutput();
    }
};

int main(int argc, char* argv[])
{
    // A real X server and window manager: the focus and the close button are theirs.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QTemporaryDir output;
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(output.filePath("device.raw")));
    prepareProcessForWebViews();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    LeavingLiveTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "leaving_live_test.moc"
