#pragma once

#include "runtime/runtime_window.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace qinghe {

class EditorWindow;

// "查找": a modeless window owned by the editor; its button runs the
// editor's search step with the text of its find box.
class FindWindow : public RuntimeWindow {
    Q_OBJECT

public:
    explicit FindWindow(EditorWindow& editor);

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;

private:
    // The window's controls, bound at load.
    struct Controls {
        QLineEdit* findBox = nullptr;            // 编辑框1
        QPushButton* findNextButton = nullptr;  // 按钮1
        QPushButton* cancelButton = nullptr;    // 按钮2
        QCheckBox* matchCase = nullptr;         // 选择框1
    };

    EditorWindow& editor_;
    Controls controls_;
};

}  // namespace qinghe
