#include "update_window.h"

#include "runtime/links.h"
#include "updater.h"

#include "base/message_styles.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"
#include "skin/skin_binding.h"
#include "text/gbk.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace qinghe {
namespace {

constexpr const char* kUpdateWindowKey = "update";

// The panels of 状态条1 from left to right.
enum ProgressPanel : std::size_t { kTotalPanel, kSpeedPanel, kDownloadedPanel, kPercentPanel, kPanelCount };
constexpr std::array<const char*, kPanelCount> kPanelNames = {"状态条1面板0", "状态条1面板1", "状态条1面板2",
                                                             "状态条1面板3"};

// The progress is shown once a second while the download runs.
constexpr int kProgressIntervalMs = 1000;

constexpr const char* kNoAddressBox = "请输入网址";
constexpr const char* kNoFolderBox = "请选择保存位置!";
constexpr const char* kFileExistsBox = "文件已存在,继续下载吗?";
constexpr const char* kUpdateEndedBox = "更新结束!";
constexpr const char* kCancelQuestion = "是否取消更新？";
constexpr const char* kNotStartedBox = "新版本已下载，但无法启动：%1\n请检查该文件后手动启动。";

QString kilobytes(double bytes)
{
    return toQString(kilobytesText(bytes));
}

}  // namespace

UpdateEnd runUpdateWindow(WindowRuntime& runtime, Updater& updater, std::chrono::milliseconds startDelay)
{
    const QPointer<RuntimeWindow> opened = runtime.openWindow(
        QString::fromLatin1(kUpdateWindowKey), QString::fromLatin1(kUpdateWindowDefinition),
        [&updater, startDelay] { return new UpdateWindow(updater, startDelay); });
    const QPointer<UpdateWindow> window = qobject_cast<UpdateWindow*>(opened.data());
    if (window == nullptr)
        return UpdateEnd::notUpdated;
    UpdateEnd result = UpdateEnd::notUpdated;
    // The window closes itself from the event loop, never while it is being
    // created, so it is still open here.
    QEventLoop loop;
    QObject::connect(window, &UpdateWindow::finished, &loop, [&] {
        result = window->result();
        loop.quit();
    });
    QObject::connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    return result;
}

UpdateWindow::UpdateWindow(Updater& updater, std::chrono::milliseconds startDelay)
    : updater_(updater), startDelay_(startDelay), progressTimer_(new QTimer(this))
{
    progressTimer_->setObjectName(QStringLiteral("时钟1"));
    connect(progressTimer_, &QTimer::timeout, this, &UpdateWindow::showProgress);
    connect(&updater_, &Updater::updatePageRead, this, &UpdateWindow::pageRead);
    connect(&updater_, &Updater::sizeKnown, this, &UpdateWindow::sizeKnown);
    connect(&updater_, &Updater::fileExists, this, &UpdateWindow::askFileExists);
    connect(&updater_, &Updater::updateSucceeded, this, &UpdateWindow::succeeded);
    connect(&updater_, &Updater::updateFailed, this, &UpdateWindow::failed);
    connect(&updater_, &Updater::updateAbandoned, this, &UpdateWindow::closeByProgram);
}

void UpdateWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.progress, "进度条1");
    for (std::size_t i = 0; i < kPanelCount; ++i)
        binder.bind(controls_.panels[i], kPanelNames[i]);
    binder.bind(controls_.percentText, "透明标签1");
    binder.bind(controls_.siteLink, "超级链接框1");
    binder.bind(controls_.addressBox, "编辑框1");
    binder.bind(controls_.folderBox, "编辑框2");
    binder.bind(controls_.runNameBox, "运行名");
    binder.bind(controls_.deleteNameBox, "删除名");
    binder.bind(controls_.chooseButton, "按钮1");
    binder.bind(controls_.downloadButton, "按钮2");
}

void UpdateWindow::onCreated()
{
    connect(controls_.siteLink, &QLabel::linkActivated, this,
            [this] { openAddress(updater_.addresses().siteHome()); });
    connect(controls_.chooseButton, &QPushButton::clicked, this, [this] { chooseSaveLocation(); });
    connect(controls_.downloadButton, &QPushButton::clicked, this, [this] { startDownload(); });

    attachSkin();
    placePercentPanel();
    // The update has always begun after a short pause; the window stands
    // and answers meanwhile, and the page is read off the window thread.
    QTimer::singleShot(startDelay_, this, [this] {
        if (!ended_)
            updater_.readUpdatePage();
    });
}

// 状态条1 spans the window, and its last panel reaches to the window's edge
// and never less than "百分比:100%" needs, the window growing if it must:
// the percentage always reads whole.
void UpdateWindow::placePercentPanel()
{
    QLabel* last = controls_.panels[kPercentPanel];
    auto* bar = qobject_cast<QWidget*>(last->parent());
    // Without a menu bar the client area is as wide as the window.
    const int client = width();
    const QString widest = QStringLiteral("百分比:%1%").arg(controls_.progress->maximum());
    // A character's room to spare beside the text and the panel's frame.
    const int need = QFontMetrics(last->font()).horizontalAdvance(widest) + 2 * (last->frameWidth() + last->margin()) +
                     last->fontMetrics().averageCharWidth();
    const int left = last->x();
    const int width = std::max(client - bar->x() - left, need);
    last->setGeometry(left, last->y(), width, last->height());
    bar->resize(left + width, bar->height());
    const int overflow = bar->geometry().right() + 1 - client;
    if (overflow > 0)
        setFixedSize(size() + QSize(overflow, 0));
}

// The update window attaches the same skin as the main window at its creation.
void UpdateWindow::attachSkin()
{
    attachProgramSkin();
}

void UpdateWindow::pageRead(const UpdateEntries& entries)
{
    controls_.deleteNameBox->setText(toQString(entries.deleteName));
    controls_.runNameBox->setText(toQString(entries.runName));
    controls_.addressBox->setText(toQString(entries.downloadAddress));
    chooseSaveLocation();
    startDownload();
}

void UpdateWindow::chooseSaveLocation()
{
    const QString address = controls_.addressBox->text();
    if (address.isEmpty()) {
        backgroundMessageBox(QString::fromUtf8(kNoAddressBox), kBoxOk, this);
        return;
    }
    const QString folder = updater_.programFolder();
    if (folder.isEmpty())
        return;
    controls_.folderBox->setText(folder);
    // Without a name of its own the target ends in "/", and the download
    // service takes the name the server gives.
    downloadTarget_ = nameFromQString(folder) + '/' + downloadFileName(fromQString(address));
}

bool UpdateWindow::startDownload()
{
    if (controls_.folderBox->text().isEmpty()) {
        backgroundMessageBox(QString::fromUtf8(kNoFolderBox), kBoxOk, this);
        return false;
    }
    progressTimer_->start(kProgressIntervalMs);
    const Text address = fromQString(controls_.addressBox->text());
    updater_.startDownload(address, downloadFileName(address), fromQString(controls_.runNameBox->text()),
                           fromQString(controls_.deleteNameBox->text()));
    return true;
}

void UpdateWindow::showProgress()
{
    const std::int64_t downloaded = updater_.downloaded();
    setPanel(kSpeedPanel, "速度:", kilobytes(static_cast<double>(updater_.receivedSinceLastQuery())), "kb/秒");
    setPanel(kDownloadedPanel, "已下载:", kilobytes(static_cast<double>(downloaded)), "KB");
    showPercent(downloadPercent(downloaded, totalSize_));
}

void UpdateWindow::setPanel(std::size_t panel, const char* before, const QString& value, const char* after)
{
    controls_.panels[panel]->setText(QString::fromUtf8(before) + value + QString::fromUtf8(after));
}

void UpdateWindow::showPercent(int percent)
{
    controls_.progress->setValue(percent);
    const QString figure = toQString(numberToText(controls_.progress->value()));
    setPanel(kPercentPanel, "百分比:", figure, "%");
    controls_.percentText->setText(figure + QLatin1Char('%'));
}

void UpdateWindow::sizeKnown(std::int64_t size)
{
    totalSize_ = static_cast<double>(size);
    controls_.panels[kTotalPanel]->setText(QStringLiteral("总大小:") + kilobytes(totalSize_) + QStringLiteral("KB"));
}

void UpdateWindow::askFileExists()
{
    // The updater outlives the window, which may be closed while the box stands.
    Updater& updater = updater_;
    updater.answerFileExists(backgroundMessageBox(QString::fromUtf8(kFileExistsBox), kBoxYesNo, this) == kAnswerYes);
}

// The new build is in place: the host is told while the window shows the
// whole download, then the program the page names takes over, and the window closes.
void UpdateWindow::succeeded()
{
    const QPointer<UpdateWindow> alive = this;
    progressTimer_->stop();
    if (updater_.downloaded() > 0)
        showProgress();
    // The last second of the download, or a size never told, still ends at 100%.
    showPercent(controls_.progress->maximum());
    backgroundMessageBox(QString::fromUtf8(kUpdateEndedBox), kBoxOkInformation, this);
    if (!alive)
        return;
    // With no program named to run, the board stays for the host.
    if (updater_.newProgramPath().isEmpty()) {
        result_ = UpdateEnd::notUpdated;
    } else if (updater_.startNewProgram()) {
        result_ = UpdateEnd::updated;
    } else {
        // Without a new program running the old one must stay for the host.
        backgroundMessageBox(QString::fromUtf8(kNotStartedBox).arg(updater_.newProgramPath()), kBoxOkExclamation, this);
    }
    if (alive)
        closeByProgram();
}

void UpdateWindow::failed(const QString& message)
{
    const QPointer<UpdateWindow> alive = this;
    clearProgress();
    backgroundMessageBox(message, kBoxOkExclamation, this);
    if (alive)
        closeByProgram();
}

void UpdateWindow::clearProgress()
{
    progressTimer_->stop();
    for (QLabel* panel : controls_.panels)
        panel->clear();
    controls_.progress->setValue(0);
}

void UpdateWindow::closeByProgram()
{
    if (ended_)
        return;
    ended_ = true;
    progressTimer_->stop();
    close();
}

void UpdateWindow::closeEvent(QCloseEvent* event)
{
    if (!ended_) {
        // The update is under way from the window's first moment: leaving asks.
        const QPointer<UpdateWindow> alive = this;
        const bool leave =
            backgroundMessageBox(QString::fromUtf8(kCancelQuestion), kBoxYesNoQuestion, this) == kAnswerYes;
        // The update may have ended, and closed the window, while the host was asked.
        if (!alive || !leave || ended_) {
            event->ignore();
            return;
        }
        ended_ = true;
        progressTimer_->stop();
        updater_.cancelUpdate();
    }
    RuntimeWindow::closeEvent(event);
    if (event->isAccepted())
        emit finished();
}

}  // namespace qinghe
