#include "sound_settings_window.h"

#include "base/window_thread.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>

namespace qinghe {
namespace {

constexpr const char* kSoundSettingsKey = "sound settings";
constexpr const char* kServerDefault = "系统默认";
// A saved device the server does not have now stays chosen, marked so.
constexpr const char* kAbsentMark = "（未连接）";
constexpr const char* kAsking = "正在连接声音服务器…";
constexpr const char* kNoServer =
    "没有找到声音服务器（PulseAudio 或 PipeWire），虚拟麦克风不可用；音效照常从系统默认声卡播放。";
constexpr const char* kMicrophoneOn = "虚拟麦克风已开启：聊天程序的输入设备请选“青禾虚拟麦克风”。";
constexpr const char* kMicrophoneOff = "虚拟麦克风未开启：音效只在监听设备上播放。";
constexpr const char* kMicrophoneRefused = "声音服务器没有接受虚拟麦克风，音效照常在监听设备上播放。";
constexpr const char* kPassThroughRefused = "声音服务器没有接受麦克风直通。";
constexpr const char* kListeningDeviceMissing = "所选监听设备不在，暂用系统默认设备。";
constexpr const char* kNoMicrophone = "找不到所选的麦克风，直通未开启。";
constexpr const char* kNotSaved = "声音设置无法写入 my.ini，下次启动时仍是原来的设置。";

QString statusLine(const RoutingStatus& status)
{
    if (!status.checked)
        return QString::fromUtf8(kAsking);
    if (!status.serverReachable)
        return QString::fromUtf8(kNoServer);
    QString line = QString::fromUtf8(status.microphoneOn ? kMicrophoneOn : kMicrophoneOff);
    switch (status.problem) {
    case RoutingProblem::ServerRefused:
        line = QString::fromUtf8(status.microphoneOn ? kPassThroughRefused : kMicrophoneRefused);
        break;
    case RoutingProblem::ListeningDeviceMissing:
        line += QString::fromUtf8(kListeningDeviceMissing);
        break;
    case RoutingProblem::NoMicrophone:
        line += QString::fromUtf8(kNoMicrophone);
        break;
    case RoutingProblem::NoServer:
    case RoutingProblem::None:
        break;
    }
    return line;
}

}  // namespace

RuntimeWindow* openSoundSettingsWindow(WindowRuntime& runtime, SoundRouting* routing, const QString& settingsFile)
{
    return runtime.openWindow(QString::fromLatin1(kSoundSettingsKey), QString::fromLatin1(kSoundSettingsWindowDefinition),
                              [routing, settingsFile] { return new SoundSettingsWindow(routing, settingsFile); });
}

SoundSettingsWindow::SoundSettingsWindow(SoundRouting* routing, QString settingsFile)
    : routing_(routing), settingsFile_(std::move(settingsFile))
{
}

void SoundSettingsWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.listeningDevices, "监听设备");
    binder.bind(controls_.microphoneSwitch, "虚拟麦克风");
    binder.bind(controls_.passThroughSwitch, "麦克风直通");
    binder.bind(controls_.microphones, "直通来源");
    binder.bind(controls_.statusText, "状态说明");
    binder.bind(controls_.hotKeys, "热键");
    binder.bind(controls_.closeButton, "关闭");
}

void SoundSettingsWindow::onCreated()
{
    settings_ = readSoundSettings(settingsFile_);
    if (routing_) {
        status_ = routing_->status();
        // The answer comes on the routing thread and the window may be gone
        // by then: the listener stays with the routing and finds no window.
        // So the window never reaches back into a routing the program's
        // end has already taken down.
        routing_->setStatusListener([window = QPointer<SoundSettingsWindow>(this)](const RoutingStatus& status) {
            postToWindowThread([window, status] {
                if (window)
                    window->showStatus(status);
            });
        });
        // Devices come and go: the lists are the server's as of this opening.
        routing_->refresh();
    } else {
        status_.checked = true;
    }
    showStatus(status_);

    connect(controls_.listeningDevices, &QComboBox::activated, this, [this] { settingsChanged(); });
    connect(controls_.microphones, &QComboBox::activated, this, [this] { settingsChanged(); });
    connect(controls_.microphoneSwitch, &QCheckBox::clicked, this, [this] { settingsChanged(); });
    connect(controls_.passThroughSwitch, &QCheckBox::clicked, this, [this] { settingsChanged(); });
    connect(controls_.closeButton, &QPushButton::clicked, this, &QWidget::close);
}

void SoundSettingsWindow::fillChoices(QComboBox* box, const std::vector<ServerDevice>& devices,
                                      const std::string& chosen)
{
    const QSignalBlocker quiet(box);
    box->clear();
    box->addItem(QString::fromUtf8(kServerDefault), QString());
    for (const ServerDevice& device : devices)
        box->addItem(QString::fromStdString(device.description.empty() ? device.name : device.description),
                     QString::fromStdString(device.name));
    const QString name = QString::fromStdString(chosen);
    int index = box->findData(name);
    if (index < 0) {
        box->addItem(name + QString::fromUtf8(kAbsentMark), name);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

void SoundSettingsWindow::showSettings()
{
    const bool available = status_.serverReachable;
    controls_.microphoneSwitch->setChecked(settings_.virtualMicrophone);
    controls_.passThroughSwitch->setChecked(settings_.passThrough);
    controls_.listeningDevices->setEnabled(available);
    controls_.microphoneSwitch->setEnabled(available);
    controls_.passThroughSwitch->setEnabled(available && settings_.virtualMicrophone);
    controls_.microphones->setEnabled(available && settings_.virtualMicrophone && settings_.passThrough);
}

void SoundSettingsWindow::showStatus(const RoutingStatus& status)
{
    status_ = status;
    fillChoices(controls_.listeningDevices, status.listeningDevices, settings_.listeningDevice);
    fillChoices(controls_.microphones, status.microphones, settings_.passThroughSource);
    controls_.statusText->setText(statusLine(status));
    showSettings();
}

void SoundSettingsWindow::settingsChanged()
{
    settings_.listeningDevice = controls_.listeningDevices->currentData().toString().toStdString();
    settings_.virtualMicrophone = controls_.microphoneSwitch->isChecked();
    settings_.passThrough = controls_.passThroughSwitch->isChecked();
    settings_.passThroughSource = controls_.microphones->currentData().toString().toStdString();
    showSettings();
    if (!writeSoundSettings(settingsFile_, settings_))
        messageBox(QString::fromUtf8(kNotSaved));
    if (routing_)
        routing_->apply(settings_);
}

}  // namespace qinghe
