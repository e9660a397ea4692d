#pragma once

#include <functional>

namespace qinghe {

// Widgets belong to the window thread. Workers hand their work over with
// these; on the window thread itself the work runs at once.
void postToWindowThread(std::function<void()> work);
void runOnWindowThread(const std::function<void()>& work);

}  // namespace qinghe
