#include "escape_key.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QShortcut>

namespace qinghe {
namespace {

bool within(const QObject* object, const QWidget* window)
{
    for (; object != nullptr; object = object->parent())
        if (object == window)
            return true;
    return false;
}

// True while an Esc pressed now belongs to a control of window before the
// window itself: an open drop-down or menu, or a cell of a list being edited.
bool controlOpen(QWidget* window)
{
    if (const QWidget* popup = QApplication::activePopupWidget())
        return within(popup, window);
    // A list's editors, and the controls standing in its cells, live on its viewport.
    const QWidget* focus = window->focusWidget();
    for (const QWidget* w = focus; w != nullptr && w != window; w = w->parentWidget()) {
        const auto* list = qobject_cast<const QAbstractItemView*>(w);
        if (list != nullptr && list != focus && list->viewport()->isAncestorOf(focus))
            return true;
    }
    return false;
}

// The window's Esc. Qt asks the focused control whether it wants a key
// before any shortcut has it; a drop-down, though, shuts on that question
// without saying yes, and the window's shortcut then closed the window too.
// So the question is answered here for whatever is open, before the control
// hears it, and the Esc then reaches the control as a plain key press.
class EscapeKey : public QObject {
public:
    explicit EscapeKey(QWidget* window) : QObject(window), window_(window)
    {
        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
        escape->setContext(Qt::WindowShortcut);
        connect(escape, &QShortcut::activated, window, &QWidget::close);
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::ShortcutOverride || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape ||
            !within(watched, window_) || !controlOpen(window_))
            return false;
        event->accept();
        return true;
    }

private:
    QWidget* window_;
};

}  // namespace

void closeOnEscape(QWidget* window)
{
    new EscapeKey(window);
}

}  // namespace qinghe
