#include "editor_window.h"

#include "edit_box.h"

#include "runtime/links.h"
#include "runtime/window_runtime.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStatusBar>
#include <QWindow>

namespace qinghe {
namespace {

constexpr const char* kEditorKey = "editor";
constexpr const char* kEditorCaption = "青禾记事本";
constexpr const char* kSaveTitle = "保存";
constexpr const char* kSaveAsTitle = "另存为";

}  // namespace

RuntimeWindow* openEditorWindow(WindowRuntime& runtime, const QString& contactAddress)
{
    registerEditBoxControl();
    return runtime.openWindow(QString::fromLatin1(kEditorKey), QString::fromLatin1(kEditorWindowDefinition),
                              [&runtime, contactAddress] { return new EditorWindow(runtime, contactAddress); });
}

EditorWindow::EditorWindow(WindowRuntime& runtime, QString contactAddress)
    : runtime_(runtime), contactAddress_(std::move(contactAddress))
{
}

void EditorWindow::bindControls(ControlBinder& binder)
{
    Controls& c = controls_;
    binder.bind(c.editBox, "编辑框1");
    binder.bind(c.statusBar, "状态条1");
    binder.bind(c.newItem, "新建");
    binder.bind(c.openItem, "打开");
    binder.bind(c.saveItem, "保存");
    binder.bind(c.saveAsItem, "另存为");
    binder.bind(c.printItem, "打印");
    binder.bind(c.exitItem, "退出");
    binder.bind(c.undoItem, "撤销");
    binder.bind(c.cutItem, "剪切");
    binder.bind(c.copyItem, "复制");
    binder.bind(c.pasteItem, "粘贴");
    binder.bind(c.deleteItem, "删除");
    binder.bind(c.findItem, "查找");
    binder.bind(c.findNextItem, "查找下一个");
    binder.bind(c.replaceItem, "替换");
    binder.bind(c.selectAllItem, "全选");
    binder.bind(c.timeDateItem, "时间日期");
    binder.bind(c.wordWrapItem, "自动换行");
    binder.bind(c.fontItem, "字体");
    binder.bind(c.statusBarItem, "状态栏");
    binder.bind(c.aboutItem, "关于记事本");
    binder.bind(c.contactItem, "联系作者");
}

void EditorWindow::onCreated()
{
    setWindowTitle(QString::fromUtf8(kEditorCaption));
    centralWidget()->installEventFilter(this);
    wireMenu();
    setLayoutMode(Layout::WithoutStatusBar);
    controls_.editBox->setFocus();
}

void EditorWindow::wireMenu()
{
    const Controls& c = controls_;
    connect(c.newItem, &QAction::triggered, this, [this] { newDocument(); });
    connect(c.openItem, &QAction::triggered, this, [this] { openDocument(); });
    connect(c.saveItem, &QAction::triggered, this, [this] { saveDocument(kSaveTitle); });
    connect(c.saveAsItem, &QAction::triggered, this, [this] { saveDocument(kSaveAsTitle); });
    connect(c.printItem, &QAction::triggered, this, [this] { print(); });
    connect(c.exitItem, &QAction::triggered, this, &QWidget::close);

    connect(c.undoItem, &QAction::triggered, c.editBox, &QPlainTextEdit::undo);
    connect(c.cutItem, &QAction::triggered, c.editBox, &QPlainTextEdit::cut);
    connect(c.copyItem, &QAction::triggered, c.editBox, &QPlainTextEdit::copy);
    connect(c.pasteItem, &QAction::triggered, c.editBox, &QPlainTextEdit::paste);
    connect(c.deleteItem, &QAction::triggered, this, [this] { deleteSelection(); });
    connect(c.findItem, &QAction::triggered, this, [this] { openFindWindow(); });
    connect(c.findNextItem, &QAction::triggered, this, [this] { findNext(nullptr); });
    connect(c.replaceItem, &QAction::triggered, this, [this] { openReplaceWindow(); });
    connect(c.selectAllItem, &QAction::triggered, this, [this] { controls_.editBox->selectBytes(0, -1); });
    connect(c.timeDateItem, &QAction::triggered, this, [this] { insertTimeDate(); });

    connect(c.wordWrapItem, &QAction::triggered, this, [this](bool on) { toggleWordWrap(on); });
    connect(c.fontItem, &QAction::triggered, this, [this] { chooseFont(); });
    connect(c.statusBarItem, &QAction::triggered, this, [this](bool on) { toggleStatusBar(on); });
    connect(c.aboutItem, &QAction::triggered, this, [this] { showAbout(); });
    connect(c.contactItem, &QAction::triggered, this, [this] { openAddress(contactAddress_); });
}

QSize EditorWindow::outerSize() const
{
    return centralWidget()->size() + QSize(kFrameAcross, kFrameDown);
}

void EditorWindow::setLayoutMode(Layout layout)
{
    layout_ = layout;
    applyLayout();
}

void EditorWindow::applyLayout()
{
    const QSize outer = outerSize();
    const int width = outer.width() - kFrameAcross;
    const int height = outer.height() - kFrameDown - (statusBarShown() ? kStatusBarHeight : 0);
    controls_.editBox->setGeometry(0, 0, width, height);
    if (statusBarShown()) {
        // A status bar sits at the bottom of its window's client area.
        controls_.statusBar->setGeometry(0, height, width, kStatusBarHeight);
        controls_.statusBar->show();
    } else {
        controls_.statusBar->hide();
    }
}

void EditorWindow::onResized() { applyLayout(); }

void EditorWindow::closeEvent(QCloseEvent* event)
{
    // A print job runs inside this window's command; it ends before the window goes.
    // 退出 comes here too, so every way out asks before a changed text is lost.
    if (printing_ || !mayLetChangesGo()) {
        event->ignore();
        return;
    }
    RuntimeWindow::closeEvent(event);
}

bool EditorWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != centralWidget())
        return RuntimeWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Resize:
        applyLayout();
        break;
    case QEvent::MouseButtonPress: {
        // A left click on the client background starts moving the window.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        if (windowHandle() != nullptr && windowHandle()->startSystemMove())
            return true;
        dragging_ = true;
        dragOffset_ = mouse->globalPosition().toPoint() - pos();
        return true;
    }
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (dragging_ && (mouse->buttons() & Qt::LeftButton)) {
            move(mouse->globalPosition().toPoint() - dragOffset_);
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        dragging_ = false;
        break;
    default:
        break;
    }
    return RuntimeWindow::eventFilter(watched, event);
}

}  // namespace qinghe
