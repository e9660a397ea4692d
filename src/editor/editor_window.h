#pragma once

#include "document_encoding.h"

#include "runtime/runtime_window.h"
#include "text/text.h"

#include <QColor>
#include <QFont>
#include <QString>

class QAction;
class QLineEdit;
class QMenu;
class QStatusBar;

namespace qinghe {

class EditBox;
class WindowRuntime;

inline constexpr const char* kEditorWindowDefinition = ":/ui/editor_window.ui";
inline constexpr const char* kFindWindowDefinition = ":/ui/find_window.ui";
inline constexpr const char* kReplaceWindowDefinition = ":/ui/replace_window.ui";

// Opens the notepad, or brings the open one forward. "联系作者" in its help
// menu opens contactAddress.
RuntimeWindow* openEditorWindow(WindowRuntime& runtime, const QString& contactAddress);

// The notepad: one GBK document in 编辑框1, its file, edit, search, format
// and print commands.
class EditorWindow : public RuntimeWindow {
    Q_OBJECT

public:
    // What the layout counts as the frame around the client area, across and
    // down (borders, caption and menu bar), so that the outer size is the
    // client size plus these.
    static constexpr int kFrameAcross = 9;
    static constexpr int kFrameDown = 56;
    // Height of the status bar; the box gives up this much while it is shown.
    static constexpr int kStatusBarHeight = 20;

    EditorWindow(WindowRuntime& runtime, QString contactAddress);

    QSize outerSize() const;
    EditBox* editBox() const { return controls_.editBox; }
    bool statusBarShown() const { return layout_ == Layout::WithStatusBar; }

    // The search step behind every "查找下一个": sourceBox is the find box of
    // the window whose button was pressed, null for the editor's menu.
    void findNext(const QLineEdit* sourceBox);
    // The replace window's "替换(&R)" and "全部替换(&P)".
    void replaceNext(const QLineEdit* findBox, const QLineEdit* replaceBox);
    void replaceAll(const QLineEdit* findBox, const QLineEdit* replaceBox);
    RuntimeWindow* openFindWindow();
    RuntimeWindow* openReplaceWindow();

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;
    void onResized() override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Layout { WithoutStatusBar, WithStatusBar };

    // The controls and menu entries of the definition, bound at load.
    struct Controls {
        EditBox* editBox = nullptr;       // 编辑框1
        QStatusBar* statusBar = nullptr;  // 状态条1
        QAction* newItem = nullptr;       // 新建
        QAction* openItem = nullptr;      // 打开
        QAction* saveItem = nullptr;      // 保存
        QAction* saveAsItem = nullptr;    // 另存为
        QAction* printItem = nullptr;     // 打印
        QAction* exitItem = nullptr;      // 退出
        QAction* undoItem = nullptr;      // 撤销
        QAction* cutItem = nullptr;       // 剪切
        QAction* copyItem = nullptr;      // 复制
        QAction* pasteItem = nullptr;     // 粘贴
        QAction* deleteItem = nullptr;    // 删除
        QAction* findItem = nullptr;      // 查找
        QAction* findNextItem = nullptr;  // 查找下一个
        QAction* replaceItem = nullptr;   // 替换
        QAction* selectAllItem = nullptr;  // 全选
        QAction* timeDateItem = nullptr;   // 时间日期
        QAction* wordWrapItem = nullptr;   // 自动换行
        QAction* fontItem = nullptr;       // 字体
        QAction* statusBarItem = nullptr;  // 状态栏
        QAction* aboutItem = nullptr;      // 关于记事本
        QAction* contactItem = nullptr;    // 联系作者
    };

    void wireMenu();
    void applyLayout();
    void setLayoutMode(Layout layout);

    // File commands.
    void newDocument();
    void openDocument();
    void saveDocument(const char* dialogTitle);
    // Runs the save dialog and writes the document; true once it is on disk.
    bool saveThroughDialog(const char* dialogTitle);
    bool writeTo(const QString& path);
    // True when the text differs from what was last read from or written to a file.
    bool hasChanges() const;
    // Asks 新建's question about a changed document before it is let go; true
    // when the command may go on (saved, or the host chose not to save).
    bool mayLetChangesGo();
    QString askDocumentFile(bool forSaving, const char* title);
    // Edit and format commands.
    void deleteSelection();
    void insertTimeDate();
    void toggleWordWrap(bool on);
    void toggleStatusBar(bool on);
    void chooseFont();
    void showAbout();
    void print();
    // Search steps.
    bool searchFromTop(const QLineEdit* sourceBox);
    bool searchOn(bool fromWindow);
    void showNotFound(const Text& searched);
    void activateEditor();

    WindowRuntime& runtime_;
    QString contactAddress_;
    Controls controls_;
    Layout layout_ = Layout::WithoutStatusBar;
    bool printing_ = false;
    // The document as last read or written; the text to compare with for changes.
    Text fileText_;
    // How the file last opened spelled its text; saving spells it so again.
    DocumentEncoding encoding_ = DocumentEncoding::Gbk;
    // What the common dialog 通用对话框1 keeps from its last confirmed use.
    QString dialogFileName_;
    QFont dialogFont_;
    QColor dialogColor_ = Qt::black;
    // Moving the window by its client background where the desktop cannot.
    QPoint dragOffset_;
    bool dragging_ = false;
};

}  // namespace qinghe
