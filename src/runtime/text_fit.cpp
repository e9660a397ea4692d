#include "text_fit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <numeric>
#include <vector>

namespace qinghe {
namespace {

// Room a grown control leaves before the next one, where there was more.
constexpr int kMinimumGap = 2;
// A control this close to its container's right or bottom edge belongs to
// that edge, as within a dialog's margins: when the edge moves, it follows.
constexpr int kEdgeReach = 16;
// What a line edit keeps on each side of its text.
constexpr int kLineEditMargin = 2;
// A definition may name the widest text a control shows later (a label the
// program fills in); it is measured like the caption.
constexpr const char* kWidestTextProperty = "widestText";

enum class Axis { Across, Down };

int start(const QRect& r, Axis axis) { return axis == Axis::Across ? r.x() : r.y(); }
int length(const QRect& r, Axis axis) { return axis == Axis::Across ? r.width() : r.height(); }
int end(const QRect& r, Axis axis) { return start(r, axis) + length(r, axis); }
int extent(const QSize& s, Axis axis) { return axis == Axis::Across ? s.width() : s.height(); }

void moveBy(QRect& r, Axis axis, int by) { r.translate(axis == Axis::Across ? QPoint(by, 0) : QPoint(0, by)); }

void setLength(QRect& r, Axis axis, int value)
{
    if (axis == Axis::Across)
        r.setWidth(value);
    else
        r.setHeight(value);
}

// Whether two places share a row (across) or a column (down).
bool shareLine(const QRect& a, const QRect& b, Axis axis)
{
    const Axis line = axis == Axis::Across ? Axis::Down : Axis::Across;
    return start(a, line) < end(b, line) && start(b, line) < end(a, line);
}

bool isPlainContainer(const QWidget* w) { return qstrcmp(w->metaObject()->className(), "QWidget") == 0; }

// Containers whose controls stand at places of their own, fitted in turn.
bool holdsPlacedControls(const QWidget* w)
{
    return qobject_cast<const QTabWidget*>(w) != nullptr ||
           (w->layout() == nullptr && (isPlainContainer(w) || qobject_cast<const QGroupBox*>(w) != nullptr));
}

// Web views crop their pages, plain containers and status bars only hold
// other controls, an empty label shows nothing: the font changes none of
// them, and a definition may let them run past an edge on purpose.
bool showsText(const QWidget* w)
{
    if (w->inherits("QWebEngineView") || isPlainContainer(w) || qobject_cast<const QStatusBar*>(w) != nullptr)
        return false;
    const auto* label = qobject_cast<const QLabel*>(w);
    return label == nullptr || !label->text().isEmpty() || !label->pixmap().isNull();
}

// Following a moved edge, buttons keep their size and move with it; other
// controls stretch across, and only what holds more than one line of
// content stretches down.
bool stretches(const QWidget* w, Axis axis)
{
    if (axis == Axis::Across)
        return qobject_cast<const QPushButton*>(w) == nullptr && qobject_cast<const QToolButton*>(w) == nullptr;
    const auto* label = qobject_cast<const QLabel*>(w);
    return holdsPlacedControls(w) || w->inherits("QWebEngineView") || w->inherits("QAbstractScrollArea") ||
           (label != nullptr && label->wordWrap());
}

int textWidth(const QWidget* w, const QString& text)
{
    return QFontMetrics(w->font()).size(Qt::TextShowMnemonic, text).width();
}

int metric(const QWidget* w, QStyle::PixelMetric which) { return w->style()->pixelMetric(which, nullptr, w); }

// The size w needs for what it shows, at least size.
QSize captionNeed(const QWidget* w, QSize size)
{
    if (w->layout() != nullptr)
        return size.expandedTo(w->layout()->minimumSize());
    if (const auto* tabs = qobject_cast<const QTabWidget*>(w)) {
        size.setWidth(std::max(size.width(), tabs->tabBar()->sizeHint().width()));
    } else if (const auto* toolbar = qobject_cast<const QToolBar*>(w)) {
        size = size.expandedTo(toolbar->sizeHint());
    } else if (const auto* button = qobject_cast<const QPushButton*>(w)) {
        // The caption and the style's margins; not the style's wish for a wider button.
        int width = textWidth(w, button->text()) + metric(w, QStyle::PM_ButtonMargin) +
                    2 * metric(w, QStyle::PM_DefaultFrameWidth);
        if (!button->icon().isNull())
            width += button->iconSize().width() + kLineEditMargin * 2;
        size.setWidth(std::max(size.width(), width));
    } else if (qobject_cast<const QCheckBox*>(w) != nullptr || qobject_cast<const QRadioButton*>(w) != nullptr ||
               qobject_cast<const QComboBox*>(w) != nullptr) {
        size.setWidth(std::max(size.width(), w->sizeHint().width()));
    } else if (const auto* box = qobject_cast<const QGroupBox*>(w)) {
        size.setWidth(std::max(size.width(), box->minimumSizeHint().width()));
    } else if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
        const QString text = edit->text().isEmpty() ? edit->placeholderText() : edit->text();
        const QMargins margins = edit->textMargins();
        if (!text.isEmpty())
            size.setWidth(std::max(size.width(), textWidth(w, text) + 2 * kLineEditMargin + margins.left() +
                                                      margins.right() + 2 * metric(w, QStyle::PM_DefaultFrameWidth)));
    } else if (const auto* label = qobject_cast<const QLabel*>(w); label != nullptr && label->pixmap().isNull()) {
        if (label->wordWrap()) {
            size.setHeight(std::max(size.height(), label->heightForWidth(size.width())));
        } else if (!label->text().isEmpty()) {
            size = size.expandedTo(label->sizeHint());
            const QString widest = label->property(kWidestTextProperty).toString();
            const int frame = 2 * (label->frameWidth() + label->margin());
            if (!widest.isEmpty())
                size.setWidth(std::max(size.width(), textWidth(w, widest) + frame));
        }
    }
    return size;
}

// One control as the fitting sees it.
struct Placed {
    QWidget* control = nullptr;
    QRect place;  // where it goes, in its container
    QSize need;   // what it and its own controls need
    // A hidden control (one the window shows later, one it never shows) is
    // moved and follows the edges with the rest, but takes no room of its own.
    bool shown = true;
};

int slack(int gap) { return std::max(0, gap - kMinimumGap); }

QSize fitControls(QWidget* container, QSize size);
void followEdge(QWidget* container, int oldExtent, Axis axis, int by);

// A tab control's pages share one size: the page stack's.
QWidget* pageStack(const QTabWidget* tabs) { return tabs->count() > 0 ? tabs->widget(0)->parentWidget() : nullptr; }

// What a container's own controls need, when it has the given size.
QSize fitInside(QWidget* w, QSize size)
{
    if (!holdsPlacedControls(w))
        return size;
    auto* tabs = qobject_cast<QTabWidget*>(w);
    if (tabs == nullptr)
        return fitControls(w, size);
    const QWidget* stack = pageStack(tabs);
    if (stack == nullptr)
        return size;
    const QSize frame = tabs->size() - stack->contentsRect().size();
    QSize pages = size - frame;
    for (int page = 0; page < tabs->count(); ++page)
        pages = pages.expandedTo(fitControls(tabs->widget(page), size - frame));
    return pages + frame;
}

// Moves the controls along one axis: each moves on by what the controls
// before it in its row grew beyond the room between them. Returns where the
// container's edge goes.
int pushAlong(std::vector<Placed>& placed, int edge, Axis axis)
{
    std::vector<std::size_t> order(placed.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return start(placed[a].place, axis) < start(placed[b].place, axis); });
    std::vector<int> shift(placed.size(), 0);
    const auto grown = [&](std::size_t i) { return extent(placed[i].need, axis) - length(placed[i].place, axis); };
    int edgeShift = 0;
    for (std::size_t n = 0; n < order.size(); ++n) {
        const std::size_t i = order[n];
        const QRect& here = placed[i].place;
        for (std::size_t m = 0; m < n; ++m) {
            const std::size_t j = order[m];
            const QRect& before = placed[j].place;
            if (placed[j].shown && start(before, axis) < start(here, axis) && end(before, axis) < end(here, axis) &&
                shareLine(before, here, axis))
                shift[i] = std::max(shift[i], shift[j] + grown(j) - slack(start(here, axis) - end(before, axis)));
        }
        // What ran past the edge before keeps its overhang; the rest keeps its margin where it can.
        if (placed[i].shown)
            edgeShift = std::max(edgeShift, end(here, axis) > edge ? shift[i]
                                                                    : shift[i] + grown(i) - slack(edge - end(here, axis)));
    }
    const int newEdge = edge + edgeShift;
    for (std::size_t i = 0; i < placed.size(); ++i) {
        QRect& place = placed[i].place;
        const int gap = edge - end(place, axis);
        moveBy(place, axis, shift[i]);
        const int oldLength = extent(placed[i].need, axis);
        setLength(place, axis, oldLength);
        const int follow = gap <= kEdgeReach ? newEdge - (end(place, axis) + gap) : 0;
        if (follow <= 0)
            continue;
        if (stretches(placed[i].control, axis)) {
            setLength(place, axis, oldLength + follow);
            followEdge(placed[i].control, oldLength, axis, follow);
        } else {
            moveBy(place, axis, follow);
        }
    }
    return newEdge;
}

// The controls of container that belonged to its edge follow it by by.
void followEdge(QWidget* container, int oldExtent, Axis axis, int by)
{
    if (auto* tabs = qobject_cast<QTabWidget*>(container)) {
        if (const QWidget* stack = pageStack(tabs)) {
            const int pageExtent = extent(stack->contentsRect().size(), axis) + oldExtent - extent(tabs->size(), axis);
            for (int page = 0; page < tabs->count(); ++page)
                followEdge(tabs->widget(page), pageExtent, axis, by);
        }
        return;
    }
    if (!holdsPlacedControls(container))
        return;
    for (QWidget* w : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isWindow() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QRect place = w->geometry();
        if (oldExtent - end(place, axis) > kEdgeReach)
            continue;
        if (stretches(w, axis)) {
            const int oldLength = length(place, axis);
            setLength(place, axis, oldLength + by);
            followEdge(w, oldLength, axis, by);
        } else {
            moveBy(place, axis, by);
        }
        w->setGeometry(place);
    }
}

// Fits the controls of container, given its size; returns the size it
// needs, at least size.
QSize fitControls(QWidget* container, QSize size)
{
    std::vector<Placed> placed;
    for (QWidget* w : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        // Qt's own parts of a control are the control's business.
        if (w->isWindow() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        Placed p{w, w->geometry(), w->size(), !w->isHidden()};
        if (!p.shown) {
            placed.push_back(p);
            continue;
        }
        // What shows text and runs past an edge is cut there first: what ran past was never seen.
        for (Axis axis : {Axis::Across, Axis::Down}) {
            const int edge = extent(size, axis);
            if (showsText(w) && start(p.place, axis) < edge && end(p.place, axis) > edge)
                setLength(p.place, axis, edge - start(p.place, axis));
        }
        p.need = captionNeed(w, p.place.size());
        p.need = p.need.expandedTo(fitInside(w, p.need));
        placed.push_back(p);
    }
    const int across = pushAlong(placed, size.width(), Axis::Across);
    // A wrapped caption needs its height at the width it now has.
    for (Placed& p : placed) {
        if (const auto* label = qobject_cast<const QLabel*>(p.control); p.shown && label != nullptr && label->wordWrap())
            p.need.setHeight(std::max(p.need.height(), label->heightForWidth(p.place.width())));
    }
    const int down = pushAlong(placed, size.height(), Axis::Down);
    for (const Placed& p : placed)
        p.control->setGeometry(p.place);
    return {across, down};
}

}  // namespace

void fitWindowToText(QMainWindow& window)
{
    QWidget* client = window.centralWidget();
    if (client == nullptr)
        return;
    // Qt lays controls out only in a shown window: shown here where nobody sees it.
    const bool shown = window.isVisible();
    if (!shown) {
        window.setAttribute(Qt::WA_DontShowOnScreen);
        window.show();
    }
    const QSize size = client->size();
    const QSize growth = fitControls(client, size) - size;
    if (!growth.isNull()) {
        const QSize outer = window.size() + growth;
        if (window.minimumSize() == window.maximumSize())
            window.setFixedSize(outer);
        else
            window.resize(outer);
    }
    if (!shown) {
        window.hide();
        window.setAttribute(Qt::WA_DontShowOnScreen, false);
    }
}

}  // namespace qinghe
