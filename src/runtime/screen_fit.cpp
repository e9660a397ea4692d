#include "screen_fit.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace qinghe {
namespace {

// What a desktop adds above a window (its title bar) and on each other side
// (its frame), with room to spare; not known before the window is shown.
constexpr int kTitleBarAllowance = 40;
constexpr int kFrameAllowance = 4;
// A button this close to the client area's bottom stands in its bottom row.
constexpr int kBottomReach = 16;

QRect freeArea(const QWidget& window)
{
    const QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

// The largest window the free area holds with its title bar and frame.
QSize roomIn(const QRect& area)
{
    return area.size() - QSize(2 * kFrameAllowance, kTitleBarAllowance + kFrameAllowance);
}

bool isOwnControl(const QWidget* w)
{
    return !w->isWindow() && !w->objectName().startsWith(QLatin1String("qt_"));
}

// Where the client area's bottom row begins: the top of the highest button
// that reaches the bottom edge; -1 when no button does.
int bottomRowTop(const QWidget* client)
{
    int top = -1;
    for (const QWidget* w : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!isOwnControl(w) || w->isHidden() || qobject_cast<const QAbstractButton*>(w) == nullptr)
            continue;
        if (client->height() - w->geometry().bottom() - 1 <= kBottomReach)
            top = top < 0 ? w->y() : std::min(top, w->y());
    }
    return top;
}

// Moves the controls of client's bottom row into a row of their own, as wide
// as width; null when client has no bottom row.
QWidget* takeBottomRow(QWidget* client, int width)
{
    const int top = bottomRowTop(client);
    if (top < 0)
        return nullptr;
    auto* row = new QWidget;
    row->setObjectName(QString::fromUtf8(kScreenFitBottomRow));
    row->setFixedHeight(client->height() - top);
    // What stood at the right edge stays there when the window is narrower.
    const int cut = std::max(0, client->width() - width);
    for (QWidget* w : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!isOwnControl(w) || w->y() < top)
            continue;
        QRect place = w->geometry().translated(0, -top);
        if (client->width() - place.right() - 1 <= kBottomReach)
            place.translate(-cut, 0);
        const bool hidden = w->isHidden();
        w->setParent(row);
        w->setGeometry(place);
        w->setVisible(!hidden);
    }
    client->resize(client->width(), top);
    return row;
}

// A fixed window keeps its client area as it was laid out and scrolls it.
void scrollClientArea(QMainWindow& window, const QSize& room)
{
    QWidget* client = window.centralWidget();
    const QSize clientSize = client->size();
    const QSize around = window.size() - clientSize;  // a menu bar, a status bar
    const int scrollBar = window.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &window);
    QSize size = window.size();
    if (size.height() > room.height())
        size.rwidth() += scrollBar;
    if (size.width() > room.width())
        size.rheight() += scrollBar;
    size = size.boundedTo(room);

    client = window.takeCentralWidget();
    auto* frame = new QWidget;
    frame->setObjectName(QString::fromUtf8(kScreenFitFrame));
    auto* column = new QVBoxLayout(frame);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    QWidget* bottomRow = takeBottomRow(client, size.width() - around.width());
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QString::fromUtf8(kScreenFitScroll));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(client);
    client->show();
    column->addWidget(scroll, 1);
    if (bottomRow != nullptr)
        column->addWidget(bottomRow);
    window.setCentralWidget(frame);
    window.setFixedSize(size);
}

}  // namespace

void fitWindowToScreen(QMainWindow& window)
{
    const QRect area = freeArea(window);
    if (area.isEmpty() || window.centralWidget() == nullptr)
        return;
    const QSize room = roomIn(area);
    if (window.width() <= room.width() && window.height() <= room.height())
        return;
    if (window.minimumSize() == window.maximumSize()) {
        scrollClientArea(window, room);
        return;
    }
    window.setMinimumSize(window.minimumSize().boundedTo(room));
    window.resize(window.size().boundedTo(room));
}

void centreOnScreen(QWidget& window)
{
    const QRect area = freeArea(window);
    if (area.isEmpty())
        return;
    // The window with its title bar and frame, as the desktop will draw it.
    QRect outer(QPoint(0, 0), window.size() + QSize(2 * kFrameAllowance, kTitleBarAllowance + kFrameAllowance));
    outer.moveCenter(area.center());
    // Where it cannot be whole, its title bar and left edge still are.
    outer.moveTopLeft(QPoint(std::max(outer.left(), area.left()), std::max(outer.top(), area.top())));
    // The window has been made before it is placed, so the move places its
    // client area, and the desktop draws the title bar above it.
    window.move(outer.topLeft() + QPoint(kFrameAllowance, kTitleBarAllowance));
}

}  // namespace qinghe
