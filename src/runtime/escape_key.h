#pragma once

class QWidget;

namespace qinghe {

// Gives window an Esc that closes it from whichever of its controls has the
// focus; an Esc pressed while a drop-down, a menu or a list's cell editor is
// open in it goes to that control instead, and closes only that.
void closeOnEscape(QWidget* window);

}  // namespace qinghe
