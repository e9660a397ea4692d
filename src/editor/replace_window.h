#pragma once

#include "runtime/runtime_window.h"

namespace qinghe {

class EditorWindow;

// "替换": a modeless window owned by the editor; finds, replaces one match
// at a time or replaces every match in the editor's document.
class ReplaceWindow : public RuntimeWindow {
    Q_OBJECT

public:
    explicit ReplaceWindow(EditorWindow& editor);

protected:
    void onCreated() override;

private:
    EditorWindow& editor_;
};

}  // namespace qinghe
