#pragma once

// Where the file an element name stands for lies on this system.

#include "base/program_places.h"
#include "text/text.h"

#include <QString>

namespace qinghe {

// The native path of the existing file the element name (a name as the
// text core stores names: GBK, GB18030 for what GBK lacks; "\" or "/" as
// separators) stands for, or an empty string when there is none. A
// relative name is looked for in the current directory first, then in the
// program's folder, then in the installed data folder, so the program plays
// its data wherever it is started, portable or installed.
QString resolveMediaFile(const Text& elementName);

}  // namespace qinghe
