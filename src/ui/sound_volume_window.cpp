#include "sound_volume_window.h"

#include "board/sound_board.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace qinghe {
namespace {

constexpr const char* kSoundVolumeWindowKey = "sound volume";
constexpr const char* kCaption = "“%1”的音量（在总音量之上加减）：";
constexpr const char* kNotSaved = "音量无法写入 my.ini，下次启动时不会保留。";

QString decibelText(int decibels)
{
    // A true minus sign, and a plus where the sound is made louder.
    if (decibels < 0)
        return QStringLiteral("−%1 dB").arg(-decibels);
    return QStringLiteral("%1%2 dB").arg(decibels > 0 ? QStringLiteral("+") : QString()).arg(decibels);
}

}  // namespace

RuntimeWindow* openSoundVolumeWindow(WindowRuntime& runtime, SoundVolumeRequest request)
{
    return runtime.openWindow(
        QString::fromLatin1(kSoundVolumeWindowKey), QString::fromLatin1(kSoundVolumeWindowDefinition),
        [request = std::move(request)] { return new SoundVolumeWindow(request); }, Modality::Modal);
}

SoundVolumeWindow::SoundVolumeWindow(SoundVolumeRequest request) : request_(std::move(request)) {}

void SoundVolumeWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.caption, "音量说明");
    binder.bind(controls_.gain, "音量");
    binder.bind(controls_.gainText, "分贝");
    binder.bind(controls_.preview, "试听");
    binder.bind(controls_.confirm, "确定");
    binder.bind(controls_.cancel, "取消");
}

void SoundVolumeWindow::onCreated()
{
    controls_.caption->setText(QString::fromUtf8(kCaption).arg(request_.soundName));
    // The range is the board's, whatever the definition says.
    controls_.gain->setRange(kLeastSoundVolumeDb, kMostSoundVolumeDb);
    controls_.gain->setValue(request_.decibels);
    showGain(controls_.gain->value());
    connect(controls_.gain, &QSlider::valueChanged, this, &SoundVolumeWindow::showGain);
    connect(controls_.preview, &QPushButton::clicked, this, [this] {
        if (request_.preview)
            request_.preview(controls_.gain->value());
    });
    connect(controls_.confirm, &QPushButton::clicked, this, &SoundVolumeWindow::confirm);
    connect(controls_.cancel, &QPushButton::clicked, this, &QWidget::close);
    controls_.gain->setFocus();
}

void SoundVolumeWindow::showGain(int decibels)
{
    controls_.gainText->setText(decibelText(decibels));
}

void SoundVolumeWindow::confirm()
{
    const bool kept = !request_.store || request_.store(controls_.gain->value());
    close();
    if (!kept)
        messageBox(QString::fromUtf8(kNotSaved));
}

}  // namespace qinghe
