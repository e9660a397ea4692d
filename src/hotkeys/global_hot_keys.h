#pragma once

#include "hot_key_settings.h"

#include <QObject>
#include <QString>

#include <array>
#include <memory>

class QSocketNotifier;

namespace qinghe {

// A key as the X server knows it: a key code and the modifier mask held with it.
struct X11Key {
    unsigned keycode = 0;  // 0: the key has no code on this server
    unsigned modifiers = 0;
};

enum class GrabResult {
    Grabbed,
    Released,     // the text was empty: the action has no key now
    Invalid,      // no single key combination, or none the server has
    TakenByOther, // another program holds the key
    TakenByUs,    // another of our actions has it
    Unavailable,  // no X11 here (Wayland, offscreen)
};

// The hot keys, grabbed on the root window over the program's own X
// connection, watched on the window thread. Without X11 every grab answers
// Unavailable and the board works as before.
class GlobalHotKeys : public QObject {
    Q_OBJECT

public:
    GlobalHotKeys();
    ~GlobalHotKeys() override;

    // True when the program runs on X11 and its connection is open.
    bool available() const { return display_ != nullptr; }

    // The X code of a key text in Qt's portable form ("Ctrl+F5"); keycode 0
    // when the text is not one combination or the server has no such key.
    X11Key keyFor(const QString& keyText) const;

    // Gives action the key (releasing its old one only when the new one is
    // held); an empty text releases it.
    GrabResult assign(int action, const QString& keyText);
    QString keyOf(int action) const { return keys_[action]; }
    // The action that holds keyText, or -1.
    int actionWithKey(const QString& keyText) const;

    // Lets go of every key; the exit calls it, so other programs may take them.
    void releaseAll();

signals:
    void pressed(int action);

private:
    bool grab(const X11Key& key);
    void ungrab(const X11Key& key);
    void readEvents();

    void* display_ = nullptr;  // the Xlib Display, kept out of this header
    unsigned long root_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::array<QString, kHotKeyActionCount> keys_;
    std::array<X11Key, kHotKeyActionCount> grabbed_{};
    unsigned heldKeycode_ = 0;  // the hot key down now, whose repeats fire nothing
};

// Gives every key stored in my.ini to its action; a key another program holds
// stays stored and waits for the host to assign it again. The count grabbed.
int grabStoredHotKeys(GlobalHotKeys& hotKeys, const QString& iniPath);

}  // namespace qinghe
