// What 正在播放 costs the window thread, run by hand:
//
//   now_playing_bench [--seconds S]
//
// The board's window opens offscreen with 叠加播放 on and eight custom
// slots bound to long WAV files. The CPU time of the window thread (its own
// clock, CLOCK_THREAD_CPUTIME_ID) is taken over S seconds (default 10) of
// the idle board, then over S seconds with the eight slots playing, each
// with its row in the strip, and printed with the refreshes the strip made.
// The second figure holds everything the window thread does while sound
// plays (the board's bookkeeping, the engine's word on voices), not the
// strip alone; the difference is what playing adds. Nothing is asserted.
//
// SDL_AUDIODRIVER and SDL_DISKAUDIOFILE are set to disk and /dev/null
// unless the environment sets them.

#include "app/startup.h"
#include "board/sound_catalogue.h"
#include "runtime/window_runtime.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QDataStream>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

using namespace qinghe;

namespace {

constexpr int kRate = 44100;
constexpr int kSlots = 8;
// Long enough that no sound ends while it is measured, the settling included.
constexpr int kSoundSeconds = 40;
// The window's start (the web panel giving up on its page) is over by then.
constexpr int kSettleMs = 3000;

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A quiet mono 16-bit sine; false when it cannot be written.
bool writeTone(const QString& path, int hertz)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 frames = quint32(kRate) * kSoundSeconds;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + frames * 2);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(kRate) << quint32(kRate * 2) << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << frames * 2;
    for (quint32 i = 0; i < frames; ++i)
        out << qint16(((i * quint32(hertz) * 2 / kRate) % 2) ? 1000 : -1000);
    return out.status() == QDataStream::Ok;
}

QPushButton* slotButton(const QWidget& window, int slot)
{
    for (const BoardButton& entry : boardCatalogue())
        if (entry.slot == slot)
            return window.findChild<QPushButton*>(QString::fromUtf8(entry.name.data(), qsizetype(entry.name.size())));
    return nullptr;
}

}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "disk");
    if (qEnvironmentVariableIsEmpty("SDL_DISKAUDIOFILE"))
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");
    prepareProcessForWebViews();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = QApplication::arguments();
    const qsizetype secondsAt = args.indexOf(QStringLiteral("--seconds"));
    const int seconds = secondsAt > 0 ? std::max(1, args.value(secondsAt + 1).toInt()) : 10;

    QTemporaryDir dir;
    QString ini = QStringLiteral("[声音设置]\r\n叠加播放=1\r\n[自定义音乐]\r\n");
    for (int slot = 1; slot <= kSlots; ++slot) {
        const QString file = dir.filePath(QStringLiteral("%1.wav").arg(slot));
        if (!writeTone(file, 200 + 50 * slot)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        ini += QStringLiteral("按钮%1path=%2\r\n按钮%1name=背景音乐%1\r\n").arg(slot).arg(file);
    }
    // my.ini is GBK, as the program keeps it.
    const Text bytes = fromQString(ini);
    QFile settings(dir.filePath("my.ini"));
    if (!settings.open(QIODevice::WriteOnly) || settings.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
        return 1;
    settings.close();

    WindowRuntime runtime;
    CustomSoundTables tables;
    // Port 9 (discard): the online jobs and the web panel find nothing there.
    MainWindow* window = MainWindow::open(MainWindowContext{runtime, tables, Addresses::allAt("127.0.0.1:9"),
                                                            settings.fileName(), [] { return false; },
                                                            {}, {}, nullptr, nullptr, nullptr, {}});
    if (window == nullptr)
        return 1;
    auto* refresh = window->findChild<QTimer*>(QStringLiteral("正在播放刷新"));
    int refreshes = 0;
    QObject::connect(refresh, &QTimer::timeout, [&refreshes] { ++refreshes; });
    runFor(kSettleMs);

    const auto measure = [&](const char* what) {
        refreshes = 0;
        const double before = threadCpuMs();
        runFor(seconds * 1000);
        const double used = threadCpuMs() - before;
        std::printf("%-32s %8.1f ms window-thread CPU in %d s (%.2f%%), %d strip refreshes\n", what, used, seconds,
                    used / (seconds * 10.0), refreshes);
        return used;
    };
    const double idle = measure("idle board");
    for (int slot = 1; slot <= kSlots; ++slot)
        slotButton(*window, slot)->click();
    runFor(kSettleMs);
    int rows = 0;
    for (int row = 1; row <= kSlots; ++row) {
        const QWidget* shown = window->findChild<QWidget*>(QStringLiteral("正在播放%1").arg(row));
        rows += shown != nullptr && shown->isVisible();
    }
    const double playing = measure(qPrintable(QStringLiteral("%1 sounds, %2 rows").arg(kSlots).arg(rows)));
    std::printf("%-32s %8.1f ms per second\n", "what playing adds", (playing - idle) / seconds);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    shutDownMediaOutput();
    return 0;
}
