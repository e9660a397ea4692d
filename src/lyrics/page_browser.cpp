#include "page_browser.h"

#include "text/gbk.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>
#include <utility>

namespace qinghe {
namespace {

constexpr const char* kSerialiserResource = ":/lyrics/body_serialiser.js";
// The empty document a fresh view opens, so that there is a page to start
// the portal's address from.
constexpr const char* kBlankPage = "about:blank";

const QString& serialiserScript()
{
    static const QString script = [] {
        QFile file(QString::fromLatin1(kSerialiserResource));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }();
    return script;
}

// The text as a script's string literal; a JSON string is one.
QString scriptString(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

}  // namespace

PageBrowser::PageBrowser(QWebEngineView& view) : view_(view)
{
    connect(view_.page(), &QWebEnginePage::loadingChanged, this, &PageBrowser::onLoadingChanged);
}

void PageBrowser::navigate(const QString& address)
{
    // The empty page on its way goes on to the address once it is in.
    if (state_ == State::Stopping || state_ == State::OpeningBlankPage) {
        pendingAddress_ = address;
        return;
    }
    if (!documentLive_) {
        pendingAddress_ = address;
        openBlankPage();
        return;
    }
    goTo(address);
}

void PageBrowser::openBlankPage()
{
    state_ = State::OpeningBlankPage;
    view_.setUrl(QUrl(QString::fromLatin1(kBlankPage)));
}

void PageBrowser::stop()
{
    pendingAddress_.clear();
    switch (state_) {
    case State::Loading:
        // The empty page follows once the load has ended: the stop would
        // take an empty page asked for at the same time with it.
        state_ = State::Stopping;
        view_.page()->triggerAction(QWebEnginePage::Stop);
        break;
    case State::Stopping:
    case State::OpeningBlankPage:
        break;
    case State::Idle:
    case State::Navigating:
    case State::Complete:
        openBlankPage();
        break;
    }
}

void PageBrowser::goTo(const QString& address)
{
    // Not through QUrl: it would turn escapes such as %61 back into their
    // letters. The page's own location takes the text as written.
    state_ = State::Navigating;
    view_.page()->runJavaScript(QStringLiteral("location.href = %1;").arg(scriptString(address)),
                                QWebEngineScript::ApplicationWorld);
}

void PageBrowser::onLoadingChanged(const QWebEngineLoadingInfo& info)
{
    const bool finished = info.status() != QWebEngineLoadingInfo::LoadStartedStatus;
    switch (state_) {
    case State::OpeningBlankPage:
        if (finished && info.url() == QUrl(QString::fromLatin1(kBlankPage))) {
            documentLive_ = true;
            if (pendingAddress_.isEmpty())
                state_ = State::Idle;
            else
                goTo(std::exchange(pendingAddress_, QString()));
        }
        break;
    case State::Stopping:
        if (finished)
            openBlankPage();
        break;
    case State::Navigating:
        // Only a load started after the navigation counts; the end of an
        // earlier one that was cut short arrives before it.
        if (!finished) {
            state_ = State::Loading;
            loadFailed_ = false;
        }
        break;
    case State::Loading:
        if (finished) {
            state_ = State::Complete;
            loadFailed_ = info.status() == QWebEngineLoadingInfo::LoadFailedStatus;
        }
        break;
    case State::Idle:
    case State::Complete:
        break;
    }
    wake();
}

WaitOutcome PageBrowser::waitUntilComplete(const QDeadlineTimer& deadline)
{
    const WaitOutcome outcome = waitUntil([this] { return isComplete(); }, deadline);
    return outcome == WaitOutcome::Done && loadFailed_ ? WaitOutcome::Unreachable : outcome;
}

Text PageBrowser::fetchPageHtml(const QDeadlineTimer& deadline)
{
    auto answer = std::make_shared<std::optional<QString>>();
    QPointer<PageBrowser> self(this);
    view_.page()->runJavaScript(serialiserScript(), QWebEngineScript::ApplicationWorld,
                                [answer, self](const QVariant& result) {
                                    *answer = result.toString();
                                    if (self)
                                        self->wake();
                                });
    if (waitUntil([&answer] { return answer->has_value(); }, deadline) != WaitOutcome::Done)
        return {};
    return fromQString(**answer);
}

WaitOutcome PageBrowser::pause(int milliseconds, const QDeadlineTimer& deadline)
{
    const QDeadlineTimer end = std::min(QDeadlineTimer(milliseconds), deadline);
    const WaitOutcome outcome = waitUntil([] { return false; }, end);
    if (outcome == WaitOutcome::TimedOut && !deadline.hasExpired())
        return WaitOutcome::Done;
    return outcome;
}

void PageBrowser::abandon()
{
    abandoned_ = true;
    wake();
}

WaitOutcome PageBrowser::waitUntil(const std::function<bool()>& done, const QDeadlineTimer& deadline)
{
    while (!abandoned_ && !done()) {
        if (deadline.hasExpired())
            return WaitOutcome::TimedOut;
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        timeout.start(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 0, INT_MAX)));
        QEventLoop* outer = std::exchange(wait_, &loop);
        const int exitCode = loop.exec();
        wait_ = outer;
        // Only the program's end leaves the loop with another code (or at
        // once, when it has been asked to end before).
        if (exitCode != 0)
            return WaitOutcome::Abandoned;
    }
    return abandoned_ ? WaitOutcome::Abandoned : WaitOutcome::Done;
}

void PageBrowser::wake()
{
    if (wait_ != nullptr)
        wait_->quit();
}

}  // namespace qinghe
