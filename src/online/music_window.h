#pragma once

#include "online/addresses.h"
#include "runtime/notification_area_hiding.h"
#include "runtime/runtime_window.h"

#include <functional>

class QLabel;
class QWebEngineView;

namespace qinghe {

class WindowRuntime;

inline constexpr const char* kMusicWindowDefinition = ":/ui/music_window.ui";
inline constexpr const char* kMusicWindowToolTip = "青禾在线音乐播放器运行中";

// Opens the online music player, or brings the open one forward: restored
// when minimised or hidden in the notification area, activated otherwise.
// notificationAreaAvailable empty: the desktop is asked.
RuntimeWindow* openMusicWindow(WindowRuntime& runtime, const Addresses& addresses,
                               std::function<bool()> notificationAreaAvailable = {});

// "青禾在线音乐播放器": an outside web player seen through the window, our
// banner over it, and a small side view; hides into the notification area
// when minimised, as the main window does.
class MusicWindow : public RuntimeWindow {
    Q_OBJECT

public:
    MusicWindow(Addresses addresses, std::function<bool()> notificationAreaAvailable);

    const NotificationIcon& notificationIcon() const { return notificationAreaHiding_.icon(); }

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;
    void onMoved() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The controls of the definition, bound at load.
    struct Controls {
        QLabel* banner = nullptr;                 // 图片框1
        QWebEngineView* playerView = nullptr;     // 超文本浏览框1
        QWebEngineView* sideView = nullptr;       // 超文本浏览框2
    };

    Addresses addresses_;
    Controls controls_;
    NotificationAreaHiding notificationAreaHiding_;
};

}  // namespace qinghe
