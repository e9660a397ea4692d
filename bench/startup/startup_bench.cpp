// Start-up time and idle memory of the real program, measured from outside:
// the parent starts a child that runs the program's start-up sequence and
// reports the moment the main window is first on screen.
//
//   startup_bench            ten starts, median; then one idle-memory reading
//
// Run it under a display (Xvfb) as the program would run.

#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <unistd.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 10;
constexpr int kIdleSettleMs = 10000;  // long enough for the web panel to give up on its page

long long monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

long residentKb(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

// The process and everything it started (the web engine's helpers).
long residentKbWithChildren(int root)
{
    std::map<int, int> parentOf;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool isPid = false;
        const int pid = entry.toInt(&isPid);
        if (!isPid)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string content((std::istreambuf_iterator<char>(stat)), {});
        const auto close = content.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(content.substr(close + 2));
        char state = 0;
        int ppid = 0;
        rest >> state >> ppid;
        parentOf[pid] = ppid;
    }
    long total = 0;
    for (const auto& [pid, ppid] : parentOf) {
        for (int p = pid; p > 1; p = parentOf.count(p) ? parentOf[p] : 0) {
            if (p == root) {
                total += residentKb(pid);
                break;
            }
        }
    }
    return total;
}

int runChild(int argc, char* argv[], bool reportMemory)
{
    qinghe::prepareProcessForWebViews();
    QApplication app(argc, argv);
    bool reported = false;
    struct ShownWatcher : QObject {
        std::function<void()> onShown;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Expose) {
                auto* window = qobject_cast<QWindow*>(watched);
                if (window != nullptr && window->isExposed() && window->title().contains(QStringLiteral("青禾")))
                    onShown();
            }
            return false;
        }
    } watcher;
    watcher.onShown = [&] {
        if (reported)
            return;
        reported = true;
        std::printf("shown %lld\n", monotonicNs());
        std::fflush(stdout);
        QTimer::singleShot(reportMemory ? kIdleSettleMs : 0, [reportMemory] {
            if (reportMemory) {
                std::printf("rss %ld %ld\n", residentKb(getpid()), residentKbWithChildren(getpid()));
                std::fflush(stdout);
            }
            for (QWidget* w : QApplication::topLevelWidgets())
                w->close();
        });
    };
    app.installEventFilter(&watcher);
    return qinghe::runProgram();
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && (std::string(argv[1]) == "--child" || std::string(argv[1]) == "--child-memory"))
        return runChild(argc, argv, std::string(argv[1]) == "--child-memory");

    QCoreApplication app(argc, argv);
    std::vector<double> startMs;
    long mainKb = 0;
    long treeKb = 0;
    for (int run = 0; run <= kRuns; ++run) {
        const bool memoryRun = run == kRuns;
        QProcess child;
        const long long started = monotonicNs();
        child.start(QCoreApplication::applicationFilePath(), {memoryRun ? "--child-memory" : "--child"});
        child.waitForFinished(60000);
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("shown ") && !memoryRun)
                startMs.push_back((line.mid(6).toLongLong() - started) / 1e6);
            if (line.startsWith("rss ")) {
                const QList<QByteArray> parts = line.split(' ');
                mainKb = parts.value(1).toLong();
                treeKb = parts.value(2).toLong();
            }
        }
    }
    if (startMs.empty()) {
        std::printf("the main window was never shown (is there a display?)\n");
        return 1;
    }
    std::sort(startMs.begin(), startMs.end());
    std::printf("start to main window shown: median %.1f ms, min %.1f ms, max %.1f ms over %zu runs\n",
                startMs[startMs.size() / 2], startMs.front(), startMs.back(), startMs.size());
    std::printf("resident memory once idle (%d s after shown): program %.1f MiB, with web engine helpers %.1f MiB\n",
                kIdleSettleMs / 1000, mainKb / 1024.0, treeKb / 1024.0);
    return 0;
}
