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

// The box's mark between paragraphs, which holds a line end of the document.
constexpr char16_t kParagraphSeparator = 0x2029;

// A box character whose bytes are one lead byte, which takes the byte after it.
bool standsForLoneLeadByte(QChar c)
{
    if (c.isSurrogate())
        return false;
    const Text bytes = fromQString(QString(c));
    return bytes.size() == 1 && isLeadByte(bytes[0]);
}

// A box character (one or two units) that its bytes give back as it is and
// that ends at the end of its bytes, so nothing around it changes what it shows.
bool isSettled(const QString& character)
{
    // A break of the box is the document's own line end.
    if (character.size() == 1 && (character[0].unicode() == kParagraphSeparator || character[0] == QLatin1Char('\n')))
        return true;
    const Text bytes = fromQString(character);
    if (bytes.size() == 1)
        return !isLeadByte(bytes[0]) && bytes[0] != '\r' && bytes[0] != '\n'
               && character == QString(QLatin1Char(bytes[0]));
    return bytes.size() == 2 && toQString(bytes) == character;
}

}  // namespace

EditBox::EditBox(QWidget* parent) : QPlainTextEdit(parent)
{
    // Tab leaves the box instead of typing a tab character.
    setTabChangesFocus(true);
    setAcceptDrops(false);
    connect(document(), &QTextDocument::contentsChange, this, [this] { forgetDocumentBytes(); });
}

bool EditBox::insertionMayLeaveStep(const QString& inserted) const
{
    const QTextDocument* doc = document();
    const QTextCursor cursor = textCursor();
    const int from = cursor.selectionStart();
    const int to = cursor.selectionEnd();
    // The last position holds the box's closing paragraph mark, no character.
    const int end = doc->characterCount() - 1;
    const auto isMarkerAt = [doc](int position) {
        const char16_t c = doc->characterAt(position).unicode();
        return c == kCrMarker || c == kLfMarker;
    };
    // Markers hold their break's bytes, so what goes in next to them is checked whole.
    if ((from > 0 && isMarkerAt(from - 1)) || (to < end && isMarkerAt(to)))
        return true;
    if (from > 0 && standsForLoneLeadByte(doc->characterAt(from - 1)))
        return true;
    for (qsizetype i = 0; i < inserted.size();) {
        const qsizetype length = inserted[i].isHighSurrogate() && i + 1 < inserted.size() ? 2 : 1;
        if (!isSettled(inserted.mid(i, length)))
            return true;
        i += length;
    }
    return false;
}

void EditBox::insertInStep(const QString& inserted, const std::function<void()>& insert)
{
    if (!insertionMayLeaveStep(inserted)) {
        insert();
        return;
    }
    // One undo step for what went in and what it made of its neighbours.
    QTextCursor block(document());
    block.beginEditBlock();
    insert();
    bringInStep();
    block.endEditBlock();
}

void EditBox::bringInStep()
{
    // Inside an edit block the box has not yet said that its text changed.
    forgetDocumentBytes();
    QString shown = document()->toRawText();
    shown.replace(QChar(kParagraphSeparator), QLatin1Char('\n'));
    const QString wanted = toEditText(documentText(), lineEnd_);
    if (shown == wanted)
        return;
    // Replace only what differs, never splitting a character of two units.
    qsizetype head = 0;
    const qsizetype shorter = std::min(shown.size(), wanted.size());
    while (head < shorter && shown[head] == wanted[head])
        ++head;
    if (head > 0 && shown[head - 1].isHighSurrogate())
        --head;
    qsizetype tail = 0;
    while (tail < shorter - head && shown[shown.size() - 1 - tail] == wanted[wanted.size() - 1 - tail])
        ++tail;
    if (tail > 0 && shown[shown.size() - tail].isLowSurrogate())
        --tail;
    QTextCursor cursor(document());
    cursor.setPosition(static_cast<int>(head));
    cursor.setPosition(static_cast<int>(shown.size() - tail), QTextCursor::KeepAnchor);
    cursor.insertText(wanted.mid(head, wanted.size() - tail - head));
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
    const QString shown = toEditText(text, lineEnd_);
    insertInStep(shown, [&] { cursor.insertText(shown); });
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
        insertInStep(QStringLiteral("\n"), [&] { QPlainTextEdit::keyPressEvent(&plainBreak); });
        event->setAccepted(plainBreak.isAccepted());
        return;
    }
    if (typesText(event)) {
        if (static_cast<int>(fromQString(event->text()).size()) > roomForInput())
            event->accept();
        else
            insertInStep(event->text(), [&] { QPlainTextEdit::keyPressEvent(event); });
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
        insertInStep(event->commitString(), [&] { QPlainTextEdit::inputMethodEvent(event); });
        return;
    }
    QInputMethodEvent cut(event->preeditString(), event->attributes());
    cut.setCommitString(toQString(std::string_view(committed).substr(0, kept)), event->replacementStart(),
                        event->replacementLength());
    insertInStep(cut.commitString(), [&] { QPlainTextEdit::inputMethodEvent(&cut); });
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
