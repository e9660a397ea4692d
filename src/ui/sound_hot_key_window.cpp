#include "sound_hot_key_window.h"

#include "hotkeys/global_hot_keys.h"
#include "runtime/window_runtime.h"

#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

namespace qinghe {
namespace {

constexpr const char* kSoundHotKeyWindowKey = "sound hot key";
constexpr const char* kCaption = "“%1”的热键：";
constexpr const char* kPortalCaption = "“%1”的热键（由桌面管理，桌面可能另定）：";
// Where no key can be global, the host binds the remote's command in the desktop's own settings.
constexpr const char* kNoGlobalKeys = "本桌面不支持全局热键；可在桌面的快捷键设置里绑定命令：%1";

}  // namespace

RuntimeWindow* openSoundHotKeyWindow(WindowRuntime& runtime, GlobalHotKeys* hotKeys, const QString& settingsFile,
                                     int action, const QString& soundName, SlotCaption slotCaption)
{
    return runtime.openWindow(
        QString::fromLatin1(kSoundHotKeyWindowKey), QString::fromLatin1(kSoundHotKeyWindowDefinition),
        [=] { return new SoundHotKeyWindow(hotKeys, settingsFile, action, soundName, slotCaption); }, Modality::Modal);
}

SoundHotKeyWindow::SoundHotKeyWindow(GlobalHotKeys* hotKeys, QString settingsFile, int action, QString soundName,
                                     SlotCaption slotCaption)
    : hotKeys_(hotKeys), settingsFile_(std::move(settingsFile)), action_(action), soundName_(std::move(soundName)),
      slotCaption_(std::move(slotCaption))
{
}

void SoundHotKeyWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.caption, "热键说明");
    binder.bind(controls_.key, "热键");
    binder.bind(controls_.clear, "清除");
    binder.bind(controls_.closeButton, "关闭");
}

void SoundHotKeyWindow::onCreated()
{
    const bool available = hotKeys_ != nullptr && hotKeys_->available();
    if (available)
        controls_.caption->setText(
            QString::fromUtf8(hotKeys_->portal() != nullptr ? kPortalCaption : kCaption).arg(soundName_));
    else
        controls_.caption->setText(QString::fromUtf8(kNoGlobalKeys).arg(remoteCommand()));
    // The command can be copied from here.
    controls_.caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
    controls_.key->setEnabled(available);
    controls_.clear->setEnabled(available);
    if (available)
        showKey();
    watchKeypad(controls_.key);
    // The field hands its keys over once the host stops pressing; only the first combination counts.
    connect(controls_.key, &QKeySequenceEdit::keySequenceChanged, this, [this](const QKeySequence& keys) {
        if (!keys.isEmpty())
            keyPressed();
    });
    connect(controls_.clear, &QPushButton::clicked, this, [this] { changeKey(QString(), QString()); });
    connect(controls_.closeButton, &QPushButton::clicked, this, &QWidget::close);
}

void SoundHotKeyWindow::keyPressed()
{
    const PressedKey key = pressedKey(controls_.key);
    changeKey(key.text, key.shown);
}

void SoundHotKeyWindow::changeKey(const QString& keyText, const QString& shownKey)
{
    if (!hotKeys_)
        return;
    changeHotKeyAsking(*hotKeys_, settingsFile_, action_, keyText, shownKey, slotCaption_);
    showKey();
}

QString SoundHotKeyWindow::remoteCommand() const
{
    if (action_ < kHotKeySlotCount)
        return QStringLiteral("%1 --play-slot %2").arg(remoteProgram()).arg(action_ + 1);
    return QStringLiteral("%1 --play \"%2\"").arg(remoteProgram(), soundName_);
}

void SoundHotKeyWindow::showKey()
{
    const QSignalBlocker quiet(controls_.key);
    const QString key = hotKeys_ ? hotKeys_->activeKeyOf(action_) : QString();
    controls_.key->setKeySequence(QKeySequence::fromString(key, QKeySequence::PortableText));
    // Leaving the field ends its recording, so the next key press starts afresh.
    controls_.key->clearFocus();
}

}  // namespace qinghe
