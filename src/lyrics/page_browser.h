#pragma once

#include "text/text.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>

#include <functional>

class QEventLoop;
class QWebEngineLoadingInfo;
class QWebEngineView;

namespace qinghe {

// How a wait of the lyrics search ended.
enum class WaitOutcome {
    Done,
    TimedOut,
    // The window is closing or the program is ending: stop without a word.
    Abandoned,
    // The page did not load: no network, or the portal does not answer.
    Unreachable,
};

// Drives the lyrics window's hidden web view through the portal's pages:
// goes to an address exactly as it is written, tells when the page has
// loaded, and reads the page body back as GBK HTML in the form the lyrics
// markers expect. Its waits run the window thread's event loop, so every
// window stays responsive while they last.
class PageBrowser : public QObject {
    Q_OBJECT

public:
    explicit PageBrowser(QWebEngineView& view);

    // Starts loading address and returns at once. The address reaches the
    // browser engine as text, so its %XX escapes go out as written.
    void navigate(const QString& address);
    // The page of the last navigate has finished loading, well or not.
    bool isComplete() const { return state_ == State::Complete; }
    // Unreachable when the load ended in failure rather than with a page.
    WaitOutcome waitUntilComplete(const QDeadlineTimer& deadline);

    // The body as our serialiser writes it, converted to GBK; empty when the
    // page cannot be read before the deadline.
    Text fetchPageHtml(const QDeadlineTimer& deadline);

    // Runs the event loop for about pause, at most until the deadline.
    WaitOutcome pause(int milliseconds, const QDeadlineTimer& deadline);

    // Ends the current wait and every later one with Abandoned.
    void abandon();

    // Stops the page's load and leaves the view on an empty page, so that the
    // engine lets go of the page and of the work it still does for it. A
    // navigate afterwards goes on from the empty page.
    void stop();

private:
    enum class State {
        Idle,
        OpeningBlankPage,  // no document yet to navigate from, or one being let go
        Navigating,        // asked to go, the load has not started
        Loading,
        Complete,
        Stopping,          // the load is being stopped; the empty page comes next
    };

    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    void openBlankPage();
    void goTo(const QString& address);
    WaitOutcome waitUntil(const std::function<bool()>& done, const QDeadlineTimer& deadline);
    void wake();

    QWebEngineView& view_;
    State state_ = State::Idle;
    bool documentLive_ = false;
    bool loadFailed_ = false;
    bool abandoned_ = false;
    QString pendingAddress_;
    QEventLoop* wait_ = nullptr;
};

}  // namespace qinghe
