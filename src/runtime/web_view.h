#pragma once

class QUrl;
class QWebEngineView;

namespace qinghe {

// Registers the web view control kind for window definitions. A view comes
// out of its definition hidden and without a page: showing a web view starts
// the browser engine, slower than all the rest of a window's start, so the
// window shows its own controls first and brings its views up with
// showWebViewAfterFirstPaint. A page that cannot be loaded shows nothing: no
// error page of the browser engine.
void registerWebViewControl();

// Shows the view and starts loading address (none when empty) right after
// the view's window has been painted for the first time. Returns at once;
// nothing waits for the page.
void showWebViewAfterFirstPaint(QWebEngineView* view, const QUrl& address);

}  // namespace qinghe
