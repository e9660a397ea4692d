// How long the window thread stands still while job A and job B wait for a
// slow site, against the manual check that reads the page on the window
// thread itself. A fine timer ticks on the window thread; the longest gap
// between two ticks is the longest time the window could not answer.
// Run by hand: ./build/bin/online_jobs_bench

#include "net/raw_http_server.h"
#include "online/online_jobs.h"
#include "online/updater.h"
#include "text/gbk.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The slow site: every answer comes this long after its request.
constexpr std::chrono::milliseconds kSiteDelay{5000};
// The window thread's tick; gaps are measured against it.
constexpr int kTickMs = 1;
// Callbacks the two jobs make against a page with a new version and a count:
// the box and 新版本 from job A, 标签5 and 检查更新 from job B.
constexpr int kJobCallbacks = 4;
// Ticks after the last callback, so that a gap that ends there is counted.
constexpr int kSettleMs = 50;

const char* const kProxyVariables[] = {"http_proxy", "https_proxy", "all_proxy", "no_proxy",
                                       "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY"};

// Ticks on the window thread and keeps the longest gap between ticks.
class GapMeter {
public:
    GapMeter()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kTickMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        clock_.start();
        timer_.start();
    }
    qint64 longestGapMs() const { return longest_; }
    qint64 ticks() const { return ticks_; }

private:
    void tick()
    {
        const qint64 now = clock_.elapsed();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
        ++ticks_;
    }

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    qint64 ticks_ = 0;
};

// Turns the window thread's loop until done, then a little longer.
template <typename Done>
void processEventsUntil(Done done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, kTickMs);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < kSettleMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, kTickMs);
}

qinghe::VersionSurface countingSurface(std::atomic<int>& calls)
{
    qinghe::VersionSurface s;
    s.setNewVersionLabel = [&calls](const QString&) { ++calls; };
    s.setUserCountLabel = [&calls](const QString&) { ++calls; };
    s.setVersionLabel = [&calls](const QString&) { ++calls; };
    s.messageBox = [&calls](const QString&, int) {
        ++calls;
        return 7;  // No
    };
    return s;
}

}  // namespace

int main(int argc, char** argv)
{
    for (const char* name : kProxyVariables)
        unsetenv(name);
    QCoreApplication app(argc, argv);

    const std::string page = qinghe::fromQString(QStringLiteral("版本号（v2.0）结束 当前 7 人在线"));
    RawHttpServer site(std::vector<RawHttpServer::Answer>{{httpAnswer(page), kSiteDelay}});
    const qinghe::Addresses addresses = qinghe::Addresses::allAt(QString::fromStdString(site.hostAndPort()));

    {
        // The noise floor: the same loop with nothing to wait for, as long as the jobs take.
        GapMeter meter;
        QElapsedTimer idle;
        idle.start();
        processEventsUntil([&] { return idle.elapsed() >= 2 * kSiteDelay.count(); });
        std::printf("idle loop for %lld ms: %lld ticks; longest gap %lld ms\n", static_cast<long long>(idle.elapsed()),
                    static_cast<long long>(meter.ticks()), static_cast<long long>(meter.longestGapMs()));
    }
    {
        QObject window;
        std::atomic<int> calls = 0;
        GapMeter meter;
        QElapsedTimer wall;
        wall.start();
        qinghe::Updater updater(addresses, QString());
        const qinghe::VersionSurface surface = countingSurface(calls);
        QObject::connect(&updater, &qinghe::Updater::newVersionFound, [&] { qinghe::showNewVersion(surface); });
        QObject::connect(&updater, &qinghe::Updater::usersCounted,
                         [&](const qinghe::Text& count) { qinghe::showUserCount(count, surface); });
        updater.startBackgroundChecks();
        processEventsUntil([&] { return calls >= kJobCallbacks; });
        std::printf("jobs A and B, site answering after %lld ms (one request at a time):\n",
                    static_cast<long long>(kSiteDelay.count()));
        std::printf("  done after %lld ms, %lld ticks; window thread blocked at most %lld ms\n",
                    static_cast<long long>(wall.elapsed()), static_cast<long long>(meter.ticks()),
                    static_cast<long long>(meter.longestGapMs()));
    }
    {
        std::atomic<int> calls = 0;
        GapMeter meter;
        qinghe::Updater updater(addresses, QString());
        const qinghe::VersionSurface surface = countingSurface(calls);
        QObject::connect(&updater, &qinghe::Updater::manualCheckRead,
                         [&](const qinghe::Text& latest) { qinghe::answerUpdateCheck(latest, surface); });
        updater.checkNow();
        processEventsUntil([&] { return calls >= 1; });
        std::printf("manual check (reads off the window thread): blocked at most %lld ms\n",
                    static_cast<long long>(meter.longestGapMs()));
    }
    return 0;
}
