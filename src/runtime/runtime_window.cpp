#include "runtime_window.h"

#include <QEvent>

namespace qinghe {

RuntimeWindow::RuntimeWindow(QWidget* parent) : QMainWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
}

int RuntimeWindow::windowStateCode() const
{
    const Qt::WindowStates states = windowState();
    if (states & Qt::WindowMinimized)
        return kStateMinimised;
    if (states & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return kStateMaximised;
    return kStateNormal;
}

QWidget* RuntimeWindow::controlByTag(int n) const
{
    for (QWidget* control : findChildren<QWidget*>()) {
        bool isNumber = false;
        const int tag = control->property(kTagProperty).toString().trimmed().toInt(&isNumber);
        if (isNumber && tag == n)
            return control;
    }
    return nullptr;
}

void RuntimeWindow::runCreationEvents()
{
    onCreated();
    onMoved();
    onResized();
    live_ = true;
}

void RuntimeWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (live_)
        onMoved();
}

void RuntimeWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (live_)
        onResized();
}

void RuntimeWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (live_ && event->type() == QEvent::WindowStateChange)
        onMoved();
}

}  // namespace qinghe
