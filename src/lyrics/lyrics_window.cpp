#include "lyrics_window.h"

#include "lyrics_page.h"
#include "page_browser.h"

#include "online/addresses.h"
#include "runtime/first_paint.h"
#include "runtime/message_box.h"
#include "runtime/web_view.h"
#include "runtime/window_runtime.h"
#include "text/gbk.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <algorithm>

namespace qinghe {
namespace {

constexpr const char* kLyricsKey = "lyrics";
constexpr const char* kEnterTitleAndSinger = "请输入歌名和歌手。";
constexpr const char* kFoundCaption = "提示";
constexpr const char* kPortalUnreachable = "无法连接歌词网站，请检查网络。";
// Between two reads of a page that lacks its marker the engine runs the
// page's scripts for a pause that starts short, since the marker mostly
// comes right after the load, and doubles up to a longest pause, so that a
// page that never shows it is not serialised without a break for as long
// as the search may last.
constexpr int kFirstRereadPauseMs = 1;
constexpr int kLongestRereadPauseMs = 32;
constexpr double kMillisecondsPerSecond = 1000.0;

// Reads the page until shown finds its marker in it; page holds the last read.
WaitOutcome readUntilShown(PageBrowser& browser, Text& page, bool (*shown)(std::string_view),
                           const QDeadlineTimer& deadline)
{
    int pauseMs = kFirstRereadPauseMs;
    while (!shown(page)) {
        page = browser.fetchPageHtml(deadline);
        if (shown(page))
            break;
        const WaitOutcome outcome = browser.pause(pauseMs, deadline);
        if (outcome != WaitOutcome::Done)
            return outcome;
        pauseMs = std::min(pauseMs * 2, kLongestRereadPauseMs);
    }
    return WaitOutcome::Done;
}

}  // namespace

// Keeps the search button disabled for the length of one search: a second
// click would start a search inside the first, which would then read the
// second's pages.
class LyricsWindow::SearchRun {
public:
    explicit SearchRun(LyricsWindow& window) : window_(window)
    {
        window_.searching_ = true;
        window_.controls_.searchButton->setEnabled(false);
    }
    ~SearchRun()
    {
        window_.searching_ = false;
        window_.controls_.searchButton->setEnabled(true);
    }
    SearchRun(const SearchRun&) = delete;
    SearchRun& operator=(const SearchRun&) = delete;

private:
    LyricsWindow& window_;
};

RuntimeWindow* openLyricsWindow(WindowRuntime& runtime, const Addresses& addresses)
{
    registerWebViewControl();
    return runtime.openWindow(QString::fromLatin1(kLyricsKey), QString::fromLatin1(kLyricsWindowDefinition),
                              [searchPage = addresses.lyricsSearchPage(), lyricsPage = addresses.lyricsPage()] {
                                  return new LyricsWindow(searchPage, lyricsPage);
                              });
}

LyricsWindow::LyricsWindow(QString searchPage, QString lyricsPage)
    : searchPage_(std::move(searchPage)), lyricsPage_(std::move(lyricsPage))
{
}

LyricsWindow::~LyricsWindow() = default;

QString LyricsWindow::searchAddress(std::string_view title, std::string_view singer) const
{
    return searchPage_ + toQString(lyricsSearchQuery(title, singer)) + toQString(kSearchAddressTail);
}

void LyricsWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.titleBox, "歌名");
    binder.bind(controls_.singerBox, "歌手");
    binder.bind(controls_.searchButton, "查看");
    binder.bind(controls_.lyricsBox, "歌词");
    binder.bind(controls_.browserView, "浏览框");
}

void LyricsWindow::onCreated()
{
    connect(controls_.searchButton, &QPushButton::clicked, this, &LyricsWindow::search);
    // The browser engine starts once the window is on screen; a search
    // before that starts it itself.
    runAfterFirstPaint(this, controls_.browserView, [this] { browser(); });
}

PageBrowser& LyricsWindow::browser()
{
    if (browser_ == nullptr) {
        QWebEngineView* view = controls_.browserView;
        // A page that cannot be loaded shows nothing, not the engine's error page.
        view->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
        // Shown, so that the engine runs the pages' timers at full pace;
        // it lies outside the client area all the same.
        view->show();
        browser_ = std::make_unique<PageBrowser>(*view);
    }
    return *browser_;
}

void LyricsWindow::closeEvent(QCloseEvent* event)
{
    if (searching_) {
        // The search still runs on this window: it stops first, then the
        // window closes.
        event->ignore();
        closeAfterSearch_ = true;
        hide();
        browser().abandon();
        return;
    }
    RuntimeWindow::closeEvent(event);
}

void LyricsWindow::search()
{
    if (searching_)
        return;
    const Text title = fromQString(controls_.titleBox->text());
    const Text singer = fromQString(controls_.singerBox->text());
    if (!hasSearchTerms(title, singer)) {
        messageBox(QString::fromUtf8(kEnterTitleAndSinger), kBoxOkInformation);
        return;
    }
    {
        const SearchRun run(*this);
        QElapsedTimer clock;
        clock.start();
        const QDeadlineTimer deadline(searchTimeLimitMs_);
        FoundLyrics found;
        const WaitOutcome outcome = fetchLyrics(title, singer, deadline, found);
        // A page the search gave up on is let go: the engine would otherwise
        // go on loading and laying it out until the window closes, which a
        // portal page of tens of megabytes makes gigabytes and a busy core.
        if (outcome != WaitOutcome::Done)
            browser().stop();
        if (outcome == WaitOutcome::Done) {
            controls_.lyricsBox->setPlainText(toQString(found.lyrics));
            const double seconds = static_cast<double>(clock.elapsed()) / kMillisecondsPerSecond;
            messageBox(QStringLiteral("成功获取 ") + controls_.titleBox->text() + QStringLiteral(" 的歌词，歌手为 ") +
                           toQString(found.singer) + QStringLiteral("；用时 ") + toQString(numberToText(seconds)) +
                           QStringLiteral(" 秒。"),
                       kBoxOkInformation, QString::fromUtf8(kFoundCaption));
        } else if (outcome == WaitOutcome::TimedOut) {
            messageBox(QStringLiteral("未找到 ") + controls_.titleBox->text() + QStringLiteral(" 的歌词。"),
                       kBoxOkInformation);
        } else if (outcome == WaitOutcome::Unreachable) {
            messageBox(QString::fromUtf8(kPortalUnreachable), kBoxOkExclamation);
        }
    }
    if (closeAfterSearch_)
        close();
}

WaitOutcome LyricsWindow::fetchLyrics(std::string_view title, std::string_view singer,
                                      const QDeadlineTimer& deadline, FoundLyrics& found)
{
    PageBrowser& pages = browser();
    pages.navigate(searchAddress(title, singer));
    WaitOutcome outcome = pages.waitUntilComplete(deadline);
    if (outcome != WaitOutcome::Done)
        return outcome;
    // The search page writes its result row from a script, possibly after it
    // has loaded: read it until the row is there.
    Text page;
    outcome = readUntilShown(pages, page, &searchResultShown, deadline);
    if (outcome != WaitOutcome::Done)
        return outcome;
    const SearchResult result = readSearchResult(page);
    found.singer = result.singer;

    pages.navigate(lyricsPage_ + toQString(result.songId));
    outcome = pages.waitUntilComplete(deadline);
    if (outcome != WaitOutcome::Done)
        return outcome;
    page.clear();
    outcome = readUntilShown(pages, page, &lyricsShown, deadline);
    if (outcome != WaitOutcome::Done)
        return outcome;
    found.lyrics = lyricsOfPage(page);
    return WaitOutcome::Done;
}

}  // namespace qinghe
