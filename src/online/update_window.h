#pragma once

#include "net/download_service.h"
#include "net/download_task.h"
#include "online/addresses.h"
#include "online/online_texts.h"
#include "runtime/runtime_window.h"

#include <QPointer>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qinghe {

class WindowRuntime;

inline constexpr const char* kUpdateWindowDefinition = ":/ui/update_window.ui";
// The update window waits this long before it reads the update page, with
// the program standing still, as the update has always begun.
inline constexpr std::chrono::milliseconds kUpdateStartDelay{2000};

// What the update works with. The download object and its task record are
// the program's, which outlive the window.
struct UpdateContext {
    DownloadService& downloadService;
    DownloadTask& downloadTask;
    Addresses addresses;
    // The update page read here is kept with the version check's texts.
    std::shared_ptr<OnlineTexts> onlineTexts;
    // Where the download goes and where the page's names are deleted and
    // started; empty: the program's own folder.
    QString programFolder;
    std::chrono::milliseconds startDelay = kUpdateStartDelay;
};

// Opens the update window modally and returns once it has closed: after the
// update has ended, or at once when no download could be started.
void runUpdateWindow(WindowRuntime& runtime, UpdateContext context);

class UpdateWindow;

// How the download service's threads reach the window. Only the window
// thread reads window; open says, without waiting, whether the window still
// takes events, so a handler called after it has closed returns at once.
struct UpdateWindowLink {
    QPointer<UpdateWindow> window;
    std::atomic<bool> open{true};
};

// "青禾主持人音效软件更新中...": from its creation the update runs by itself.
// It reads the update page, deletes the file the page names, downloads the
// new build beside the program showing its progress every second, says when
// the update has ended, starts the program the page names and closes.
class UpdateWindow : public RuntimeWindow {
    Q_OBJECT

public:
    explicit UpdateWindow(UpdateContext context);
    ~UpdateWindow() override;

    // The click handler of 按钮1: the save folder and the download's target.
    void chooseSaveLocation();

    enum class DownloadStart { noSaveFolder, refused, started };
    // The click handler of 按钮2: fills the program's task record and starts
    // the download.
    DownloadStart startDownload();

    // Every second while the download runs: speed, amount, percentage.
    void showProgress();

    // The download service's events, on the window thread; gives the answer.
    int onDownloadEvent(int event, std::int64_t value);

    // The full path the download was started for.
    const Text& downloadTarget() const { return downloadTarget_; }

signals:
    // The program has closed the window: the update is over.
    void closedByProgram();

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;
    // Only the program closes this window; a person cannot.
    void closeEvent(QCloseEvent* event) override;

private:
    // The controls of the definition, bound at load.
    struct Controls {
        QProgressBar* progress = nullptr;          // 进度条1
        std::array<QLabel*, 4> panels{};           // 状态条1: total, speed, downloaded, percent
        QLabel* percentText = nullptr;             // 透明标签1
        QLabel* siteLink = nullptr;                // 超级链接框1
        QLineEdit* addressBox = nullptr;           // 编辑框1
        QLineEdit* folderBox = nullptr;            // 编辑框2
        QLineEdit* runNameBox = nullptr;           // 运行名
        QLineEdit* deleteNameBox = nullptr;        // 删除名
        QPushButton* chooseButton = nullptr;       // 按钮1
        QPushButton* downloadButton = nullptr;     // 按钮2
    };

    void attachSkin();
    void downloadEnded();
    void closeByProgram();

    UpdateContext context_;
    QString programFolder_;
    Controls controls_;
    QTimer* progressTimer_;  // 时钟1
    std::shared_ptr<UpdateWindowLink> link_ = std::make_shared<UpdateWindowLink>();
    Text downloadTarget_;
    // Size of the download in bytes, 0 until the reply has announced it.
    double totalSize_ = 0;
    bool closingByProgram_ = false;
};

}  // namespace qinghe
