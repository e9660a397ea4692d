#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

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

// A window's one icon in the notification area. Setting it again modifies
// the icon that is shown; it goes away together with its window.
class NotificationIcon : public QObject {
    Q_OBJECT

public:
    explicit NotificationIcon(QObject* owner);

    void show(const QIcon& icon, const QString& toolTip);
    bool isShown() const { return tray_ != nullptr; }
    QString toolTip() const;

signals:
    void action(int code);

private:
    QSystemTrayIcon* tray_ = nullptr;
};

}  // namespace qinghe
