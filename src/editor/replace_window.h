#pragma once

#include "runtime/runtime_window.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace qinghe {

class EditorWindow;

// "替换": a modeless window owned by the editor; finds, replaces one match
// at a time or replaces every match in the editor's document.
class ReplaceWindow : public RuntimeWindow {
    Q_OBJECT

public:
    explicit ReplaceWindow(EditorWindow& editor);

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;

private:
    // The window's controls, bound at load.
    struct Controls {
        QLineEdit* findBox = nullptr;              // 编辑框1
        QLineEdit* replaceBox = nullptr;           // 编辑框2
        QPushButton* findNextButton = nullptr;    // 按钮1
        QPushButton* replaceButton = nullptr;     // 按钮2
        QPushButton* replaceAllButton = nullptr;  // 按钮3
        QPushButton* cancelButton = nullptr;      // 按钮4
        QCheckBox* matchCase = nullptr;           // 选择框1
    };

    EditorWindow& editor_;
    Controls controls_;
};

}  // namespace qinghe
