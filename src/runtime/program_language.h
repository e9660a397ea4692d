#pragma once

namespace qinghe {

// Puts Qt's own Chinese texts (standard buttons, file dialogs) in place of
// its English ones, and Chinese dates and file types, whatever the desktop's
// locale: every other text of the program is Chinese; a few of them in the
// program's own words. False when Qt's translations are not installed; Qt
// then speaks English and the program still runs. Call once the application
// exists.
bool loadQtChineseTexts();

}  // namespace qinghe
