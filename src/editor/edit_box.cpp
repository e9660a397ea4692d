#include "edit_box.h"

#include "runtime/window_definition.h"
#include "text/gbk.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QRegularExpression>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace qinghe {
namespace {

// Modifiers under which a key no longer types its text.
constexpr Qt::KeyboardModifiers kCommandModifiers = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

bool isLineBreakKey(const QKeyEvent* event)
{
    return event->matches(QKeySequence::InsertParagraphSeparator)
           || event->matches(QKeySequence::InsertLineSeparator);
}

bool typesText(const QKeyEvent* event)
{
    const QString text = event->text();
    return !text.isEmpty() && text.at(0).isPrint() && (event->modifiers() & kCommandModifiers) == 0;
}

}  // namespace

EditBox::EditBox(QWidget* parent) : QPlainTextEdit(parent)
{
    // Tab leaves the box instead of typing a tab character.
    setTabChangesFocus(true);
    setAcceptDrops(false);
    connect(document(), &QTextDocument::contentsChange, this, [this] { forgetDocumentBytes(); });
}

void EditBox::forgetDocumentBytes()
{
    bytesKnown_ = false;
    bytes_.clear();
    positions_.reset();
}

const Text& EditBox::documentText() const
{
    if (!bytesKnown_) {
        bytes_ = fromEditText(document()->toRawText(), lineEnd_);
        bytesKnown_ = true;
        positions_.reset();
    }
    return bytes_;
}

const PositionMap& EditBox::positions() const
{
    const Text& bytes = documentText();
    if (!positions_)
        positions_ = std::make_unique<PositionMap>(bytes, lineEnd_);
    return *positions_;
}

int EditBox::byteOffsetAt(int position) const { return positions().byteOffsetOf(position); }

void EditBox::setDocumentText(Text text)
{
    lineEnd_ = firstLineEnd(text, lineEnd_);
    setPlainText(toEditText(text, lineEnd_));
    bytes_ = std::move(text);
    bytesKnown_ = true;
    positions_.reset();
}

void EditBox::selectBytes(int start, int length)
{
    if (length < 0) {
        selectAll();
        return;
    }
    const PositionMap& map = positions();
    const auto from = static_cast<std::size_t>(std::max(start, 0));
    const int anchor = map.positionOf(from, PositionMap::Rounding::Down);
    const int end = map.positionOf(from + static_cast<std::size_t>(length), PositionMap::Rounding::Up);
    const int last = document()->characterCount() - 1;
    QTextCursor cursor(document());
    cursor.setPosition(std::min(anchor, last));
    cursor.setPosition(std::min(end, last), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void EditBox::replaceSelection(const Text& text)
{
    QTextCursor cursor = textCursor();
    cursor.insertText(toEditText(text, lineEnd_));
    setTextCursor(cursor);
    ensureCursorVisible();
}

int EditBox::selectionStart() const { return byteOffsetAt(textCursor().selectionStart()); }

int EditBox::selectionLength() const
{
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection())
        return 0;
    const int start = byteOffsetAt(cursor.selectionStart());
    return byteOffsetAt(cursor.selectionEnd()) - start;
}

void EditBox::deleteForward()
{
    QTextCursor cursor = textCursor();
    cursor.deleteChar();
    setTextCursor(cursor);
}

int EditBox::roomForInput() const
{
    const int held = static_cast<int>(documentText().size());
    return kTypingLimit - (held - selectionLength());
}

bool EditBox::event(QEvent* event)
{
    // The Del key belongs to the window's Delete command, as its menu shows.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            event->ignore();
            return true;
        }
    }
    return QPlainTextEdit::event(event);
}

void EditBox::keyPressEvent(QKeyEvent* event)
{
    // Tab only ever moves the focus; with nowhere to go it does nothing.
    if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)
        && (event->modifiers() & kCommandModifiers) == 0) {
        event->ignore();
        return;
    }
    if (isLineBreakKey(event)) {
        if (lineEndBytes(lineEnd_) > roomForInput()) {
            event->accept();
            return;
        }
        // Every typed break is a line end of the document, never a soft break.
        QKeyEvent plainBreak(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QPlainTextEdit::keyPressEvent(&plainBreak);
        event->setAccepted(plainBreak.isAccepted());
        return;
    }
    if (typesText(event) && static_cast<int>(fromQString(event->text()).size()) > roomForInput()) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void EditBox::inputMethodEvent(QInputMethodEvent* event)
{
    if (event->commitString().isEmpty()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    const Text committed = fromQString(event->commitString());
    const std::size_t room = static_cast<std::size_t>(std::max(roomForInput(), 0));
    const std::size_t kept = fittingPrefix(committed, room);
    if (kept == committed.size()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent cut(event->preeditString(), event->attributes());
    cut.setCommitString(toQString(std::string_view(committed).substr(0, kept)), event->replacementStart(),
                        event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&cut);
    event->accept();
}

void EditBox::insertFromMimeData(const QMimeData* source)
{
    if (source == nullptr || !source->hasText())
        return;
    // Pasted line breaks become the document's own; the paste ends at a zero character.
    static const QRegularExpression anyBreak(QStringLiteral("\r\n|\r|\n"));
    QString pasted = source->text();
    pasted.replace(anyBreak, QStringLiteral("\n"));
    const Text bytes = textUpToZero(fromEditText(pasted, lineEnd_));
    const std::size_t room = static_cast<std::size_t>(std::max(roomForInput(), 0));
    const std::size_t kept = fittingPrefix(bytes, room);
    if (kept == 0 && !bytes.empty())
        return;
    replaceSelection(bytes.substr(0, kept));
}

QMimeData* EditBox::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection())
        return QPlainTextEdit::createMimeDataFromSelection();
    const int start = byteOffsetAt(cursor.selectionStart());
    const int end = byteOffsetAt(cursor.selectionEnd());
    auto* data = new QMimeData;
    data->setText(toQString(std::string_view(documentText()).substr(static_cast<std::size_t>(start),
                                                                   static_cast<std::size_t>(end - start))));
    return data;
}

void registerEditBoxControl()
{
    registerControlKind(QString::fromLatin1(EditBox::kClassName),
                        [](QWidget* parent) -> QWidget* { return new EditBox(parent); });
}

}  // namespace qinghe
