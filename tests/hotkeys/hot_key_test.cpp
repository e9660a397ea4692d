// Hot keys on a real X server: a key pressed while another program's window
// has the focus plays its custom slot and the stop key stops it; a key that
// another client holds is refused with a message and not stored; my.ini keeps
// the keys across a restart, and the program's exit lets go of them. A
// built-in effect gets its key from its button's menu and plays as its click.

#include "hotkeys/global_hot_keys.h"

#include "app/startup.h"
#include "media/engine/sound_engine.h"
#include "net/scripted_http_server.h"
#include "online/update_window.h"
#include "online/updater.h"
#include "runtime/window_runtime.h"
#include "settings/sound_settings_window.h"
#include "support/recorded_boxes.h"
#include "text/gbk.h"
#include "ui/main_window.h"
#include "ui/sound_menu_driver.h"

#include "support/played_sounds.h"

#include <QApplication>
#include <QFile>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QRegularExpression>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <memory>

using namespace qinghe;

namespace {

bool otherClientRefused = false;

int noteRefusal(Display*, XErrorEvent* error)
{
    if (error->error_code == BadAccess)
        otherClientRefused = true;
    return 0;
}

// Another program on the same server: a plain window of its own that takes
// the focus, and grabs of its own.
class OtherClient {
public:
    OtherClient() : display(XOpenDisplay(nullptr)) {}
    ~OtherClient()
    {
        if (display)
            XCloseDisplay(display);
    }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    void focusOwnWindow()
    {
        const Window root = DefaultRootWindow(display);
        const Window window = XCreateSimpleWindow(display, root, 0, 0, 200, 100, 0, 0, 0);
        XMapRaised(display, window);
        XSync(display, False);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XSync(display, False);
        focused = window;
    }

    bool hasFocus()
    {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        return focus == focused;
    }

    void press(KeySym sym)
    {
        const unsigned code = XKeysymToKeycode(display, sym);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        XSync(display, False);
    }

    // True when the server gave this client the key.
    bool grab(KeySym sym)
    {
        otherClientRefused = false;
        XErrorHandler previous = XSetErrorHandler(&noteRefusal);
        XGrabKey(display, XKeysymToKeycode(display, sym), 0, DefaultRootWindow(display), False, GrabModeAsync,
                 GrabModeAsync);
        XSync(display, False);
        XSetErrorHandler(previous);
        return !otherClientRefused;
    }

    void ungrabAll()
    {
        XUngrabKey(display, AnyKey, AnyModifier, DefaultRootWindow(display));
        XSync(display, False);
    }

    Display* display;
    Window focused = 0;
};

}  // namespace

class HotKeyTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    CustomSoundTables tables_;
    std::unique_ptr<WindowRuntime> runtime_;
    std::unique_ptr<GlobalHotKeys> hotKeys_;
    QPointer<MainWindow> window_;
    test::PlayedSounds played_;
    QStringList& sent_ = played_.lines;

    QString iniPath() const { return dir_.filePath("my.ini"); }

    QByteArray iniBytes() const
    {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Slot 1 plays data/1.mp3, or another of the effects' files.
    bool writeIni(const QString& extra = {}, const char* slotFile = "1.mp3")
    {
        const QString ini = QStringLiteral("[自定义音乐]\r\n按钮1path=%1\r\n按钮1name=掌声\r\n")
                                .arg(QStringLiteral(QINGHE_SOURCE_DIR "/data/") + QString::fromLatin1(slotFile)) +
                            extra;
        const Text bytes = fromQString(ini);
        QFile file(iniPath());
        return file.open(QIODevice::WriteOnly) && file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
    }

    // The program as start-up makes it: the hot keys from my.ini, then the board.
    void startProgram()
    {
        runtime_ = std::make_unique<WindowRuntime>();
        hotKeys_ = std::make_unique<GlobalHotKeys>();
        QVERIFY(hotKeys_->available());
        grabStoredHotKeys(*hotKeys_, iniPath());
        MainWindowContext context{*runtime_, tables_, Addresses::allAt("127.0.0.1:9"), iniPath(),
                                  [] { return false; }};
        context.hotKeys = hotKeys_.get();
        window_ = MainWindow::open(context);
        QVERIFY(window_ != nullptr);
        sent_.clear();
    }

    void endProgram()
    {
        // Closing while a sound plays would ask the host.
        SoundEngine::instance().stopAll();
        if (window_)
            window_->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runtime_.reset();
        hotKeys_.reset();
    }

    bool sentStartingWith(const QString& start) const
    {
        for (const QString& command : sent_)
            if (command.startsWith(start))
                return true;
        return false;
    }

    // What a person does in the settings window: click the slot's field and press the key.
    void pressInSettings(const QString& field, Qt::Key key)
    {
        RuntimeWindow* settings = openSoundSettingsWindow(*runtime_, nullptr, iniPath(), hotKeys_.get());
        QVERIFY(settings != nullptr);
        pressInField(settings->findChild<QKeySequenceEdit*>(field), key);
    }

    void pressInField(QKeySequenceEdit* edit, Qt::Key key, Qt::KeyboardModifiers held = Qt::NoModifier)
    {
        QVERIFY(edit != nullptr);
        QVERIFY(edit->isEnabled());
        QSignalSpy finished(edit, &QKeySequenceEdit::editingFinished);
        edit->setFocus();
        QTest::keyClick(edit, key, held);
        // The field takes the key once the host stops pressing keys.
        QTRY_COMPARE(finished.count(), 1);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
    }

    void cleanup() { endProgram(); }

    void keysSetInTheWindowPlayAndStopWhileAnotherWindowHasTheFocus()
    {
        QVERIFY(writeIni());
        startProgram();
        pressInSettings(QStringLiteral("按钮1"), Qt::Key_F5);
        pressInSettings(QStringLiteral("停止播放"), Qt::Key_F6);
        const QByteArray ini = iniBytes();
        QVERIFY(ini.contains(QByteArray::fromStdString(fromQString(QStringLiteral("[热键]\r\n按钮1=F5\r\n停止播放=F6\r\n")))));

        OtherClient other;
        other.focusOwnWindow();
        QVERIFY(other.hasFocus());
        sent_.clear();
        other.press(XK_F5);
        QTRY_VERIFY(sentStartingWith(QStringLiteral("play ")));
        QVERIFY(sentStartingWith(QStringLiteral("open ") + QStringLiteral(QINGHE_SOURCE_DIR "/data/1.mp3")));
        QVERIFY(!sentStartingWith(QStringLiteral("stop ")));
        QVERIFY(other.hasFocus());
        other.press(XK_F6);
        QTRY_VERIFY(sentStartingWith(QStringLiteral("stop ")));
    }

    void aKeyFromAnEffectsMenuPlaysItAsItsClickWhileAnotherWindowHasTheFocus()
    {
        QVERIFY(writeIni());
        OtherClient other;
        QVERIFY(other.grab(XK_F7));
        startProgram();
        auto* effect = window_->findChild<QPushButton*>(QStringLiteral("按钮8"));  // 哄堂大笑
        QVERIFY(test_support::chooseFromMenu(effect, kHotKeyItem));
        QWidget* keyWindow = test_support::openWindowNamed("热键窗口");
        QVERIFY(keyWindow != nullptr);
        auto* field = keyWindow->findChild<QKeySequenceEdit*>(QStringLiteral("热键"));

        // A key another program holds is refused with the settings' words, and not kept.
        RecordedBoxes boxes;
        pressInField(field, Qt::Key_F7);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("热键“F7”已被其他程序占用，请换一个键。"));
        QVERIFY(!iniBytes().contains(QByteArray::fromStdString(fromQString(QStringLiteral("哄堂大笑=")))));
        other.ungrabAll();

        pressInField(field, Qt::Key_F4);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(field->keySequence(), QKeySequence(Qt::Key_F4));
        QVERIFY(iniBytes().contains(QByteArray::fromStdString(fromQString(QStringLiteral("[热键]\r\n哄堂大笑=F4\r\n")))));
        keyWindow->close();

        sent_.clear();
        effect->click();
        const QStringList clicked = sent_.filter(QStringLiteral("open "));
        QVERIFY(sentStartingWith(QStringLiteral("play ")));

        other.focusOwnWindow();
        QVERIFY(other.hasFocus());
        sent_.clear();
        other.press(XK_F4);
        QTRY_VERIFY(sentStartingWith(QStringLiteral("play ")));
        QCOMPARE(sent_.filter(QStringLiteral("open ")), clicked);
        QVERIFY(other.hasFocus());

        // The key is the effect's on the next start too.
        endProgram();
        startProgram();
        QVERIFY(other.grab(XK_F4) == false);
        other.focusOwnWindow();
        other.press(XK_F4);
        QTRY_VERIFY(sentStartingWith(QStringLiteral("open ") + test::effectFile("qzxs.mp3")));
    }

    void keyAnotherProgramHoldsIsRefusedAndNotStored()
    {
        QVERIFY(writeIni());
        OtherClient other;
        QVERIFY(other.grab(XK_F7));
        startProgram();
        RecordedBoxes boxes;
        pressInSettings(QStringLiteral("按钮2"), Qt::Key_F7);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("热键“F7”已被其他程序占用，请换一个键。"));
        QVERIFY(hotKeys_->keyOf(1).isEmpty());
        QVERIFY(!iniBytes().contains(QByteArray::fromStdString(fromQString(QStringLiteral("按钮2=")))));

        // The same key for a second slot of our own names its holder; 否 keeps it there.
        pressInSettings(QStringLiteral("按钮3"), Qt::Key_F8);
        pressInSettings(QStringLiteral("按钮4"), Qt::Key_F8);
        QCOMPARE(boxes.shown.size(), 2);
        QVERIFY(boxes.shown[1].text.startsWith(QStringLiteral("F8 已用于 按钮3\n")));
        QCOMPARE(hotKeys_->keyOf(2), QStringLiteral("F8"));
        QVERIFY(hotKeys_->keyOf(3).isEmpty());
        other.ungrabAll();
    }

    // Keys that typing sets off are never taken, stored or pressed; a key
    // another sound has moves only when the host agrees; and every sound
    // with a key, built-in effects too, is listed in 声音设置 and cleared there.
    void typingKeysAreRefusedAClashAsksAndEveryKeyIsListedInTheSettings()
    {
        QVERIFY(writeIni(QStringLiteral("[热键]\r\n哄堂大笑=F2\r\n开啤酒盖=F3\r\n按钮2=Esc\r\n")));
        startProgram();
        OtherClient other;
        QVERIFY(other.grab(XK_Escape));
        other.ungrabAll();
        RuntimeWindow* settings = openSoundSettingsWindow(*runtime_, nullptr, iniPath(), hotKeys_.get());
        QVERIFY(settings != nullptr);
        const auto field = [&](const char* name) { return settings->findChild<QKeySequenceEdit*>(QString::fromUtf8(name)); };
        QVERIFY(settings->findChild<QLabel*>(QStringLiteral("热键说明"))->text().endsWith(
            QStringLiteral("在打字时也会触发，没有启用，请加上 Ctrl、Alt 或 Win 键重新设置：按钮2（Esc）")));
        QCOMPARE(field("哄堂大笑")->keySequence(), QKeySequence(Qt::Key_F2));

        RecordedBoxes boxes(kAnswerYes);
        pressInField(field("按钮1"), Qt::Key_Escape);
        pressInField(field("按钮1"), Qt::Key_A);
        QCOMPARE(boxes.shown.size(), 2);
        for (const ShownMessageBox& box : boxes.shown)
            QCOMPARE(box.text, QStringLiteral("这个键在打字时也会触发，请加上 Ctrl、Alt 或 Win 键。"));
        QVERIFY(hotKeys_->keyOf(0).isEmpty());
        QVERIFY(!iniBytes().contains(QByteArray::fromStdString(fromQString(QStringLiteral("按钮1=")))));
        pressInField(field("按钮3"), Qt::Key_5, Qt::KeypadModifier);
        QCOMPARE(hotKeys_->keyOf(2), QStringLiteral("Num+5"));

        pressInField(field("按钮1"), Qt::Key_F2);
        QCOMPARE(boxes.shown.size(), 3);
        QVERIFY(boxes.shown[2].text.startsWith(QStringLiteral("F2 已用于 哄堂大笑\n")));
        QCOMPARE(boxes.shown[2].style, int(kBoxYesNoQuestion));
        QCOMPARE(hotKeys_->keyOf(0), QStringLiteral("F2"));
        QVERIFY(hotKeys_->keyOf(effectHotKeyAction(QStringLiteral("哄堂大笑"))).isEmpty());
        QVERIFY(field("哄堂大笑")->keySequence().isEmpty());
        settings->findChild<QPushButton*>(QStringLiteral("开啤酒盖清除"))->click();
        const QByteArray ini = iniBytes();
        QVERIFY(ini.contains(QByteArray::fromStdString(fromQString(QStringLiteral("按钮1=F2\r\n")))));
        for (const char* gone : {"哄堂大笑=", "开啤酒盖="})
            QVERIFY(!ini.contains(QByteArray::fromStdString(fromQString(QString::fromUtf8(gone)))));
        QVERIFY(other.grab(XK_F3));
        other.ungrabAll();

        other.focusOwnWindow();
        sent_.clear();
        other.press(XK_F2);
        QTRY_VERIFY(sentStartingWith(QStringLiteral("open ") + QStringLiteral(QINGHE_SOURCE_DIR "/data/1.mp3")));
    }

    void aStoredKeyAnotherProgramTookStaysStoredAndIsNamed()
    {
        QVERIFY(writeIni(QStringLiteral("[热键]\r\n按钮2=F11\r\n按钮3=F12\r\n")));
        OtherClient other;
        QVERIFY(other.grab(XK_F11));
        startProgram();
        QVERIFY(hotKeys_->keyOf(1).isEmpty());
        QCOMPARE(hotKeys_->keyOf(2), QStringLiteral("F12"));
        RuntimeWindow* settings = openSoundSettingsWindow(*runtime_, nullptr, iniPath(), hotKeys_.get());
        QVERIFY(settings != nullptr);
        QCOMPARE(settings->findChild<QLabel*>(QStringLiteral("热键说明"))->text(),
                 QStringLiteral("以下热键已被其他程序占用，暂不起作用，请换一个键：按钮2（F11）"));
        QCOMPARE(settings->findChild<QKeySequenceEdit*>(QStringLiteral("按钮2"))->keySequence(),
                 QKeySequence(Qt::Key_F11));
        QVERIFY(iniBytes().contains(QByteArray::fromStdString(fromQString(QStringLiteral("按钮2=F11")))));
        other.ungrabAll();
    }

    // A held key repeats on the server; the slot starts once, not on every repeat.
    void aHeldKeyPlaysOnce()
    {
        // A sound longer than the key is held, so the stop key has it to stop.
        QVERIFY(writeIni(QStringLiteral("[热键]\r\n按钮1=F5\r\n停止播放=F6\r\n"), "dscc.mp3"));
        startProgram();
        OtherClient other;
        other.focusOwnWindow();
        const unsigned code = XKeysymToKeycode(other.display, XK_F5);
        XTestFakeKeyEvent(other.display, code, True, CurrentTime);
        XSync(other.display, False);
        // Held past the server's repeat delay, so the server repeats the key.
        constexpr int kHoldMs = 1500;
        QTest::qWait(kHoldMs);
        XTestFakeKeyEvent(other.display, code, False, CurrentTime);
        // The server's events come in order: once the stop key is seen, every repeat was.
        other.press(XK_F6);
        QTRY_VERIFY(sentStartingWith(QStringLiteral("stop ")));
        QCOMPARE(sent_.filter(QRegularExpression(QStringLiteral("^play "))).size(), 1);
    }

    // The update window stands over the board while the update page takes
    // its time: the window thread serves a hot key meanwhile (the window is
    // modal, so a key stands in for a click), and closing the window cancels.
    void aHotKeyPlaysWhileTheUpdateWindowWaitsForItsPage()
    {
        QVERIFY(writeIni(QStringLiteral("[热键]\r\n按钮1=F5\r\n")));
        startProgram();
        ScriptedHttpServer slowSite([](const std::string&, std::size_t) {
            ScriptedHttpServer::Reply reply;
            reply.holdOpen = true;
            return reply;
        });
        Updater updater(Addresses::allAt(QStringLiteral("127.0.0.1:%1").arg(slowSite.port())), dir_.path());
        RecordedBoxes boxes(kAnswerYes);
        bool shownWhileWaiting = false;
        bool playedWhileWaiting = false;
        QTimer::singleShot(0, [&] {
            QTest::qWaitFor([&] { return slowSite.requests().size() == 1; });
            for (QWidget* w : QApplication::topLevelWidgets())
                if (qobject_cast<UpdateWindow*>(w) != nullptr && w->isVisible())
                    shownWhileWaiting = true;
            OtherClient other;
            other.focusOwnWindow();
            sent_.clear();
            other.press(XK_F5);
            playedWhileWaiting = QTest::qWaitFor([&] { return sentStartingWith(QStringLiteral("play ")); });
            for (QWidget* w : QApplication::topLevelWidgets())
                if (qobject_cast<UpdateWindow*>(w) != nullptr)
                    w->close();
        });
        QCOMPARE(runUpdateWindow(*runtime_, updater, std::chrono::milliseconds(0)), UpdateEnd::notUpdated);
        QVERIFY(shownWhileWaiting);
        QVERIFY(playedWhileWaiting);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("是否取消更新？"));
        // The page read ends by itself once asked to; nothing waited for it.
        QTRY_VERIFY(!updater.busy());
    }

    void keysSurviveARestartAndTheExitReleasesThem()
    {
        QVERIFY(writeIni(QStringLiteral("[热键]\r\n按钮1=Ctrl+F9\r\n停止播放=F10\r\n")));
        OtherClient other;
        bool heldWhileRunning = false;
        bool playedWhileRunning = false;
        // The program as the host starts it; while it runs, another client
        // cannot have its keys, and Ctrl+F9 plays the slot.
        QTimer::singleShot(0, [&] {
            heldWhileRunning = !other.grab(XK_F10);
            other.focusOwnWindow();
            sent_.clear();
            const unsigned control = XKeysymToKeycode(other.display, XK_Control_L);
            XTestFakeKeyEvent(other.display, control, True, CurrentTime);
            other.press(XK_F9);
            XTestFakeKeyEvent(other.display, control, False, CurrentTime);
            XSync(other.display, False);
            playedWhileRunning = QTest::qWaitFor([&] { return sentStartingWith(QStringLiteral("play ")); });
            SoundEngine::instance().stopAll();
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == QStringLiteral("启动窗口"))
                    w->close();
        });
        StartOptions options;
        options.addresses = Addresses::allAt("127.0.0.1:9");
        options.settingsFile = iniPath();
        QCOMPARE(runProgram(options), 0);
        QVERIFY(heldWhileRunning);
        QVERIFY(playedWhileRunning);
        QVERIFY(other.grab(XK_F10));
        other.ungrabAll();

        // A plain restart shows the stored keys in the settings window.
        startProgram();
        QCOMPARE(hotKeys_->keyOf(0), QStringLiteral("Ctrl+F9"));
        RuntimeWindow* settings = openSoundSettingsWindow(*runtime_, nullptr, iniPath(), hotKeys_.get());
        QVERIFY(settings != nullptr);
        QCOMPARE(settings->findChild<QKeySequenceEdit*>(QStringLiteral("停止播放"))->keySequence(),
                 QKeySequence(Qt::Key_F10));
    }
};

int main(int argc, char* argv[])
{
    // The hot keys need the X server that xvfb-run started for this test.
    qputenv("QT_QPA_PLATFORM", "xcb");
    prepareProcessForWebViews();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    HotKeyTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "hot_key_test.moc"
