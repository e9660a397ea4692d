// Time per key press of the sound search over the whole board (every effect
// and 18 named slots): the core's find alone, then a key typed into the
// window's field until its list is filled and painted. Run by hand:
//
//   search_bench

#include "runtime/window_runtime.h"
#include "search/sound_search_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>
#include <cstdio>

using namespace qinghe;

namespace {

// What hosts type, key by key: captions, initials, mixed, and nothing found.
const char* const kQueries[] = {"哄堂大笑", "htdx", "jlzs", "Mc教学鼓", "xs", "笑声", "片尾q", "zzzzzz"};
// Rounds of the core's search, so one key press is long enough to time.
constexpr int kCoreRounds = 2000;
constexpr int kSlotCount = 18;

std::vector<SearchEntry> wholeBoard()
{
    return boardSearchEntries([](int slot) { return QStringLiteral("片尾曲%1").arg(slot); });
}

double microseconds(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e3; }

void benchCore()
{
    const SoundSearch search(wholeBoard());
    double total = 0;
    double worst = 0;
    int presses = 0;
    for (const char* query : kQueries) {
        const QString text = QString::fromUtf8(query);
        for (qsizetype typed = 1; typed <= text.size(); ++typed) {
            const QStringView prefix = QStringView(text).left(typed);
            std::size_t found = 0;
            QElapsedTimer timer;
            timer.start();
            for (int round = 0; round < kCoreRounds; ++round)
                found += search.find(prefix).size();
            const double perPress = microseconds(timer) / kCoreRounds;
            total += perPress;
            worst = std::max(worst, perPress);
            ++presses;
            if (found == static_cast<std::size_t>(-1))
                std::puts("");  // keeps the searches from being optimised away
        }
    }
    const QString longText(10 * 1024, QLatin1Char('x'));
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < kCoreRounds; ++round)
        (void)search.find(longText);
    std::printf("Core, %zu entries: %.2f us per key press on average, %.2f us at worst (%d presses); "
                "a 10 kB query %.2f us\n",
                search.entries().size(), total / presses, worst, presses, microseconds(timer) / kCoreRounds);
}

void benchWindow(WindowRuntime& runtime)
{
    SoundSearchWindow* window = openSoundSearchWindow(runtime, wholeBoard(), [](const SearchEntry&) {});
    if (window == nullptr)
        return;
    auto* field = window->findChild<QLineEdit*>(QStringLiteral("查找框"));
    QCoreApplication::processEvents();
    double total = 0;
    double worst = 0;
    int presses = 0;
    for (const char* query : kQueries) {
        field->clear();
        QCoreApplication::processEvents();
        for (const QChar c : QString::fromUtf8(query)) {
            QElapsedTimer timer;
            timer.start();
            if (c.toLatin1() != 0) {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
                QApplication::sendEvent(field, &press);
            } else {
                // A character the input method commits.
                QInputMethodEvent commit;
                commit.setCommitString(c);
                QApplication::sendEvent(field, &commit);
            }
            window->repaint();
            const double perPress = microseconds(timer) / 1e3;
            total += perPress;
            worst = std::max(worst, perPress);
            ++presses;
        }
        if (field->text() != QString::fromUtf8(query))
            std::printf("the field reads %s, not %s\n", qUtf8Printable(field->text()), query);
    }
    std::printf("Window: %.2f ms per key press on average, %.2f ms at worst (%d presses), list filled and painted\n",
                total / presses, worst, presses);
    window->close();
}

}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    benchCore();
    WindowRuntime runtime;
    benchWindow(runtime);
    return 0;
}
