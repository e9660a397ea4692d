#include "sound_menu.h"

#include "sound_hot_key_window.h"

#include "board/sound_board.h"
#include "hotkeys/global_hot_keys.h"
#include "runtime/dialogs.h"
#include "text/gbk.h"

#include <QMenu>
#include <QPushButton>

namespace qinghe {
namespace {

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
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
        askInput({QStringLiteral("name"), QStringLiteral("请输入自定义名称"), QStringLiteral("确认输入(&O)"),
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
    addItem(kHotKeyItem, [this, &entry] { askHotKey(entry); });
    menu->popup(button->mapToGlobal(at));
}

QString SoundMenus::soundName(const BoardButton& entry) const
{
    if (entry.action != BoardAction::CustomSlot)
        return fromUtf8(entry.caption);
    const Text& name = context_.customSounds.names[entry.slot];
    return name.empty() ? hotKeyName(slotHotKeyAction(entry.slot)) : nameToQString(name);
}

void SoundMenus::askHotKey(const BoardButton& entry)
{
    const int action = hotKeyActionOf(entry);
    if (action >= 0)
        openSoundHotKeyWindow(context_.runtime, context_.hotKeys, context_.settingsFile, action, soundName(entry));
}

}  // namespace qinghe
