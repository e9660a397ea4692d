#pragma once

// What a host does with a board button's menu and the windows it opens.

#include "ui/sound_menu.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QWidget>

namespace qinghe::test_support {

// Right-clicks the button and chooses item from its menu, then lets the
// item run. False when the menu does not open, or has no such item enabled.
[[nodiscard]] inline bool chooseFromMenu(QWidget* button, const char* item)
{
    const QPoint at(button->width() / 2, button->height() / 2);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, button->mapToGlobal(at));
    QCoreApplication::sendEvent(button, &click);
    QMenu* menu = nullptr;
    for (QMenu* opened : button->findChildren<QMenu*>())
        if (opened->isVisible())
            menu = opened;
    if (menu == nullptr)
        return false;
    QAction* chosen = nullptr;
    for (QAction* action : menu->actions())
        if (action->text() == QString::fromUtf8(item) && action->isEnabled())
            chosen = action;
    if (chosen != nullptr)
        chosen->trigger();
    menu->close();
    QCoreApplication::processEvents();
    return chosen != nullptr;
}

// The open top-level window of that name, or null.
inline QWidget* openWindowNamed(const char* name)
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->objectName() == QString::fromUtf8(name) && window->isVisible())
            return window;
    return nullptr;
}

}  // namespace qinghe::test_support
