#include "web_view.h"

#include "runtime/window_definition.h"

#include <QEvent>
#include <QTimer>
#include <QUrl>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace qinghe {
namespace {

// The browser engine starts here, on the first use of the view's settings and page.
void startView(QWebEngineView* view, const QUrl& address)
{
    view->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    if (!address.isEmpty())
        view->setUrl(address);
    view->show();
}

// Waits for the first paint of a view's window, then lets that paint reach
// the screen before the view starts.
class AfterFirstPaint : public QObject {
public:
    AfterFirstPaint(QWebEngineView* view, QUrl address)
        : QObject(view), view_(view), address_(std::move(address)), window_(view->window())
    {
        window_->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window_ && event->type() == QEvent::Paint) {
            window_->removeEventFilter(this);
            QTimer::singleShot(0, view_, [view = view_, address = address_] { startView(view, address); });
            deleteLater();
        }
        return false;
    }

private:
    QWebEngineView* view_;
    QUrl address_;
    QWidget* window_;
};

}  // namespace

void registerWebViewControl()
{
    registerControlKind(QStringLiteral("QWebEngineView"), [](QWidget* parent) {
        auto* view = new QWebEngineView(parent);
        view->hide();
        return view;
    });
}

void showWebViewAfterFirstPaint(QWebEngineView* view, const QUrl& address)
{
    if (view == nullptr)
        return;
    if (view->window()->isVisible()) {
        // Already on screen: only the current event is let finish first.
        QTimer::singleShot(0, view, [view, address] { startView(view, address); });
        return;
    }
    new AfterFirstPaint(view, address);
}

}  // namespace qinghe
