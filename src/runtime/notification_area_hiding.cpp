#include "notification_area_hiding.h"

#include "runtime_window.h"

#include <QMetaObject>
#include <QSystemTrayIcon>

namespace qinghe {
namespace {

constexpr const char* kProgramIconResource = ":/icons/qinghe.ico";

}  // namespace

QIcon programIcon()
{
    return QIcon(QString::fromLatin1(kProgramIconResource));
}

NotificationAreaHiding::NotificationAreaHiding(RuntimeWindow& window, QString toolTip,
                                               std::function<bool()> areaAvailable)
    : QObject(&window),
      window_(window),
      toolTip_(std::move(toolTip)),
      areaAvailable_(areaAvailable ? std::move(areaAvailable) : &QSystemTrayIcon::isSystemTrayAvailable),
      icon_(this)
{
    connect(&icon_, &NotificationIcon::action, this, &NotificationAreaHiding::iconAction);
}

void NotificationAreaHiding::windowMoved()
{
    if (window_.windowStateCode() != kStateMinimised) {
        if (!window_.isVisible())
            window_.setVisible(true);
        return;
    }
    if (!areaAvailable_())
        return;
    // Hide once the minimise has finished: hiding in its middle is undone by it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (window_.windowStateCode() != kStateMinimised)
                return;
            window_.setVisible(false);
            icon_.show(programIcon(), toolTip_);
        },
        Qt::QueuedConnection);
}

void NotificationAreaHiding::iconAction(int code)
{
    if (code == kActionLeftDoubleClick)
        showWindow();
}

void NotificationAreaHiding::showWindow()
{
    window_.setVisible(true);
    window_.setWindowState(window_.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    window_.showNormal();
}

}  // namespace qinghe
