#pragma once

#include <functional>

class QObject;
class QWidget;

namespace qinghe {

// Runs work on the window thread right after window has been painted for the
// first time, once that paint has reached the screen; at once (after the
// current event) when the window is already visible. Work that would hold up
// the window's first appearance (the browser engine, the sound library) waits
// here. Nothing runs when context is destroyed first.
void runAfterFirstPaint(QWidget* window, QObject* context, std::function<void()> work);

}  // namespace qinghe
