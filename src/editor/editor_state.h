#pragma once

#include "text/text.h"

namespace qinghe {

// Caption of every message box the notepad shows.
inline constexpr const char* kNotepadCaption = "记事本";

// The search shared by the find window, the replace window and the editor's
// Find Next. Positions are 1-based byte positions in the document.
struct SearchState {
    Text findText;
    int lastFoundPos = 0;  // -1 after a search that found nothing
    int foundLength = 0;
    bool ignoreCase = false;
};

// What the editor keeps for the whole run of the program, across openings of
// its window: the search and the copy the word-wrap command takes.
struct EditorProgramState {
    SearchState search;
    Text savedText;
};

// Created on first use; lives until the program ends.
EditorProgramState& editorProgramState();
inline SearchState& searchState() { return editorProgramState().search; }

}  // namespace qinghe
