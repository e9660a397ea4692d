#include "notification_icon.h"

#include "text/gbk.h"

#include <QMenu>

namespace qinghe {

int notificationActionCode(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger: return kActionLeftRelease;
    case QSystemTrayIcon::DoubleClick: return kActionLeftDoubleClick;
    case QSystemTrayIcon::Context: return kActionContextMenu;
    default: return kActionNone;
    }
}

QString cutToolTip(const QString& toolTip)
{
    const Text bytes = fromQString(toolTip);
    if (static_cast<int>(bytes.size()) <= kToolTipMaxBytes)
        return toolTip;
    // Cut on a character boundary so no half character is left at the end.
    std::size_t end = 0;
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t step = characterLength(bytes, pos);
        if (pos + step > static_cast<std::size_t>(kToolTipMaxBytes))
            break;
        pos += step;
        end = pos;
    }
    return toQString(std::string_view(bytes).substr(0, end));
}

NotificationIcon::NotificationIcon(QObject* owner) : QObject(owner) {}

NotificationIcon::~NotificationIcon()
{
    // The icon lets go of its menu before the menu goes.
    delete tray_;
}

void NotificationIcon::setMenu(const QList<IconMenuEntry>& entries)
{
    auto menu = std::make_unique<QMenu>();
    for (const IconMenuEntry& entry : entries)
        connect(menu->addAction(entry.caption), &QAction::triggered, this, [run = entry.run] { run(); });
    if (tray_ != nullptr)
        tray_->setContextMenu(menu.get());
    menu_ = std::move(menu);
}

void NotificationIcon::show(const QIcon& icon, const QString& toolTip)
{
    if (tray_ == nullptr) {
        tray_ = new QSystemTrayIcon(this);
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            const int code = notificationActionCode(reason);
            if (code != kActionNone)
                emit action(code);
        });
        tray_->setContextMenu(menu_.get());
    }
    tray_->setIcon(icon);
    tray_->setToolTip(cutToolTip(toolTip));
    tray_->show();
}

QString NotificationIcon::toolTip() const
{
    return tray_ != nullptr ? tray_->toolTip() : QString();
}

}  // namespace qinghe
