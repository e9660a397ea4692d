#include "global_hot_keys.h"

#include "portal_shortcuts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeySequence>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <utility>

namespace qinghe {
namespace {

constexpr const char* kX11Platform = "xcb";
constexpr const char* kWaylandPlatform = "wayland";
// The installed program's name, as a desktop's shortcut settings would run it.
constexpr const char* kProgramName = "qinghe";
// The shortcut ids the portal knows the actions by: "slot1".."slot18",
// "stop", and "effect-" with the hex of an effect caption's UTF-8, which
// stays the same whatever the catalogue's order.
constexpr const char* kSlotIdPrefix = "slot";
constexpr const char* kStopId = "stop";
constexpr const char* kEffectIdPrefix = "effect-";
// The host's words for a key the program could not take.
constexpr const char* kKeyTakenByOther = "热键“%1”已被其他程序占用，请换一个键。";
constexpr const char* kKeyInvalid = "“%1”不能用作热键，请换一个键。";
constexpr const char* kKeyNotSaved = "热键无法写入 my.ini，下次启动时不会保留。";
constexpr const char* kKeyTypingUnsafe = "这个键在打字时也会触发，请加上 Ctrl、Alt 或 Win 键。";
constexpr const char* kKeyUsedBy = "%1 已用于 %2";
constexpr const char* kMoveQuestion = "\n改用于 %1 吗？%2 将不再有这个热键。";
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

constexpr std::pair<Qt::Key, KeySym> kNamedKeys[] = {
    {Qt::Key_Escape, XK_Escape},     {Qt::Key_Tab, XK_Tab},         {Qt::Key_Backspace, XK_BackSpace},
    {Qt::Key_Return, XK_Return},     {Qt::Key_Enter, XK_KP_Enter},  {Qt::Key_Insert, XK_Insert},
    {Qt::Key_Delete, XK_Delete},     {Qt::Key_Pause, XK_Pause},     {Qt::Key_Print, XK_Print},
    {Qt::Key_Home, XK_Home},         {Qt::Key_End, XK_End},         {Qt::Key_Left, XK_Left},
    {Qt::Key_Up, XK_Up},             {Qt::Key_Right, XK_Right},     {Qt::Key_Down, XK_Down},
    {Qt::Key_PageUp, XK_Page_Up},    {Qt::Key_PageDown, XK_Page_Down}, {Qt::Key_Space, XK_space},
    {Qt::Key_ScrollLock, XK_Scroll_Lock}, {Qt::Key_Menu, XK_Menu},
};

// Keys typing never sends, which may stand alone as a global key.
constexpr std::pair<Qt::Key, KeySym> kMediaKeys[] = {
    {Qt::Key_VolumeDown, XF86XK_AudioLowerVolume}, {Qt::Key_VolumeMute, XF86XK_AudioMute},
    {Qt::Key_VolumeUp, XF86XK_AudioRaiseVolume},   {Qt::Key_MediaPlay, XF86XK_AudioPlay},
    {Qt::Key_MediaStop, XF86XK_AudioStop},         {Qt::Key_MediaPrevious, XF86XK_AudioPrev},
    {Qt::Key_MediaNext, XF86XK_AudioNext},         {Qt::Key_MediaRecord, XF86XK_AudioRecord},
    {Qt::Key_MediaPause, XF86XK_AudioPause},
};
constexpr Qt::Key kLastSafeFunctionKey = Qt::Key_F24;

// Qt marks a keypad key by a modifier on the main keyboard's key; X names
// it apart, so "Num+5" is the keypad's 5 and never the digit row's.
constexpr std::pair<Qt::Key, KeySym> kKeypadKeys[] = {
    {Qt::Key_Asterisk, XK_KP_Multiply}, {Qt::Key_Plus, XK_KP_Add},       {Qt::Key_Minus, XK_KP_Subtract},
    {Qt::Key_Period, XK_KP_Decimal},    {Qt::Key_Slash, XK_KP_Divide},   {Qt::Key_Comma, XK_KP_Separator},
    {Qt::Key_Equal, XK_KP_Equal},       {Qt::Key_Enter, XK_KP_Enter},    {Qt::Key_Home, XK_KP_Home},
    {Qt::Key_End, XK_KP_End},           {Qt::Key_Left, XK_KP_Left},      {Qt::Key_Up, XK_KP_Up},
    {Qt::Key_Right, XK_KP_Right},       {Qt::Key_Down, XK_KP_Down},      {Qt::Key_PageUp, XK_KP_Prior},
    {Qt::Key_PageDown, XK_KP_Next},     {Qt::Key_Insert, XK_KP_Insert},  {Qt::Key_Delete, XK_KP_Delete},
    {Qt::Key_Clear, XK_KP_Begin},
};

template <std::size_t N>
KeySym symIn(const std::pair<Qt::Key, KeySym> (&table)[N], Qt::Key key)
{
    for (const auto& [qtKey, sym] : table)
        if (qtKey == key)
            return sym;
    return NoSymbol;
}

template <std::size_t N>
Qt::Key keyIn(const std::pair<Qt::Key, KeySym> (&table)[N], KeySym sym)
{
    for (const auto& [qtKey, named] : table)
        if (named == sym)
            return qtKey;
    return Qt::Key_unknown;
}

KeySym keySymFor(QKeyCombination combination)
{
    const Qt::Key key = combination.key();
    if (combination.keyboardModifiers() & Qt::KeypadModifier) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            return XK_KP_0 + (key - Qt::Key_0);
        return symIn(kKeypadKeys, key);
    }
    if (const KeySym sym = symIn(kNamedKeys, key); sym != NoSymbol)
        return sym;
    if (const KeySym sym = symIn(kMediaKeys, key); sym != NoSymbol)
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

QKeyCombination qtKeyFor(KeySym sym)
{
    if (sym >= XK_KP_0 && sym <= XK_KP_9)
        return QKeyCombination(Qt::KeypadModifier, static_cast<Qt::Key>(Qt::Key_0 + (sym - XK_KP_0)));
    if (const Qt::Key key = keyIn(kKeypadKeys, sym); key != Qt::Key_unknown)
        return QKeyCombination(Qt::KeypadModifier, key);
    if (const Qt::Key key = keyIn(kNamedKeys, sym); key != Qt::Key_unknown)
        return key;
    if (const Qt::Key key = keyIn(kMediaKeys, sym); key != Qt::Key_unknown)
        return key;
    if (sym >= XK_F1 && sym <= XK_F35)
        return static_cast<Qt::Key>(Qt::Key_F1 + (sym - XK_F1));
    if (sym >= XK_a && sym <= XK_z)
        return static_cast<Qt::Key>(Qt::Key_A + (sym - XK_a));
    if (sym > XK_space && sym <= XK_ydiaeresis)
        return static_cast<Qt::Key>(sym);
    return Qt::Key_unknown;
}

// The portal's modifier names, in the order a trigger writes them.
constexpr std::pair<Qt::KeyboardModifier, const char*> kTriggerModifiers[] = {
    {Qt::ControlModifier, "CTRL"},
    {Qt::AltModifier, "ALT"},
    {Qt::ShiftModifier, "SHIFT"},
    {Qt::MetaModifier, "LOGO"},
};

QString portalIdOf(int action)
{
    if (action == kStopHotKeyAction)
        return QString::fromLatin1(kStopId);
    if (action >= kFirstEffectHotKeyAction)
        return QString::fromLatin1(kEffectIdPrefix) + QString::fromLatin1(hotKeyName(action).toUtf8().toHex());
    return QString::fromLatin1(kSlotIdPrefix) + QString::number(action + 1);
}

int actionOfPortalId(const QString& id)
{
    for (int action = 0; action < hotKeyActionTotal(); ++action)
        if (portalIdOf(action) == id)
            return action;
    return -1;
}

QString portableText(const QString& keyText)
{
    return QKeySequence::fromString(keyText, QKeySequence::PortableText).toString(QKeySequence::PortableText);
}

}  // namespace

GlobalHotKeys::GlobalHotKeys()
    : GlobalHotKeys(QGuiApplication::platformName() == QLatin1String(kX11Platform) ? HotKeyRoute::X11Grabs
                    : QGuiApplication::platformName().startsWith(QLatin1String(kWaylandPlatform))
                        ? HotKeyRoute::Portal
                        : HotKeyRoute::Unavailable)
{
}

GlobalHotKeys::GlobalHotKeys(HotKeyRoute route, QDBusConnection bus)
{
    if (route == HotKeyRoute::X11Grabs)
        openDisplay();
    if (route != HotKeyRoute::Portal)
        return;
    portal_ = std::make_unique<PortalShortcuts>(std::move(bus));
    connect(portal_.get(), &PortalShortcuts::stateChanged, this, &GlobalHotKeys::changed);
    connect(portal_.get(), &PortalShortcuts::triggersChanged, this, &GlobalHotKeys::changed);
    connect(portal_.get(), &PortalShortcuts::activated, this, &GlobalHotKeys::portalActivated);
    // The session is made once the start-up has given the stored keys, even
    // when there are none: the desktop then lists every action to bind.
    proposeToPortal();
}

void GlobalHotKeys::openDisplay()
{
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
    portal_.reset();
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
    const KeySym sym = keySymFor(combination);
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
    for (int action = 0; action < hotKeyActionTotal(); ++action)
        if (!keys_[action].isEmpty() && keys_[action] == normal)
            return action;
    return -1;
}

HotKeyRoute GlobalHotKeys::route() const
{
    if (display_ != nullptr)
        return HotKeyRoute::X11Grabs;
    if (portal_ == nullptr)
        return HotKeyRoute::Unavailable;
    switch (portal_->state()) {
    case PortalState::Idle:
    case PortalState::Asking:
    case PortalState::Bound:
        return HotKeyRoute::Portal;
    case PortalState::Unavailable:
    case PortalState::Refused:
    case PortalState::Closed:
        break;
    }
    return HotKeyRoute::Unavailable;
}

QString GlobalHotKeys::activeKeyOf(int action) const
{
    if (portal_ == nullptr || portal_->state() != PortalState::Bound)
        return keys_[action];
    const QString trigger = portal_->triggerOf(portalIdOf(action));
    const QString keyText = keyTextForTrigger(trigger);
    return keyText.isEmpty() ? trigger : keyText;
}

GrabResult GlobalHotKeys::assign(int action, const QString& keyText)
{
    if (action < 0 || action >= hotKeyActionTotal())
        return GrabResult::Invalid;
    const bool release = keyText.trimmed().isEmpty();
    if (!release && !typingSafeHotKey(keyText))
        return GrabResult::Unsafe;
    if (portal_ != nullptr)
        return propose(action, keyText);
    if (release) {
        ungrab(grabbed_[action]);
        grabbed_[action] = {};
        keys_[action].clear();
        emit changed();
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
    keys_[action] = portableText(keyText);
    emit changed();
    return GrabResult::Grabbed;
}

GrabResult GlobalHotKeys::moveKey(int from, int to)
{
    const int total = hotKeyActionTotal();
    if (from < 0 || from >= total || to < 0 || to >= total || from == to || keys_[from].isEmpty())
        return GrabResult::Invalid;
    if (portal_ != nullptr) {
        keys_[to] = std::exchange(keys_[from], QString());
        proposeToPortal();
        emit changed();
        return GrabResult::Proposed;
    }
    ungrab(grabbed_[to]);
    grabbed_[to] = std::exchange(grabbed_[from], X11Key{});
    keys_[to] = std::exchange(keys_[from], QString());
    emit changed();
    return GrabResult::Grabbed;
}

GrabResult GlobalHotKeys::propose(int action, const QString& keyText)
{
    GrabResult result = GrabResult::Released;
    if (!keyText.trimmed().isEmpty()) {
        if (portalTriggerFor(keyText).isEmpty())
            return GrabResult::Invalid;
        const int holder = actionWithKey(keyText);
        if (holder >= 0 && holder != action)
            return GrabResult::TakenByUs;
        result = GrabResult::Proposed;
    }
    keys_[action] = result == GrabResult::Proposed ? portableText(keyText) : QString();
    proposeToPortal();
    emit changed();
    return result;
}

void GlobalHotKeys::proposeToPortal()
{
    if (proposalQueued_)
        return;
    proposalQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!proposalQueued_ || portal_ == nullptr)
                return;
            proposalQueued_ = false;
            PortalShortcutList wanted;
            for (int action = 0; action < hotKeyActionTotal(); ++action) {
                // The desktop lists every slot and stop to bind, but only the
                // effects the host gave a key: a hundred unbound rows would bury them.
                if (action >= kFirstEffectHotKeyAction && keys_[action].isEmpty())
                    continue;
                QVariantMap properties;
                properties.insert(QStringLiteral("description"), action == kStopHotKeyAction
                                                                     ? hotKeyName(action)
                                                                     : QStringLiteral("播放") + hotKeyName(action));
                if (!keys_[action].isEmpty())
                    properties.insert(QStringLiteral("preferred_trigger"), portalTriggerFor(keys_[action]));
                wanted << PortalShortcut{portalIdOf(action), properties};
            }
            portal_->bind(wanted);
        },
        Qt::QueuedConnection);
}

void GlobalHotKeys::portalActivated(const QString& id)
{
    const int action = actionOfPortalId(id);
    if (action >= 0)
        emit pressed(action);
}

void GlobalHotKeys::releaseAll()
{
    for (int action = 0; action < hotKeyActionTotal(); ++action) {
        ungrab(grabbed_[action]);
        grabbed_[action] = {};
        keys_[action].clear();
    }
    proposalQueued_ = false;
    if (portal_)
        portal_->close();
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
        for (int action = 0; action < hotKeyActionTotal(); ++action)
            if (grabbed_[action].keycode == event.xkey.keycode && grabbed_[action].modifiers == modifiers)
                emit pressed(action);
    }
}

int grabStoredHotKeys(GlobalHotKeys& hotKeys, const QString& iniPath)
{
    const HotKeyTexts keys = readHotKeys(iniPath);
    int grabbed = 0;
    for (int action = 0; action < hotKeyActionTotal(); ++action) {
        if (keys[action].isEmpty())
            continue;
        const GrabResult result = hotKeys.assign(action, keys[action]);
        if (result == GrabResult::Grabbed || result == GrabResult::Proposed)
            ++grabbed;
    }
    return grabbed;
}

HotKeyChange changeHotKey(GlobalHotKeys& hotKeys, const QString& iniPath, int action, const QString& keyText,
                          const QString& shownKey, const HotKeyQuestions& ask)
{
    HotKeyChange change;
    change.result = hotKeys.assign(action, keyText);
    int holder = -1;
    if (change.result == GrabResult::TakenByUs) {
        holder = hotKeys.actionWithKey(keyText);
        const QString holderName = ask.soundName ? ask.soundName(holder) : hotKeyName(holder);
        const QString usedBy = QString::fromUtf8(kKeyUsedBy).arg(shownKey, holderName);
        const QString ownName = ask.soundName ? ask.soundName(action) : hotKeyName(action);
        if (!ask.confirm) {
            change.message = usedBy;
            change.stored = false;
            return change;
        }
        // 否 leaves both sounds as they were, and the host has had the word already.
        if (!ask.confirm(usedBy + QString::fromUtf8(kMoveQuestion).arg(ownName, holderName))) {
            change.stored = false;
            return change;
        }
        change.result = hotKeys.moveKey(holder, action);
    }
    switch (change.result) {
    case GrabResult::Grabbed:
    case GrabResult::Proposed:
        change.stored = writeHotKey(iniPath, action, hotKeys.keyOf(action));
        if (holder >= 0)
            change.stored = removeHotKey(iniPath, holder) && change.stored;
        break;
    case GrabResult::Released:
        change.stored = removeHotKey(iniPath, action);
        break;
    case GrabResult::TakenByOther:
        change.message = QString::fromUtf8(kKeyTakenByOther).arg(shownKey);
        break;
    case GrabResult::Unsafe:
        change.message = QString::fromUtf8(kKeyTypingUnsafe);
        break;
    case GrabResult::Invalid:
    case GrabResult::TakenByUs:
        change.message = QString::fromUtf8(kKeyInvalid).arg(shownKey);
        break;
    case GrabResult::Unavailable:
        break;
    }
    if (!change.stored && change.message.isEmpty())
        change.message = QString::fromUtf8(kKeyNotSaved);
    return change;
}

bool typingSafeHotKey(const QString& keyText)
{
    const QKeySequence sequence = QKeySequence::fromString(keyText, QKeySequence::PortableText);
    if (sequence.count() != 1 || sequence[0].key() == Qt::Key_unknown)
        return false;
    const QKeyCombination combination = sequence[0];
    // Shift is no guard: it is how capitals and symbols are typed.
    constexpr Qt::KeyboardModifiers kGuards = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (combination.keyboardModifiers() & (kGuards | Qt::KeypadModifier))
        return true;
    const Qt::Key key = combination.key();
    return (key >= Qt::Key_F1 && key <= kLastSafeFunctionKey) || symIn(kMediaKeys, key) != NoSymbol;
}

QString portalTriggerFor(const QString& keyText)
{
    const QKeySequence sequence = QKeySequence::fromString(keyText, QKeySequence::PortableText);
    if (sequence.count() != 1)
        return {};
    const KeySym sym = keySymFor(sequence[0]);
    const char* name = sym == NoSymbol ? nullptr : XKeysymToString(sym);
    if (name == nullptr)
        return {};
    QStringList parts;
    for (const auto& [modifier, word] : kTriggerModifiers)
        if (sequence[0].keyboardModifiers() & modifier)
            parts << QString::fromLatin1(word);
    parts << QString::fromLatin1(name);
    return parts.join(QLatin1Char('+'));
}

QString keyTextForTrigger(const QString& trigger)
{
    const QKeySequence qtForm = QKeySequence::fromString(trigger, QKeySequence::PortableText);
    if (qtForm.count() == 1 && qtForm[0].key() != Qt::Key_unknown)
        return qtForm.toString(QKeySequence::PortableText);
    // The portal's form: modifier names in any case, then the key's XKB name.
    QStringList parts = trigger.split(QLatin1Char('+'));
    const KeySym sym = XStringToKeysym(parts.takeLast().trimmed().toLatin1().constData());
    const QKeyCombination key = sym == NoSymbol ? QKeyCombination() : qtKeyFor(sym);
    if (key.key() == Qt::Key_unknown)
        return {};
    Qt::KeyboardModifiers held = key.keyboardModifiers();
    for (const QString& part : parts) {
        const auto known = std::find_if(std::begin(kTriggerModifiers), std::end(kTriggerModifiers), [&](const auto& m) {
            return part.trimmed().compare(QLatin1String(m.second), Qt::CaseInsensitive) == 0;
        });
        if (known == std::end(kTriggerModifiers))
            return {};
        held |= known->first;
    }
    return QKeySequence(QKeyCombination(held, key.key())).toString(QKeySequence::PortableText);
}

QString remoteProgram()
{
    const QString program = QCoreApplication::applicationFilePath();
    const QString found = QStandardPaths::findExecutable(QString::fromLatin1(kProgramName));
    if (!found.isEmpty() && QFileInfo(found).canonicalFilePath() == QFileInfo(program).canonicalFilePath())
        return QString::fromLatin1(kProgramName);
    return program;
}

}  // namespace qinghe
