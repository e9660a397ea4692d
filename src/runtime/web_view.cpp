#include "web_view.h"

#include "first_paint.h"
#include "window_definition.h"

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
    runAfterFirstPaint(view->window(), view, [view, address] { startView(view, address); });
}

}  // namespace qinghe
