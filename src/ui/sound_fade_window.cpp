#include "sound_fade_window.h"

#include "board/sound_style.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>

#include <cmath>

namespace qinghe {
namespace {

constexpr const char* kSoundFadeWindowKey = "sound fade";
constexpr const char* kCaption = "“%1”的淡入淡出（0 为不淡）：";
constexpr const char* kNotSaved = "淡入淡出无法写入 my.ini，下次启动时不会保留。";
constexpr double kMillisecondsPerSecond = 1000;

double seconds(std::chrono::milliseconds fade)
{
    return double(fade.count()) / kMillisecondsPerSecond;
}

std::chrono::milliseconds milliseconds(const QDoubleSpinBox* box)
{
    return std::chrono::milliseconds(std::lround(box->value() * kMillisecondsPerSecond));
}

}  // namespace

RuntimeWindow* openSoundFadeWindow(WindowRuntime& runtime, SoundFadeRequest request)
{
    return runtime.openWindow(
        QString::fromLatin1(kSoundFadeWindowKey), QString::fromLatin1(kSoundFadeWindowDefinition),
        [request = std::move(request)] { return new SoundFadeWindow(request); }, Modality::Modal);
}

SoundFadeWindow::SoundFadeWindow(SoundFadeRequest request) : request_(std::move(request)) {}

void SoundFadeWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.caption, "淡入淡出说明");
    binder.bind(controls_.fadeIn, "淡入");
    binder.bind(controls_.fadeOut, "淡出");
    binder.bind(controls_.confirm, "确定");
    binder.bind(controls_.cancel, "取消");
}

void SoundFadeWindow::onCreated()
{
    controls_.caption->setText(QString::fromUtf8(kCaption).arg(request_.soundName));
    for (const auto& [box, fade] : {std::pair{controls_.fadeIn, request_.fadeIn}, std::pair{controls_.fadeOut, request_.fadeOut}}) {
        // The range is the board's, whatever the definition says.
        box->setRange(0, seconds(kLongestSoundFade));
        box->setValue(seconds(fade));
    }
    connect(controls_.confirm, &QPushButton::clicked, this, &SoundFadeWindow::confirm);
    connect(controls_.cancel, &QPushButton::clicked, this, &QWidget::close);
    controls_.fadeIn->setFocus();
}

void SoundFadeWindow::confirm()
{
    const bool kept = !request_.store || request_.store(milliseconds(controls_.fadeIn), milliseconds(controls_.fadeOut));
    close();
    if (!kept)
        messageBox(QString::fromUtf8(kNotSaved));
}

}  // namespace qinghe
