#pragma once

#include "runtime/runtime_window.h"

#include <QString>

#include <chrono>
#include <functional>

class QDoubleSpinBox;
class QLabel;
class QPushButton;

namespace qinghe {

class WindowRuntime;

inline constexpr const char* kSoundFadeWindowDefinition = ":/ui/sound_fade_window.ui";

// What the fade window works on: one sound, its fades now, and what 确定
// does with the fades the host chose.
struct SoundFadeRequest {
    QString soundName;  // as its button shows it
    std::chrono::milliseconds fadeIn{0};
    std::chrono::milliseconds fadeOut{0};
    // False when my.ini could not keep them.
    std::function<bool(std::chrono::milliseconds fadeIn, std::chrono::milliseconds fadeOut)> store;
};

// Opens "淡入淡出" over the board, modal; it keeps the fades by itself when
// the host confirms, so nothing waits for it. Null when it cannot be loaded.
RuntimeWindow* openSoundFadeWindow(WindowRuntime& runtime, SoundFadeRequest request);

class SoundFadeWindow : public RuntimeWindow {
    Q_OBJECT

public:
    explicit SoundFadeWindow(SoundFadeRequest request);

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;

private:
    struct Controls {
        QLabel* caption = nullptr;         // 淡入淡出说明
        QDoubleSpinBox* fadeIn = nullptr;  // 淡入
        QDoubleSpinBox* fadeOut = nullptr; // 淡出
        QPushButton* confirm = nullptr;    // 确定
        QPushButton* cancel = nullptr;     // 取消
    };

    void confirm();

    SoundFadeRequest request_;
    Controls controls_;
};

}  // namespace qinghe
