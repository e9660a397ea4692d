#pragma once

#include "runtime/runtime_window.h"
#include "search/sound_search.h"

#include <functional>
#include <vector>

class QLineEdit;
class QListWidget;

namespace qinghe {

class SoundSearchWindow;
class WindowRuntime;

inline constexpr const char* kSoundSearchWindowDefinition = ":/ui/sound_search_window.ui";

// Plays an entry the way a click on its board button does.
using PlayEntry = std::function<void(const SearchEntry& entry)>;

// Opens "查找音效" (the main window's Ctrl+F), or brings the open one forward
// with these entries and its field selected. Use from the main window:
//
//     openSoundSearchWindow(runtime, boardSearchEntries(slotCaption),
//                           [this](const SearchEntry& e) { clickBoardButton(e.control); });
//
// where slotCaption gives a slot's caption (empty while unbound) and the
// callback clicks the button named e.control. The window knows nothing else
// of the board. Returns null when the definition cannot be loaded (the
// run-time has then shown its fatal error). Link qinghe_search_window; its
// definition is among ":/ui", so the window fitting test opens it too.
SoundSearchWindow* openSoundSearchWindow(WindowRuntime& runtime, std::vector<SearchEntry> entries, PlayEntry play);

// A field and a list: typing filters the list; Up and Down choose, Enter (or
// a double click) plays the chosen sound and the window stays; Esc closes.
class SoundSearchWindow : public RuntimeWindow {
    Q_OBJECT

public:
    SoundSearchWindow(std::vector<SearchEntry> entries, PlayEntry play);

    // New entries (a slot renamed, bound or cleared); the list follows the field.
    void setEntries(std::vector<SearchEntry> entries);
    // The field's text selected and focused, ready for the next search.
    void focusField();

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Controls {
        QLineEdit* field = nullptr;   // 查找框
        QListWidget* list = nullptr;  // 结果列表
    };

    void showMatches();
    void moveChoice(int step);
    void playChoice();

    Controls controls_;
    SoundSearch search_;
    std::vector<std::size_t> shown_;  // entry index of each list row
    PlayEntry play_;
};

}  // namespace qinghe
