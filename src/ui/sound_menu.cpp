#include "sound_menu.h"

#include "sound_fade_window.h"
#include "sound_hot_key_window.h"
#include "sound_volume_window.h"

#include "board/sound_board.h"
#include "hotkeys/global_hot_keys.h"
#include "runtime/dialogs.h"
#include "runtime/message_box.h"
#include "text/gbk.h"

#include <QMenu>
#include <QPushButton>

namespace qinghe {
namespace {

constexpr const char* kSlotNameTitle = "自定义名称";
constexpr const char* kClearQuestion = "清除按钮%1“%2”？它的声音文件、名称、音量、热键和播放方式都会去掉。";
constexpr const char* kClearNotSaved = "清除无法写入 my.ini，下次启动时这个按钮还会回来。";
constexpr const char* kRenameNotSaved = "新名称无法写入 my.ini，下次启动时仍是原来的名称。";
constexpr const char* kStyleNotSaved = "这项设置无法写入 my.ini，下次启动时不会保留。";

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The key of the sound's own volume in my.ini: the effect's caption, or the slot's.
Text soundKeyOf(const BoardButton& entry)
{
    return entry.action == BoardAction::CustomSlot ? slotSoundKey(entry.slot) : fromQString(fromUtf8(entry.caption));
}

// The hot-key action of the button, or -1 when it has none.
int hotKeyActionOf(const BoardButton& entry)
{
    return entry.action == BoardAction::CustomSlot ? slotHotKeyAction(entry.slot)
                                                   : effectHotKeyAction(fromUtf8(entry.caption));
}

}  // namespace

std::optional<Text> askSlotName(const Text& prefill)
{
    const InputBoxAnswer answer =
        askInput({QString::fromUtf8(kSlotNameTitle), QStringLiteral("请输入自定义名称"), QStringLiteral("确认输入(&O)"),
                  QStringLiteral("取消(&C)"), nameToQString(prefill)});
    if (!answer.confirmed)
        return std::nullopt;
    return nameFromQString(answer.text);
}

SoundMenus::SoundMenus(QObject* parent, SoundMenuContext context) : QObject(parent), context_(std::move(context)) {}

void SoundMenus::watch(QPushButton* button, const BoardButton& entry)
{
    button->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(button, &QWidget::customContextMenuRequested, this,
            [this, button, &entry](const QPoint& at) { openMenu(button, entry, at); });
}

void SoundMenus::openMenu(QPushButton* button, const BoardButton& entry, const QPoint& at)
{
    auto* menu = new QMenu(button);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // Each item runs once the menu is gone, so the windows and questions it
    // opens never stand inside the menu's own loop.
    const auto addItem = [this, menu](const char* text, auto handler) {
        QAction* item = menu->addAction(QString::fromUtf8(text));
        connect(item, &QAction::triggered, this, handler, Qt::QueuedConnection);
        return item;
    };
    addItem(kVolumeItem, [this, &entry] { askVolume(entry); });
    addItem(kHotKeyItem, [this, &entry] { askHotKey(entry); });
    // A style counts from the sound's next click on.
    const Text key = soundKeyOf(entry);
    const SoundStyle style = context_.board.soundStyle(key);
    menu->addSeparator();
    QAction* loop = addItem(kLoopItem, [this, key](bool on) { changeStyle(key, [on](SoundStyle& s) { s.loop = on; }); });
    loop->setCheckable(true);
    loop->setChecked(style.loop);
    addItem(kFadeItem, [this, &entry] { askFades(entry); });
    QAction* bed =
        addItem(kMusicBedItem, [this, key](bool on) { changeStyle(key, [on](SoundStyle& s) { s.musicBed = on; }); });
    bed->setCheckable(true);
    // A sound that loops, or an effect of the 音乐类音效 page, is a bed anyway: the item says so and stays so.
    const bool bedAnyway = context_.board.voiceShape(key).bed && !style.musicBed;
    bed->setChecked(style.musicBed || bedAnyway);
    bed->setEnabled(!bedAnyway);
    if (entry.action == BoardAction::CustomSlot) {
        const int slot = entry.slot;
        const bool bound = !context_.customSounds.paths[slot].empty();
        menu->addSeparator();
        addItem(kRenameItem, [this, slot] { rename(slot); })->setEnabled(bound);
        addItem(kChangeFileItem, [this, slot] { context_.board.chooseSlotFile(slot); });
        addItem(kClearItem, [this, slot] { clear(slot); })->setEnabled(bound);
    }
    menu->popup(button->mapToGlobal(at));
}

QString SoundMenus::soundName(const BoardButton& entry) const
{
    if (entry.action != BoardAction::CustomSlot)
        return fromUtf8(entry.caption);
    const Text name = slotShownName(context_.customSounds, entry.slot);
    return name.empty() ? hotKeyName(slotHotKeyAction(entry.slot)) : nameToQString(name);
}

void SoundMenus::askVolume(const BoardButton& entry)
{
    const Text key = soundKeyOf(entry);
    const int slot = entry.slot;
    const Text effectFile(entry.effectFile);
    SoundVolumeRequest request;
    request.soundName = soundName(entry);
    request.decibels = context_.board.soundVolumeDb(key);
    request.preview = [this, key, slot, effectFile](int decibels) {
        // A slot is tried with the file it holds at the moment of the click.
        const Text& file = slot > 0 ? context_.customSounds.paths[slot] : effectFile;
        if (!file.empty())
            context_.board.previewSound(file, key, decibels);
    };
    request.store = [this, key](int decibels) { return context_.board.setSoundVolumeDb(key, decibels); };
    openSoundVolumeWindow(context_.runtime, std::move(request));
}

void SoundMenus::askHotKey(const BoardButton& entry)
{
    const int action = hotKeyActionOf(entry);
    if (action >= 0)
        openSoundHotKeyWindow(context_.runtime, context_.hotKeys, context_.settingsFile, action, soundName(entry),
                              [&sounds = context_.customSounds](int slot) { return nameToQString(sounds.names[slot]); });
}

void SoundMenus::askFades(const BoardButton& entry)
{
    const Text key = soundKeyOf(entry);
    const SoundStyle style = context_.board.soundStyle(key);
    SoundFadeRequest request;
    request.soundName = soundName(entry);
    request.fadeIn = style.fadeIn;
    request.fadeOut = style.fadeOut;
    request.store = [this, key](std::chrono::milliseconds fadeIn, std::chrono::milliseconds fadeOut) {
        SoundStyle changed = context_.board.soundStyle(key);
        changed.fadeIn = fadeIn;
        changed.fadeOut = fadeOut;
        return context_.board.setSoundStyle(key, changed);
    };
    openSoundFadeWindow(context_.runtime, std::move(request));
}

void SoundMenus::changeStyle(const Text& soundKey, const std::function<void(SoundStyle&)>& change)
{
    SoundStyle style = context_.board.soundStyle(soundKey);
    change(style);
    if (!context_.board.setSoundStyle(soundKey, style))
        messageBox(QString::fromUtf8(kStyleNotSaved));
}

void SoundMenus::rename(int slot)
{
    const std::optional<Text> name = askSlotName(context_.customSounds.names[slot]);
    if (name && !context_.board.renameSlot(slot, *name))
        messageBox(QString::fromUtf8(kRenameNotSaved));
}

void SoundMenus::clear(int slot)
{
    const QString question =
        QString::fromUtf8(kClearQuestion).arg(slot).arg(nameToQString(slotShownName(context_.customSounds, slot)));
    if (messageBox(question, kBoxYesNoQuestion) != kAnswerYes)
        return;
    // The slot's key goes with it; the hot keys keep their own section of my.ini.
    const int action = slotHotKeyAction(slot);
    if (context_.hotKeys != nullptr)
        context_.hotKeys->assign(action, QString());
    const bool keyGone = removeHotKey(context_.settingsFile, action);
    const bool kept = context_.board.clearSlot(slot) && keyGone;
    if (!kept)
        messageBox(QString::fromUtf8(kClearNotSaved));
}

}  // namespace qinghe
