// The editor's file, edit, format, help and print commands.

#include "editor_window.h"

#include "document_file.h"
#include "edit_box.h"
#include "editor_state.h"
#include "printing.h"
#include "time_date.h"

#include "runtime/dialogs.h"
#include "runtime/message_box.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QScrollBar>

namespace qinghe {
namespace {

constexpr const char* kOpenedCaptionSuffix = " - 记事本";
constexpr const char* kOpenTitle = "打开";
constexpr const char* kSaveStepTitle = "保存";
constexpr const char* kSavePrompt = "请问需要保存这个文件吗？\r\n";
// Text files first, then every file.
constexpr const char* kFileFilter = "文本文件(*.txt);;所有文件(*.*)";
constexpr const char* kDefaultSuffix = ".txt";
constexpr const char* kAboutCaption = "关于记事本";
constexpr const char* kAboutText = "青禾记事本 1.0 —— 青禾主持人音效辅助工具的随手笔记\n"
                                   "联系作者：请点帮助菜单中的“联系作者”";
constexpr const char* kCannotRead = "无法读取文件：%1\n记事本中的内容没有改动。";
constexpr const char* kCannotWrite = "无法写入文件：%1\n笔记仍在记事本中，尚未保存。";
// Weight from which a chosen font counts as bold.
constexpr int kBoldWeight = 700;

QString notepadCaption() { return QString::fromUtf8(kNotepadCaption); }

// The dialog's default extension: a name typed without one gets ".txt".
QString withDefaultSuffix(const QString& path, bool forSaving)
{
    const QFileInfo chosen(path);
    if (!chosen.suffix().isEmpty())
        return path;
    const QString withSuffix = path + QString::fromLatin1(kDefaultSuffix);
    // An existing file picked as it is keeps its name.
    if (forSaving)
        return chosen.exists() ? path : withSuffix;
    return !chosen.exists() && QFileInfo::exists(withSuffix) ? withSuffix : path;
}

}  // namespace

QString EditorWindow::askDocumentFile(bool forSaving, const char* title)
{
    FileDialogRequest request;
    request.kind = forSaving ? FileDialogRequest::Kind::Save : FileDialogRequest::Kind::Open;
    request.title = QString::fromUtf8(title);
    request.filter = QString::fromUtf8(kFileFilter);
    request.initialPath = dialogFileName_;
    const QString chosen = askFileName(request);
    return chosen.isEmpty() ? chosen : withDefaultSuffix(chosen, forSaving);
}

void EditorWindow::newDocument()
{
    if (controls_.editBox->documentText().empty())
        return;
    const int answer = messageBox(QString::fromUtf8(kSavePrompt) + dialogFileName_, kBoxYesNoCancelExclamation,
                                  notepadCaption());
    if (answer == kAnswerYes) {
        // The text stays in the editor after it has been saved.
        saveThroughDialog(kSaveStepTitle);
    } else if (answer == kAnswerNo) {
        controls_.editBox->setDocumentText({});
        fileText_.clear();
        // A new note is GBK again, as every note the notepad starts.
        encoding_ = DocumentEncoding::Gbk;
    }
}

bool EditorWindow::hasChanges() const
{
    return controls_.editBox->documentText() != fileText_;
}

bool EditorWindow::mayLetChangesGo()
{
    if (!hasChanges())
        return true;
    const int answer = messageBox(QString::fromUtf8(kSavePrompt) + dialogFileName_, kBoxYesNoCancelExclamation,
                                  notepadCaption());
    if (answer == kAnswerNo)
        return true;
    // A cancelled or failed save keeps the text where it is.
    return answer == kAnswerYes && saveThroughDialog(kSaveStepTitle);
}

void EditorWindow::openDocument()
{
    // The text being replaced is the host's: it is not thrown away unasked.
    if (!mayLetChangesGo())
        return;
    const QString path = askDocumentFile(false, kOpenTitle);
    if (path.isEmpty())
        return;
    const std::optional<Text> bytes = readDocumentFile(path);
    if (!bytes) {
        // The document and its caption stay, so a later save cannot put them over the wrong file.
        messageBox(QString::fromUtf8(kCannotRead).arg(QDir::toNativeSeparators(path)), kBoxOkExclamation,
                   notepadCaption());
        return;
    }
    dialogFileName_ = path;
    DocumentOfFile document = documentOfFileBytes(*bytes);
    encoding_ = document.encoding;
    controls_.editBox->setDocumentText(document.text);
    fileText_ = std::move(document.text);
    setWindowTitle(QDir::toNativeSeparators(path) + QString::fromUtf8(kOpenedCaptionSuffix));
}

void EditorWindow::saveDocument(const char* dialogTitle)
{
    saveThroughDialog(dialogTitle);
}

bool EditorWindow::saveThroughDialog(const char* dialogTitle)
{
    // The dialog comes every time: there is no silent save to the last file.
    const QString path = askDocumentFile(true, dialogTitle);
    if (path.isEmpty())
        return false;
    dialogFileName_ = path;
    return writeTo(path);
}

bool EditorWindow::writeTo(const QString& path)
{
    const Text& text = controls_.editBox->documentText();
    if (writeDocumentFile(path, fileBytesOfDocument(text, encoding_))) {
        fileText_ = text;
        return true;
    }
    messageBox(QString::fromUtf8(kCannotWrite).arg(QDir::toNativeSeparators(path)), kBoxOkExclamation,
               notepadCaption());
    return false;
}

void EditorWindow::deleteSelection()
{
    // The selection goes to the clipboard; with none, Del removes the next character.
    if (controls_.editBox->textCursor().hasSelection())
        controls_.editBox->cut();
    else
        controls_.editBox->deleteForward();
}

void EditorWindow::insertTimeDate()
{
    controls_.editBox->replaceSelection(timeDateText(QDateTime::currentDateTime()));
}

void EditorWindow::toggleWordWrap(bool on)
{
    Text& savedText = editorProgramState().savedText;
    savedText = controls_.editBox->documentText();
    if (on) {
        controls_.editBox->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        controls_.editBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        controls_.statusBarItem->setEnabled(false);
        setLayoutMode(Layout::WithoutStatusBar);
        return;
    }
    controls_.editBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    controls_.editBox->setLineWrapMode(QPlainTextEdit::NoWrap);
    controls_.statusBarItem->setEnabled(true);
    controls_.editBox->setDocumentText(savedText);
    setLayoutMode(controls_.statusBarItem->isChecked() ? Layout::WithStatusBar : Layout::WithoutStatusBar);
}

void EditorWindow::toggleStatusBar(bool on)
{
    setLayoutMode(on ? Layout::WithStatusBar : Layout::WithoutStatusBar);
}

void EditorWindow::chooseFont()
{
    // The dialog starts from its own last choice, not from the editor's font.
    const FontChoice choice = askFont(dialogFont_, dialogColor_);
    if (!choice.chosen)
        return;
    dialogFont_ = choice.font;
    dialogColor_ = choice.color;
    QFont font(choice.font.family());
    if (choice.font.pointSizeF() > 0)
        font.setPointSizeF(choice.font.pointSizeF());
    else
        font.setPixelSize(choice.font.pixelSize());
    font.setBold(choice.font.weight() >= kBoldWeight);
    font.setItalic(choice.font.italic());
    font.setUnderline(choice.font.underline());
    font.setStrikeOut(choice.font.strikeOut());
    controls_.editBox->setFont(font);
    QPalette palette = controls_.editBox->palette();
    palette.setColor(QPalette::Text, choice.color);
    controls_.editBox->setPalette(palette);
}

void EditorWindow::showAbout()
{
    messageBox(QString::fromUtf8(kAboutText), kBoxOk, QString::fromUtf8(kAboutCaption));
}

void EditorWindow::print()
{
    if (printing_)
        return;
    printing_ = true;
    controls_.printItem->setEnabled(false);
    const QPointer<EditorWindow> self(this);
    // The job prints the text as it was when the command was given.
    const Text document = controls_.editBox->documentText();
    printDocument(document);
    if (self.isNull())
        return;
    printing_ = false;
    controls_.printItem->setEnabled(true);
}

}  // namespace qinghe
