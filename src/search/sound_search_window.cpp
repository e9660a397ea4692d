#include "sound_search_window.h"

#include "runtime/window_runtime.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>

namespace qinghe {
namespace {

// One search window for the whole board.
constexpr const char* kSoundSearchKey = "sound_search";

}  // namespace

SoundSearchWindow* openSoundSearchWindow(WindowRuntime& runtime, std::vector<SearchEntry> entries, PlayEntry play)
{
    const bool wasOpen = runtime.openedWindow(QString::fromLatin1(kSoundSearchKey)) != nullptr;
    auto* window = qobject_cast<SoundSearchWindow*>(
        runtime.openWindow(QString::fromLatin1(kSoundSearchKey), QString::fromLatin1(kSoundSearchWindowDefinition),
                           [&entries, &play] { return new SoundSearchWindow(entries, play); }));
    if (window != nullptr && wasOpen) {
        window->setEntries(std::move(entries));
        window->focusField();
    }
    return window;
}

SoundSearchWindow::SoundSearchWindow(std::vector<SearchEntry> entries, PlayEntry play)
    : search_(std::move(entries)), play_(std::move(play))
{
}

void SoundSearchWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.field, "查找框");
    binder.bind(controls_.list, "结果列表");
}

void SoundSearchWindow::onCreated()
{
    connect(controls_.field, &QLineEdit::textChanged, this, &SoundSearchWindow::showMatches);
    connect(controls_.field, &QLineEdit::returnPressed, this, &SoundSearchWindow::playChoice);
    connect(controls_.list, &QListWidget::itemActivated, this, &SoundSearchWindow::playChoice);
    // Up and Down reach the list while the field keeps the focus, so typing goes on.
    controls_.field->installEventFilter(this);
    controls_.field->setFocus();
    showMatches();
}

void SoundSearchWindow::focusField()
{
    controls_.field->selectAll();
    controls_.field->setFocus();
}

void SoundSearchWindow::setEntries(std::vector<SearchEntry> entries)
{
    search_ = SoundSearch(std::move(entries));
    showMatches();
}

bool SoundSearchWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == controls_.field && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            moveChoice(key == Qt::Key_Up ? -1 : 1);
            return true;
        }
    }
    return RuntimeWindow::eventFilter(watched, event);
}

void SoundSearchWindow::showMatches()
{
    shown_ = search_.find(controls_.field->text());
    QStringList captions;
    captions.reserve(static_cast<qsizetype>(shown_.size()));
    for (const std::size_t index : shown_)
        captions << search_.entries()[index].caption;
    controls_.list->clear();
    controls_.list->addItems(captions);
    if (!shown_.empty())
        controls_.list->setCurrentRow(0);
}

void SoundSearchWindow::moveChoice(int step)
{
    const int count = controls_.list->count();
    if (count == 0)
        return;
    controls_.list->setCurrentRow(std::clamp(controls_.list->currentRow() + step, 0, count - 1));
}

void SoundSearchWindow::playChoice()
{
    const int row = controls_.list->currentRow();
    if (row < 0 || row >= static_cast<int>(shown_.size()) || !play_)
        return;
    // A copy: the callback may hand the window new entries while it plays.
    const SearchEntry entry = search_.entries()[shown_[static_cast<std::size_t>(row)]];
    play_(entry);
}

}  // namespace qinghe
