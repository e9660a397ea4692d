#pragma once

#include <functional>

namespace qinghe {

// Widgets belong to the window thread. Workers hand their work over with
// these; on the window thread itself the work runs at once. Without an
// application object (before it is made, after it is gone) the work is dropped.
void postToWindowThread(std::function<void()> work);
void runOnWindowThread(const std::function<void()>& work);

}  // namespace qinghe
