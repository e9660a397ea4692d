#include "board_grid.h"

#include <QEvent>
#include <QTabWidget>

namespace qinghe {

BoardGrid::BoardGrid(QTabWidget* tabs)
    : QObject(tabs), tabs_(tabs), pageStack_(tabs->widget(0) != nullptr ? tabs->widget(0)->parentWidget() : tabs)
{
    pageStack_->installEventFilter(this);
    placedOrigin_ = pageOrigin();
}

void BoardGrid::place(QWidget* control, QPoint inTabControl)
{
    followPages();
    placed_.append(control);
    control->move(inTabControl - placedOrigin_);
}

bool BoardGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == pageStack_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        followPages();
    return QObject::eventFilter(watched, event);
}

QPoint BoardGrid::pageOrigin() const
{
    // Every page fills the page stack's contents.
    return pageStack_->mapTo(tabs_, pageStack_->contentsRect().topLeft());
}

void BoardGrid::followPages()
{
    const QPoint origin = pageOrigin();
    const QPoint moved = origin - placedOrigin_;
    if (moved.isNull())
        return;
    placedOrigin_ = origin;
    for (const QPointer<QWidget>& control : placed_) {
        if (control != nullptr)
            control->move(control->pos() - moved);
    }
}

}  // namespace qinghe
