#include "web_view.h"

#include "runtime/window_definition.h"

#include <QWebEngineSettings>
#include <QWebEngineView>

namespace qinghe {

void registerWebViewControl()
{
    registerControlKind(QStringLiteral("QWebEngineView"), [](QWidget* parent) {
        auto* view = new QWebEngineView(parent);
        view->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
        return view;
    });
}

}  // namespace qinghe
