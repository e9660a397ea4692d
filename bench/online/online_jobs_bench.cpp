// How long the window thread stands still while job A, job B and the manual
// check wait for a slow site; how long a manual check takes against a site
// that trickles its page; and what a page of 1.5 GB does to the program's
// memory. A fine timer ticks on the window thread; the longest gap between
// two ticks is the longest time the window could not answer.
// Run by hand: ./build/bin/online_jobs_bench

#include "net/raw_http_server.h"
#include "online/online_jobs.h"
#include "online/updater.h"
#include "text/gbk.h"

#include <QCoreApplication>
#include <QFile>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A site that sends its one page endlessly slowly or endlessly large: a
// header, then pieces of a buffer it keeps (so the site's own memory stays
// small) until the reader hangs up.
class StreamingSite {
public:
    StreamingSite(std::string header, std::size_t pieceSize, std::chrono::milliseconds pause)
        : header_(std::move(header)), piece_(pieceSize, '0'), pause_(pause)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~StreamingSite()
    {
        stopping_ = true;
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    QString hostAndPort() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

private:
    void serve()
    {
        while (!stopping_) {
            const int connection = accept(listener_, nullptr, nullptr);
            if (connection < 0)
                return;
            char request[4096];
            recv(connection, request, sizeof request, 0);
            bool open = send(connection, header_.data(), header_.size(), MSG_NOSIGNAL) > 0;
            while (open && !stopping_) {
                open = send(connection, piece_.data(), piece_.size(), MSG_NOSIGNAL) > 0;
                if (pause_.count() > 0)
                    std::this_thread::sleep_for(pause_);
            }
            close(connection);
        }
    }

    std::string header_;
    std::string piece_;
    std::chrono::milliseconds pause_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The program's resident memory in kilobytes, as the system counts it.
long residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// One manual check against the site; prints how long it took, the window
// thread's longest stand-still and what the version came out as.
void timeManualCheck(const char* what, const QString& hostAndPort)
{
    qinghe::Updater updater(qinghe::Addresses::allAt(hostAndPort), QString());
    bool answered = false;
    qinghe::Text latest;
    QObject::connect(&updater, &qinghe::Updater::manualCheckRead, [&](const qinghe::Text& version) {
        latest = version;
        answered = true;
    });
    GapMeter meter;
    QElapsedTimer wall;
    wall.start();
    const long before = residentKilobytes();
    updater.checkNow();
    long peak = before;
    while (!answered) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        peak = std::max(peak, residentKilobytes());
    }
    std::printf("manual check, %s: answered after %lld ms (%s); window thread blocked at most %lld ms; "
                "memory %ld kB before, %ld kB at most, %ld kB after\n",
                what, static_cast<long long>(wall.elapsed()), latest.empty() ? "no version: unreadable" : "a version",
                static_cast<long long>(meter.longestGapMs()), before, peak, residentKilobytes());
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
    {
        // Two bytes a second: never silent for long, never done.
        StreamingSite trickle("HTTP/1.0 200 OK\r\n\r\n", 2, std::chrono::milliseconds(1000));
        timeManualCheck("site trickling 2 bytes a second", trickle.hostAndPort());
    }
    {
        // 1.5 GB announced and sent as fast as the reader takes it.
        StreamingSite huge("HTTP/1.0 200 OK\r\nContent-Length: 1610612736\r\n\r\n", 1 << 16,
                           std::chrono::milliseconds(0));
        timeManualCheck("page of 1.5 GB", huge.hostAndPort());
    }
    {
        // The same without a length: only what arrives can tell.
        StreamingSite endless("HTTP/1.0 200 OK\r\n\r\n", 1 << 16, std::chrono::milliseconds(0));
        timeManualCheck("endless page without a length", endless.hostAndPort());
    }
    return 0;
}
