#include "editor_state.h"

namespace qinghe {

EditorProgramState& editorProgramState()
{
    static EditorProgramState state;
    return state;
}

}  // namespace qinghe
