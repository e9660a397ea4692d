#include "main_window.h"

#include "hotkeys/global_hot_keys.h"
#include "board_grid.h"
#include "now_playing_strip.h"
#include "slot_drop.h"
#include "sound_menu.h"

#include "base/window_thread.h"
#include "runtime/dialogs.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"
#include "editor/editor_window.h"
#include "lyrics/lyrics_window.h"
#include "runtime/links.h"
#include "online/music_window.h"
#include "online/partner_window.h"
#include "online/self_update.h"
#include "online/update_window.h"
#include "online/updater.h"
#include "remote/board_remote.h"
#include "search/sound_search_window.h"
#include "soundserver/microphone_level.h"
#include "soundserver/sound_routing.h"
#include "soundserver/sound_settings.h"
#include "runtime/web_view.h"
#include "settings/sound_settings_window.h"
#include "skin/skin_binding.h"
#include "text/gbk.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QTimer>
#include <QTabWidget>
#include <QToolBar>
#include <QWebEngineView>

#include <algorithm>

namespace qinghe {
namespace {

constexpr const char* kSlotNotSavedBox = "自定义音效无法写入 my.ini，下次启动时不会保留。";
constexpr const char* kMicrophoneHeldElsewhere = "另一个青禾正在使用虚拟麦克风：这里的音效只在耳机里播放";
constexpr const char* kMicrophoneGone = "麦克风已断开：音乐不再随说话压低";
constexpr const char* kLeavingWhileLiveQuestion = "正在直播：虚拟麦克风开启中（或：正在播放），确定要退出吗？";

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MainWindow::MainWindow(MainWindowContext context)
    : context_(std::move(context)),
      notificationAreaHiding_(*this, QString::fromUtf8(kMainWindowToolTip), context_.notificationAreaAvailable)
{
    if (context_.updater == nullptr) {
        ownUpdater_ = std::make_unique<Updater>(context_.addresses, context_.programFolder);
        context_.updater = ownUpdater_.get();
    }
    updater_ = context_.updater;
}

MainWindow::~MainWindow() = default;

MainWindow* MainWindow::open(MainWindowContext context, const QString& definitionPath)
{
    registerWebViewControl();
    registerNowPlayingStripControl();
    WindowRuntime& runtime = context.runtime;
    auto* window = new MainWindow(std::move(context));
    if (!runtime.createWindow(window, definitionPath))
        return nullptr;
    return window;
}

void MainWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.toolbar, "工具条1");
    binder.bind(controls_.boardTabs, "高级选择夹1");
    binder.bind(controls_.volumeSlider, "滑块条1");
    binder.bind(controls_.volumeText, "标签2");
    binder.bind(controls_.soundCardOption, "选择框1");
    binder.bind(controls_.nowPlaying, "正在播放");
    binder.bind(controls_.advertisingPanel, "超文本浏览框1");
    binder.bind(controls_.newVersionLabel, "新版本");
    binder.bind(controls_.userCountLabel, "标签5");
    binder.bind(controls_.versionLabel, "检查更新");
    binder.bind(controls_.statusLine, "状态行");
    binder.bind(controls_.siteHomeItem, "官方网站");
    binder.bind(controls_.updateItem, "在线更新");
    binder.bind(controls_.helpItem, "使用帮助");
    binder.bind(controls_.partnerPortalItem, "轻轻一点");
    binder.bind(controls_.partnerWindowItem, "赞助我们");
    binder.bind(controls_.partnerBonusItem, "网络赚钱");
    binder.bind(controls_.soundSettingsItem, "声音设置");
    // The catalogue's buttons stand on the tab control's pages.
    if (controls_.boardTabs != nullptr && controls_.boardTabs->count() < kBoardPageCount)
        binder.markMissing(QStringLiteral("高级选择夹1 第%1页").arg(kBoardPageCount));
}

void MainWindow::onCreated()
{
    // The board comes first: the buttons' menus work on it.
    wireBoard();
    buildBoard();
    controls_.nowPlaying->follow(*board_);
    wireToolbar();
    wireMenu();
    wireSearch();
    loadAdvertisingPanel();
    // Start-up actions in their order: the skin is attached before the slots
    // are restored, and the version check and the online counter start after.
    attachProgramSkin();
    board_->restoreSlots(kCustomSlotCount);
    applyBoardOptions();
    wireUpdater();
    updater_->startBackgroundChecks();
    watchRouting();
    watchMicrophone();
    publishRemote();
}

void MainWindow::watchRouting()
{
    SoundRouting* routing = context_.soundRouting;
    if (routing == nullptr)
        return;
    const auto show = [](const QPointer<MainWindow>& window, const RoutingStatus& status) {
        if (!window)
            return;
        window->microphoneHeldElsewhere_ = status.problem == RoutingProblem::HeldByOtherCopy;
        window->showLastingStatus();
    };
    // The routing tells on its own thread, and may outlive the window.
    routing->addStatusListener([show, window = QPointer<MainWindow>(this)](const RoutingStatus& status) {
        postToWindowThread([show, window, status] { show(window, status); });
    });
    show(this, routing->status());
}

void MainWindow::watchMicrophone()
{
    MicrophoneLevel* level = context_.microphoneLevel;
    if (level == nullptr)
        return;
    const auto show = [](const QPointer<MainWindow>& window, MicrophoneWatch watch) {
        if (!window)
            return;
        window->duckingDeaf_ = watch == MicrophoneWatch::Lost;
        window->showLastingStatus();
    };
    level->addWatchListener([show, window = QPointer<MainWindow>(this)](MicrophoneWatch watch) {
        postToWindowThread([show, window, watch] { show(window, watch); });
    });
    show(this, level->watch());
}

// Effects that miss the chat weigh more than music that stays up.
void MainWindow::showLastingStatus()
{
    setLastingStatus(microphoneHeldElsewhere_ ? QString::fromUtf8(kMicrophoneHeldElsewhere)
                     : duckingDeaf_           ? QString::fromUtf8(kMicrophoneGone)
                                              : QString());
}

void MainWindow::publishRemote()
{
    if (context_.remoteServiceName.isEmpty())
        return;
    // A sound heard only in the host's headphones never reached the chat: the remote hears why.
    const auto reachedChat = [this](const QString& why) {
        return why.isEmpty() && microphoneHeldElsewhere_ ? QString::fromUtf8(kMicrophoneHeldElsewhere) : why;
    };
    BoardActions actions;
    actions.playSlot = [this, reachedChat](int slot) { return reachedChat(board_->playSlot(slot)); };
    actions.playEffect = [this, reachedChat](const QString& caption) {
        const std::optional<QString> why = playEffectByCaption(caption);
        return why ? std::optional<QString>(reachedChat(*why)) : std::nullopt;
    };
    actions.stop = [this] {
        board_->stop();
        return QString();
    };
    actions.setVirtualMicrophone = [this](bool on) { return switchVirtualMicrophone(on); };
    // Without a session bus the board simply has no remote.
    (new BoardRemote(std::move(actions), this))->publish(context_.remoteServiceName);
}

std::optional<QString> MainWindow::playEffectByCaption(const QString& caption)
{
    for (const BoardButton& entry : boardCatalogue()) {
        if (entry.action == BoardAction::PlayEffect && fromUtf8(entry.caption) == caption)
            return onBoardButton(entry);
    }
    return std::nullopt;
}

// What the switch of 声音设置 does: the choice kept in my.ini and carried out.
QString MainWindow::switchVirtualMicrophone(bool on)
{
    if (context_.soundRouting == nullptr)
        return QStringLiteral("无法切换虚拟麦克风");
    SoundSettings settings = readSoundSettings(context_.settingsFile);
    settings.virtualMicrophone = on;
    // A my.ini that cannot be written still switches for this run, as the switch does.
    writeSoundSettings(context_.settingsFile, settings);
    context_.soundRouting->apply(settings);
    return {};
}

// The updater reads on its own threads and reports here, on the window thread.
void MainWindow::wireUpdater()
{
    connect(updater_, &Updater::newVersionFound, this, [this] { showNewVersion(versionSurface()); });
    connect(updater_, &Updater::usersCounted, this, [this](const Text& count) { showUserCount(count, versionSurface()); });
    connect(updater_, &Updater::manualCheckRead, this, [this](const Text& latest) {
        const QString folder =
            context_.programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : context_.programFolder;
        answerUpdateCheck(latest, versionSurface(), selfUpdateRefusal(QCoreApplication::applicationFilePath(), folder));
    });
}

VersionSurface MainWindow::versionSurface()
{
    // The version check's boxes leave the board free, so the board may be
    // closed while one stands: nothing here touches a window that has gone.
    const QPointer<MainWindow> window = this;
    VersionSurface surface;
    surface.setNewVersionLabel = [window](const QString& caption) {
        if (window)
            window->controls_.newVersionLabel->setText(caption);
    };
    surface.setUserCountLabel = [window](const QString& caption) {
        if (window)
            window->controls_.userCountLabel->setText(caption);
    };
    surface.setVersionLabel = [window](const QString& caption) {
        if (window)
            window->controls_.versionLabel->setText(caption);
    };
    surface.messageBox = [](const QString& text, int style) { return backgroundMessageBox(text, style); };
    surface.openUpdateWindow = [window, &runtime = context_.runtime, updater = updater_] {
        return window && runUpdateWindow(runtime, *updater) == UpdateEnd::updated;
    };
    surface.closeMainWindow = [window] {
        if (window)
            window->close();
    };
    surface.endProgram = [end = context_.endProgram](int exitCode) {
        if (end)
            end(exitCode);
        else
            QCoreApplication::exit(exitCode);
    };
    return surface;
}

void MainWindow::buildBoard()
{
    QTabWidget* tabs = controls_.boardTabs;
    auto* grid = new BoardGrid(tabs);
    auto* drops = new SlotDropTarget(this, [this](int slot, const QString& file) {
        // A file that will not play is refused by the board, with its reason.
        if (file.isEmpty())
            refuseDroppedFile();
        else
            board_->fileDropped(slot, nameFromQString(file));
    });
    auto* menus =
        new SoundMenus(this, {context_.runtime, *board_, context_.customSounds, context_.settingsFile, context_.hotKeys});
    for (const BoardButton& entry : boardCatalogue()) {
        QWidget* page = tabs->widget(entry.page);
        auto* button = new QPushButton(fromUtf8(entry.caption), page);
        button->setObjectName(fromUtf8(entry.name));
        button->resize(kBoardButtonWidth, kBoardButtonHeight);
        grid->place(button, QPoint(boardButtonLeft(entry.column), boardButtonTop(entry.row)));
        button->setFocusPolicy(Qt::StrongFocus);
        button->setAutoDefault(false);
        button->setProperty(kTagProperty, entry.slot > 0 ? QString::number(entry.slot) : QString());
        connect(button, &QPushButton::clicked, this, [this, &entry] { onBoardButton(entry); });
        if (entry.action == BoardAction::CustomSlot) {
            drops->watch(button, entry.slot);
            button->setToolTip(nameToQString(slotToolTip(context_.customSounds, entry.slot)));
        }
        if (entry.action != BoardAction::Stop)
            menus->watch(button, entry);
    }
}

void MainWindow::wireBoard()
{
    QSlider* slider = controls_.volumeSlider;
    BoardSurface surface;
    surface.volumePosition = [slider] { return slider->value(); };
    surface.setSlotCaption = [this](int slot, const Text& caption) {
        if (auto* button = qobject_cast<QAbstractButton*>(controlByTag(slot))) {
            button->setText(nameToQString(caption));
            button->setToolTip(nameToQString(slotToolTip(context_.customSounds, slot)));
        }
        // An open search lists the slot under its new name.
        if (searchWindow_)
            searchWindow_->setEntries(boardSearchEntries([this](int n) { return slotCaption(n); }));
    };
    surface.askSoundFile = [](const Text& lastChoice) {
        FileDialogRequest request;
        request.initialPath = nameToQString(lastChoice);
        return nameFromQString(askFileName(request));
    };
    surface.askSlotName = &askSlotName;
    surface.slotNotSaved = [](int) {
        messageBox(QString::fromUtf8(kSlotNotSavedBox));
    };
    surface.fileRefused = [](const QString& reason) { messageBox(reason, kBoxOkInformation); };
    surface.soundNotPlayed = [this](const QString& message) { showStatus(message); };
    surface.doubleClick = std::chrono::milliseconds(QApplication::doubleClickInterval());
    board_ = std::make_unique<SoundBoard>(context_.customSounds, context_.settingsFile, std::move(surface));
    connect(&SoundEngine::instance(), &SoundEngine::voiceEnded, this, [this](VoiceId voice, VoiceEnd end) {
        voices_.erase(voice);
        board_->voiceEnded(voice, end);
    });
    // Any sound counts, the board's own and those of the side windows.
    connect(&SoundEngine::instance(), &SoundEngine::voiceStarted, this,
            [this](VoiceId voice) { voices_.insert(voice); });

    connect(slider, &QSlider::valueChanged, this, [this](int position) {
        controls_.volumeText->setText(QString::number(position));
        board_->applyVolume();
    });
    // The sound-card option only answers; it changes nothing else.
    connect(controls_.soundCardOption, &QCheckBox::clicked, this, [](bool checked) {
        messageBox(checked ? QStringLiteral("恭喜,开启成功!") : QStringLiteral("哦耶,关闭成功!"));
    });
}

void MainWindow::showStatus(const QString& message)
{
    // Long enough to be read between two sentences of a show.
    constexpr int kStatusShownMs = 5000;
    putOnStatusLine(message);
    if (!statusTimer_) {
        statusTimer_ = new QTimer(this);
        statusTimer_->setSingleShot(true);
        connect(statusTimer_, &QTimer::timeout, this, [this] { putOnStatusLine(lastingStatus_); });
    }
    statusTimer_->start(kStatusShownMs);
}

void MainWindow::setLastingStatus(const QString& text)
{
    lastingStatus_ = text;
    if (!statusTimer_ || !statusTimer_->isActive())
        putOnStatusLine(text);
}

// A long path keeps both its ends; the whole text is the line's tooltip.
void MainWindow::putOnStatusLine(const QString& text)
{
    QLabel* line = controls_.statusLine;
    line->setText(line->fontMetrics().elidedText(text, Qt::ElideMiddle, line->width()));
    line->setToolTip(text);
    line->setVisible(!text.isEmpty());
    line->raise();
}

QString MainWindow::onBoardButton(const BoardButton& entry)
{
    switch (entry.action) {
    case BoardAction::PlayEffect:
        // At the effect's own volume, kept under its caption.
        return board_->playEffect(Text(entry.effectFile), fromQString(fromUtf8(entry.caption)));
    case BoardAction::Stop:
        board_->stop();
        break;
    case BoardAction::CustomSlot:
        board_->customSlotClicked(entry.slot);
        break;
    }
    return {};
}

void MainWindow::wireToolbar()
{
    QToolBar* toolbar = controls_.toolbar;
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    // The toolbar is as tall as its buttons want, whatever the definition's starting height.
    toolbar->resize(toolbar->width(), toolbar->sizeHint().height());
    connect(toolbar, &QToolBar::actionTriggered, this,
            [this, toolbar](QAction* action) { onToolbarButton(static_cast<int>(toolbar->actions().indexOf(action))); });
}

void MainWindow::onToolbarButton(int index)
{
    switch (index) {
    case kToolbarCustomPage:
        controls_.boardTabs->setCurrentIndex(kCustomSlotPage);
        break;
    case kToolbarContact:
        openAddress(context_.addresses.contactPage());
        break;
    case kToolbarNotepad:
        openEditorWindow(context_.runtime, context_.addresses.contactPage());
        break;
    case kToolbarMusicPlayer:
        openMusicWindow(context_.runtime, context_.addresses, context_.notificationAreaAvailable);
        break;
    case kToolbarLyrics:
        openLyricsWindow(context_.runtime, context_.addresses);
        break;
    default:
        break;
    }
}

void MainWindow::wireMenu()
{
    const Addresses& addresses = context_.addresses;
    connect(controls_.siteHomeItem, &QAction::triggered, this, [addresses] { openAddress(addresses.siteHome()); });
    connect(controls_.helpItem, &QAction::triggered, this, [addresses] { openAddress(addresses.siteHome()); });
    connect(controls_.partnerPortalItem, &QAction::triggered, this,
            [addresses] { openAddress(addresses.partnerPortal()); });
    connect(controls_.partnerBonusItem, &QAction::triggered, this,
            [addresses] { openAddress(addresses.partnerBonusPage()); });
    connect(controls_.partnerWindowItem, &QAction::triggered, this,
            [this] { openPartnerWindow(context_.runtime, context_.addresses); });
    connect(controls_.soundSettingsItem, &QAction::triggered, this, [this] {
        // The hot-key rows name each slot as its button does.
        RuntimeWindow* settings =
            openSoundSettingsWindow(context_.runtime, context_.soundRouting, context_.settingsFile, context_.hotKeys,
                                    [this](int slot) { return slotCaption(slot); });
        // The board's options are taken once the host is done with the window.
        if (settings != nullptr)
            connect(settings, &QObject::destroyed, this, &MainWindow::applyBoardOptions, Qt::UniqueConnection);
    });
    // A hot key does what its button does.
    if (context_.hotKeys)
        connect(context_.hotKeys, &GlobalHotKeys::pressed, this, [this](int action) {
            if (action == kStopHotKeyAction)
                board_->stop();
            else if (action >= kFirstEffectHotKeyAction)
                playEffectByCaption(hotKeyName(action));
            else
                board_->customSlotClicked(action + 1);
        });
    // The updater reads the page off this thread and answers by manualCheckRead;
    // a second click while it reads is passed over.
    connect(controls_.updateItem, &QAction::triggered, this, [this] { updater_->checkNow(); });
    // The icon the board hides behind: the board back, quiet, or the whole
    // program closed, each window by its own rules (the notepad asks first).
    notificationAreaHiding_.setIconMenu({
        {QStringLiteral("显示主界面"), [this] { notificationAreaHiding_.showWindow(); }},
        {QStringLiteral("停止播放"), [this] { board_->stop(); }},
        {QStringLiteral("退出"), [this] { quitProgram(); }},
    });
}

bool MainWindow::isLive() const
{
    if (context_.soundRouting != nullptr && context_.soundRouting->status().microphoneOn)
        return true;
    const SoundEngine& engine = SoundEngine::instance();
    return std::any_of(voices_.begin(), voices_.end(), [&engine](VoiceId voice) { return engine.playing(voice); });
}

bool MainWindow::leavingAgreed()
{
    if (leaveAgreed_)
        return true;
    // A second way of leaving while the host is being asked waits for that answer.
    if (askingToLeave_)
        return false;
    if (!isLive())
        return true;
    askingToLeave_ = true;
    // The box's own loop goes on serving the remote and the hot keys.
    const int answer = messageBox(QString::fromUtf8(kLeavingWhileLiveQuestion),
                                  kBoxYesNoQuestion | kBoxSecondButtonDefault);
    askingToLeave_ = false;
    return answer == kAnswerYes;
}

void MainWindow::quitProgram()
{
    // Asked before any side window closes, so 否 keeps them all.
    if (!leavingAgreed())
        return;
    leaveAgreed_ = true;
    // A side window that keeps the host's work keeps the board too.
    if (!context_.runtime.closeAll())
        leaveAgreed_ = false;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!leavingAgreed()) {
        event->ignore();
        return;
    }
    RuntimeWindow::closeEvent(event);
}

void MainWindow::applyBoardOptions()
{
    const SoundSettings settings = readSoundSettings(context_.settingsFile);
    board_->setOverlapping(settings.overlapPlayback);
    board_->setSecondClickStops(settings.secondClickStops);
    board_->setStopFade(std::chrono::milliseconds(settings.stopFadeMs));
}

QString MainWindow::slotCaption(int slot) const
{
    return nameToQString(slotShownName(context_.customSounds, slot));
}

void MainWindow::wireSearch()
{
    auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    connect(find, &QShortcut::activated, this, [this] {
        // A sound found plays as a click on its button does.
        searchWindow_ = openSoundSearchWindow(context_.runtime,
                                              boardSearchEntries([this](int slot) { return slotCaption(slot); }),
                                              [this](const SearchEntry& entry) {
                                                  if (auto* button = findChild<QPushButton*>(entry.control))
                                                      button->click();
                                              });
    });
}

void MainWindow::loadAdvertisingPanel()
{
    // The board is shown first; the panel and its browser engine come right after.
    showWebViewAfterFirstPaint(controls_.advertisingPanel, QUrl(context_.addresses.advertisingPage()));
}

void MainWindow::onMoved()
{
    notificationAreaHiding_.windowMoved();
}

}  // namespace qinghe
