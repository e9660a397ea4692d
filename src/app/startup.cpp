#include "startup.h"

#include "ending_signals.h"
#include "program_state.h"
#include "base/program_places.h"
#include "media/engine/sound_engine.h"
#include "runtime/first_paint.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"
#include "soundserver/sound_settings.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QPointer>
#include <QSystemTrayIcon>

#include <unistd.h>

namespace qinghe {

void prepareProcessForWebViews()
{
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

void preferNativeWayland()
{
    // Qt itself picks Wayland only where the session type says so.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
}

int runProgram(const StartOptions& options)
{
    // Windows decide themselves when the program ends, hidden ones included.
    QApplication::setQuitOnLastWindowClosed(false);
    WindowRuntime runtime;
    ProgramState state;

    QObject::connect(&runtime, &WindowRuntime::lastWindowDestroyed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // A log-out, kill or Ctrl+C ends the program as closing its last window does.
    // exit, not quit: quit first closes every window, and a live board would ask.
    const EndingSignals endingSignals([] { QCoreApplication::exit(0); });
    // A window that cannot be loaded ends the program once the handler that opened it has returned.
    QObject::connect(
        &runtime, &WindowRuntime::fatalError, qApp, [](int exitCode) { QCoreApplication::exit(exitCode); },
        Qt::QueuedConnection);

    // The sound settings follow the host's choice from my.ini; the routing
    // tells the board's output where to play.
    state.soundRouting = std::make_unique<SoundRouting>(
        [](const OutputTarget& target) { setMediaOutputDevice(target); });
    // The music goes down under the host's voice. The engine is made here,
    // on the window thread; its beds' level may be set from any thread, so
    // the listening thread moves them itself, without a detour.
    SoundEngine& engine = SoundEngine::instance();
    state.microphoneLevel = std::make_unique<MicrophoneLevel>(
        [&engine](const BedLevel& bed) { engine.setBedLevel(bed.decibels, bed.ramp); });
    state.soundRouting->addSettingsListener(
        [level = state.microphoneLevel.get()](const SoundSettings& settings) { level->apply(settings); });

    state.updater = std::make_unique<Updater>(options.addresses, options.programFolder);
    MainWindowContext context{runtime,
                              *state.customSounds,
                              options.addresses,
                              options.settingsFile.isEmpty() ? defaultSettingsFile() : options.settingsFile,
                              options.notificationAreaAvailable,
                              [](int exitCode) { QCoreApplication::exit(exitCode); },
                              options.programFolder,
                              state.updater.get()};
    // An installed program keeps my.ini in the user's config folder; the
    // folder is there before the first change is written.
    prepareSettingsFolder(context.settingsFile);
    if (!context.notificationAreaAvailable)
        context.notificationAreaAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
    context.soundRouting = state.soundRouting.get();
    context.microphoneLevel = state.microphoneLevel.get();
    state.hotKeys = std::make_unique<GlobalHotKeys>();
    grabStoredHotKeys(*state.hotKeys, context.settingsFile);
    context.hotKeys = state.hotKeys.get();
    // The running board answers the remote under the name the desktop knows it by.
    context.remoteServiceName = QGuiApplication::desktopFileName();
    state.soundRouting->apply(readSoundSettings(context.settingsFile));
    const QString definition =
        options.mainWindowDefinition.isEmpty() ? QString::fromUtf8(kMainWindowDefinition) : options.mainWindowDefinition;
    const QPointer<MainWindow> mainWindow = MainWindow::open(std::move(context), definition);
    if (mainWindow == nullptr)
        return fatalRuntimeError(QStringLiteral("载入启动窗口失败"));
    // The sound library loads in the background once the board is on screen,
    // so neither the board's appearance nor the first click waits for it.
    runAfterFirstPaint(mainWindow, qApp, &prepareMediaOutput);

    const int exitCode = QApplication::exec();
    // A board still standing (an update or a signal ended the loop) goes
    // before what it works with.
    delete mainWindow.data();
    state.cleanUp();
    shutDownMediaOutput();
    return exitCode;
}

}  // namespace qinghe
