#pragma once

// Sound files dropped on the custom buttons.

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class QMimeData;
class QWidget;

namespace qinghe {

// The one file on this computer that a drop carries, as a native path;
// empty when it carries anything else: no file, several, a folder, an
// address elsewhere.
QString droppedLocalFile(const QMimeData* mime);

// Tells the host that what was dropped cannot be bound to a button.
void refuseDroppedFile();

// Takes drops on the buttons it watches. A drop is taken at once and handed
// on afterwards, so the program that started the drag is not held while the
// name box is open.
class SlotDropTarget : public QObject {
public:
    // file: what droppedLocalFile gives for the drop.
    using Dropped = std::function<void(int slot, const QString& file)>;

    SlotDropTarget(QObject* parent, Dropped dropped);
    void watch(QWidget* button, int slot);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Dropped dropped_;
    QHash<QObject*, int> slots_;
};

}  // namespace qinghe
