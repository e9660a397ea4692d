// How long a lyrics search takes against the fake portal on 127.0.0.1, next
// to the two page loads alone (search page, then lyrics page) through the
// same browser engine in the same run: the difference is what reading the
// pages back and waiting for their markers costs. A timer ticking on the
// window thread gives the longest time the windows could not answer.
// Run by hand: ./build/bin/lyrics_bench

#include "fake_portal.h"

#include "app/startup.h"
#include "lyrics/lyrics_page.h"
#include "lyrics/lyrics_window.h"
#include "lyrics/page_browser.h"
#include "online/addresses.h"
#include "runtime/message_box.h"
#include "runtime/web_view.h"
#include "runtime/window_runtime.h"
#include "text/gbk.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace qinghe;

namespace {

constexpr int kRuns = 10;
// Searches and loads before the measured runs, so the engine has started.
constexpr int kWarmUpRuns = 2;
// The window thread's tick; gaps are measured against it.
constexpr int kTickMs = 1;
constexpr double kNanosecondsPerMillisecond = 1e6;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double milliseconds(const QElapsedTimer& clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / kNanosecondsPerMillisecond;
}

// Ticks on the window thread and keeps the longest gap between ticks.
class GapMeter {
public:
    GapMeter()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, milliseconds(clock_));
            clock_.restart();
        });
    }
    void start()
    {
        longest_ = 0;
        clock_.start();
        timer_.start(kTickMs);
    }
    double stop()
    {
        timer_.stop();
        return longest_;
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    double longest_ = 0;
};

}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    prepareProcessForWebViews();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    registerWebViewControl();

    FakePortal portal;
    const FakePortal::Song song = FakePortal::sampleSong();
    portal.addSong(song);
    const Addresses addresses = Addresses::allAt(QStringLiteral("127.0.0.1:%1").arg(portal.port()));

    int foundReports = 0;
    setMessageBoxSeam([&foundReports](const ShownMessageBox& box) {
        if (box.caption == QStringLiteral("提示"))
            ++foundReports;
        return int(kAnswerOk);
    });

    WindowRuntime runtime;
    auto* window = qobject_cast<LyricsWindow*>(openLyricsWindow(runtime, addresses));
    if (window == nullptr) {
        std::fprintf(stderr, "the lyrics window cannot be loaded\n");
        return 1;
    }
    auto* button = window->findChild<QPushButton*>(QStringLiteral("查看"));

    // The two loads alone: a view of its own in the same engine, the same
    // addresses, waiting only for each page to complete.
    QWebEngineView loadView;
    loadView.resize(66, 60);
    loadView.show();
    PageBrowser loads(loadView);
    const Text title = fromQString(song.title);
    const Text singer = fromQString(song.singer);
    const QString searchAddress = window->searchAddress(title, singer);
    const QString lyricsAddress = addresses.lyricsPage() + QString::fromLatin1(song.id);

    std::vector<double> searchTimes;
    std::vector<double> loadTimes;
    std::vector<double> gaps;
    GapMeter gapMeter;
    for (int run = 0; run < kWarmUpRuns + kRuns; ++run) {
        const bool measured = run >= kWarmUpRuns;

        gapMeter.start();
        QElapsedTimer clock;
        clock.start();
        button->click();
        const double searchMs = milliseconds(clock);
        const double gapMs = gapMeter.stop();

        clock.restart();
        const QDeadlineTimer deadline(LyricsWindow::kSearchTimeLimitMs);
        loads.navigate(searchAddress);
        loads.waitUntilComplete(deadline);
        loads.navigate(lyricsAddress);
        loads.waitUntilComplete(deadline);
        const double loadMs = milliseconds(clock);

        if (measured) {
            searchTimes.push_back(searchMs);
            loadTimes.push_back(loadMs);
            gaps.push_back(gapMs);
        }
    }
    if (foundReports != kWarmUpRuns + kRuns) {
        std::fprintf(stderr, "only %d of %d searches found the lyrics\n", foundReports, kWarmUpRuns + kRuns);
        return 1;
    }
    std::printf("lyrics search against the local portal, %d runs after %d to warm up\n", kRuns, kWarmUpRuns);
    std::printf("  search, click to lyrics (median):        %8.1f ms\n", median(searchTimes));
    std::printf("  the two page loads alone (median):       %8.1f ms\n", median(loadTimes));
    std::printf("  longest window-thread gap during a search: %6.1f ms (worst of runs %.1f ms)\n", median(gaps),
                *std::max_element(gaps.begin(), gaps.end()));
    delete window;
    return 0;
}
