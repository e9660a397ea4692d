#pragma once

#include "text/text.h"

#include <string_view>
#include <vector>

namespace qinghe {

// The lines of a text as printing takes them: split at CR and at LF, a CR
// directly followed by LF being one break. An empty text is one empty line.
std::vector<Text> printLines(std::string_view text);

// The editor's print command: the A4 notice every time, the print dialog,
// then every line on A4 portrait pages. Cancelling the dialog prints nothing.
// Pending window events are handled after each line, so the caller must not
// rely on its window still being there afterwards.
void printDocument(const Text& document);

}  // namespace qinghe
