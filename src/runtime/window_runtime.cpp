#include "window_runtime.h"

#include "escape_key.h"
#include "message_box.h"
#include "screen_fit.h"
#include "text_fit.h"
#include "window_definition.h"

#include <QGuiApplication>
#include <QScreen>
#include <QKeySequence>
#include <QShortcut>

namespace qinghe {
namespace {

// Messages of the fatal error box.
constexpr const char* kCannotLoadWindow = "载入窗口失败";
constexpr const char* kMissingControl = "找不到控件 ";

bool definitionFlag(const QWidget* window, const char* name, bool fallback)
{
    const QVariant value = window->property(name);
    return value.isValid() ? value.toBool() : fallback;
}

}  // namespace

WindowRuntime::WindowRuntime(QObject* parent) : QObject(parent) {}

bool WindowRuntime::createWindow(RuntimeWindow* window, const QString& definitionPath, Modality modality)
{
    const QString failure = loadWindow(window, definitionPath, modality);
    if (failure.isEmpty())
        return true;
    qWarning("%s: %s", qUtf8Printable(definitionPath), qUtf8Printable(failure));
    return false;
}

QString WindowRuntime::loadWindow(RuntimeWindow* window, const QString& definitionPath, Modality modality)
{
    if (window == nullptr || !loadWindowDefinition(window, definitionPath)) {
        delete window;
        return QString::fromUtf8(kCannotLoadWindow);
    }
    ControlBinder binder(*window);
    window->bindControls(binder);
    if (!binder.missing().isEmpty()) {
        delete window;
        return QString::fromUtf8(kMissingControl) + binder.missing().join(QLatin1Char(' '));
    }
    applyDefinitionProperties(window);
    if (modality == Modality::Modal)
        window->setWindowModality(Qt::ApplicationModal);
    centreOnScreen(*window);
    track(window);
    window->runCreationEvents();
    // A created handler may have closed or minimised its own window on purpose.
    if (live_.contains(window) && window->windowStateCode() != kStateMinimised) {
        // The controls the created handler made are fitted too, then the
        // whole to the screen: what does not fit there scrolls.
        fitWindowToText(*window);
        fitWindowToScreen(*window);
        centreOnScreen(*window);
        if (!window->isVisible())
            window->show();
    }
    return {};
}

RuntimeWindow* WindowRuntime::openWindow(const QString& key, const QString& definitionPath, const WindowMaker& make,
                                         Modality modality)
{
    if (RuntimeWindow* open = openedWindow(key)) {
        if (open->isMinimized() || !open->isVisible()) {
            open->showNormal();
        } else {
            open->raise();
            open->activateWindow();
        }
        return open;
    }
    RuntimeWindow* window = make ? make() : nullptr;
    const QString failure = loadWindow(window, definitionPath, modality);
    if (!failure.isEmpty()) {
        emit fatalError(fatalRuntimeError(failure));
        return nullptr;
    }
    byKey_.insert(key, window);
    return window;
}

RuntimeWindow* WindowRuntime::openedWindow(const QString& key) const
{
    return byKey_.value(key).data();
}

void WindowRuntime::applyDefinitionProperties(RuntimeWindow* window)
{
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (definitionFlag(window, kSystemMenuProperty, true))
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (definitionFlag(window, kMinimizeButtonProperty, true))
        flags |= Qt::WindowMinimizeButtonHint;
    if (definitionFlag(window, kMaximizeButtonProperty, true))
        flags |= Qt::WindowMaximizeButtonHint;
    window->setWindowFlags(flags);
    // The definition gives the client area; a menu bar comes on top of it.
    const QSize client = window->property(kClientSizeProperty).toSize();
    if (client.isValid()) {
        const QWidget* menu = window->menuWidget();
        const int menuHeight = menu != nullptr ? menu->sizeHint().height() : 0;
        window->resize(client.width(), client.height() + menuHeight);
    }
    if (definitionFlag(window, kFixedFrameProperty, false))
        window->setFixedSize(window->size());
    if (definitionFlag(window, kEscapeClosesProperty, false)) {
        // A window shortcut fires whichever of the window's controls has the focus.
        closeOnEscape(window);
    }
}

bool WindowRuntime::closeAll()
{
    // The main window was opened first and goes last, once every window that
    // may keep the host's work has let it go.
    const QList<QObject*> windows = live_;
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        // A window closed with its owner is already on its way.
        if (!live_.contains(*it))
            continue;
        if (!static_cast<RuntimeWindow*>(*it)->close())
            return false;
    }
    return true;
}

void WindowRuntime::track(RuntimeWindow* window)
{
    live_.append(window);
    connect(window, &QObject::destroyed, this, [this](QObject* gone) {
        live_.removeOne(gone);
        if (live_.isEmpty())
            emit lastWindowDestroyed();
    });
}

}  // namespace qinghe
