#pragma once

// The main window as the board's window tests open it: no online site, no
// notification area, my.ini where the test says.

#include "media/engine/sound_engine.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"
#include "ui/main_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

#include <memory>

namespace qinghe::test_support {

// Null when the window cannot be loaded.
inline MainWindow* openBoardWindow(WindowRuntime& runtime, CustomSoundTables& tables, const QString& iniPath)
{
    tables = CustomSoundTables{};
    // Port 9 (discard) on this machine: the online jobs find nothing there.
    MainWindowContext context{runtime, tables, Addresses::allAt("127.0.0.1:9"), iniPath,
                              [] { return false; }};
    return MainWindow::open(context);
}

// Closes the window and lets it be deleted before the next test; its sounds
// stop first, and the host agrees to leave while the virtual microphone is on.
inline void closeBoardWindow(const QPointer<MainWindow>& window)
{
    SoundEngine::instance().stopAll();
    const MessageBoxSeam before = messageBoxSeam();
    setMessageBoxSeam([&before](const ShownMessageBox& box) {
        return box.text.startsWith(QStringLiteral("正在直播")) ? kAnswerYes : before ? before(box) : kAnswerOk;
    });
    if (window)
        window->close();
    setMessageBoxSeam(before);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace qinghe::test_support
