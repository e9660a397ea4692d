// The editor's side of find and replace: the search step shared by the menu
// and both search windows, Replace, Replace All and opening the windows.

#include "editor_window.h"

#include "edit_box.h"
#include "editor_state.h"
#include "find_window.h"
#include "replace_window.h"

#include "runtime/message_box.h"
#include "runtime/window_runtime.h"
#include "text/gbk.h"

#include <QLineEdit>

namespace qinghe {
namespace {

constexpr const char* kFindKey = "editor/find";
constexpr const char* kReplaceKey = "editor/replace";
constexpr const char* kNotFoundOpen = "找不到‘";
constexpr const char* kNotFoundClose = "’";

// The 1-based position where the search after a match at lastFoundPos
// begins: the character after the first character of that match, so that
// overlapping matches are found, but never the second byte of a double-byte
// character, from where the search would step out of line with the text.
int nextSearchStart(const Text& document, int lastFoundPos)
{
    if (lastFoundPos < 1 || static_cast<std::size_t>(lastFoundPos) > document.size())
        return lastFoundPos + 1;
    const std::size_t at = characterStart(document, static_cast<std::size_t>(lastFoundPos) - 1);
    const std::size_t next = at + characterLength(document, at);
    return static_cast<int>(next) + 1;
}

}  // namespace

RuntimeWindow* EditorWindow::openFindWindow()
{
    return runtime_.openWindow(QString::fromLatin1(kFindKey), QString::fromLatin1(kFindWindowDefinition),
                               [this] { return new FindWindow(*this); });
}

RuntimeWindow* EditorWindow::openReplaceWindow()
{
    return runtime_.openWindow(QString::fromLatin1(kReplaceKey), QString::fromLatin1(kReplaceWindowDefinition),
                               [this] { return new ReplaceWindow(*this); });
}

void EditorWindow::showNotFound(const Text& searched)
{
    messageBox(QString::fromUtf8(kNotFoundOpen) + toQString(searched) + QString::fromUtf8(kNotFoundClose),
               kBoxOkInformation, QString::fromUtf8(kNotepadCaption));
}

void EditorWindow::activateEditor()
{
    // The box shows its selection best while it has the focus.
    raise();
    activateWindow();
    controls_.editBox->setFocus();
}

bool EditorWindow::searchFromTop(const QLineEdit* sourceBox)
{
    SearchState& state = searchState();
    const Text searched = fromQString(sourceBox->text());
    const int found = findInText(controls_.editBox->documentText(), searched, 1, state.ignoreCase);
    state.lastFoundPos = found;
    state.foundLength = static_cast<int>(searched.size());
    if (found == -1) {
        showNotFound(searched);
        return false;
    }
    controls_.editBox->selectBytes(found - 1, state.foundLength);
    state.findText = searched;
    activateEditor();
    return true;
}

bool EditorWindow::searchOn(bool fromWindow)
{
    SearchState& state = searchState();
    const Text& document = controls_.editBox->documentText();
    const int found =
        findInText(document, state.findText, nextSearchStart(document, state.lastFoundPos), state.ignoreCase);
    state.lastFoundPos = found;
    state.foundLength = static_cast<int>(state.findText.size());
    if (found == -1) {
        // The next search begins at the top again.
        showNotFound(state.findText);
        return false;
    }
    controls_.editBox->selectBytes(found - 1, state.foundLength);
    if (fromWindow)
        activateEditor();
    return true;
}

void EditorWindow::findNext(const QLineEdit* sourceBox)
{
    if (!searchState().findText.empty()) {
        searchOn(sourceBox != nullptr);
        return;
    }
    if (sourceBox == nullptr)
        openFindWindow();
    else
        searchFromTop(sourceBox);
}

void EditorWindow::replaceNext(const QLineEdit* findBox, const QLineEdit* replaceBox)
{
    SearchState& state = searchState();
    if (state.findText.empty()) {
        // The first press only finds.
        searchFromTop(findBox);
        return;
    }
    if (!searchOn(true))
        return;
    const Text replacement = fromQString(replaceBox->text());
    controls_.editBox->replaceSelection(replacement);
    controls_.editBox->selectBytes(state.lastFoundPos - 1, static_cast<int>(replacement.size()));
    activateEditor();
}

void EditorWindow::replaceAll(const QLineEdit* findBox, const QLineEdit* replaceBox)
{
    const Text& document = controls_.editBox->documentText();
    Text replaced = replaceInText(document, fromQString(findBox->text()), fromQString(replaceBox->text()),
                                  !searchState().ignoreCase);
    if (replaced != document)
        controls_.editBox->setDocumentText(replaced);
    activateEditor();
}

}  // namespace qinghe
