#include "runtime/dialogs.h"
#include "runtime/window_runtime.h"
#include "editor/edit_box.h"
#include "editor/editor_state.h"
#include "editor/editor_window.h"
#include "editor/find_window.h"
#include "support/recorded_boxes.h"
#include "support/typing.h"
#include "base/file_bytes.h"
#include "text/gbk.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

constexpr const char* kContactAddress = "http://127.0.0.1:9/contact";

Text gbk(const char* utf8) { return fromQString(QString::fromUtf8(utf8)); }

Text fileBytes(const QString& path)
{
    return readFileBytes(path).value_or("<unreadable>");
}

[[nodiscard]] bool writeFile(const QString& path, const Text& bytes)
{
    QFile file(path);
    const auto size = static_cast<qint64>(bytes.size());
    return file.open(QIODevice::WriteOnly) && file.write(bytes.data(), size) == size;
}

int pdfPages(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<int>(file.readAll().count("/Type /Page\n"));
}

void deleteClosedWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

}  // namespace

class EditorWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRuntime> runtime_;
    QPointer<EditorWindow> editor_;
    QTemporaryDir dir_;
    QList<FileDialogRequest> fileRequests_;
    QStringList fileAnswers_;  // an empty answer cancels the dialog

    EditBox* box() const { return editor_->editBox(); }
    QAction* item(const char* name) const { return editor_->findChild<QAction*>(QString::fromUtf8(name)); }

    template <class T>
    static T* in(QWidget* window, const char* name)
    {
        return window->findChild<T*>(QString::fromUtf8(name));
    }

    QString file(const char* name) const { return dir_.filePath(QString::fromUtf8(name)); }

    void answerFileDialog(const QStringList& answers) { fileAnswers_ = answers; }

    void openFile(const QString& path)
    {
        answerFileDialog({path});
        item("打开")->trigger();
    }

    RuntimeWindow* findWindow() const { return runtime_->openedWindow("editor/find"); }
    RuntimeWindow* replaceWindow() const { return runtime_->openedWindow("editor/replace"); }

    // The editor's selection as 0-based byte offset and length.
    QPair<int, int> selection() const { return {box()->selectionStart(), box()->selectionLength()}; }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void init()
    {
        editorProgramState() = EditorProgramState{};
        runtime_ = std::make_unique<WindowRuntime>();
        fileRequests_.clear();
        fileAnswers_.clear();
        setFileDialogSeam([this](const FileDialogRequest& request) {
            fileRequests_ << request;
            return fileAnswers_.isEmpty() ? QString() : fileAnswers_.takeFirst();
        });
        editor_ = qobject_cast<EditorWindow*>(openEditorWindow(*runtime_, kContactAddress));
        QVERIFY(editor_ != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(editor_));
    }

    void cleanup()
    {
        // A test may leave changed text behind; closing lets it go.
        RecordedBoxes letGo(kAnswerNo);
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        deleteClosedWindows();
        runtime_.reset();
        setFileDialogSeam({});
        setFontDialogSeam({});
        setPrintDialogSeam({});
    }

    // ---- the windows as defined ----

    void editorOpensEmptyAtItsSizeWithTheClientFilledByTheBox()
    {
        QCOMPARE(editor_->windowTitle(), QStringLiteral("青禾记事本"));
        QCOMPARE(editor_->outerSize(), QSize(589, 570));
        QCOMPARE(box()->geometry(), QRect(0, 0, 580, 514));
        QVERIFY(!in<QStatusBar>(editor_, "状态条1")->isVisible());
        QCOMPARE(box()->documentText(), Text());
        QCOMPARE(box()->font().family(), QStringLiteral("Fixedsys"));
        QCOMPARE(box()->font().pointSize(), 12);
        QCOMPARE(box()->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(box()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(box()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(editor_->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(editor_->windowFlags() & Qt::WindowMaximizeButtonHint);
        QVERIFY(editor_->minimumSize() != editor_->maximumSize());
        // Opening it again brings the same window back.
        editor_->showMinimized();
        QCOMPARE(openEditorWindow(*runtime_, kContactAddress), editor_.data());
        QVERIFY(!editor_->isMinimized());
    }

    void menuCarriesItsCaptionsShortcutsAndDisabledItems()
    {
        const QStringList expected{
            "文件(&F)|新建(&N)=Ctrl+N|打开(&O)...=Ctrl+O|保存(&S)=Ctrl+S|另存为(&A)...|-|页面设置(&U)...!|打印(&P)...=Ctrl+P|-|退出(&X)",
            "编辑(&E)|撤销(&U)=Ctrl+Z|-|剪切(&T)=Ctrl+X|复制(&C)=Ctrl+C|粘贴(&P)=Ctrl+V|删除(&L)=Del|-|查找(&F)...=Ctrl+F|"
            "查找下一个(&N)=F3|替换(&R)...=Ctrl+H|转到(&G)...=Ctrl+G!|-|全选(&A)=Ctrl+A|时间/日期(&D)=F5",
            "格式(&O)|自动换行(&W)?|字体(&F)...",
            "查看(&V)|状态栏(&S)?",
            "帮助(&H)|关于记事本(&A)|联系作者",
        };
        QStringList shown;
        for (QAction* menuEntry : editor_->menuBar()->actions()) {
            QStringList entries{menuEntry->text()};
            for (QAction* entry : menuEntry->menu()->actions()) {
                QString text = entry->isSeparator() ? QStringLiteral("-") : entry->text();
                if (!entry->shortcut().isEmpty())
                    text += "=" + entry->shortcut().toString(QKeySequence::PortableText);
                if (!entry->isEnabled())
                    text += "!";
                if (entry->isCheckable())
                    text += entry->isChecked() ? "?checked" : "?";
                entries << text;
            }
            shown << entries.join('|');
        }
        QCOMPARE(shown, expected);
    }

    void editMenuOpensWithItsAccessKey()
    {
        QVERIFY(QTest::qWaitForWindowActive(editor_));
        QTest::keyClick(editor_->menuBar(), Qt::Key_E, Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
        QCOMPARE(QApplication::activePopupWidget()->objectName(), QStringLiteral("编辑"));
        QApplication::activePopupWidget()->close();
    }

    void enterBreaksTheLineTabAndEscapeDoNot()
    {
        QVERIFY(QTest::qWaitForWindowActive(editor_));
        box()->setFocus();
        QTest::keyClicks(box(), "a");
        QTest::keyClick(box(), Qt::Key_Return);
        QTest::keyClick(box(), Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(box(), "b");
        QTest::keyClick(box(), Qt::Key_Tab);
        QTest::keyClick(box(), Qt::Key_Escape);
        deleteClosedWindows();
        QVERIFY(!editor_.isNull());
        QVERIFY(editor_->isVisible());
        QCOMPARE(QByteArray::fromStdString(box()->documentText()), QByteArray("a\r\n\r\nb"));
    }

    void leftClickOnTheClientBackgroundMovesTheWindow()
    {
        QWidget* client = editor_->centralWidget();
        const QPoint before = editor_->pos();
        const QPoint at(3, 3);
        const QPoint delta(40, 25);
        QMouseEvent press(QEvent::MouseButtonPress, at, client->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(client, &press);
        QMouseEvent move(QEvent::MouseMove, at + delta, client->mapToGlobal(at) + delta, Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(client, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, at + delta, client->mapToGlobal(at) + delta,
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(client, &release);
        QTRY_COMPARE(editor_->pos(), before + delta);
    }

    void findAndReplaceWindowsAreOwnedModelessAndOpenOnce()
    {
        item("查找")->trigger();
        item("替换")->trigger();
        RuntimeWindow* find = findWindow();
        RuntimeWindow* replace = replaceWindow();
        QVERIFY(find != nullptr && replace != nullptr);
        QVERIFY(find->isVisible() && replace->isVisible());
        QCOMPARE(find->parentWidget(), editor_.data());
        QCOMPARE(replace->parentWidget(), editor_.data());
        QVERIFY(find->isWindow() && find->windowModality() == Qt::NonModal);
        QCOMPARE(editor_->openFindWindow(), find);
        QCOMPARE(editor_->openReplaceWindow(), replace);

        QCOMPARE(find->windowTitle(), QStringLiteral("查找"));
        QCOMPARE(find->size(), QSize(444, 119));
        QCOMPARE(find->minimumSize(), find->maximumSize());
        QVERIFY(!(find->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(in<QLabel>(find, "标签1")->text(), QStringLiteral("查找内容(&N):"));
        QCOMPARE(in<QLineEdit>(find, "编辑框1")->geometry(), QRect(96, 24, 208, 24));
        QCOMPARE(in<QLineEdit>(find, "编辑框1")->font().family(), QStringLiteral("Fixedsys"));
        QCOMPARE(in<QPushButton>(find, "按钮1")->text(), QStringLiteral("查找下一个(&F)"));
        QVERIFY(!in<QPushButton>(find, "按钮1")->isEnabled());
        QCOMPARE(in<QPushButton>(find, "按钮2")->text(), QStringLiteral("取消"));
        QVERIFY(!in<QCheckBox>(find, "选择框1")->isChecked());
        QVERIFY(!in<QGroupBox>(find, "分组框1")->isEnabled());
        for (const char* name : {"单选框1", "单选框2"}) {
            auto* direction = in<QRadioButton>(find, name);
            QVERIFY(!direction->isEnabled());
            QVERIFY(!direction->isChecked());
        }
        QCOMPARE(in<QRadioButton>(find, "单选框1")->parentWidget(), in<QGroupBox>(find, "分组框1"));
        QCOMPARE(in<QRadioButton>(find, "单选框2")->text(), QStringLiteral("向下(&D）"));

        QCOMPARE(replace->windowTitle(), QStringLiteral("替换"));
        QCOMPARE(replace->size(), QSize(421, 186));
        QCOMPARE(in<QLabel>(replace, "标签2")->text(), QStringLiteral("替换为(&P):"));
        QCOMPARE(in<QPushButton>(replace, "按钮3")->text(), QStringLiteral("全部替换(&P)"));
        for (const char* name : {"按钮1", "按钮2", "按钮3"})
            QVERIFY(!in<QPushButton>(replace, name)->isEnabled());
        QVERIFY(in<QPushButton>(replace, "按钮4")->isEnabled());

        // Esc closes a search window; closing the editor closes what it owns.
        QPointer<RuntimeWindow> findGone(find);
        QPointer<RuntimeWindow> replaceGone(replace);
        find->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), find);
        QTest::keyClick(in<QLineEdit>(find, "编辑框1"), Qt::Key_Escape);
        deleteClosedWindows();
        QVERIFY(findGone.isNull());
        editor_->close();
        deleteClosedWindows();
        QVERIFY(replaceGone.isNull());
    }

    // ---- file commands ----

    void openedAndSavedDocumentIsTheSameFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");  // null: not looked at
        QTest::newRow("GBK text") << QByteArray::fromStdString(gbk("青禾记事本\r\n第二行：ABC\r\n"))
                                  << QStringLiteral("青禾记事本\n第二行：ABC\n");
        QTest::newRow("UTF-8 text") << QStringLiteral("青禾记事本\r\n第二行：ABC\r\n").toUtf8()
                                    << QStringLiteral("青禾记事本\n第二行：ABC\n");
        QTest::newRow("UTF-8 with a BOM") << "\xEF\xBB\xBF" + QStringLiteral("开场：掌声 & 欢呼\n").toUtf8()
                                          << QStringLiteral("开场：掌声 & 欢呼\n");
        // Characters GBK lacks come back, shown as they may be.
        QTest::newRow("UTF-8 beyond GBK") << QStringLiteral("\U0001F3A4 麦克风 \u20AC5 \u00E9\n").toUtf8() << QString();
        QTest::newRow("mixed line ends") << QByteArray("one\r\ntwo\nthree\rfour\r\r\n\n\r\n") << QString();
        QTest::newRow("not GBK") << QByteArray("\x81\x30\xff\x80\xa1\r\n\xfe\n\xb0") << QString();
        QByteArray every;
        for (int b = 255; b >= 1; --b)
            every += static_cast<char>(b);
        QTest::newRow("every byte but zero") << every << QString();
        QTest::newRow("empty") << QByteArray() << QString();
    }

    void openedAndSavedDocumentIsTheSameFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString original = file("original.txt");
        const QString copy = file("copy.txt");
        QVERIFY(writeFile(original, bytes.toStdString()));
        openFile(original);
        QCOMPARE(editor_->windowTitle(), QDir::toNativeSeparators(original) + " - 记事本");
        if (!shown.isNull())
            QCOMPARE(box()->toPlainText(), shown);
        answerFileDialog({copy});
        item("保存")->trigger();
        QCOMPARE(fileBytes(copy), bytes.toStdString());
    }

    void openShowsGbkTextAndCutsAtTheFirstZeroByte()
    {
        const QString path = file("zero.txt");
        QVERIFY(writeFile(path, gbk("中文\r\nab") + Text("\0tail", 5)));
        openFile(path);
        QCOMPARE(box()->toPlainText(), QStringLiteral("中文\nab"));
        QCOMPARE(box()->documentText(), gbk("中文\r\nab"));
        answerFileDialog({file("cut.txt")});
        item("另存为")->trigger();
        QCOMPARE(fileBytes(file("cut.txt")), gbk("中文\r\nab"));
    }

    void typingAndPastingStopAt200BytesButOpenShowsAll()
    {
        type(box(), QString(99, QChar(0x4E2D)));  // 中, two bytes each
        QCOMPARE(box()->documentText().size(), 198u);
        commitFromInputMethod(box(), QStringLiteral("青禾"));
        QCOMPARE(box()->documentText().size(), 200u);
        type(box(), "a");
        QTest::keyClick(box(), Qt::Key_Return);
        QCOMPARE(box()->documentText().size(), 200u);

        // Making room lets exactly that much in again.
        QTest::keyClick(box(), Qt::Key_Backspace);
        QApplication::clipboard()->setText("xyz");
        box()->paste();
        QCOMPARE(box()->toPlainText(), QString(99, QChar(0x4E2D)) + QStringLiteral("xy"));
        QApplication::clipboard()->setText(QStringLiteral("中"));
        QTest::keyClick(box(), Qt::Key_Backspace);
        box()->paste();
        QCOMPARE(box()->documentText().size(), 199u);

        // A longer file opens whole; typing in it is refused, deleting is not.
        const QString longer = file("longer.txt");
        QVERIFY(writeFile(longer, Text(300, 'x')));
        {
            RecordedBoxes letGo(kAnswerNo);
            openFile(longer);
        }
        QCOMPARE(box()->documentText().size(), 300u);
        type(box(), "a");
        QCOMPARE(box()->documentText().size(), 300u);
        box()->moveCursor(QTextCursor::End);
        QTest::keyClick(box(), Qt::Key_Backspace);
        QCOMPARE(box()->documentText().size(), 299u);
        // Typing over a selection that frees enough room goes in.
        box()->selectBytes(0, 150);
        type(box(), "a");
        QCOMPARE(box()->documentText(), "a" + Text(149, 'x'));
    }

    void newAsksWhetherToSaveAndDoesWhatTheAnswerSays()
    {
        {
            RecordedBoxes boxes(kAnswerYes);
            item("新建")->trigger();
            QCOMPARE(boxes.shown.size(), 0);  // nothing to lose
        }
        box()->setDocumentText("notes");
        {
            RecordedBoxes boxes(kAnswerCancel);
            item("新建")->trigger();
            QCOMPARE(boxes.shown.size(), 1);
            QCOMPARE(boxes.shown[0].text, QStringLiteral("请问需要保存这个文件吗？\r\n"));
            QCOMPARE(boxes.shown[0].caption, QStringLiteral("记事本"));
            QCOMPARE(boxes.shown[0].style, int(kBoxYesNoCancelExclamation));
            QCOMPARE(box()->documentText(), Text("notes"));
            QVERIFY(fileRequests_.isEmpty());
        }
        const QString saved = file("new-yes.txt");
        {
            RecordedBoxes boxes(kAnswerYes);
            answerFileDialog({saved});
            item("新建")->trigger();
            QCOMPARE(fileRequests_.size(), 1);
            QCOMPARE(fileRequests_[0].title, QStringLiteral("保存"));
            QCOMPARE(fileRequests_[0].kind, FileDialogRequest::Kind::Save);
            QCOMPARE(fileBytes(saved), Text("notes"));
            QCOMPARE(box()->documentText(), Text("notes"));
            // Cancelling the save step writes nothing and keeps the text.
            item("新建")->trigger();
            QCOMPARE(boxes.shown[1].text, QStringLiteral("请问需要保存这个文件吗？\r\n") + saved);
            QCOMPARE(box()->documentText(), Text("notes"));
        }
        {
            RecordedBoxes boxes(kAnswerNo);
            item("新建")->trigger();
            QCOMPARE(box()->documentText(), Text());
        }
    }

    void changedTextIsNeverLetGoUnasked()
    {
        const QString first = file("first.txt");
        const QString second = file("second.txt");
        const QString saved = file("kept.txt");
        QVERIFY(writeFile(first, "first"));
        QVERIFY(writeFile(second, "second"));
        openFile(first);
        type(box(), "1");
        const Text changed = box()->documentText();
        const QString question = QStringLiteral("请问需要保存这个文件吗？\r\n") + first;
        {
            // 取消 on 打开, 退出 and the close button keeps text, file and window.
            RecordedBoxes boxes(kAnswerCancel);
            openFile(second);
            item("退出")->trigger();
            editor_->close();
            deleteClosedWindows();
            QCOMPARE(boxes.shown.size(), 3);
            for (const ShownMessageBox& shown : boxes.shown) {
                QCOMPARE(shown.text, question);
                QCOMPARE(shown.style, int(kBoxYesNoCancelExclamation));
            }
            QVERIFY(!editor_.isNull() && editor_->isVisible());
            QCOMPARE(box()->documentText(), changed);
            QCOMPARE(fileRequests_.size(), 1);
            QCOMPARE(fileBytes(first), Text("first"));
        }
        {
            // 是 with the save cancelled keeps the window; saved, it closes.
            RecordedBoxes boxes(kAnswerYes);
            answerFileDialog({""});
            editor_->close();
            deleteClosedWindows();
            QVERIFY(!editor_.isNull() && editor_->isVisible());
            answerFileDialog({saved});
            item("退出")->trigger();
            deleteClosedWindows();
            QVERIFY(editor_.isNull());
            QCOMPARE(fileRequests_.last().title, QStringLiteral("保存"));
            QCOMPARE(fileBytes(saved), changed);
        }
        editor_ = qobject_cast<EditorWindow*>(openEditorWindow(*runtime_, kContactAddress));
        QVERIFY(editor_ != nullptr);
        type(box(), "scratch");
        {
            // 否 on 打开 throws the changed text away for the file.
            RecordedBoxes boxes(kAnswerNo);
            openFile(second);
            QCOMPARE(boxes.shown.size(), 1);
            QCOMPARE(box()->documentText(), Text("second"));
        }
        {
            // Unchanged since it was opened: no question, and the window goes.
            RecordedBoxes boxes(kAnswerCancel);
            item("退出")->trigger();
            deleteClosedWindows();
            QVERIFY(editor_.isNull());
            QCOMPARE(boxes.shown.size(), 0);
        }
    }

    void saveAndSaveAsShowTheDialogEveryTime()
    {
        const QString path = file("every-time.txt");
        QVERIFY(writeFile(path, "text"));
        openFile(path);
        answerFileDialog({""});
        item("保存")->trigger();
        answerFileDialog({""});
        item("另存为")->trigger();
        QCOMPARE(fileRequests_.size(), 3);
        QCOMPARE(fileRequests_[0].title, QStringLiteral("打开"));
        QCOMPARE(fileRequests_[0].kind, FileDialogRequest::Kind::Open);
        QVERIFY(fileRequests_[0].filter.contains("*.txt"));
        QCOMPARE(fileRequests_[1].title, QStringLiteral("保存"));
        QCOMPARE(fileRequests_[1].initialPath, path);
        QCOMPARE(fileRequests_[2].title, QStringLiteral("另存为"));
        QCOMPARE(fileBytes(path), Text("text"));
        // A name without an extension is saved as a text file.
        answerFileDialog({file("plain")});
        item("另存为")->trigger();
        QCOMPARE(fileBytes(file("plain.txt")), Text("text"));
    }

    void unreadableFileKeepsTheDocumentAndSaysSo()
    {
        box()->setDocumentText("keep me");
        // Each open first asks about the changed text; 否 goes on to the file.
        RecordedBoxes boxes(kAnswerNo);
        openFile(file("missing.txt"));
        openFile(dir_.path());
        QCOMPARE(boxes.shown.size(), 4);
        QVERIFY(boxes.shown[1].text.contains(QDir::toNativeSeparators(file("missing.txt"))));
        QCOMPARE(boxes.shown[1].caption, QStringLiteral("记事本"));
        QCOMPARE(box()->documentText(), Text("keep me"));
        QCOMPARE(editor_->windowTitle(), QStringLiteral("青禾记事本"));
        // The next save does not offer the unreadable file.
        item("保存")->trigger();
        QCOMPARE(fileRequests_.last().initialPath, QString());
    }

    void failedSaveIsReportedAndTheDocumentStays()
    {
        box()->setDocumentText("unsaved notes");
        RecordedBoxes boxes;
        const QString target = file("no-such-folder/notes.txt");
        answerFileDialog({target});
        item("保存")->trigger();
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown[0].text.contains(QDir::toNativeSeparators(target)));
        QCOMPARE(box()->documentText(), Text("unsaved notes"));
    }

    void editCommandsWorkOnTheSelection()
    {
        box()->setDocumentText("abcd");
        box()->selectBytes(1, 2);
        item("删除")->trigger();
        QCOMPARE(box()->documentText(), Text("ad"));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("bc"));
        item("撤销")->trigger();
        QCOMPARE(box()->documentText(), Text("abcd"));
        box()->moveCursor(QTextCursor::Start);
        item("全选")->trigger();
        QCOMPARE(selection(), qMakePair(0, 4));
        item("复制")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("abcd"));

        // Copying a double-byte selection hands over exactly its characters.
        box()->setDocumentText(gbk("中a\r\n文"));
        item("全选")->trigger();
        item("剪切")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("中a\r\n文"));
        QCOMPARE(box()->documentText(), Text());
        item("粘贴")->trigger();
        QCOMPARE(box()->documentText(), gbk("中a\r\n文"));

        // The Del key is the Delete command: a selection goes to the clipboard.
        QVERIFY(QTest::qWaitForWindowActive(editor_));
        box()->setFocus();
        box()->setDocumentText("wxyz");
        box()->selectBytes(0, 2);
        QTest::keyClick(box(), Qt::Key_Delete);
        QCOMPARE(box()->documentText(), Text("yz"));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("wx"));
        QTest::keyClick(box(), Qt::Key_Delete);
        QCOMPARE(box()->documentText(), Text("z"));
    }

    void timeAndDateReplaceTheSelection()
    {
        box()->setDocumentText("a--b");
        box()->selectBytes(1, 2);
        item("时间日期")->trigger();
        const QString shown = box()->toPlainText();
        QVERIFY2(QRegularExpression(QStringLiteral("^a\\d{4}年\\d{1,2}月\\d{1,2}日(\\d{1,2}时(\\d{1,2}分(\\d{1,2}秒)?)?)?b$"))
                     .match(shown)
                     .hasMatch(),
                 qPrintable(shown));
    }

    void statusBarAndWordWrapFollowTheirItems()
    {
        QStatusBar* bar = in<QStatusBar>(editor_, "状态条1");
        QAction* statusItem = item("状态栏");
        QAction* wrapItem = item("自动换行");
        box()->setDocumentText("first line\r\nsecond");

        statusItem->trigger();
        QVERIFY(statusItem->isChecked());
        QCOMPARE(box()->size(), QSize(580, 494));
        QTRY_VERIFY(bar->isVisible());
        QCOMPARE(bar->geometry(), QRect(0, 494, 580, 20));

        wrapItem->trigger();
        QCOMPARE(box()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(box()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(!statusItem->isEnabled());
        QVERIFY(statusItem->isChecked());
        QTRY_VERIFY(!bar->isVisible());
        QCOMPARE(box()->size(), QSize(580, 514));
        QCOMPARE(editorProgramState().savedText, Text("first line\r\nsecond"));

        wrapItem->trigger();
        QCOMPARE(box()->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(box()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(statusItem->isEnabled());
        QTRY_VERIFY(bar->isVisible());
        QCOMPARE(box()->size(), QSize(580, 494));
        QCOMPARE(box()->documentText(), Text("first line\r\nsecond"));

        // The layout follows the window's size.
        editor_->resize(700, 420);
        QTRY_COMPARE(box()->size(), editor_->outerSize() - QSize(9, 76));
        statusItem->trigger();
        QTRY_VERIFY(!bar->isVisible());
        QCOMPARE(box()->size(), editor_->outerSize() - QSize(9, 56));
        QCOMPARE(box()->documentText(), Text("first line\r\nsecond"));
    }

    void fontChoiceSetsFaceSizeEffectsAndColour()
    {
        QList<QFont> offered;
        QFont chosen(QStringLiteral("WenQuanYi Zen Hei"), 20);
        chosen.setWeight(QFont::Bold);
        chosen.setItalic(true);
        chosen.setUnderline(true);
        chosen.setStrikeOut(true);
        setFontDialogSeam([&](const QFont& current, const QColor&) {
            offered << current;
            return FontChoice{true, chosen, QColor(Qt::red)};
        });
        item("字体")->trigger();
        const QFont font = box()->font();
        QCOMPARE(font.family(), chosen.family());
        QCOMPARE(font.pointSize(), 20);
        QVERIFY(font.bold() && font.italic() && font.underline() && font.strikeOut());
        QCOMPARE(box()->palette().color(QPalette::Text), QColor(Qt::red));
        // The dialog starts from its own last choice.
        item("字体")->trigger();
        QCOMPARE(offered.size(), 2);
        QCOMPARE(offered[1].family(), chosen.family());
        setFontDialogSeam([](const QFont&, const QColor&) { return FontChoice{}; });
        box()->setFont(QFont(QStringLiteral("Fixedsys"), 12));
        item("字体")->trigger();
        QCOMPARE(box()->font().family(), QStringLiteral("Fixedsys"));
    }

    void aboutBoxNamesTheEditor()
    {
        RecordedBoxes boxes;
        item("关于记事本")->trigger();
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("关于记事本"));
        QCOMPARE(boxes.shown[0].style, int(kBoxOk));
        QVERIFY(boxes.shown[0].text.startsWith(QStringLiteral("青禾记事本")));
        QCOMPARE(boxes.shown[0].text.count('\n'), 1);
    }

    // ---- find and replace ----

    void findNextWalksOverlappingMatchesThenStartsAgain()
    {
        box()->setDocumentText("aaaa");
        item("查找")->trigger();
        auto* findBox = in<QLineEdit>(findWindow(), "编辑框1");
        auto* findButton = in<QPushButton>(findWindow(), "按钮1");
        findBox->setText("aa");
        QVERIFY(findButton->isEnabled());
        RecordedBoxes boxes;
        QList<QPair<int, int>> selections;
        for (int i = 0; i < 3; ++i) {
            findButton->click();
            selections << selection();
        }
        QCOMPARE(selections, (QList<QPair<int, int>>{{0, 2}, {1, 2}, {2, 2}}));
        QCOMPARE(boxes.shown.size(), 0);
        findButton->click();
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("找不到‘aa’"));
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("记事本"));
        QCOMPARE(boxes.shown[0].style, int(kBoxOkInformation));
        QCOMPARE(searchState().lastFoundPos, -1);
        QCOMPARE(selection(), qMakePair(2, 2));
        item("查找下一个")->trigger();
        QCOMPARE(selection(), qMakePair(0, 2));
    }

    void matchesAreWholeCharactersAndSelectionsCoverExactlyThem()
    {
        // 0x81 0x41 is one character whose second byte is the letter A.
        const Text hidden("\x81\x41");
        QCOMPARE(toQString(hidden).size(), 1);
        box()->setDocumentText(hidden + gbk("中文") + "A" + gbk("你好你好") + "A");
        item("查找")->trigger();
        auto* findBox = in<QLineEdit>(findWindow(), "编辑框1");
        auto* findButton = in<QPushButton>(findWindow(), "按钮1");
        RecordedBoxes boxes;
        findBox->setText("A");
        findButton->click();
        QCOMPARE(selection(), qMakePair(6, 1));
        QCOMPARE(box()->textCursor().selectedText(), QStringLiteral("A"));
        findButton->click();
        QCOMPARE(selection(), qMakePair(15, 1));
        findButton->click();
        QCOMPARE(boxes.shown.size(), 1);
        findBox->setText(QStringLiteral("你好"));
        findButton->click();
        QCOMPARE(selection(), qMakePair(7, 4));
        QCOMPARE(box()->textCursor().selectedText(), QStringLiteral("你好"));
        // The next search goes on from the character after the match's first one.
        findButton->click();
        QCOMPARE(selection(), qMakePair(11, 4));
        QCOMPARE(box()->textCursor().selectedText(), QStringLiteral("你好"));
        findButton->click();
        QCOMPARE(boxes.shown.size(), 2);
        // Across line ends of every kind too.
        box()->setDocumentText(Text("x\ny\r\n") + gbk("中") + "\rfind");
        findBox->setText("find");
        findButton->click();
        QCOMPARE(box()->textCursor().selectedText(), QStringLiteral("find"));
    }

    void caseBoxTakesEffectAtTheNextTimerTick()
    {
        box()->setDocumentText("xABC");
        item("查找")->trigger();
        QVERIFY(searchState().ignoreCase);
        auto* findBox = in<QLineEdit>(findWindow(), "编辑框1");
        auto* caseBox = in<QCheckBox>(findWindow(), "选择框1");
        RecordedBoxes boxes;
        findBox->setText("abc");
        item("查找下一个")->trigger();
        QCOMPARE(selection(), qMakePair(1, 3));

        caseBox->click();
        QVERIFY(searchState().ignoreCase);
        QTRY_VERIFY(!searchState().ignoreCase);
        item("查找下一个")->trigger();
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("找不到‘abc’"));

        caseBox->click();
        QVERIFY(searchState().ignoreCase);
        item("查找下一个")->trigger();
        QCOMPARE(selection(), qMakePair(1, 3));
    }

    void menuFindNextWithoutSearchTextOpensTheFindWindow()
    {
        box()->setDocumentText("xaxa");
        item("查找下一个")->trigger();
        QVERIFY(findWindow() != nullptr);
        QVERIFY(searchState().findText.empty());
        auto* findBox = in<QLineEdit>(findWindow(), "编辑框1");
        findBox->setText("a");
        in<QPushButton>(findWindow(), "按钮1")->click();
        QCOMPARE(selection(), qMakePair(1, 1));
        // An edit of the find window's box goes on from the last match...
        findBox->setText("xa");
        item("查找下一个")->trigger();
        QCOMPARE(selection(), qMakePair(2, 2));
        // ...one of the replace window's box starts at the top again.
        item("替换")->trigger();
        in<QLineEdit>(replaceWindow(), "编辑框1")->setText("xa");
        item("查找下一个")->trigger();
        QCOMPARE(selection(), qMakePair(0, 2));
    }

    void replaceMovesOnOrFindsItsOwnInsertion()
    {
        item("替换")->trigger();
        auto* findBox = in<QLineEdit>(replaceWindow(), "编辑框1");
        auto* replaceBox = in<QLineEdit>(replaceWindow(), "编辑框2");
        auto* replaceButton = in<QPushButton>(replaceWindow(), "按钮2");
        RecordedBoxes boxes;

        box()->setDocumentText("aaa");
        findBox->setText("a");
        replaceBox->setText("ab");
        QStringList texts;
        for (int i = 0; i < 4; ++i) {
            replaceButton->click();
            texts << QString::fromStdString(box()->documentText());
        }
        QCOMPARE(texts, (QStringList{"abaa", "ababa", "ababab", "ababab"}));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("找不到‘a’"));

        box()->setDocumentText("aaa");
        findBox->setText("");
        findBox->setText("a");
        replaceBox->setText("ba");
        texts.clear();
        for (int i = 0; i < 3; ++i) {
            replaceButton->click();
            texts << QString::fromStdString(box()->documentText());
        }
        QCOMPARE(texts, (QStringList{"baaa", "bbaaa", "bbbaaa"}));
        QCOMPARE(selection(), qMakePair(2, 2));

        // Replacing after double-byte characters selects exactly the inserted text.
        box()->setDocumentText(gbk("中文x中"));
        findBox->setText(QStringLiteral("x"));
        replaceBox->setText(QStringLiteral("替换"));
        replaceButton->click();
        QCOMPARE(box()->documentText(), gbk("中文替换中"));
        QCOMPARE(box()->textCursor().selectedText(), QStringLiteral("替换"));
    }

    void firstReplaceWithoutSearchTextOnlyFinds()
    {
        box()->setDocumentText("one two");
        item("替换")->trigger();
        auto* findBox = in<QLineEdit>(replaceWindow(), "编辑框1");
        findBox->setText("two");
        searchState().findText.clear();
        in<QLineEdit>(replaceWindow(), "编辑框2")->setText("2");
        in<QPushButton>(replaceWindow(), "按钮2")->click();
        QCOMPARE(box()->documentText(), Text("one two"));
        QCOMPARE(selection(), qMakePair(4, 3));
        QCOMPARE(searchState().findText, Text("two"));
    }

    void replaceAllReplacesEveryMatchAndLeavesTheSearchAlone()
    {
        box()->setDocumentText(gbk("Aa中a\r\na"));
        item("替换")->trigger();
        auto* findBox = in<QLineEdit>(replaceWindow(), "编辑框1");
        auto* replaceBox = in<QLineEdit>(replaceWindow(), "编辑框2");
        auto* allButton = in<QPushButton>(replaceWindow(), "按钮3");
        findBox->setText("a");
        replaceBox->setText(QStringLiteral("替"));
        searchState().lastFoundPos = 3;
        allButton->click();
        QCOMPARE(box()->documentText(), gbk("替替中替\r\n替"));
        QCOMPARE(searchState().lastFoundPos, 3);
        QCOMPARE(searchState().findText, Text("a"));

        box()->setDocumentText("Aa");
        in<QCheckBox>(replaceWindow(), "选择框1")->click();
        QTRY_VERIFY(!searchState().ignoreCase);
        allButton->click();
        QCOMPARE(box()->documentText(), gbk("A替"));

        findBox->clear();
        allButton->click();
        QCOMPARE(box()->documentText(), gbk("A替"));
    }

    // ---- printing ----

    void printingFillsPagesAndCancelPrintsNothing()
    {
        const QString pdf = file("print.pdf");
        bool a4Portrait = false;
        QString jobName;
        bool confirm = true;
        setPrintDialogSeam([&](QPrinter& printer) {
            a4Portrait = printer.pageLayout().pageSize().id() == QPageSize::A4
                         && printer.pageLayout().orientation() == QPageLayout::Portrait;
            jobName = printer.docName();
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return confirm;
        });
        RecordedBoxes boxes;

        confirm = false;
        item("打印")->trigger();
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("目前版本只支持A4纸张打印!"));
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("记事本"));
        QCOMPARE(boxes.shown[0].style, int(kBoxOkInformation));
        QVERIFY(!QFile::exists(pdf));

        confirm = true;
        item("打印")->trigger();
        QVERIFY(a4Portrait);
        QCOMPARE(jobName, QStringLiteral("未命名打印作业"));
        QCOMPARE(pdfPages(pdf), 1);  // an empty document is one empty page

        Text lines;
        for (int i = 1; i <= 60; ++i)
            lines += "line " + std::to_string(i) + " of a long text " + Text(400, '-') + "\r\n";
        box()->setDocumentText(lines);
        item("打印")->trigger();
        const int pagesFor60 = pdfPages(pdf);
        QCOMPARE(pagesFor60, 1);

        box()->setDocumentText(lines + lines + lines + lines + lines);
        item("打印")->trigger();
        const int pagesFor300 = pdfPages(pdf);
        QVERIFY2(pagesFor300 >= 3, qPrintable(QString::number(pagesFor300)));
        // Empty lines count as high as a line with text; other line ends break lines too.
        Text empties;
        for (int i = 0; i < 100; ++i)
            empties += "\r\n\n\r";
        box()->setDocumentText(empties);
        item("打印")->trigger();
        QCOMPARE(pdfPages(pdf), pagesFor300);
        QCOMPARE(boxes.shown.size(), 5);
    }

    void findWindowLackingAControlIsTheFatalErrorNotAWindow()
    {
        QFile builtIn(QString::fromLatin1(kFindWindowDefinition));
        QVERIFY(builtIn.open(QIODevice::ReadOnly));
        QString definition = QString::fromUtf8(builtIn.readAll());
        QVERIFY(definition.contains(R"(name="按钮2")"));
        QFile broken(file("find_without_cancel.ui"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(definition.replace(R"(name="按钮2")", R"(name="按钮9")").toUtf8());
        broken.close();

        RecordedBoxes boxes;
        QSignalSpy fatal(runtime_.get(), &WindowRuntime::fatalError);
        QVERIFY(runtime_->openWindow("editor/find", broken.fileName(), [this] { return new FindWindow(*editor_); }) ==
                nullptr);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("运行时出错!\n\n错误信息：找不到控件 按钮2\n"));
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("信息："));
        QCOMPARE(fatal.count(), 1);
        QCOMPARE(fatal[0][0].toInt(), -1);
        QCOMPARE(runtime_->liveWindowCount(), 1);
        // Nothing is left behind: the built-in window still opens.
        QVERIFY(editor_->openFindWindow() != nullptr);
    }
};

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    EditorWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "editor_window_test.moc"
