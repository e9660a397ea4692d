#pragma once

#include "runtime/runtime_window.h"

namespace qinghe {

class EditorWindow;

// "查找": a modeless window owned by the editor; its button runs the
// editor's search step with the text of its find box.
class FindWindow : public RuntimeWindow {
    Q_OBJECT

public:
    explicit FindWindow(EditorWindow& editor);

protected:
    void onCreated() override;

private:
    EditorWindow& editor_;
};

}  // namespace qinghe
