#pragma once

#include "runtime_window.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QList>

#include <functional>

namespace qinghe {

enum class Modality { Modeless, Modal };

// Turns window definitions into live windows and keeps the program's rules
// about them: one copy per window, modal windows, and the end of the program
// when the last window is gone (a window hidden in the notification area
// still counts).
class WindowRuntime : public QObject {
    Q_OBJECT

public:
    explicit WindowRuntime(QObject* parent = nullptr);

    // Loads the definition into window, binds its controls, applies its frame
    // and keys, runs its created, moved and resized events and shows it
    // centred. When the definition cannot be read or lacks a control the
    // window uses, the window is deleted and false comes back; the caller
    // decides what the user sees.
    bool createWindow(RuntimeWindow* window, const QString& definitionPath,
                      Modality modality = Modality::Modeless);

    // Opens the window known by key, or restores it if minimised and
    // activates it if it is already open. Returns the live window, or null
    // when it cannot be loaded: that is the run-time's fatal error, shown in
    // its box, and fatalError follows.
    using WindowMaker = std::function<RuntimeWindow*()>;
    RuntimeWindow* openWindow(const QString& key, const QString& definitionPath, const WindowMaker& make,
                              Modality modality = Modality::Modeless);

    RuntimeWindow* openedWindow(const QString& key) const;
    int liveWindowCount() const { return static_cast<int>(live_.size()); }

    // Closes every live window, hidden ones included, the newest first, so
    // the program ends. A window that refuses (the notepad when the host
    // keeps the text) stops it there: it and the older ones stay. False then.
    bool closeAll();

signals:
    void lastWindowDestroyed();
    // A window could not be loaded and the fatal error box has been shown:
    // the program ends with exitCode.
    void fatalError(int exitCode);

private:
    // Empty when the window is live, else what went wrong, for the fatal error box.
    QString loadWindow(RuntimeWindow* window, const QString& definitionPath, Modality modality);
    void applyDefinitionProperties(RuntimeWindow* window);
    void track(RuntimeWindow* window);

    // In the order they were opened.
    QList<QObject*> live_;
    QHash<QString, QPointer<RuntimeWindow>> byKey_;
};

// Definition properties a window's .ui may set on its top-level entry.
inline constexpr const char* kEscapeClosesProperty = "escapeCloses";
inline constexpr const char* kFixedFrameProperty = "fixedFrame";
inline constexpr const char* kMinimizeButtonProperty = "minimizeButton";
inline constexpr const char* kMaximizeButtonProperty = "maximizeButton";
inline constexpr const char* kSystemMenuProperty = "systemMenu";
inline constexpr const char* kClientSizeProperty = "clientSize";

}  // namespace qinghe
