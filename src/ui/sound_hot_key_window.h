#pragma once

#include "runtime/runtime_window.h"
#include "settings/hot_key_field.h"

#include <QPointer>
#include <QString>

class QKeySequenceEdit;
class QLabel;
class QPushButton;

namespace qinghe {

class GlobalHotKeys;
class WindowRuntime;

inline constexpr const char* kSoundHotKeyWindowDefinition = ":/ui/sound_hot_key_window.ui";

// Opens "热键" for one action of the hot keys (a slot or a built-in
// effect), modal over the board. A key pressed in its field is grabbed or
// proposed and stored under [热键] at once, as in 声音设置; one that cannot
// be taken is refused with the reason, and one another sound has is moved
// if the host agrees, that sound named by slotCaption where it is a slot.
// Without hot keys (null) the window says so. Null when it cannot be loaded.
RuntimeWindow* openSoundHotKeyWindow(WindowRuntime& runtime, GlobalHotKeys* hotKeys, const QString& settingsFile,
                                     int action, const QString& soundName, SlotCaption slotCaption = {});

class SoundHotKeyWindow : public RuntimeWindow {
    Q_OBJECT

public:
    SoundHotKeyWindow(GlobalHotKeys* hotKeys, QString settingsFile, int action, QString soundName,
                      SlotCaption slotCaption = {});

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;

private:
    struct Controls {
        QLabel* caption = nullptr;         // 热键说明
        QKeySequenceEdit* key = nullptr;   // 热键
        QPushButton* clear = nullptr;      // 清除
        QPushButton* closeButton = nullptr;  // 关闭
    };

    void keyPressed();
    void changeKey(const QString& keyText, const QString& shownKey);
    void showKey();
    // The remote's command that plays this sound, for the desktop's own shortcut settings.
    QString remoteCommand() const;

    // The program's keys outlive its windows, but a window never reaches for gone ones.
    QPointer<GlobalHotKeys> hotKeys_;
    QString settingsFile_;
    int action_;
    QString soundName_;
    SlotCaption slotCaption_;
    Controls controls_;
};

}  // namespace qinghe
