#pragma once

class QMainWindow;

namespace qinghe {

// The definitions place controls in pixels measured for a narrow 12-pixel
// font; the fonts a Linux desktop gives are wider. This grows what the
// window's fonts need, and only that: a caption wider than its control widens
// the control, the controls after it in its row or column move on by what
// it took beyond the room it had, and containers and the window grow to hold
// them. Order, alignment and the gaps between controls stay; a control the
// definition lets run past the window's edge is cut at the edge when what it
// shows fits there. Run once, when the definition has become the window and
// its created handler has run; hidden controls are left as they are.
void fitWindowToText(QMainWindow& window);

}  // namespace qinghe
