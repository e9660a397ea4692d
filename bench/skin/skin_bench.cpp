// What the skin costs at start-up: the time the loader takes to map the skin
// library, the time the whole attach takes with a window open, and the memory
// the mapping adds, each measured in fresh processes and reported as the
// median of 20. With --screens DIR it draws the skinned main window and
// editor into PNG files instead (run it under xvfb-run for real drawing).
//
//   skin_bench                 the figures
//   skin_bench --screens DIR   main.png, editor.png, main_hue120.png, editor_dark.png

#include "app/startup.h"
#include "editor/edit_box.h"
#include "editor/editor_window.h"
#include "runtime/window_runtime.h"
#include "skin/embedded_skin.h"
#include "skin/mapped_library.h"
#include "skin/skin_binding.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace qinghe;

namespace {

// Fresh processes per figure.
constexpr int kRuns = 20;
// Time for the windows to settle on the display before they are drawn out.
constexpr int kSettleMs = 2500;
// Nothing listens here, so the web panel and the online jobs give up at once.
constexpr const char* kNowhere = "127.0.0.1:9";

struct Resident {
    long anonymousKiB = 0;  // private to the process: heap, stacks, the mapped image
    long fileKiB = 0;       // pages of files, shared with every process that maps them
    long imageKiB = 0;      // of the anonymous part, what lies in [from, to)
};

// Resident memory from the process's own map, split by kind.
Resident resident(std::uintptr_t from = 0, std::uintptr_t to = 0)
{
    std::ifstream smaps("/proc/self/smaps");
    Resident total;
    bool file = false;
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        const std::size_t dash = line.find('-');
        if (dash != std::string::npos && dash > 0 && std::isxdigit(static_cast<unsigned char>(line[0])) &&
            line.find(' ') > dash) {
            std::istringstream fields(line);
            std::string range, protection, offset, device, inode, path;
            fields >> range >> protection >> offset >> device >> inode >> path;
            file = !path.empty() && path.front() == '/';
            const std::uintptr_t start = std::stoull(range.substr(0, dash), nullptr, 16);
            inside = start >= from && start < to;
        } else if (line.rfind("Rss:", 0) == 0) {
            std::istringstream fields(line.substr(4));
            long kib = 0;
            fields >> kib;
            (file ? total.fileKiB : total.anonymousKiB) += kib;
            if (inside)
                total.imageKiB += kib;
        }
    }
    return total;
}

// One mapping in this fresh process: microseconds, then the memory it added.
int mapOnce()
{
    const Resident before = resident();
    const std::size_t heapBefore = mallinfo2().uordblks;
    const auto start = std::chrono::steady_clock::now();
    MapResult result = MappedLibrary::map(skinLibraryImage());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (result.library == nullptr)
        return 1;
    const MappedLibrary& library = *result.library;
    const Resident after = resident(library.base(), library.base() + library.mappedSize());
    std::printf("%lld %ld %ld %ld %zu %zu\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()),
                after.anonymousKiB - before.anonymousKiB, after.imageKiB, after.fileKiB - before.fileKiB,
                mallinfo2().uordblks - heapBefore, library.mappedSize());
    return 0;
}

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One whole attach in this fresh process, the editor open: microseconds for
// the attach, then for a hue shift re-colouring it.
int attachOnce(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    WindowRuntime runtime;
    if (openEditorWindow(runtime, QStringLiteral("http://%1/").arg(kNowhere)) == nullptr)
        return 1;
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    const bool attached = attachProgramSkin();
    const qint64 attachNs = timer.nsecsElapsed();
    timer.restart();
    adjustSkin(120, 0);
    const qint64 shiftNs = timer.nsecsElapsed();
    if (!attached)
        return 1;
    std::printf("%lld %lld\n", attachNs / 1000, shiftNs / 1000);
    return 0;
}

bool saveWindow(QWidget* window, const QString& path)
{
    QScreen* screen = window->screen();
    QPixmap picture = screen != nullptr ? screen->grabWindow(window->winId()) : QPixmap();
    if (picture.isNull() || picture.width() < window->width() / 2)
        picture = window->grab();
    return picture.save(path);
}

int drawScreens(int argc, char* argv[], const QString& folder)
{
    prepareProcessForWebViews();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QDir().mkpath(folder);
    WindowRuntime runtime;
    CustomSoundTables tables;
    MainWindowContext context{runtime, tables, Addresses::allAt(QString::fromLatin1(kNowhere)),
                              QDir(folder).filePath("my.ini"), [] { return true; }};
    MainWindow* window = MainWindow::open(context);
    if (window == nullptr || skinLibrary() == nullptr)
        return 1;
    settle(kSettleMs);
    bool saved = saveWindow(window, QDir(folder).filePath("main.png"));
    window->onToolbarButton(kToolbarNotepad);
    auto* editor = qobject_cast<EditorWindow*>(runtime.openedWindow("editor"));
    if (editor == nullptr)
        return 1;
    editor->editBox()->setDocumentText(fromQString(QStringLiteral("今晚的节目单：\r\n1. 开场 掌声\r\n2. 抽奖 欢呼\r\n")));
    editor->editBox()->selectBytes(0, 14);
    // Side by side, so that neither hides the other on a display without a window manager.
    editor->move(0, 0);
    window->move(window->screen()->geometry().width() - window->frameGeometry().width(), 0);
    settle(kSettleMs);
    saved = saveWindow(editor, QDir(folder).filePath("editor.png")) && saved;
    adjustSkin(120, 0);
    settle(kSettleMs / 2);
    saved = saveWindow(window, QDir(folder).filePath("main_hue120.png")) && saved;
    adjustSkin(0, -100);
    settle(kSettleMs / 2);
    saved = saveWindow(editor, QDir(folder).filePath("editor_dark.png")) && saved;
    std::printf("windows drawn into %s\n", qPrintable(folder));
    return saved ? 0 : 1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs this program kRuns times with mode and keeps every printed column.
std::vector<std::vector<double>> runFresh(const char* self, const char* mode)
{
    std::vector<std::vector<double>> columns;
    for (int run = 0; run < kRuns; ++run) {
        QProcess child;
        child.start(QString::fromLocal8Bit(self), {QString::fromLatin1(mode)});
        child.waitForFinished(-1);
        std::istringstream fields(child.readAllStandardOutput().toStdString());
        std::vector<double> row;
        for (double value = 0; fields >> value;)
            row.push_back(value);
        if (child.exitCode() != 0 || row.empty()) {
            std::fprintf(stderr, "run %d of %s failed\n", run, mode);
            continue;
        }
        columns.resize(row.size());
        for (std::size_t i = 0; i < row.size(); ++i)
            columns[i].push_back(row[i]);
    }
    return columns;
}

}  // namespace

int main(int argc, char* argv[])
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--map")
        return mapOnce();
    if (mode == "--attach")
        return attachOnce(argc, argv);
    if (mode == "--screens" && argc > 2)
        return drawScreens(argc, argv, QString::fromLocal8Bit(argv[2]));

    QCoreApplication app(argc, argv);
    const auto mapping = runFresh(argv[0], "--map");
    const auto attaching = runFresh(argv[0], "--attach");
    if (mapping.size() < 5 || attaching.size() < 2)
        return 1;
    std::printf("skin library image: %zu bytes embedded, skin file %zu bytes\n", skinLibraryImage().size(),
                programSkinFile().size());
    std::printf("mapping at start-up, median of %zu fresh processes: %.0f us\n", mapping[0].size(),
                median(mapping[0]));
    std::printf("  fastest %.0f us, slowest %.0f us\n", *std::min_element(mapping[0].begin(), mapping[0].end()),
                *std::max_element(mapping[0].begin(), mapping[0].end()));
    std::printf("memory the mapping adds (median): %.0f KiB private, of which %.0f KiB is the image "
                "(%.0f KiB reserved) and %.0f bytes the loader's heap; %.0f KiB of shared library pages "
                "read while binding the imports\n",
                median(mapping[1]), median(mapping[2]), median(mapping[5]) / 1024, median(mapping[4]),
                median(mapping[3]));
    std::printf("whole attach with the editor open, median of %zu: %.0f us; a hue shift re-colouring it: %.0f us\n",
                attaching[0].size(), median(attaching[0]), median(attaching[1]));
    return 0;
}
