#pragma once

class QMainWindow;
class QWidget;

namespace qinghe {

// Object names of what fitWindowToScreen puts around a client area.
inline constexpr const char* kScreenFitFrame = "适屏框";
inline constexpr const char* kScreenFitScroll = "适屏滚动区";
inline constexpr const char* kScreenFitBottomRow = "适屏底行";

// A window larger than its screen's free area (a small screen, a large scale
// factor) is made to fit it, title bar and frame included. One the host may
// resize becomes smaller and lays itself out again; a fixed one keeps its
// layout and scrolls inside, while its bottom row (关闭 and what stands
// beside it) stays in view below the scrolled part. Run once, when the
// window has been fitted to its text.
void fitWindowToScreen(QMainWindow& window);

// Places the window, with room for its title bar and frame, in the middle of
// its screen's free area, never above the area's top nor past its left edge.
void centreOnScreen(QWidget& window);

}  // namespace qinghe
