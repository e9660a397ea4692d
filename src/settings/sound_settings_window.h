#pragma once

#include "hot_key_field.h"

#include "hotkeys/hot_key_settings.h"
#include "runtime/runtime_window.h"
#include "soundserver/sound_routing.h"
#include "soundserver/sound_settings.h"

#include <QString>

#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGridLayout;
class QGroupBox;
class QKeySequenceEdit;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;

namespace qinghe {

class GlobalHotKeys;
class WindowRuntime;

inline constexpr const char* kSoundSettingsWindowDefinition = ":/ui/sound_settings_window.ui";

// Opens "声音设置", or brings the open one forward. Without routing (no
// thread for it) the window says the virtual microphone is unavailable;
// without hot keys (neither X11 nor the desktop's portal) it says so and
// names the commands to bind in the desktop's own shortcut settings.
// Each hot-key row names its slot by slotCaption; every built-in effect
// that has a key has a row of its own below the slots'.
RuntimeWindow* openSoundSettingsWindow(WindowRuntime& runtime, SoundRouting* routing, const QString& settingsFile,
                                       GlobalHotKeys* hotKeys = nullptr, SlotCaption slotCaption = {});

// The host's sound settings: every change is written to my.ini at once and
// handed to the routing, whose answer the window shows when it comes.
class SoundSettingsWindow : public RuntimeWindow {
    Q_OBJECT

public:
    SoundSettingsWindow(SoundRouting* routing, QString settingsFile, GlobalHotKeys* hotKeys = nullptr,
                        SlotCaption slotCaption = {});

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;

private:
    // The window's controls, bound at load.
    struct Controls {
        QComboBox* listeningDevices = nullptr;   // 监听设备
        QCheckBox* microphoneSwitch = nullptr;   // 虚拟麦克风
        QCheckBox* passThroughSwitch = nullptr;  // 麦克风直通
        QComboBox* microphones = nullptr;        // 直通来源
        QLabel* statusText = nullptr;            // 状态说明
        QSlider* chatLevel = nullptr;            // 聊天音量
        QSlider* listeningLevel = nullptr;       // 监听音量
        QSlider* microphoneLevel = nullptr;      // 麦克风音量
        QCheckBox* duckSwitch = nullptr;         // 说话时压低音乐
        QSpinBox* duckThreshold = nullptr;       // 压低阈值, dBFS
        QGroupBox* hotKeys = nullptr;            // 热键
        QLabel* hotKeyText = nullptr;            // 热键说明
        QWidget* hotKeyRows = nullptr;           // 热键栏: where the key fields go
        QCheckBox* overlapSwitch = nullptr;      // 叠加播放
        QCheckBox* secondClickSwitch = nullptr;  // 再次点击停止
        QDoubleSpinBox* stopFade = nullptr;      // 停止淡出, in seconds
        QPushButton* closeButton = nullptr;      // 关闭
    };

    void showStatus(const RoutingStatus& status);
    void fillChoices(QComboBox* box, const std::vector<ServerDevice>& devices, const std::string& chosen);
    void showSettings();
    void settingsChanged();
    // 叠加播放, 再次点击停止 or 停止淡出: the board's own options.
    void boardOptionsChanged();
    void buildHotKeyRows();
    void addHotKeyRow(int action, int row, int column);
    void showHotKeys();
    void hotKeyPressed(int action);
    void hotKeyCleared(int action);
    // Gives the key to action and stores it, or tells the host why not.
    void changeKey(int action, const QString& keyText, const QString& shownKey);

    SoundRouting* routing_;
    QString settingsFile_;
    SoundSettings settings_;
    RoutingStatus status_;
    Controls controls_;
    SlotCaption slotCaption_;
    GlobalHotKeys* hotKeys_;
    QString keysHint_;  // what 热键说明 says while nothing is amiss
    QGridLayout* hotKeyGrid_ = nullptr;
    std::vector<QKeySequenceEdit*> keyFields_ = std::vector<QKeySequenceEdit*>(hotKeyActionTotal());  // null: no row
    int effectRows_ = 0;
};

}  // namespace qinghe
