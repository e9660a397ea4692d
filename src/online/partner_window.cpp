#include "partner_window.h"

#include "runtime/links.h"
#include "runtime/window_runtime.h"

#include <QLabel>
#include <QMouseEvent>

namespace qinghe {
namespace {

constexpr const char* kPartnerWindowKey = "partner";

struct PartnerBanner {
    const char* name;
    int installer;
};

// The banners from top to bottom and the installer each opens. 图片框8 and
// 图片框9 stand above 图片框7, so names and installers run in different orders.
constexpr std::array<PartnerBanner, kPartnerInstallerCount> kPartnerBanners = {{
    {"图片框2", 1},
    {"图片框3", 2},
    {"图片框4", 3},
    {"图片框5", 4},
    {"图片框6", 5},
    {"图片框8", 6},
    {"图片框9", 7},
    {"图片框7", 8},
}};

}  // namespace

RuntimeWindow* openPartnerWindow(WindowRuntime& runtime, const Addresses& addresses)
{
    return runtime.openWindow(
        QString::fromLatin1(kPartnerWindowKey), QString::fromLatin1(kPartnerWindowDefinition),
        [addresses] { return new PartnerWindow(addresses); }, Modality::Modal);
}

PartnerWindow::PartnerWindow(Addresses addresses) : addresses_(std::move(addresses)) {}

void PartnerWindow::bindControls(ControlBinder& binder)
{
    for (std::size_t i = 0; i < kPartnerBanners.size(); ++i)
        binder.bind(banners_[i], kPartnerBanners[i].name);
}

void PartnerWindow::onCreated()
{
    for (QLabel* banner : banners_)
        banner->installEventFilter(this);
}

bool PartnerWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (std::size_t i = 0; i < kPartnerBanners.size(); ++i) {
            if (watched == banners_[i]) {
                openAddress(addresses_.partnerInstaller(kPartnerBanners[i].installer));
                return true;
            }
        }
    }
    return RuntimeWindow::eventFilter(watched, event);
}

}  // namespace qinghe
