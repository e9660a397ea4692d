#pragma once

#include <QString>

#include <vector>

namespace qinghe {

// The board's custom slots, each of which may have a hot key.
inline constexpr int kHotKeySlotCount = 18;
// The actions 声音设置 always lists: the custom slots 1..18, then "停止播放".
inline constexpr int kHotKeyActionCount = kHotKeySlotCount + 1;
inline constexpr int kStopHotKeyAction = kHotKeySlotCount;
// Past them, one action for each built-in effect's caption, in the
// catalogue's order, listed there once it has a key; an effect that stands
// on two pages is one action.
inline constexpr int kFirstEffectHotKeyAction = kHotKeyActionCount;

// Every action a hot key can fire, the effects' included.
int hotKeyActionTotal();
// The action of the built-in effect with this caption, or -1.
int effectHotKeyAction(const QString& caption);
// The action of custom slot 1..18.
inline int slotHotKeyAction(int slot) { return slot - 1; }

// my.ini's name for an action: "按钮1".."按钮18", "停止播放", or the effect's caption.
QString hotKeyName(int action);

// Every action's key in Qt's portable key text, by action; empty: none.
using HotKeyTexts = std::vector<QString>;

// The keys stored in my.ini under [热键].
HotKeyTexts readHotKeys(const QString& iniPath);
// Stores one action's key (empty: none); false when my.ini cannot be written.
bool writeHotKey(const QString& iniPath, int action, const QString& keyText);
// Takes the action's key out of my.ini; false when my.ini cannot be written.
bool removeHotKey(const QString& iniPath, int action);

}  // namespace qinghe
