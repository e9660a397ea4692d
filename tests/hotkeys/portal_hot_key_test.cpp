// Hot keys through a desktop's shortcuts portal, played by a portal of the
// test's own on a private session bus: the stored keys go to the desktop as
// preferred triggers, each row shows the key the desktop took, a shortcut the
// desktop presses plays its slot or stops, a key set in the window is
// proposed anew, and the exit closes the session. Without a portal the
// window names the commands to bind instead.

#include "hotkeys/global_hot_keys.h"

#include "hotkeys/portal_shortcuts.h"
#include "hotkeys/test_shortcuts_portal.h"
#include "media/media_control.h"
#include "runtime/window_runtime.h"
#include "settings/sound_settings_window.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include <QFile>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>

using namespace qinghe;

class PortalHotKeyTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    CustomSoundTables tables_;
    std::unique_ptr<WindowRuntime> runtime_ = std::make_unique<WindowRuntime>();
    std::unique_ptr<TestShortcutsPortal> portal_;
    std::unique_ptr<GlobalHotKeys> hotKeys_;
    QStringList sent_;

    QString iniPath() const { return dir_.filePath("my.ini"); }

    void writeIni(const QString& hotKeys)
    {
        QFile file(iniPath());
        const Text bytes = fromQString(QStringLiteral("[自定义音乐]\r\n按钮1path=%1\r\n[热键]\r\n")
                                           .arg(QStringLiteral(QINGHE_SOURCE_DIR "/data/1.mp3")) +
                                       hotKeys);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes.data(), qint64(bytes.size())) > 0);
    }

    // The hot keys as start-up makes them on Wayland, once the desktop has answered.
    void startHotKeys(PortalState expected = PortalState::Bound)
    {
        hotKeys_ = std::make_unique<GlobalHotKeys>(HotKeyRoute::Portal);
        grabStoredHotKeys(*hotKeys_, iniPath());
        QTRY_VERIFY2(hotKeys_->portal()->state() == expected, qPrintable(hotKeys_->portal()->problem()));
    }

    QKeySequenceEdit* field(RuntimeWindow* settings, const QString& name)
    {
        return settings->findChild<QKeySequenceEdit*>(name);
    }

    QVariant proposed(const QString& id) const
    {
        for (const PortalShortcut& shortcut : portal_->lastBound)
            if (shortcut.id == id)
                return shortcut.properties.value(QStringLiteral("preferred_trigger"));
        return {};
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
        setMediaCommandObserver([this](const SentMediaCommand& command) {
            sent_ << (command.isOpen ? QStringLiteral("open ") + toQString(command.open.elementName)
                                     : toQString(command.command));
        });
    }

    void cleanup()
    {
        for (QWidget* window : QApplication::topLevelWidgets())
            window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runtime_ = std::make_unique<WindowRuntime>();
        hotKeys_.reset();
        portal_.reset();
        sent_.clear();
    }

    // Before any portal is on the bus: no global keys, and the commands instead.
    void withoutAPortalTheWindowNamesTheCommandsToBind()
    {
        writeIni(QStringLiteral("按钮2=F4\r\n"));
        startHotKeys(PortalState::Unavailable);
        QVERIFY(!hotKeys_->available());
        RuntimeWindow* settings = openSoundSettingsWindow(*runtime_, nullptr, iniPath(), hotKeys_.get());
        const QString text = settings->findChild<QLabel*>(QStringLiteral("热键说明"))->text();
        QVERIFY2(text.contains(QStringLiteral("--play-slot N")) && text.contains(QStringLiteral("--stop")), qPrintable(text));
        QVERIFY(!field(settings, QStringLiteral("按钮2"))->isEnabled());
        QCOMPARE(field(settings, QStringLiteral("按钮2"))->keySequence(), QKeySequence(Qt::Key_F4));
    }

    void storedKeysAreProposedAndEachRowShowsTheKeyTheDesktopTook()
    {
        portal_ = std::make_unique<TestShortcutsPortal>();
        QVERIFY(portal_->published());
        portal_->desktopChoice.insert(QStringLiteral("slot2"), QStringLiteral("CTRL+ALT+x"));
        writeIni(QStringLiteral("按钮1=F5\r\n按钮2=Ctrl+F6\r\n停止播放=Shift+F8\r\n"));
        startHotKeys();
        // One session, with every action in it; a slot without a key has no preferred trigger.
        QCOMPARE(portal_->sessions.size(), 1);
        QCOMPARE(portal_->lastBound.size(), kHotKeyActionCount);
        QCOMPARE(proposed(QStringLiteral("slot1")), QVariant(QStringLiteral("F5")));
        QCOMPARE(proposed(QStringLiteral("slot2")), QVariant(QStringLiteral("CTRL+F6")));
        QCOMPARE(proposed(QStringLiteral("stop")), QVariant(QStringLiteral("SHIFT+F8")));
        QVERIFY(!proposed(QStringLiteral("slot3")).isValid());

        RuntimeWindow* settings = openSoundSettingsWindow(*runtime_, nullptr, iniPath(), hotKeys_.get());
        QVERIFY(field(settings, QStringLiteral("按钮2"))->isEnabled());
        QCOMPARE(field(settings, QStringLiteral("按钮1"))->keySequence(), QKeySequence(Qt::Key_F5));
        QCOMPARE(field(settings, QStringLiteral("按钮2"))->keySequence(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_X));
        // The host changes a trigger in the desktop's own settings; the row follows.
        portal_->retrigger(hotKeys_->portal()->sessionHandle(), QStringLiteral("slot1"), QStringLiteral("LOGO+F12"));
        QTRY_COMPARE(field(settings, QStringLiteral("按钮1"))->keySequence(), QKeySequence(Qt::META | Qt::Key_F12));
        QCOMPARE(field(settings, QStringLiteral("停止播放"))->keySequence(), QKeySequence(Qt::SHIFT | Qt::Key_F8));
    }

    void theDesktopPressingAShortcutPlaysItsSlotAndTheStopShortcutStops()
    {
        portal_ = std::make_unique<TestShortcutsPortal>();
        writeIni(QStringLiteral("按钮1=F5\r\n"));
        startHotKeys();
        MainWindowContext context{*runtime_, tables_, Addresses::allAt("127.0.0.1:9"), iniPath(), [] { return false; }};
        context.hotKeys = hotKeys_.get();
        QVERIFY(MainWindow::open(context) != nullptr);
        sent_.clear();
        portal_->press(hotKeys_->portal()->sessionHandle(), QStringLiteral("slot1"));
        QTRY_VERIFY(!sent_.filter(QStringLiteral("play ")).isEmpty());
        QVERIFY(sent_.contains(QStringLiteral("open " QINGHE_SOURCE_DIR "/data/1.mp3")));
        // A shortcut of another session is not the board's: by the time the
        // next press of the board's own has played, it would have stopped.
        portal_->press(QStringLiteral("/org/freedesktop/portal/desktop/session/1_1/other"), QStringLiteral("stop"));
        portal_->press(hotKeys_->portal()->sessionHandle(), QStringLiteral("slot1"));
        QTRY_COMPARE(sent_.filter(QStringLiteral("play ")).size(), 2);
        QVERIFY(sent_.filter(QStringLiteral("stop ")).isEmpty());
        portal_->press(hotKeys_->portal()->sessionHandle(), QStringLiteral("stop"));
        QTRY_VERIFY(!sent_.filter(QStringLiteral("stop ")).isEmpty());
    }

    // The desktop's dialog closed without an answer: what it holds still counts.
    void aClosedDialogStillShowsTheKeysTheDesktopHolds()
    {
        portal_ = std::make_unique<TestShortcutsPortal>();
        portal_->bindResponse = 1;
        writeIni(QStringLiteral("按钮3=F9\r\n"));
        startHotKeys();
        QCOMPARE(hotKeys_->activeKeyOf(2), QStringLiteral("F9"));
    }

    void aKeySetInTheWindowIsProposedInANewSessionAndTheExitClosesIt()
    {
        portal_ = std::make_unique<TestShortcutsPortal>();
        writeIni({});
        startHotKeys();
        RuntimeWindow* settings = openSoundSettingsWindow(*runtime_, nullptr, iniPath(), hotKeys_.get());
        QKeySequenceEdit* edit = field(settings, QStringLiteral("按钮3"));
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_F7);
        QTRY_COMPARE(portal_->sessions.size(), 2);
        QTRY_COMPARE(hotKeys_->portal()->state(), PortalState::Bound);
        QCOMPARE(portal_->closedSessions, QStringList{portal_->sessions[0]});
        QCOMPARE(proposed(QStringLiteral("slot3")), QVariant(QStringLiteral("F7")));
        QCOMPARE(readHotKeys(iniPath())[2], QStringLiteral("F7"));
        QCOMPARE(edit->keySequence(), QKeySequence(Qt::Key_F7));
        // What the exit does.
        hotKeys_->releaseAll();
        QTRY_COMPARE(portal_->closedSessions, portal_->sessions);
    }
};

QINGHE_WINDOW_TEST_MAIN(PortalHotKeyTest)

#include "portal_hot_key_test.moc"
