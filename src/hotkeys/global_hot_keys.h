#pragma once

#include "hot_key_settings.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace qinghe {

class PortalShortcuts;

// How hot keys reach the program while another one has the focus.
enum class HotKeyRoute {
    Unavailable,  // no way here: the host binds the remote's commands in the desktop's own settings
    X11Grabs,     // key grabs on the X server
    Portal,       // the desktop's shortcuts portal, on Wayland
};

// A key as the X server knows it: a key code and the modifier mask held with it.
struct X11Key {
    unsigned keycode = 0;  // 0: the key has no code on this server
    unsigned modifiers = 0;
};

enum class GrabResult {
    Grabbed,
    Proposed,     // handed to the desktop's portal, which has the last word
    Released,     // the text was empty: the action has no key now
    Invalid,      // no single key combination, or none the server has
    TakenByOther, // another program holds the key
    TakenByUs,    // another of our actions has it
    Unsafe,       // typing would set it off in every other program: see typingSafeHotKey
    Unavailable,  // no X11 here (Wayland, offscreen)
};

// The hot keys: on X11 grabbed on the root window over the program's own X
// connection, on Wayland bound by the desktop's shortcuts portal; either way
// watched on the window thread. Without either every grab answers
// Unavailable and the board works as before.
class GlobalHotKeys : public QObject {
    Q_OBJECT

public:
    // The route the platform offers: grabs on X11, the portal on Wayland.
    GlobalHotKeys();
    // A route chosen by the caller; the portal is asked on the given bus.
    explicit GlobalHotKeys(HotKeyRoute route, QDBusConnection bus = QDBusConnection::sessionBus());
    ~GlobalHotKeys() override;

    // Unavailable also once the portal has said it offers no shortcuts, or refused them.
    HotKeyRoute route() const;
    bool available() const { return route() != HotKeyRoute::Unavailable; }
    // The portal's session, for what it answered; null off the portal route.
    const PortalShortcuts* portal() const { return portal_.get(); }

    // The X code of a key text in Qt's portable form ("Ctrl+F5"); keycode 0
    // when the text is not one combination or the server has no such key.
    X11Key keyFor(const QString& keyText) const;

    // Gives action the key (releasing its old one only when the new one is
    // held); an empty text releases it. With the portal the key is proposed
    // to the desktop, together with the others, in a new session. A key
    // typingSafeHotKey refuses is never taken, on either route.
    GrabResult assign(int action, const QString& keyText);
    // Hands the key action from holds to action to, which lets go of its
    // own; the key is never let go of in between, so no other program can
    // take it meanwhile. Invalid when from holds none.
    GrabResult moveKey(int from, int to);
    // The key the program holds (X11) or proposed (portal) for action.
    QString keyOf(int action) const { return keys_[action]; }
    // The key that fires action now: the grabbed one, or the trigger the
    // desktop reports (Qt's portable text where it reads as one key, else the
    // desktop's own words), or the proposal while the desktop has not answered.
    QString activeKeyOf(int action) const;
    // The action that holds keyText, or -1.
    int actionWithKey(const QString& keyText) const;

    // Lets go of every key and closes the portal's session; the exit calls
    // it, so other programs may take them.
    void releaseAll();

signals:
    void pressed(int action);
    // The route, a key the program holds, or a key the desktop reports has changed.
    void changed();

private:
    void openDisplay();
    GrabResult propose(int action, const QString& keyText);
    void proposeToPortal();
    void portalActivated(const QString& id);
    bool grab(const X11Key& key);
    void ungrab(const X11Key& key);
    void readEvents();

    void* display_ = nullptr;  // the Xlib Display, kept out of this header
    unsigned long root_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<QString> keys_ = std::vector<QString>(hotKeyActionTotal());
    std::vector<X11Key> grabbed_ = std::vector<X11Key>(hotKeyActionTotal());
    unsigned heldKeycode_ = 0;  // the hot key down now, whose repeats fire nothing
    std::unique_ptr<PortalShortcuts> portal_;
    bool proposalQueued_ = false;  // changes within one turn of the loop go to the desktop as one
};

// True when keyText is one key combination that typing in another program
// cannot set off: one with Ctrl, Alt or Win held, or F1–F24, a media key or
// a keypad key alone. Every key the program takes passes here first.
bool typingSafeHotKey(const QString& keyText);

// A key in Qt's portable text ("Ctrl+F5") as the shortcuts portal writes a
// trigger ("CTRL+F5": modifiers, then the key's XKB name); empty when the
// text is not one key combination the program knows.
QString portalTriggerFor(const QString& keyText);
// A trigger as a desktop reports it, in Qt's portable text where it reads
// as one key combination (Qt's form or the portal's); empty otherwise.
QString keyTextForTrigger(const QString& trigger);
// The program as the host names it in a command bound in the desktop's own
// shortcut settings ("qinghe --play-slot 3"): its name where the search path
// finds this very program, else its full path.
QString remoteProgram();

// What came of a key the host gave an action: the grab's answer, whether
// my.ini keeps the key, and what the host is to be told (empty: nothing).
struct HotKeyChange {
    GrabResult result = GrabResult::Unavailable;
    bool stored = true;
    QString message;
};
// What changeHotKey asks the window: an action's sound as the host knows
// it, and the host's answer to a question (true: 是).
struct HotKeyQuestions {
    std::function<QString(int action)> soundName;
    std::function<bool(const QString& question)> confirm;
};
// Gives action the key the host pressed (Qt's portable text; empty: none)
// and stores what the program then holds under [热键]; a key given up is
// taken out of my.ini. A key another of our sounds holds is moved when the
// host confirms it, the other sound losing it. A key that is not taken is
// not stored, and message says why in the host's words, naming the key as
// shownKey.
HotKeyChange changeHotKey(GlobalHotKeys& hotKeys, const QString& iniPath, int action, const QString& keyText,
                          const QString& shownKey, const HotKeyQuestions& ask = {});

// Gives every key stored in my.ini to its action; a key another program holds,
// or one typing would set off, stays stored but is not taken, and waits for
// the host to assign it again. The count grabbed or proposed.
int grabStoredHotKeys(GlobalHotKeys& hotKeys, const QString& iniPath);

}  // namespace qinghe
