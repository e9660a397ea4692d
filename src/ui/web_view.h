#pragma once

class QWidget;

namespace qinghe {

// Registers the web view control kind for window definitions. A page that
// cannot be loaded shows nothing: no error page of the browser engine.
void registerWebViewControl();

}  // namespace qinghe
