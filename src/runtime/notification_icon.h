#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QMenu;

namespace qinghe {

// Action codes of a click on the notification-area icon.
enum NotificationAction : int {
    kActionNone = 0,
    kActionLeftRelease = 1,
    kActionLeftDoubleClick = 2,
    kActionContextMenu = 3,
};

int notificationActionCode(QSystemTrayIcon::ActivationReason reason);

// The area shows tooltips of at most this many GBK bytes.
inline constexpr int kToolTipMaxBytes = 62;
QString cutToolTip(const QString& toolTip);

// One entry of the menu a right click on the icon opens.
struct IconMenuEntry {
    QString caption;
    std::function<void()> run;
};

// A window's one icon in the notification area. Setting it again modifies
// the icon that is shown; it goes away together with its window.
class NotificationIcon : public QObject {
    Q_OBJECT

public:
    explicit NotificationIcon(QObject* owner);
    ~NotificationIcon() override;

    void show(const QIcon& icon, const QString& toolTip);
    bool isShown() const { return tray_ != nullptr; }
    QString toolTip() const;

    // The icon's right-click menu, in the given order; none by default.
    void setMenu(const QList<IconMenuEntry>& entries);
    const QMenu* menu() const { return menu_.get(); }

signals:
    void action(int code);

private:
    QSystemTrayIcon* tray_ = nullptr;
    // A menu is a window of its own, so no object parent owns it.
    std::unique_ptr<QMenu> menu_;
};

}  // namespace qinghe
