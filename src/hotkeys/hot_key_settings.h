#pragma once

#include <QString>

#include <array>

namespace qinghe {

// The board's custom slots, each of which may have a hot key.
inline constexpr int kHotKeySlotCount = 18;
// The actions a hot key can fire: the custom slots 1..18, then "停止播放".
inline constexpr int kHotKeyActionCount = kHotKeySlotCount + 1;
inline constexpr int kStopHotKeyAction = kHotKeySlotCount;

// my.ini's name for an action: "按钮1".."按钮18" or "停止播放".
QString hotKeyName(int action);

// Every action's key in Qt's portable key text; empty: none.
using HotKeyTexts = std::array<QString, kHotKeyActionCount>;

// The keys stored in my.ini under [热键].
HotKeyTexts readHotKeys(const QString& iniPath);
// Stores one action's key (empty: none); false when my.ini cannot be written.
bool writeHotKey(const QString& iniPath, int action, const QString& keyText);

}  // namespace qinghe
