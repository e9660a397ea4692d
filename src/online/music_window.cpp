#include "music_window.h"

#include "runtime/links.h"
#include "runtime/web_view.h"
#include "runtime/window_runtime.h"

#include <QLabel>
#include <QMouseEvent>
#include <QUrl>
#include <QWebEngineView>

namespace qinghe {
namespace {

constexpr const char* kMusicWindowKey = "music";
// The banner advertises the first partner utility, as the partner window's first banner does.
constexpr int kBannerInstaller = 1;

}  // namespace

RuntimeWindow* openMusicWindow(WindowRuntime& runtime, const Addresses& addresses,
                               std::function<bool()> notificationAreaAvailable)
{
    registerWebViewControl();
    return runtime.openWindow(QString::fromLatin1(kMusicWindowKey), QString::fromLatin1(kMusicWindowDefinition),
                              [addresses, notificationAreaAvailable] {
                                  return new MusicWindow(addresses, notificationAreaAvailable);
                              });
}

MusicWindow::MusicWindow(Addresses addresses, std::function<bool()> notificationAreaAvailable)
    : addresses_(std::move(addresses)),
      notificationAreaHiding_(*this, QString::fromUtf8(kMusicWindowToolTip), std::move(notificationAreaAvailable))
{
}

void MusicWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.banner, "图片框1");
    binder.bind(controls_.playerView, "超文本浏览框1");
    binder.bind(controls_.sideView, "超文本浏览框2");
}

void MusicWindow::onCreated()
{
    controls_.banner->installEventFilter(this);
    // The window is shown first; both views and their browser engine come right after.
    showWebViewAfterFirstPaint(controls_.playerView, QUrl(addresses_.musicPlayerPage()));
    showWebViewAfterFirstPaint(controls_.sideView, QUrl(addresses_.sidePage()));
}

void MusicWindow::onMoved()
{
    notificationAreaHiding_.windowMoved();
}

bool MusicWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == controls_.banner && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        openAddress(addresses_.partnerInstaller(kBannerInstaller));
        return true;
    }
    return RuntimeWindow::eventFilter(watched, event);
}

}  // namespace qinghe
