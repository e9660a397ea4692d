#include "slot_drop.h"

#include "runtime/message_box.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace qinghe {

namespace {

constexpr const char* kDropRefusedText =
    "拖入的不是可以播放的声音文件，按钮没有改变。\n请一次拖入一个本机上的声音文件（如 MP3、WAV）。";

// Taken as a copy whatever the source proposes: the file stays where it is.
void takeAsCopy(QDropEvent* event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

}  // namespace

QString droppedLocalFile(const QMimeData* mime)
{
    if (mime == nullptr || !mime->hasUrls() || mime->urls().size() != 1)
        return {};
    const QUrl url = mime->urls().first();
    if (!url.isLocalFile())
        return {};
    const QString path = url.toLocalFile();
    return QFileInfo(path).isFile() ? path : QString();
}

void refuseDroppedFile()
{
    messageBox(QString::fromUtf8(kDropRefusedText), kBoxOkInformation);
}

SlotDropTarget::SlotDropTarget(QObject* parent, Dropped dropped) : QObject(parent), dropped_(std::move(dropped)) {}

void SlotDropTarget::watch(QWidget* button, int slot)
{
    slots_.insert(button, slot);
    button->setAcceptDrops(true);
    button->installEventFilter(this);
}

bool SlotDropTarget::eventFilter(QObject* watched, QEvent* event)
{
    const auto slot = slots_.constFind(watched);
    if (slot == slots_.cend())
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
        // Anything may be dropped: what cannot be bound is refused with a word, not a cursor.
        takeAsCopy(static_cast<QDropEvent*>(event));
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QString file = droppedLocalFile(drop->mimeData());
        if (file.isEmpty())
            drop->ignore();
        else
            takeAsCopy(drop);
        QMetaObject::invokeMethod(
            this, [this, slot = *slot, file] { dropped_(slot, file); }, Qt::QueuedConnection);
        return true;
    }
    default:
        return false;
    }
}

}  // namespace qinghe
