#pragma once

// The menu a right click opens on a board button: the sound's own volume,
// hot key, loop, fades and 背景音乐, and on a custom slot its name, its file
// and clearing it.

#include "board/custom_sound_tables.h"
#include "board/sound_catalogue.h"
#include "board/sound_style.h"
#include "text/text.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QPushButton;

namespace qinghe {

class GlobalHotKeys;
class SoundBoard;
class WindowRuntime;

// The menu's items, as they read.
inline constexpr const char* kVolumeItem = "音量…";
inline constexpr const char* kHotKeyItem = "热键…";
inline constexpr const char* kLoopItem = "循环播放";
inline constexpr const char* kFadeItem = "淡入淡出…";
inline constexpr const char* kMusicBedItem = "背景音乐";
inline constexpr const char* kRenameItem = "重命名…";
inline constexpr const char* kChangeFileItem = "更换声音文件…";
inline constexpr const char* kClearItem = "清除";

// The name box of a custom slot, opening with prefill; nullopt: cancelled.
std::optional<Text> askSlotName(const Text& prefill);

// What the menus work with; the main window owns all of it.
struct SoundMenuContext {
    WindowRuntime& runtime;
    SoundBoard& board;
    const CustomSoundTables& customSounds;
    QString settingsFile;          // my.ini
    GlobalHotKeys* hotKeys = nullptr;  // null: the hot-key window says keys are unavailable
};

// Gives every button it watches the menu, on a right click or the menu key.
class SoundMenus : public QObject {
    Q_OBJECT

public:
    SoundMenus(QObject* parent, SoundMenuContext context);

    // entry: the button's catalogue entry, an effect or a custom slot; it outlives the menus.
    void watch(QPushButton* button, const BoardButton& entry);

private:
    void openMenu(QPushButton* button, const BoardButton& entry, const QPoint& at);
    QString soundName(const BoardButton& entry) const;
    void askVolume(const BoardButton& entry);
    void askHotKey(const BoardButton& entry);
    void askFades(const BoardButton& entry);
    // The sound's style with change made to it, kept; the host hears when my.ini would not keep it.
    void changeStyle(const Text& soundKey, const std::function<void(SoundStyle&)>& change);
    void rename(int slot);
    void clear(int slot);

    SoundMenuContext context_;
};

}  // namespace qinghe
