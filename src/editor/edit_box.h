#pragma once

#include "line_ends.h"

#include "text/text.h"

#include <QPlainTextEdit>

#include <functional>
#include <memory>

namespace qinghe {

// The editor's multi-line box. Its document is GBK bytes; the box shows them
// and the user edits them, but what the person types or pastes stops at a
// limit of bytes, while text the program puts in is never limited.
class EditBox : public QPlainTextEdit {
    Q_OBJECT

public:
    // Most bytes the person can bring the text to by typing or pasting.
    static constexpr int kTypingLimit = 200;
    // The class name window definitions use for this box.
    static constexpr const char* kClassName = "EditBox";

    explicit EditBox(QWidget* parent = nullptr);

    const Text& documentText() const;
    void setDocumentText(Text text);
    // start is a 0-based byte offset; a length of -1 selects the whole text.
    void selectBytes(int start, int length);
    void replaceSelection(const Text& text);
    // The selection's 0-based byte offset and byte length.
    int selectionStart() const;
    int selectionLength() const;
    // Removes the selection, or the character after the caret when there is none.
    void deleteForward();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    const PositionMap& positions() const;
    int byteOffsetAt(int position) const;
    // Bytes that typing may still add in place of the selection.
    int roomForInput() const;
    void forgetDocumentBytes();
    // What is put in shows as the characters its bytes make together with
    // their neighbours: a lone last byte takes the byte typed after it into
    // one character, and what GBK cannot hold shows as the '?' it becomes.
    bool insertionMayLeaveStep(const QString& inserted) const;
    void insertInStep(const QString& inserted, const std::function<void()>& insert);
    void bringInStep();

    LineEnd lineEnd_ = LineEnd::CrLf;
    mutable Text bytes_;
    mutable bool bytesKnown_ = true;
    mutable std::unique_ptr<PositionMap> positions_;
};

// Lets window definitions name the box by kClassName.
void registerEditBoxControl();

}  // namespace qinghe
