#pragma once

#include "notification_icon.h"

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>

namespace qinghe {

class RuntimeWindow;

// The program's icon: the main window's, and the one every window shows in
// the notification area.
QIcon programIcon();

// A window that hides into the notification area while it is minimised: its
// moved handler hides it and shows the program's icon with the window's
// tooltip; a left double-click on the icon shows the window again in its
// normal state, and the icon stays until the window goes. Single clicks do
// nothing; a right click opens the menu the window gives, if any. Where the
// desktop has no notification area the window minimises like any other,
// since no icon could bring it back.
class NotificationAreaHiding : public QObject {
    Q_OBJECT

public:
    // areaAvailable empty: the desktop is asked.
    NotificationAreaHiding(RuntimeWindow& window, QString toolTip, std::function<bool()> areaAvailable);

    // For the window's moved handler, which minimising also runs.
    void windowMoved();
    // An action code from the icon.
    void iconAction(int code);
    // Brings the window back from the notification area, in its normal state.
    void showWindow();
    void setIconMenu(const QList<IconMenuEntry>& entries) { icon_.setMenu(entries); }

    const NotificationIcon& icon() const { return icon_; }

private:
    RuntimeWindow& window_;
    QString toolTip_;
    std::function<bool()> areaAvailable_;
    NotificationIcon icon_;
};

}  // namespace qinghe
