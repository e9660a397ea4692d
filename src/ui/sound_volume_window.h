#pragma once

#include "runtime/runtime_window.h"

#include <QString>

#include <functional>

class QLabel;
class QPushButton;
class QSlider;

namespace qinghe {

class WindowRuntime;

inline constexpr const char* kSoundVolumeWindowDefinition = ":/ui/sound_volume_window.ui";

// What the volume window works on: one sound, its gain now, and what its
// buttons do with a gain.
struct SoundVolumeRequest {
    QString soundName;  // as its button shows it
    int decibels = 0;
    std::function<void(int decibels)> preview;  // 试听: plays at that gain for the host alone, keeps nothing
    std::function<bool(int decibels)> store;    // 确定: false when my.ini could not keep it
};

// Opens "音量" over the board, modal; it keeps the gain by itself when the
// host confirms, so nothing waits for it. Null when it cannot be loaded.
RuntimeWindow* openSoundVolumeWindow(WindowRuntime& runtime, SoundVolumeRequest request);

class SoundVolumeWindow : public RuntimeWindow {
    Q_OBJECT

public:
    explicit SoundVolumeWindow(SoundVolumeRequest request);

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;

private:
    struct Controls {
        QLabel* caption = nullptr;         // 音量说明
        QSlider* gain = nullptr;           // 音量
        QLabel* gainText = nullptr;        // 分贝
        QPushButton* preview = nullptr;    // 试听
        QPushButton* confirm = nullptr;    // 确定
        QPushButton* cancel = nullptr;     // 取消
    };

    void showGain(int decibels);
    void confirm();

    SoundVolumeRequest request_;
    Controls controls_;
};

}  // namespace qinghe
