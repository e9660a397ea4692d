#include "editor_window.h"

#include "edit_box.h"

#include "runtime/window_runtime.h"
#include "online/links.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
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

void EditorWindow::onCreated()
{
    setWindowTitle(QString::fromUtf8(kEditorCaption));
    edit_ = control<EditBox>("编辑框1");
    statusBar_ = control<QStatusBar>("状态条1");
    statusBarItem_ = control<QAction>("状态栏");
    printItem_ = control<QAction>("打印");
    centralWidget()->installEventFilter(this);
    wireMenu();
    setLayoutMode(Layout::WithoutStatusBar);
    edit_->setFocus();
}

void EditorWindow::wireMenu()
{
    connect(control<QAction>("新建"), &QAction::triggered, this, [this] { newDocument(); });
    connect(control<QAction>("打开"), &QAction::triggered, this, [this] { openDocument(); });
    connect(control<QAction>("保存"), &QAction::triggered, this, [this] { saveDocument(kSaveTitle); });
    connect(control<QAction>("另存为"), &QAction::triggered, this, [this] { saveDocument(kSaveAsTitle); });
    connect(printItem_, &QAction::triggered, this, [this] { print(); });
    connect(control<QAction>("退出"), &QAction::triggered, this, &QWidget::close);

    connect(control<QAction>("撤销"), &QAction::triggered, edit_, &QPlainTextEdit::undo);
    connect(control<QAction>("剪切"), &QAction::triggered, edit_, &QPlainTextEdit::cut);
    connect(control<QAction>("复制"), &QAction::triggered, edit_, &QPlainTextEdit::copy);
    connect(control<QAction>("粘贴"), &QAction::triggered, edit_, &QPlainTextEdit::paste);
    connect(control<QAction>("删除"), &QAction::triggered, this, [this] { deleteSelection(); });
    connect(control<QAction>("查找"), &QAction::triggered, this, [this] { openFindWindow(); });
    connect(control<QAction>("查找下一个"), &QAction::triggered, this, [this] { findNext(nullptr); });
    connect(control<QAction>("替换"), &QAction::triggered, this, [this] { openReplaceWindow(); });
    connect(control<QAction>("全选"), &QAction::triggered, this, [this] { edit_->selectBytes(0, -1); });
    connect(control<QAction>("时间日期"), &QAction::triggered, this, [this] { insertTimeDate(); });

    connect(control<QAction>("自动换行"), &QAction::triggered, this, [this](bool on) { toggleWordWrap(on); });
    connect(control<QAction>("字体"), &QAction::triggered, this, [this] { chooseFont(); });
    connect(statusBarItem_, &QAction::triggered, this, [this](bool on) { toggleStatusBar(on); });
    connect(control<QAction>("关于记事本"), &QAction::triggered, this, [this] { showAbout(); });
    connect(control<QAction>("联系作者"), &QAction::triggered, this, [this] { openAddress(contactAddress_); });

    // "编辑(&)" has an ampersand with no letter after it: no access key.
    menuBar()->installEventFilter(this);
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
    if (edit_ == nullptr)
        return;
    const QSize outer = outerSize();
    const int width = outer.width() - kFrameAcross;
    const int height = outer.height() - kFrameDown - (statusBarShown() ? kStatusBarHeight : 0);
    edit_->setGeometry(0, 0, width, height);
    if (statusBarShown()) {
        // A status bar sits at the bottom of its window's client area.
        statusBar_->setGeometry(0, height, width, kStatusBarHeight);
        statusBar_->show();
    } else {
        statusBar_->hide();
    }
}

void EditorWindow::onResized() { applyLayout(); }

void EditorWindow::closeEvent(QCloseEvent* event)
{
    // A print job runs inside this window's command; it ends before the window goes.
    if (printing_) {
        event->ignore();
        return;
    }
    RuntimeWindow::closeEvent(event);
}

bool EditorWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == menuBar() && event->type() == QEvent::Shortcut) {
        // The only mnemonic the menu bar could take from "编辑(&)" is the ')' after the ampersand.
        const auto* shortcut = static_cast<QShortcutEvent*>(event);
        if (shortcut->key() == QKeySequence::mnemonic(control<QMenu>("编辑")->title()))
            return true;
    }
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
