#pragma once

// What the windows that set hot keys share: the key the host pressed in a
// key field, the sounds named as the host knows them, and the questions and
// refusals a change brings, all asked the same way wherever a key is set.

#include "hotkeys/global_hot_keys.h"

#include <QString>

#include <functional>

class QKeySequenceEdit;

namespace qinghe {

// The caption a custom slot (1..18) shows on the board; empty while nothing is bound to it.
using SlotCaption = std::function<QString(int slot)>;

// The sound an action plays as the host knows it: a slot by its caption
// (its name in my.ini while it has none), a built-in effect by its caption.
QString hotKeySoundName(int action, const SlotCaption& slotCaption);

// Lets field tell a key on the keypad from the same key on the main
// keyboard, which it records alike.
void watchKeypad(QKeySequenceEdit* field);

// The first combination the host pressed in field: Qt's portable text, and as shown to the host.
struct PressedKey {
    QString text;
    QString shown;
};
PressedKey pressedKey(const QKeySequenceEdit* field);

// Gives action the key (empty: none) as changeHotKey does, asking the host
// before a key moves from another sound and showing any refusal in a box.
HotKeyChange changeHotKeyAsking(GlobalHotKeys& hotKeys, const QString& iniPath, int action, const QString& keyText,
                                const QString& shownKey, const SlotCaption& slotCaption);

}  // namespace qinghe
