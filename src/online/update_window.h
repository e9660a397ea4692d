#pragma once

#include "online/update_rules.h"
#include "runtime/runtime_window.h"

#include <QPointer>

#include <array>
#include <chrono>
#include <cstdint>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qinghe {

class Updater;
class WindowRuntime;

inline constexpr const char* kUpdateWindowDefinition = ":/ui/update_window.ui";
// The update window waits this long before it reads the update page, as the
// update has always begun; the window stands and answers meanwhile.
inline constexpr std::chrono::milliseconds kUpdateStartDelay{2000};

// How an update window ended.
enum class UpdateEnd {
    updated,      // the new program stands in place and has been started
    notUpdated,   // failed, cancelled, abandoned, or no program to start: the old program stays
};

// Opens the update window modally over updater and returns once it has
// closed. The window thread goes on serving every event meanwhile.
UpdateEnd runUpdateWindow(WindowRuntime& runtime, Updater& updater,
                          std::chrono::milliseconds startDelay = kUpdateStartDelay);

// "青禾主持人音效软件更新中...": from its creation the update runs by itself.
// It reads the update page, downloads the new build beside the program
// showing its progress every second, puts it in place of the file the page
// names for deletion, says when the update has ended, starts the program
// the page names and closes. A failure is told and leaves everything as it
// was; the host may close the window at any time, which cancels the update.
class UpdateWindow : public RuntimeWindow {
    Q_OBJECT

public:
    UpdateWindow(Updater& updater, std::chrono::milliseconds startDelay);

    // The click handler of 按钮1: the save folder and the download's target.
    void chooseSaveLocation();
    // The click handler of 按钮2: starts the download; false without a folder.
    bool startDownload();
    // Every second while the download runs: speed, amount, percentage.
    void showProgress();

    // The full path the download was started for.
    const Text& downloadTarget() const { return downloadTarget_; }
    UpdateEnd result() const { return result_; }

signals:
    // The window has closed: the update is over, one way or another.
    void finished();

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;
    // Closing while the update runs asks first; 是 cancels it.
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
    void placePercentPanel();
    void pageRead(const UpdateEntries& entries);
    void sizeKnown(std::int64_t size);
    void askFileExists();
    void succeeded();
    void failed(const QString& message);
    void clearProgress();
    void setPanel(std::size_t panel, const char* before, const QString& value, const char* after);
    // The bar, the percentage panel and 透明标签1.
    void showPercent(int percent);
    void closeByProgram();

    Updater& updater_;
    std::chrono::milliseconds startDelay_;
    Controls controls_;
    QTimer* progressTimer_;  // 时钟1
    Text downloadTarget_;
    // Size of the download in bytes, 0 until the reply has announced it.
    double totalSize_ = 0;
    bool ended_ = false;
    UpdateEnd result_ = UpdateEnd::notUpdated;
};

}  // namespace qinghe
