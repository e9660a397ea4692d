#include "board_grid.h"

#include <QEvent>
#include <QTabWidget>

namespace qinghe {

BoardGrid::BoardGrid(QTabWidget* tabs)
    : QObject(tabs), tabs_(tabs), pageStack_(tabs->widget(0) != nullptr ? tabs->widget(0)->parentWidget() : tabs)
{
    pageStack_->installEventFilter(this);
}

void BoardGrid::place(QWidget* control, QPoint inTabControl)
{
    placed_.append({control, inTabControl});
    placeAll();
}

bool BoardGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == pageStack_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        placeAll();
    return QObject::eventFilter(watched, event);
}

void BoardGrid::placeAll()
{
    // Every page fills the page stack's contents.
    const QPoint pageOrigin = pageStack_->mapTo(tabs_, pageStack_->contentsRect().topLeft());
    for (const Placed& p : placed_) {
        if (p.control != nullptr)
            p.control->move(p.inTabControl - pageOrigin);
    }
}

}  // namespace qinghe
