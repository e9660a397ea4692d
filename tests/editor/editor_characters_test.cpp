// The notepad shows a document as the characters its search steps over, so
// that what the person sees and what find and replace see never differ.

#include "base/file_bytes.h"
#include "editor/edit_box.h"
#include "editor/editor_state.h"
#include "editor/editor_window.h"
#include "runtime/dialogs.h"
#include "runtime/window_runtime.h"
#include "support/recorded_boxes.h"
#include "support/typing.h"
#include "text/gbk.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

Text gbk(const char* utf8) { return fromQString(QString::fromUtf8(utf8)); }

QString fromCodePoint(char32_t c) { return QString::fromUcs4(&c, 1); }

int shownCharacters(const QString& s) { return static_cast<int>(s.toUcs4().size()); }

void writeFile(const QString& path, const Text& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void deleteClosedWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

}  // namespace

class EditorCharactersTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRuntime> runtime_;
    QPointer<EditorWindow> editor_;
    QTemporaryDir dir_;
    QStringList fileAnswers_;

    EditBox* box() const { return editor_->editBox(); }
    QAction* item(const char* name) const { return editor_->findChild<QAction*>(QString::fromUtf8(name)); }
    QString file(const char* name) const { return dir_.filePath(QString::fromUtf8(name)); }
    RuntimeWindow* replaceWindow() const { return runtime_->openedWindow("editor/replace"); }

    template <class T>
    static T* in(QWidget* window, const char* name)
    {
        return window->findChild<T*>(QString::fromUtf8(name));
    }

    void openFile(const QString& path)
    {
        fileAnswers_ = {path};
        item("打开")->trigger();
    }

    Text savedBytes()
    {
        const QString path = file("saved.txt");
        fileAnswers_ = {path};
        item("另存为")->trigger();
        return readFileBytes(path).value_or("<unreadable>");
    }

    QPair<int, int> selection() const { return {box()->selectionStart(), box()->selectionLength()}; }

    // The box holds exactly what the bytes of its document show as.
    void verifyBoxInStepWithItsBytes() const
    {
        QString shown = box()->document()->toRawText();
        shown.replace(QChar(0x2029), QLatin1Char('\n'));
        QCOMPARE(shown, toQString(box()->documentText()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void init()
    {
        editorProgramState() = EditorProgramState{};
        runtime_ = std::make_unique<WindowRuntime>();
        fileAnswers_.clear();
        setFileDialogSeam([this](const FileDialogRequest&) {
            return fileAnswers_.isEmpty() ? QString() : fileAnswers_.takeFirst();
        });
        editor_ = qobject_cast<EditorWindow*>(openEditorWindow(*runtime_, QStringLiteral("http://127.0.0.1:9/")));
        QVERIFY(editor_ != nullptr);
    }

    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        deleteClosedWindows();
        runtime_.reset();
        setFileDialogSeam({});
    }

    void aPairThatIsNotGbkShowsAsTheOneCharacterFindSteps()
    {
        const QString path = file("pair.txt");
        const Text bytes = Text("\x80" "a") + "b\r\n" + gbk("中") + "\xFF";
        writeFile(path, bytes);
        openFile(path);
        // 0x80 'a' is one character, then b, the break, 中 and a lone last byte.
        QCOMPARE(shownCharacters(box()->toPlainText()), 5);
        QCOMPARE(box()->toPlainText().left(2), fromCodePoint(0x100061));

        item("替换")->trigger();
        auto* findBox = in<QLineEdit>(replaceWindow(), "编辑框1");
        auto* replaceBox = in<QLineEdit>(replaceWindow(), "编辑框2");
        RecordedBoxes boxes;
        findBox->setText("a");
        replaceBox->setText("x");
        in<QPushButton>(replaceWindow(), "按钮1")->click();
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("找不到‘a’"));
        in<QPushButton>(replaceWindow(), "按钮3")->click();
        QCOMPARE(box()->documentText(), bytes);

        // The letter after the pair is found and selected exactly.
        findBox->setText("b");
        in<QPushButton>(replaceWindow(), "按钮1")->click();
        QCOMPARE(selection(), qMakePair(2, 1));
        QCOMPARE(box()->textCursor().selectedText(), QStringLiteral("b"));
        // Replace goes on from the top after an edit of its find box.
        findBox->clear();
        findBox->setText("b");
        in<QPushButton>(replaceWindow(), "按钮2")->click();
        QCOMPARE(box()->documentText(), Text("\x80" "a") + "x\r\n" + gbk("中") + "\xFF");
        QCOMPARE(box()->textCursor().selectedText(), QStringLiteral("x"));

        // Selecting the pair as bytes selects the one character in the box.
        box()->selectBytes(0, 2);
        QCOMPARE(box()->textCursor().selectedText(), fromCodePoint(0x100061));
        box()->selectBytes(1, 1);
        QCOMPARE(selection(), qMakePair(0, 2));
        QCOMPARE(savedBytes(), Text("\x80" "a") + "x\r\n" + gbk("中") + "\xFF");
    }

    void everyByteSavesBackAsItWas()
    {
        Text bytes;
        for (int lead = 0x80; lead <= 0xFF; ++lead)
            for (const char trail : {'\x01', 'a', '\r', '\n', '0', '\x7F', '\x80', '\xFF'})
                bytes += {static_cast<char>(lead), trail};
        bytes += "\r\n\x81";
        const QString path = file("every.txt");
        writeFile(path, bytes);
        openFile(path);
        verifyBoxInStepWithItsBytes();
        QCOMPARE(box()->documentText(), bytes);
        QCOMPARE(savedBytes(), bytes);
    }

    void whatIsTypedShowsAsTheCharactersItBecomes()
    {
        // A lone last byte and a letter typed after it become one character.
        writeFile(file("lone.txt"), "ab\x81");
        openFile(file("lone.txt"));
        box()->moveCursor(QTextCursor::End);
        type(box(), "z");
        QCOMPARE(box()->documentText(), Text("ab\x81z"));
        verifyBoxInStepWithItsBytes();
        QCOMPARE(shownCharacters(box()->toPlainText()), 3);
        type(box(), "q");
        QCOMPARE(box()->documentText(), Text("ab\x81zq"));
        verifyBoxInStepWithItsBytes();

        // What GBK cannot hold shows as the '?' the document keeps.
        box()->setDocumentText("x");
        box()->moveCursor(QTextCursor::End);
        commitFromInputMethod(box(), QString::fromUtf8("😀한"));
        QCOMPARE(box()->documentText(), Text("x??"));
        verifyBoxInStepWithItsBytes();

        // A letter typed after a lone last byte joins it even in a box of one character.
        box()->setDocumentText("\x81");
        box()->moveCursor(QTextCursor::End);
        type(box(), "y");
        QCOMPARE(box()->documentText(), Text("\x81y"));
        verifyBoxInStepWithItsBytes();
        QCOMPARE(shownCharacters(box()->toPlainText()), 1);

        // Undo brings back both the typing and its joining at once.
        box()->setDocumentText("ab\x81");
        box()->moveCursor(QTextCursor::End);
        type(box(), "z");
        box()->undo();
        QCOMPARE(box()->documentText(), Text("ab\x81"));
        verifyBoxInStepWithItsBytes();
    }
};

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    EditorCharactersTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "editor_characters_test.moc"
