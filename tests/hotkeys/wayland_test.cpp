// The board on kwin_wayland --virtual with the desktop's real shortcuts portal
// (xdg-desktop-portal and its KDE backend) on a private session bus: it runs
// natively and a click is heard on SDL's disk output; its start-up binds the
// stored keys with their preferred triggers (seen as the front end hands them
// to the backend), its exit closes the session, and the rows show the
// desktop's answer. Where a desktop program cannot start here, it skips.

#include "hotkeys/global_hot_keys.h"

#include "app/startup.h"
#include "board/sound_catalogue.h"
#include "hotkeys/portal_shortcuts.h"
#include "media/engine/sound_engine.h"
#include "runtime/window_runtime.h"
#include "settings/sound_settings_window.h"
#include "text/gbk.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <csignal>

using namespace qinghe;

namespace {

const char* const kSocket = "qinghe-test-wayland";
constexpr int kPatienceMs = 60000;
QString noCompositor;  // why there is none; empty: there is

// Before the application object, which connects to it.
qint64 startCompositor(const QString& folder)
{
    // kwin_wayland carries file capabilities, which root in a container may
    // not use ("Operation not permitted"); a copy carries none.
    const QString copy = folder + QStringLiteral("/kwin_wayland");
    QProcess kwin;
    kwin.setProgram(copy);
    kwin.setArguments({"--virtual", "--no-lockscreen", "--socket", kSocket});
    kwin.setStandardOutputFile(QProcess::nullDevice());
    kwin.setStandardErrorFile(folder + QStringLiteral("/kwin.log"));
    qint64 pid = 0;
    if (!QFile::copy(QStandardPaths::findExecutable(QStringLiteral("kwin_wayland")), copy) || !kwin.startDetached(&pid)) {
        noCompositor = QStringLiteral("kwin_wayland is not installed");
        return 0;
    }
    const QString socket = qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + QLatin1String(kSocket);
    for (int waited = 0; waited < kPatienceMs && kill(pid_t(pid), 0) == 0; waited += 100) {
        if (QFile::exists(socket))
            return pid;
        QThread::msleep(100);
    }
    QFile log(folder + QStringLiteral("/kwin.log"));
    log.open(QIODevice::ReadOnly);
    noCompositor = QStringLiteral("kwin_wayland did not start: ") + QString::fromLocal8Bit(log.readAll().right(400));
    return 0;
}

}  // namespace

class WaylandTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QProcess backend_;
    QProcess frontEnd_;
    QString noPortal_;
    QByteArray asked_;  // what the front end asks of the backend, as dbus-monitor prints it
    QProcess monitor_;  // after asked_, so it goes first

    QString iniPath() const { return dir_.filePath("my.ini"); }

    // A desktop program on the test's bus and compositor, there once it holds its bus name.
    bool startOnBus(QProcess& process, const QString& program, const QString& name, const QString& platform)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
        process.setProcessEnvironment(environment);
        process.start(program, {});
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        const bool there = QTest::qWaitFor([&] { return bus->isServiceRegistered(name).value(); }, kPatienceMs);
        if (!there || process.state() != QProcess::Running)
            noPortal_ = QStringLiteral("%1 did not start: %2").arg(program, process.errorString());
        return noPortal_.isEmpty();
    }

private slots:
    void initTestCase()
    {
        if (!noCompositor.isEmpty())
            QSKIP(qPrintable(noCompositor));
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
        // The backend first, so the bus has no reason to start one that knows no compositor.
        const QString backend = QStandardPaths::findExecutable(
            QStringLiteral("xdg-desktop-portal-kde"),
            {QStringLiteral("/usr/lib/" QINGHE_LIBRARY_ARCHITECTURE "/libexec"), QStringLiteral("/usr/libexec")});
        startOnBus(backend_, backend, QStringLiteral("org.freedesktop.impl.portal.desktop.kde"), QStringLiteral("wayland")) &&
            startOnBus(frontEnd_, QStringLiteral("/usr/libexec/xdg-desktop-portal"), QString::fromLatin1(kPortalService),
                       QStringLiteral("offscreen"));
        connect(&monitor_, &QProcess::readyReadStandardOutput, this, [this] { asked_ += monitor_.readAllStandardOutput(); });
        monitor_.start(QStringLiteral("dbus-monitor"), {"--session", "interface='org.freedesktop.impl.portal.GlobalShortcuts'",
                                                        "interface='org.freedesktop.impl.portal.Session'"});
        QTRY_VERIFY_WITH_TIMEOUT(asked_.contains("NameLost"), kPatienceMs);  // watching once it gave up its name
        const Text keys = fromQString(QStringLiteral("[热键]\r\n按钮1=Ctrl+F9\r\n停止播放=F10\r\n"));
        QFile ini(iniPath());
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(keys.data(), qint64(keys.size())) > 0);
    }

    void theBoardRunsNativelyAndAClickPlays()
    {
        const QString heard = dir_.filePath(QStringLiteral("output.raw"));
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(heard));
        bool exposed = false;
        bool heardIt = false;
        QTimer::singleShot(0, [&] {
            QWidget* board = nullptr;
            exposed = QTest::qWaitFor([&] {
                for (QWidget* window : QApplication::topLevelWidgets())
                    board = window->objectName() == QStringLiteral("启动窗口") ? window : board;
                return board != nullptr;
            }) && QTest::qWaitForWindowExposed(board, kPatienceMs);
            if (exposed) {
                const BoardButton& first = boardCatalogue()[0];
                auto* button = board->findChild<QPushButton*>(QString::fromUtf8(first.name.data(), first.name.size()));
                // Through the window system's path, at the button's middle.
                QTest::mouseClick(board->windowHandle(), Qt::LeftButton, {}, button->mapTo(board, button->rect().center()));
                heardIt = QTest::qWaitFor([&] {
                    QFile output(heard);
                    return output.open(QIODevice::ReadOnly) && output.readAll().count('\0') < output.size();
                }, kPatienceMs);
                // The host ends the board once its keys are with the desktop.
                static_cast<void>(QTest::qWaitFor(
                    [&] { return !noPortal_.isEmpty() || asked_.contains("member=BindShortcuts"); }, kPatienceMs));
            }
            // A sound still playing would make leaving ask the host.
            SoundEngine::instance().stopAll();
            if (board)
                board->close();
        });
        StartOptions options;
        options.addresses = Addresses::allAt("127.0.0.1:9");
        options.settingsFile = iniPath();
        QCOMPARE(runProgram(options), 0);
        QVERIFY(exposed);
        QVERIFY(heardIt);
        if (!noPortal_.isEmpty())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(asked_.contains("member=Close"), kPatienceMs);
        const qsizetype bind = asked_.indexOf("member=BindShortcuts");
        QVERIFY(asked_.indexOf("member=CreateSession") < bind && bind < asked_.indexOf("member=Close"));
        QVERIFY(asked_.indexOf("string \"CTRL+F9\"", bind) > bind);
        QVERIFY(asked_.indexOf("string \"F10\"", bind) > bind);
    }

    void theDesktopsAnswerIsWhatTheRowsShow()
    {
        if (!noPortal_.isEmpty())
            QSKIP(qPrintable(noPortal_));
        GlobalHotKeys hotKeys;
        grabStoredHotKeys(hotKeys, iniPath());
        const auto answered = [&] { return hotKeys.portal()->state() != PortalState::Idle && hotKeys.portal()->state() != PortalState::Asking; };
        QTRY_VERIFY_WITH_TIMEOUT(answered(), kPatienceMs);
        QVERIFY2(hotKeys.portal()->state() == PortalState::Bound, qPrintable(hotKeys.portal()->problem()));
        // Plasma 5.27 answers with no trigger yet and opens its own shortcut settings.
        WindowRuntime runtime;
        RuntimeWindow* settings = openSoundSettingsWindow(runtime, nullptr, iniPath(), &hotKeys);
        auto* slot1 = settings->findChild<QKeySequenceEdit*>(QStringLiteral("按钮1"));
        QVERIFY(slot1->isEnabled());
        QCOMPARE(slot1->keySequence(), QKeySequence::fromString(hotKeys.activeKeyOf(0)));
        QCOMPARE(hotKeys.activeKeyOf(0), keyTextForTrigger(hotKeys.portal()->triggerOf(QStringLiteral("slot1"))));
        const QString text = settings->findChild<QLabel*>(QStringLiteral("热键说明"))->text();
        QVERIFY2(text.startsWith(hotKeys.activeKeyOf(0).isEmpty() ? QStringLiteral("桌面还没有") : QStringLiteral("热键由桌面")),
                 qPrintable(text));
        settings->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

int main(int argc, char* argv[])
{
    // A desktop of the test's own: its runtime folder and settings.
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(home.filePath("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.filePath("run")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
    // The compositor picks its own platform; the test run's offscreen one is not for it.
    qunsetenv("QT_QPA_PLATFORM");
    const qint64 compositor = startCompositor(home.path());
    qputenv("WAYLAND_DISPLAY", kSocket);
    qputenv("QT_QPA_PLATFORM", compositor != 0 ? "wayland" : "offscreen");
    prepareProcessForWebViews();
    int result = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        WaylandTest test;
        result = QTest::qExec(&test, argc, argv);
    }
    if (compositor != 0)
        kill(pid_t(compositor), SIGTERM);
    return result;
}

#include "wayland_test.moc"
