// Hot keys through a desktop's shortcuts portal, played by a portal of the
// test's own on a private session bus: stored keys proposed as preferred
// triggers, each row showing the desktop's key, the desktop's presses playing
// and stopping, a key set in the window proposed anew, the exit closing the
// session; without a portal, the commands to bind instead.

#include "hotkeys/global_hot_keys.h"

#include "hotkeys/test_shortcuts_portal.h"
#include "media/engine/sound_engine.h"
#include "runtime/window_runtime.h"
#include "settings/sound_settings_window.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include "support/played_sounds.h"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QTemporaryDir>

using namespace qinghe;

class PortalHotKeyTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    CustomSoundTables tables_;
    std::unique_ptr<WindowRuntime> runtime_ = std::make_unique<WindowRuntime>();
    std::unique_ptr<TestShortcutsPortal> portal_;
    std::unique_ptr<GlobalHotKeys> hotKeys_;
    test::PlayedSounds played_;
    QStringList& sent_ = played_.lines;

    // The hot keys as start-up makes them on Wayland from these [热键] lines, once the desktop answered.
    void start(const QString& keys, PortalState expected = PortalState::Bound)
    {
        QFile file(dir_.filePath("my.ini"));
        const Text bytes = fromQString(QStringLiteral("[自定义音乐]\r\n按钮1path=" QINGHE_SOURCE_DIR "/data/1.mp3\r\n按钮2path=" QINGHE_SOURCE_DIR "/data/2.mp3\r\n[热键]\r\n") + keys);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes.data(), qint64(bytes.size())) > 0);
        file.close();
        hotKeys_ = std::make_unique<GlobalHotKeys>(HotKeyRoute::Portal);
        grabStoredHotKeys(*hotKeys_, file.fileName());
        QTRY_VERIFY2(hotKeys_->portal()->state() == expected, qPrintable(hotKeys_->portal()->problem()));
    }

    RuntimeWindow* settings() { return openSoundSettingsWindow(*runtime_, nullptr, dir_.filePath("my.ini"), hotKeys_.get()); }
    QKeySequenceEdit* field(const QString& name) { return settings()->findChild<QKeySequenceEdit*>(name); }
    QString session() const { return hotKeys_->portal()->sessionHandle(); }

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
    }

    void cleanup()
    {
        // A sound still playing would make leaving ask the host.
        SoundEngine::instance().stopAll();
        for (QWidget* window : QApplication::topLevelWidgets())
            window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runtime_ = std::make_unique<WindowRuntime>();
        hotKeys_.reset();
        portal_.reset();
        sent_.clear();
    }

    void withoutAPortalTheWindowNamesTheCommandsToBind()
    {
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kPortalService).value());
        start(QStringLiteral("按钮2=F4\r\n"), PortalState::Unavailable);
        const QString text = settings()->findChild<QLabel*>(QStringLiteral("热键说明"))->text();
        QVERIFY2(text.contains(QStringLiteral("--play-slot N")) && text.contains(QStringLiteral("--stop")), qPrintable(text));
        QVERIFY(!field(QStringLiteral("按钮2"))->isEnabled());
        QCOMPARE(field(QStringLiteral("按钮2"))->keySequence(), QKeySequence(Qt::Key_F4));
    }

    void storedKeysAreProposedAndEachRowShowsTheKeyTheDesktopTook()
    {
        portal_ = std::make_unique<TestShortcutsPortal>();
        QVERIFY(portal_->published);
        portal_->desktopChoice.insert(QStringLiteral("slot2"), QStringLiteral("CTRL+ALT+x"));
        start(QStringLiteral("按钮1=F5\r\n按钮2=Ctrl+F6\r\n停止播放=Shift+F8\r\n"));
        // One session with every action; a slot without a key proposes none.
        QCOMPARE(portal_->sessions.size(), 1);
        QCOMPARE(portal_->lastBound.size(), kHotKeyActionCount);
        QCOMPARE(proposed(QStringLiteral("slot1")), QVariant(QStringLiteral("F5")));
        QCOMPARE(proposed(QStringLiteral("slot2")), QVariant(QStringLiteral("CTRL+F6")));
        QCOMPARE(proposed(QStringLiteral("stop")), QVariant(QStringLiteral("SHIFT+F8")));
        QVERIFY(!proposed(QStringLiteral("slot3")).isValid());
        QVERIFY(field(QStringLiteral("按钮2"))->isEnabled());
        QCOMPARE(field(QStringLiteral("按钮2"))->keySequence(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_X));
        QCOMPARE(field(QStringLiteral("停止播放"))->keySequence(), QKeySequence(Qt::SHIFT | Qt::Key_F8));
        // The host changes a trigger in the desktop's own settings; the row follows.
        portal_->retrigger(session(), QStringLiteral("slot1"), QStringLiteral("LOGO+F12"));
        QTRY_COMPARE(field(QStringLiteral("按钮1"))->keySequence(), QKeySequence(Qt::META | Qt::Key_F12));
    }

    void theDesktopPressingAShortcutPlaysItsSlotAndTheStopShortcutStops()
    {
        portal_ = std::make_unique<TestShortcutsPortal>();
        start(QStringLiteral("按钮1=F5\r\n按钮2=F6\r\n"));
        MainWindowContext context{*runtime_, tables_, Addresses::allAt("127.0.0.1:9"), dir_.filePath("my.ini"), [] { return false; }};
        context.hotKeys = hotKeys_.get();
        QVERIFY(MainWindow::open(context) != nullptr);
        sent_.clear();
        portal_->press(session(), QStringLiteral("slot1"));
        QTRY_VERIFY(!sent_.filter(QStringLiteral("play ")).isEmpty());
        QVERIFY(sent_.contains(QStringLiteral("open " QINGHE_SOURCE_DIR "/data/1.mp3")));
        // Another session's shortcut is not the board's: it would have stopped
        // before the next play, which cuts slot 1 without a stop of its own.
        portal_->press(QStringLiteral("/org/freedesktop/portal/desktop/session/1_1/other"), QStringLiteral("stop"));
        portal_->press(session(), QStringLiteral("slot2"));
        QTRY_COMPARE(sent_.filter(QStringLiteral("play ")).size(), 2);
        QVERIFY(sent_.filter(QStringLiteral("stop ")).isEmpty());
        portal_->press(session(), QStringLiteral("stop"));
        QTRY_VERIFY(!sent_.filter(QStringLiteral("stop ")).isEmpty());
    }

    void aKeySetInTheWindowIsProposedInANewSessionAndTheExitClosesIt()
    {
        portal_ = std::make_unique<TestShortcutsPortal>();
        // The host closed the desktop's dialog: what the desktop holds, listed, still counts.
        portal_->bindResponse = 1;
        start(QStringLiteral("按钮3=F9\r\n"));
        QCOMPARE(hotKeys_->activeKeyOf(2), QStringLiteral("F9"));
        portal_->bindResponse = 0;
        QKeySequenceEdit* edit = field(QStringLiteral("按钮3"));
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_F7);
        QTRY_COMPARE(portal_->sessions.size(), 2);
        QTRY_COMPARE(hotKeys_->portal()->state(), PortalState::Bound);
        QCOMPARE(portal_->closedSessions, QStringList{portal_->sessions[0]});
        QCOMPARE(proposed(QStringLiteral("slot3")), QVariant(QStringLiteral("F7")));
        QCOMPARE(readHotKeys(dir_.filePath("my.ini"))[2], QStringLiteral("F7"));
        QCOMPARE(edit->keySequence(), QKeySequence(Qt::Key_F7));
        hotKeys_->releaseAll();  // what the exit does
        QTRY_COMPARE(portal_->closedSessions, portal_->sessions);
    }
};

QINGHE_WINDOW_TEST_MAIN(PortalHotKeyTest)

#include "portal_hot_key_test.moc"
