#include "sound_settings_window.h"

#include "base/window_thread.h"
#include "hotkeys/global_hot_keys.h"
#include "hotkeys/portal_shortcuts.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace qinghe {
namespace {

constexpr const char* kSoundSettingsKey = "sound settings";
constexpr const char* kServerDefault = "系统默认";
// A saved device the server does not have now stays chosen, marked so.
constexpr const char* kAbsentMark = "（未连接）";
constexpr const char* kAsking = "正在连接声音服务器…";
constexpr const char* kNoServer =
    "没有找到声音服务器（PulseAudio 或 PipeWire），虚拟麦克风不可用；音效照常从系统默认声卡播放。";
constexpr const char* kServerLost = "声音服务器已断开，正在重新连接…连上之前音效不播放。";
constexpr const char* kMicrophoneOn = "虚拟麦克风已开启：聊天程序的输入设备请选“青禾虚拟麦克风”。";
constexpr const char* kMicrophoneOff = "虚拟麦克风未开启：音效只在监听设备上播放。";
constexpr const char* kMicrophoneRefused = "声音服务器没有接受虚拟麦克风，音效照常在监听设备上播放。";
constexpr const char* kPassThroughRefused = "声音服务器没有接受麦克风直通。";
constexpr const char* kListeningDeviceMissing = "所选监听设备不在，暂用系统默认设备。";
constexpr const char* kHeldByOtherCopy =
    "另一个正在运行的青禾主持人音效辅助工具占用着虚拟麦克风：本程序的音效只在监听设备上播放。";
constexpr const char* kNoMicrophone = "找不到所选的麦克风，直通未开启。";
constexpr const char* kNotSaved = "声音设置无法写入 my.ini，下次启动时仍是原来的设置。";
// Where neither X11 grabs nor the desktop's portal give keys, the desktop's
// own shortcut settings can still run the board's remote.
constexpr const char* kNoGlobalKeys = "本桌面不支持全局热键；可在桌面的快捷键设置里绑定命令：%1 --play-slot N（N=1–18）、%1 --stop";
constexpr const char* kPortalProblem = "（桌面的回答：%1）";
constexpr const char* kPortalAsking = "正在向桌面申请全局热键…";
constexpr const char* kPortalKeys = "热键由桌面管理：这里的键交给桌面作建议，每行显示桌面实际用的键。";
constexpr const char* kPortalTrigger = "桌面使用：%1";
// Some desktops bind nothing at first and open their own shortcut settings instead.
constexpr const char* kPortalNoKeysYet = "桌面还没有给这些热键绑定按键，请在桌面的快捷键设置里设置。";
constexpr const char* kClearText = "清除";
constexpr const char* kStoredKeysTaken = "以下热键已被其他程序占用，暂不起作用，请换一个键：";
constexpr const char* kStoredKeysUnsafe = "以下热键在打字时也会触发，没有启用，请加上 Ctrl、Alt 或 Win 键重新设置：";
// The 19 key fields stand in three columns of seven rows so the window stays on a small screen.
constexpr int kHotKeyColumns = 3;
constexpr int kSlotRows = (kHotKeyActionCount + kHotKeyColumns - 1) / kHotKeyColumns;
// Each row: its caption, its key field, its clear button.
constexpr int kRowCells = 3;
// A row names its slot by the slot's caption, or says the slot is empty.
constexpr const char* kEmptySlot = "(空)";
// Longer captions are cut with an ellipsis, so both columns stay on a small screen.
constexpr int kRowCaptionCharacters = 8;
// The widest combination a key field shows whole.
constexpr const char* kWidestKeys = "Ctrl+Alt+Shift+F12";
// What a line edit keeps on each side of its text.
constexpr int kLineEditMargin = 2;
constexpr double kMillisecondsPerSecond = 1000;

QString rowCaption(int action, const SlotCaption& slotCaption)
{
    if (action >= kHotKeyActionCount || action == kStopHotKeyAction)
        return hotKeyName(action);
    QString caption = slotCaption ? slotCaption(action + 1) : QString();
    if (caption.size() > kRowCaptionCharacters)
        caption = caption.left(kRowCaptionCharacters - 1) + QChar(0x2026);
    return hotKeyName(action) + QLatin1Char(' ') + (caption.isEmpty() ? QString::fromUtf8(kEmptySlot) : caption);
}

QString statusLine(const RoutingStatus& status)
{
    if (!status.checked)
        return QString::fromUtf8(kAsking);
    if (!status.serverReachable)
        return QString::fromUtf8(status.reconnecting ? kServerLost : kNoServer);
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
    case RoutingProblem::HeldByOtherCopy:
        line = QString::fromUtf8(kHeldByOtherCopy);
        break;
    case RoutingProblem::NoServer:
    case RoutingProblem::None:
        break;
    }
    return line;
}

}  // namespace

RuntimeWindow* openSoundSettingsWindow(WindowRuntime& runtime, SoundRouting* routing, const QString& settingsFile,
                                       GlobalHotKeys* hotKeys, SlotCaption slotCaption)
{
    return runtime.openWindow(QString::fromLatin1(kSoundSettingsKey), QString::fromLatin1(kSoundSettingsWindowDefinition),
                              [routing, settingsFile, hotKeys, slotCaption] {
                                  return new SoundSettingsWindow(routing, settingsFile, hotKeys, slotCaption);
                              });
}

SoundSettingsWindow::SoundSettingsWindow(SoundRouting* routing, QString settingsFile, GlobalHotKeys* hotKeys,
                                         SlotCaption slotCaption)
    : routing_(routing), settingsFile_(std::move(settingsFile)), slotCaption_(std::move(slotCaption)), hotKeys_(hotKeys)
{
}

void SoundSettingsWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.listeningDevices, "监听设备");
    binder.bind(controls_.microphoneSwitch, "虚拟麦克风");
    binder.bind(controls_.passThroughSwitch, "麦克风直通");
    binder.bind(controls_.microphones, "直通来源");
    binder.bind(controls_.statusText, "状态说明");
    binder.bind(controls_.chatLevel, "聊天音量");
    binder.bind(controls_.listeningLevel, "监听音量");
    binder.bind(controls_.microphoneLevel, "麦克风音量");
    binder.bind(controls_.duckSwitch, "说话时压低音乐");
    binder.bind(controls_.duckThreshold, "压低阈值");
    binder.bind(controls_.hotKeys, "热键");
    binder.bind(controls_.hotKeyText, "热键说明");
    binder.bind(controls_.hotKeyRows, "热键栏");
    binder.bind(controls_.overlapSwitch, "叠加播放");
    binder.bind(controls_.secondClickSwitch, "再次点击停止");
    binder.bind(controls_.stopFade, "停止淡出");
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
    // A level is taken once the host lets go of its slider (or moves it by key), not at every step of a drag.
    for (QSlider* level : {controls_.chatLevel, controls_.listeningLevel, controls_.microphoneLevel}) {
        level->setTracking(false);
        connect(level, &QSlider::valueChanged, this, [this] { settingsChanged(); });
    }
    // The settings' range, whatever the definition says; a threshold is taken once typed, not at each digit.
    controls_.duckThreshold->setRange(kLowestDuckThresholdDb, kHighestDuckThresholdDb);
    controls_.duckThreshold->setKeyboardTracking(false);
    connect(controls_.duckSwitch, &QCheckBox::clicked, this, [this] { settingsChanged(); });
    connect(controls_.duckThreshold, &QSpinBox::valueChanged, this, [this] { settingsChanged(); });
    connect(controls_.overlapSwitch, &QCheckBox::clicked, this, [this] { boardOptionsChanged(); });
    connect(controls_.secondClickSwitch, &QCheckBox::clicked, this, [this] { boardOptionsChanged(); });
    // The range is the settings', whatever the definition says; a time is taken once typed, not at each digit.
    controls_.stopFade->setRange(0, kLongestStopFadeMs / kMillisecondsPerSecond);
    controls_.stopFade->setKeyboardTracking(false);
    connect(controls_.stopFade, &QDoubleSpinBox::valueChanged, this, [this] { boardOptionsChanged(); });
    connect(controls_.closeButton, &QPushButton::clicked, this, &QWidget::close);
    buildHotKeyRows();
}

void SoundSettingsWindow::buildHotKeyRows()
{
    // The slots' rows show whole; the built-in effects' rows below them scroll, so the window keeps its height.
    auto* scroll = new QScrollArea(controls_.hotKeyRows);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* rows = new QWidget(scroll);
    hotKeyGrid_ = new QGridLayout(rows);
    hotKeyGrid_->setContentsMargins(0, 0, 0, 0);
    for (int action = 0; action < kHotKeyActionCount; ++action) {
        // "停止播放" first, then the slots in their order.
        const int place = action == kStopHotKeyAction ? 0 : action + 1;
        addHotKeyRow(action, place % kSlotRows, (place / kSlotRows) * kRowCells);
    }
    scroll->setWidget(rows);
    scroll->setMinimumSize(rows->minimumSizeHint().width() + scroll->verticalScrollBar()->sizeHint().width(),
                           rows->minimumSizeHint().height());
    auto* frame = new QVBoxLayout(controls_.hotKeyRows);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->addWidget(scroll);
    // The commands shown where keys are unavailable can be copied from here.
    controls_.hotKeyText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    keysHint_ = controls_.hotKeyText->text();
    if (hotKeys_ != nullptr)
        connect(hotKeys_, &GlobalHotKeys::changed, this, &SoundSettingsWindow::showHotKeys);
    showHotKeys();
}

void SoundSettingsWindow::addHotKeyRow(int action, int row, int column)
{
    QWidget* rows = hotKeyGrid_->parentWidget();
    auto* field = new QKeySequenceEdit(rows);
    field->setObjectName(hotKeyName(action));
    watchKeypad(field);
    if (const auto* shown = field->findChild<QLineEdit*>()) {
        const int frame = shown->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, shown);
        field->setMinimumWidth(shown->fontMetrics().horizontalAdvance(QString::fromLatin1(kWidestKeys)) +
                               2 * (kLineEditMargin + frame));
    }
    auto* clear = new QPushButton(QString::fromUtf8(kClearText), rows);
    clear->setObjectName(hotKeyName(action) + QString::fromUtf8(kClearText));
    hotKeyGrid_->addWidget(new QLabel(rowCaption(action, slotCaption_), rows), row, column);
    hotKeyGrid_->addWidget(field, row, column + 1);
    hotKeyGrid_->addWidget(clear, row, column + 2);
    keyFields_[action] = field;
    // The field hands its keys over once the host stops pressing; only the first combination counts.
    connect(field, &QKeySequenceEdit::keySequenceChanged, this, [this, action](const QKeySequence& keys) {
        if (!keys.isEmpty())
            hotKeyPressed(action);
    });
    connect(clear, &QPushButton::clicked, this, [this, action] { hotKeyCleared(action); });
}

void SoundSettingsWindow::showHotKeys()
{
    const bool available = hotKeys_ != nullptr && hotKeys_->available();
    const PortalShortcuts* portal = hotKeys_ != nullptr ? hotKeys_->portal() : nullptr;
    const HotKeyTexts stored = readHotKeys(settingsFile_);
    // A built-in effect gets its row once it has a key, so every key the host
    // set is listed here; a row stays while the window is open, cleared or not.
    for (int action = kFirstEffectHotKeyAction; action < hotKeyActionTotal(); ++action) {
        const bool held = hotKeys_ != nullptr && !hotKeys_->keyOf(action).isEmpty();
        if (keyFields_[action] == nullptr && (held || !stored[action].isEmpty())) {
            addHotKeyRow(action, kSlotRows + effectRows_ / kHotKeyColumns, (effectRows_ % kHotKeyColumns) * kRowCells);
            ++effectRows_;
        }
    }
    if (!available) {
        QString text = QString::fromUtf8(kNoGlobalKeys).arg(remoteProgram());
        if (portal != nullptr && !portal->problem().isEmpty())
            text += QString::fromUtf8(kPortalProblem).arg(portal->problem());
        controls_.hotKeyText->setText(text);
    } else if (portal != nullptr) {
        bool anyKey = false;
        for (int action = 0; action < kHotKeyActionCount; ++action)
            anyKey = anyKey || !hotKeys_->activeKeyOf(action).isEmpty();
        controls_.hotKeyText->setText(QString::fromUtf8(portal->state() != PortalState::Bound ? kPortalAsking
                                                        : anyKey                              ? kPortalKeys
                                                                                              : kPortalNoKeysYet));
    } else {
        controls_.hotKeyText->setText(keysHint_);
    }
    controls_.hotKeyRows->setEnabled(available);
    // A stored key the program could not take, or would not as typing sets
    // it off, stays shown and stored, and is named above the fields, so the
    // host sees it does nothing now.
    QStringList notHeld;
    QStringList unsafe;
    for (int action = 0; action < hotKeyActionTotal(); ++action) {
        QKeySequenceEdit* field = keyFields_[action];
        if (field == nullptr)
            continue;
        const bool held = available && !hotKeys_->keyOf(action).isEmpty();
        if (available && !held && !stored[action].isEmpty())
            (typingSafeHotKey(stored[action]) ? notHeld : unsafe)
                << QStringLiteral("%1（%2）").arg(hotKeyName(action), stored[action]);
        const QSignalBlocker quiet(field);
        const bool desktopsWord = available && portal != nullptr;
        field->setKeySequence(QKeySequence::fromString(
            held || desktopsWord ? hotKeys_->activeKeyOf(action) : stored[action], QKeySequence::PortableText));
        // The desktop's own words for its key, also where they read as no key of Qt's.
        if (portal != nullptr && portal->state() == PortalState::Bound)
            field->setToolTip(QString::fromUtf8(kPortalTrigger).arg(hotKeys_->activeKeyOf(action)));
    }
    QStringList notes;
    if (!notHeld.isEmpty())
        notes << QString::fromUtf8(kStoredKeysTaken) + notHeld.join(QStringLiteral("、"));
    if (!unsafe.isEmpty())
        notes << QString::fromUtf8(kStoredKeysUnsafe) + unsafe.join(QStringLiteral("、"));
    if (!notes.isEmpty())
        controls_.hotKeyText->setText(notes.join(QLatin1Char('\n')));
    controls_.hotKeyText->setToolTip(controls_.hotKeyText->text());
}

void SoundSettingsWindow::hotKeyPressed(int action)
{
    const PressedKey key = pressedKey(keyFields_[action]);
    changeKey(action, key.text, key.shown);
}

void SoundSettingsWindow::hotKeyCleared(int action)
{
    changeKey(action, QString(), QString());
}

void SoundSettingsWindow::changeKey(int action, const QString& keyText, const QString& shownKey)
{
    changeHotKeyAsking(*hotKeys_, settingsFile_, action, keyText, shownKey, slotCaption_);
    // A refused key leaves the row as it was; a moved one changes the other sound's row too.
    showHotKeys();
    // Leaving the field ends its recording, so the next key press starts afresh; it has finished already.
    const QSignalBlocker quiet(keyFields_[action]);
    keyFields_[action]->clearFocus();
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
    controls_.overlapSwitch->setChecked(settings_.overlapPlayback);
    controls_.secondClickSwitch->setChecked(settings_.secondClickStops);
    {
        const QSignalBlocker quiet(controls_.stopFade);
        controls_.stopFade->setValue(settings_.stopFadeMs / kMillisecondsPerSecond);
    }
    controls_.passThroughSwitch->setChecked(settings_.passThrough);
    for (const auto& [slider, level] : {std::pair{controls_.chatLevel, settings_.chatLevel},
                                        std::pair{controls_.listeningLevel, settings_.listeningLevel},
                                        std::pair{controls_.microphoneLevel, settings_.microphoneLevel}}) {
        const QSignalBlocker quiet(slider);
        slider->setValue(level);
    }
    controls_.duckSwitch->setChecked(settings_.duckMusic);
    {
        const QSignalBlocker quiet(controls_.duckThreshold);
        controls_.duckThreshold->setValue(settings_.duckThresholdDb);
    }
    controls_.duckSwitch->setEnabled(available);
    controls_.duckThreshold->setEnabled(available && settings_.duckMusic);
    controls_.chatLevel->setEnabled(available && settings_.virtualMicrophone);
    controls_.listeningLevel->setEnabled(available && settings_.virtualMicrophone);
    controls_.microphoneLevel->setEnabled(available && settings_.virtualMicrophone && settings_.passThrough);
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

// The board takes these when the window closes; the sound server has no part in them.
void SoundSettingsWindow::boardOptionsChanged()
{
    settings_.overlapPlayback = controls_.overlapSwitch->isChecked();
    settings_.secondClickStops = controls_.secondClickSwitch->isChecked();
    settings_.stopFadeMs = static_cast<int>(std::lround(controls_.stopFade->value() * kMillisecondsPerSecond));
    if (!writeSoundSettings(settingsFile_, settings_))
        messageBox(QString::fromUtf8(kNotSaved));
}

void SoundSettingsWindow::settingsChanged()
{
    settings_.listeningDevice = controls_.listeningDevices->currentData().toString().toStdString();
    settings_.virtualMicrophone = controls_.microphoneSwitch->isChecked();
    settings_.passThrough = controls_.passThroughSwitch->isChecked();
    settings_.passThroughSource = controls_.microphones->currentData().toString().toStdString();
    settings_.chatLevel = controls_.chatLevel->value();
    settings_.listeningLevel = controls_.listeningLevel->value();
    settings_.microphoneLevel = controls_.microphoneLevel->value();
    settings_.duckMusic = controls_.duckSwitch->isChecked();
    settings_.duckThresholdDb = controls_.duckThreshold->value();
    showSettings();
    if (!writeSoundSettings(settingsFile_, settings_))
        messageBox(QString::fromUtf8(kNotSaved));
    if (routing_)
        routing_->apply(settings_);
}

}  // namespace qinghe
