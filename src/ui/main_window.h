#pragma once

#include "runtime/notification_area_hiding.h"
#include "runtime/runtime_window.h"
#include "board/custom_sound_tables.h"
#include "board/sound_board.h"
#include "board/sound_catalogue.h"
#include "media/player/media_player.h"
#include "online/addresses.h"
#include "online/online_jobs.h"

#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <set>

class QAction;
class QCheckBox;
class QLabel;
class QSlider;
class QTabWidget;
class QTimer;
class QToolBar;
class QWebEngineView;

namespace qinghe {

class GlobalHotKeys;
class MicrophoneLevel;
class NowPlayingStrip;
class SoundRouting;
class SoundSearchWindow;
class Updater;
class WindowRuntime;

inline constexpr const char* kMainWindowDefinition = ":/ui/main_window.ui";
inline constexpr const char* kMainWindowToolTip = "青禾音效辅助工具运行中";
// Toolbar buttons by their index.
inline constexpr int kToolbarMusicPlayer = 0;
inline constexpr int kToolbarLyrics = 1;
inline constexpr int kToolbarNotepad = 2;
inline constexpr int kToolbarCustomPage = 3;
inline constexpr int kToolbarContact = 4;

// What the main window works with; the start-up sequence owns all of it.
struct MainWindowContext {
    WindowRuntime& runtime;
    CustomSoundTables& customSounds;
    Addresses addresses;
    QString settingsFile;  // my.ini
    // Some desktops have no notification area; the window then minimises normally.
    std::function<bool()> notificationAreaAvailable;
    // Ends the message loop with an exit code; empty: the application's own.
    std::function<void(int exitCode)> endProgram;
    QString programFolder;  // where an update goes; empty: the program's own folder
    // The version checks, the user counter and the update; the start-up
    // sequence owns it. Null: the window keeps one of its own.
    Updater* updater = nullptr;
    // The virtual microphone and listening device of the sound settings; the
    // start-up sequence owns it. Null: the settings say it is unavailable.
    SoundRouting* soundRouting = nullptr;
    // 说话时压低音乐's ear on the microphone; null: the line never speaks of it.
    MicrophoneLevel* microphoneLevel = nullptr;
    // The keys that fire the board while another program has the focus;
    // null: the settings say global keys are unavailable.
    GlobalHotKeys* hotKeys = nullptr;
    // The name the board's remote takes on the session bus; empty: no remote.
    QString remoteServiceName;
};

// The start window and sound board. Its controls come from its definition
// and the board buttons from the sound catalogue.
class MainWindow : public RuntimeWindow {
    Q_OBJECT

public:
    explicit MainWindow(MainWindowContext context);
    ~MainWindow() override;

    // Loads, creates and shows the main window; null when its definition cannot be loaded.
    static MainWindow* open(MainWindowContext context, const QString& definitionPath = kMainWindowDefinition);

    const NotificationIcon& notificationIcon() const { return notificationAreaHiding_.icon(); }
    MediaPlayer& player() { return player_; }
    void onToolbarButton(int index);
    void onNotificationAction(int code) { notificationAreaHiding_.iconAction(code); }

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;
    void onMoved() override;
    // Every way of closing the board comes here: while live it asks first.
    void closeEvent(QCloseEvent* event) override;

private:
    // The controls of the definition that the handlers use, bound at load.
    struct Controls {
        QToolBar* toolbar = nullptr;               // 工具条1
        QTabWidget* boardTabs = nullptr;           // 高级选择夹1
        QSlider* volumeSlider = nullptr;           // 滑块条1
        QLabel* volumeText = nullptr;              // 标签2
        QCheckBox* soundCardOption = nullptr;      // 选择框1
        NowPlayingStrip* nowPlaying = nullptr;     // 正在播放
        QWebEngineView* advertisingPanel = nullptr;  // 超文本浏览框1
        QLabel* newVersionLabel = nullptr;         // 新版本
        QLabel* userCountLabel = nullptr;          // 标签5
        QLabel* versionLabel = nullptr;            // 检查更新
        QLabel* statusLine = nullptr;              // 状态行
        QAction* siteHomeItem = nullptr;           // 官方网站
        QAction* updateItem = nullptr;             // 在线更新
        QAction* helpItem = nullptr;               // 使用帮助
        QAction* partnerPortalItem = nullptr;      // 轻轻一点
        QAction* partnerWindowItem = nullptr;      // 赞助我们
        QAction* partnerBonusItem = nullptr;       // 网络赚钱
        QAction* soundSettingsItem = nullptr;      // 声音设置
    };

    void buildBoard();
    void wireBoard();
    // The status line says it for a few seconds, then goes back to what lasts.
    void showStatus(const QString& message);
    // What the status line says while nothing else is told, until it is taken back (empty).
    void setLastingStatus(const QString& text);
    void putOnStatusLine(const QString& text);
    // A second copy whose effects cannot reach the chat says so while it lasts.
    void watchRouting();
    // Music that no longer goes down under the host's voice says so while it lasts.
    void watchMicrophone();
    void showLastingStatus();
    // Empty when what the button does was done, else why not.
    QString onBoardButton(const BoardButton& entry);
    void wireToolbar();
    void wireMenu();
    // 叠加播放, 再次点击停止 and 停止淡出 as 声音设置 keeps them in my.ini.
    void applyBoardOptions();
    // Ctrl+F: the search over every effect and bound slot.
    void wireSearch();
    // What a custom slot (1..18) shows; empty while nothing is bound to it.
    QString slotCaption(int slot) const;
    void loadAdvertisingPanel();
    // What the online jobs and the update check show, on this window.
    VersionSurface versionSurface();
    void wireUpdater();
    // Serves the board's remote on the session bus: the calls do what the
    // clicks and the virtual microphone's switch do.
    void publishRemote();
    // Empty when it plays, else why not; nullopt for no such effect.
    std::optional<QString> playEffectByCaption(const QString& caption);
    // Empty when switched, else why not.
    QString switchVirtualMicrophone(bool on);
    // The virtual microphone is on or a sound plays: leaving ends the show.
    bool isLive() const;
    // While live the host is asked once; true when the board may go.
    bool leavingAgreed();
    // The icon's 退出: asked once, then every window closes, the board last.
    void quitProgram();

    MainWindowContext context_;
    Controls controls_;
    NotificationAreaHiding notificationAreaHiding_;
    // The board's one player, the control 媒体播放1.
    MediaPlayer player_;
    std::unique_ptr<SoundBoard> board_;
    QTimer* statusTimer_ = nullptr;  // ends a message on the status line; made with the first
    QString lastingStatus_;
    bool microphoneHeldElsewhere_ = false;  // as the routing last told
    bool duckingDeaf_ = false;              // ducking is on and hears no microphone
    std::unique_ptr<Updater> ownUpdater_;
    Updater* updater_ = nullptr;
    QPointer<SoundSearchWindow> searchWindow_;
    // Every voice the engine started, until it ends.
    std::set<VoiceId> voices_;
    bool askingToLeave_ = false;
    bool leaveAgreed_ = false;  // the host said 是 for the close under way
};

}  // namespace qinghe
