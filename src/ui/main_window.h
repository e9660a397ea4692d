#pragma once

#include "runtime/notification_icon.h"
#include "runtime/runtime_window.h"
#include "board/custom_sound_tables.h"
#include "board/sound_board.h"
#include "board/sound_catalogue.h"
#include "media/media_player.h"
#include "online/addresses.h"

#include <functional>
#include <memory>

class QAction;
class QTabWidget;

namespace qinghe {

class WindowRuntime;

inline constexpr const char* kMainWindowDefinition = ":/ui/main_window.ui";
inline constexpr const char* kMainWindowToolTip = "青禾音效辅助工具运行中";
// Toolbar buttons by their index.
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
};

// The start window and sound board. Its controls come from its definition
// and the board buttons from the sound catalogue.
class MainWindow : public RuntimeWindow {
    Q_OBJECT

public:
    explicit MainWindow(MainWindowContext context);

    // Loads, creates and shows the main window; null when its definition cannot be loaded.
    static MainWindow* open(MainWindowContext context, const QString& definitionPath = kMainWindowDefinition);

    const NotificationIcon& notificationIcon() const { return notificationIcon_; }
    MediaPlayer& player() { return player_; }
    void onToolbarButton(int index);
    void onNotificationAction(int code);

protected:
    void onCreated() override;
    void onMoved() override;

private:
    void buildBoard();
    void wireBoard();
    void onBoardButton(const BoardButton& entry);
    void wireToolbar();
    void wireMenu();
    void loadAdvertisingPanel();

    MainWindowContext context_;
    NotificationIcon notificationIcon_;
    // The board's one player, the control 媒体播放1.
    MediaPlayer player_;
    std::unique_ptr<SoundBoard> board_;
};

}  // namespace qinghe
