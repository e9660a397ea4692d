#include "global_hot_keys.h"

#include <QGuiApplication>
#include <QKeySequence>
#include <QSocketNotifier>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <utility>

namespace qinghe {
namespace {

constexpr const char* kX11Platform = "xcb";
// NumLock sits on Mod2 on every common keyboard map; with CapsLock these two
// change nothing the host means, so each key is grabbed with and without them.
constexpr unsigned kNumLockMask = Mod2Mask;
constexpr std::array<unsigned, 4> kLockVariants{0, LockMask, kNumLockMask, LockMask | kNumLockMask};
constexpr unsigned kMeaningfulModifiers = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;

// Set by the error handler while a grab is checked; grabs run on the window thread only.
bool grabRefused = false;

int noteGrabError(Display*, XErrorEvent* error)
{
    if (error->error_code == BadAccess)
        grabRefused = true;
    return 0;
}

Display* xDisplay(void* display)
{
    return static_cast<Display*>(display);
}

KeySym keySymFor(Qt::Key key)
{
    static const std::pair<Qt::Key, KeySym> kNamedKeys[] = {
        {Qt::Key_Escape, XK_Escape},     {Qt::Key_Tab, XK_Tab},         {Qt::Key_Backspace, XK_BackSpace},
        {Qt::Key_Return, XK_Return},     {Qt::Key_Enter, XK_KP_Enter},  {Qt::Key_Insert, XK_Insert},
        {Qt::Key_Delete, XK_Delete},     {Qt::Key_Pause, XK_Pause},     {Qt::Key_Print, XK_Print},
        {Qt::Key_Home, XK_Home},         {Qt::Key_End, XK_End},         {Qt::Key_Left, XK_Left},
        {Qt::Key_Up, XK_Up},             {Qt::Key_Right, XK_Right},     {Qt::Key_Down, XK_Down},
        {Qt::Key_PageUp, XK_Page_Up},    {Qt::Key_PageDown, XK_Page_Down}, {Qt::Key_Space, XK_space},
        {Qt::Key_ScrollLock, XK_Scroll_Lock}, {Qt::Key_Menu, XK_Menu},
    };
    for (const auto& [qtKey, sym] : kNamedKeys)
        if (qtKey == key)
            return sym;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return XK_F1 + (key - Qt::Key_F1);
    // Latin-1 keys share their code with the key symbol; X names letters by their small form.
    if (key >= Qt::Key_Space && key <= Qt::Key_ydiaeresis) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return XK_a + (key - Qt::Key_A);
        return static_cast<KeySym>(key);
    }
    return NoSymbol;
}

}  // namespace

GlobalHotKeys::GlobalHotKeys()
{
    if (QGuiApplication::platformName() != QLatin1String(kX11Platform))
        return;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return;
    display_ = display;
    root_ = DefaultRootWindow(display);
    // Without this a held key repeats as release-press pairs; with it only the
    // presses repeat, and readEvents lets a held key fire once.
    XkbSetDetectableAutoRepeat(display, True, nullptr);
    notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &GlobalHotKeys::readEvents);
}

GlobalHotKeys::~GlobalHotKeys()
{
    releaseAll();
    notifier_.reset();
    if (display_)
        XCloseDisplay(xDisplay(display_));
}

X11Key GlobalHotKeys::keyFor(const QString& keyText) const
{
    X11Key key;
    const QKeySequence sequence = QKeySequence::fromString(keyText, QKeySequence::PortableText);
    if (display_ == nullptr || sequence.count() != 1)
        return key;
    const QKeyCombination combination = sequence[0];
    const KeySym sym = keySymFor(combination.key());
    if (sym == NoSymbol)
        return key;
    key.keycode = XKeysymToKeycode(xDisplay(display_), sym);
    const Qt::KeyboardModifiers held = combination.keyboardModifiers();
    if (held & Qt::ShiftModifier)
        key.modifiers |= ShiftMask;
    if (held & Qt::ControlModifier)
        key.modifiers |= ControlMask;
    if (held & Qt::AltModifier)
        key.modifiers |= Mod1Mask;
    if (held & Qt::MetaModifier)
        key.modifiers |= Mod4Mask;
    return key;
}

int GlobalHotKeys::actionWithKey(const QString& keyText) const
{
    const QString normal = QKeySequence::fromString(keyText, QKeySequence::PortableText).toString(QKeySequence::PortableText);
    for (int action = 0; action < kHotKeyActionCount; ++action)
        if (!keys_[action].isEmpty() && keys_[action] == normal)
            return action;
    return -1;
}

GrabResult GlobalHotKeys::assign(int action, const QString& keyText)
{
    if (action < 0 || action >= kHotKeyActionCount)
        return GrabResult::Invalid;
    if (keyText.trimmed().isEmpty()) {
        ungrab(grabbed_[action]);
        grabbed_[action] = {};
        keys_[action].clear();
        return GrabResult::Released;
    }
    if (display_ == nullptr)
        return GrabResult::Unavailable;
    const X11Key key = keyFor(keyText);
    if (key.keycode == 0)
        return GrabResult::Invalid;
    const int holder = actionWithKey(keyText);
    if (holder == action)
        return GrabResult::Grabbed;
    if (holder >= 0)
        return GrabResult::TakenByUs;
    if (!grab(key))
        return GrabResult::TakenByOther;
    ungrab(grabbed_[action]);
    grabbed_[action] = key;
    keys_[action] = QKeySequence::fromString(keyText, QKeySequence::PortableText).toString(QKeySequence::PortableText);
    return GrabResult::Grabbed;
}

void GlobalHotKeys::releaseAll()
{
    for (int action = 0; action < kHotKeyActionCount; ++action) {
        ungrab(grabbed_[action]);
        grabbed_[action] = {};
        keys_[action].clear();
    }
}

bool GlobalHotKeys::grab(const X11Key& key)
{
    Display* display = xDisplay(display_);
    // Another client's grab shows only as an error, which comes back with the sync.
    XSync(display, False);
    grabRefused = false;
    XErrorHandler previous = XSetErrorHandler(&noteGrabError);
    for (unsigned locks : kLockVariants)
        XGrabKey(display, static_cast<int>(key.keycode), key.modifiers | locks, root_, False, GrabModeAsync,
                 GrabModeAsync);
    XSync(display, False);
    XSetErrorHandler(previous);
    if (grabRefused) {
        // The variants that did succeed are ours; let them go so nothing half-grabbed stays.
        ungrab(key);
        return false;
    }
    return true;
}

void GlobalHotKeys::ungrab(const X11Key& key)
{
    if (display_ == nullptr || key.keycode == 0)
        return;
    Display* display = xDisplay(display_);
    for (unsigned locks : kLockVariants)
        XUngrabKey(display, static_cast<int>(key.keycode), key.modifiers | locks, root_);
    XFlush(display);
}

void GlobalHotKeys::readEvents()
{
    Display* display = xDisplay(display_);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == KeyRelease && event.xkey.keycode == heldKeycode_)
            heldKeycode_ = 0;
        if (event.type != KeyPress || event.xkey.keycode == heldKeycode_)
            continue;
        heldKeycode_ = event.xkey.keycode;
        const unsigned modifiers = event.xkey.state & kMeaningfulModifiers;
        for (int action = 0; action < kHotKeyActionCount; ++action)
            if (grabbed_[action].keycode == event.xkey.keycode && grabbed_[action].modifiers == modifiers)
                emit pressed(action);
    }
}

int grabStoredHotKeys(GlobalHotKeys& hotKeys, const QString& iniPath)
{
    const HotKeyTexts keys = readHotKeys(iniPath);
    int grabbed = 0;
    for (int action = 0; action < kHotKeyActionCount; ++action)
        if (!keys[action].isEmpty() && hotKeys.assign(action, keys[action]) == GrabResult::Grabbed)
            ++grabbed;
    return grabbed;
}

}  // namespace qinghe
