// Speed of the notepad on large documents, through its own commands in an
// offscreen window: Find Next through 1 MB with a match every 1 KB, Replace
// All on 10 MB, and opening and saving a 10 MB file. Run by hand:
//
//   editor_bench

#include "runtime/dialogs.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"
#include "editor/edit_box.h"
#include "editor/editor_state.h"
#include "editor/editor_window.h"
#include "text/gbk.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>

using namespace qinghe;

namespace {

constexpr int kKilobyte = 1024;
constexpr int kMegabyte = 1024 * kKilobyte;

Text gbk(const char* utf8) { return fromQString(QString::fromUtf8(utf8)); }

// Lines of mixed Chinese and ASCII text, CR LF ended, with the word 目标
// once in every kilobyte.
Text document(int bytes)
{
    const Text line = gbk("青禾主持人音效辅助工具 notepad line 记事本测试文字\r\n");
    const Text target = gbk("目标");
    Text text;
    text.reserve(static_cast<std::size_t>(bytes));
    while (text.size() < static_cast<std::size_t>(bytes)) {
        Text block = target;
        while (block.size() + line.size() <= static_cast<std::size_t>(kKilobyte))
            block += line;
        block.resize(kKilobyte - 2, ' ');
        block += "\r\n";
        text += block;
    }
    return text;
}

double milliseconds(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e6; }

void benchFindNext(EditorWindow& editor)
{
    editor.editBox()->setDocumentText(document(kMegabyte));
    SearchState& state = searchState();
    state.findText = gbk("目标");
    state.lastFoundPos = 0;
    int steps = 0;
    QElapsedTimer timer;
    timer.start();
    while (true) {
        editor.findNext(nullptr);
        if (state.lastFoundPos == -1)
            break;
        ++steps;
    }
    const double total = milliseconds(timer);
    std::printf("Find Next, 1 MB, a match every 1 KB: %d steps, %.3f ms per step (%.1f ms in all)\n", steps,
                total / (steps + 1), total);
}

void benchReplaceAll(EditorWindow& editor)
{
    editor.editBox()->setDocumentText(document(10 * kMegabyte));
    auto* replace = editor.openReplaceWindow();
    auto* findBox = replace->findChild<QLineEdit*>(QStringLiteral("编辑框1"));
    auto* replaceBox = replace->findChild<QLineEdit*>(QStringLiteral("编辑框2"));
    findBox->setText(QStringLiteral("记事本"));
    replaceBox->setText(QStringLiteral("笔记"));
    QElapsedTimer timer;
    timer.start();
    replace->findChild<QPushButton*>(QStringLiteral("按钮3"))->click();
    const double all = milliseconds(timer);
    std::printf("Replace All, 10 MB, %zu bytes after: %.1f ms\n", editor.editBox()->documentText().size(), all);
    replace->close();
}

void benchOpenAndSave(EditorWindow& editor, const QTemporaryDir& dir)
{
    const QString source = dir.filePath("ten.txt");
    const QString target = dir.filePath("ten-saved.txt");
    {
        const Text bytes = document(10 * kMegabyte);
        QFile file(source);
        file.open(QIODevice::WriteOnly);
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    QStringList answers{source, target};
    setFileDialogSeam([&answers](const FileDialogRequest&) { return answers.takeFirst(); });
    QElapsedTimer timer;
    timer.start();
    editor.findChild<QAction*>(QStringLiteral("打开"))->trigger();
    const double opened = milliseconds(timer);
    timer.restart();
    editor.findChild<QAction*>(QStringLiteral("保存"))->trigger();
    const double savedUnchanged = milliseconds(timer);
    // After an edit the document's bytes are taken from the box anew.
    editor.editBox()->moveCursor(QTextCursor::End);
    editor.editBox()->insertPlainText(QStringLiteral("x"));
    answers = QStringList{target};
    timer.restart();
    editor.findChild<QAction*>(QStringLiteral("保存"))->trigger();
    const double savedEdited = milliseconds(timer);
    setFileDialogSeam({});
    std::printf("Open 10 MB file: %.1f ms; save it unchanged: %.1f ms; save after an edit: %.1f ms\n", opened,
                savedUnchanged, savedEdited);
}

}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    setMessageBoxSeam([](const ShownMessageBox&) { return kAnswerOk; });
    QTemporaryDir dir;
    WindowRuntime runtime;
    auto* editor = qobject_cast<EditorWindow*>(openEditorWindow(runtime, QString()));
    if (editor == nullptr || !dir.isValid())
        return 1;
    benchFindNext(*editor);
    benchReplaceAll(*editor);
    benchOpenAndSave(*editor, dir);
    editor->close();
    return 0;
}
