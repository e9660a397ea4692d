#include "update_window.h"

#include "runtime/links.h"
#include "updater.h"

#include "base/message_styles.h"
#include "base/window_thread.h"
#include "net/http.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"
#include "skin/skin_binding.h"
#include "text/gbk.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <thread>
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
// The update fetches with one connection.
constexpr int kUpdateConnections = 1;

constexpr const char* kNoAddressBox = "请输入网址";
constexpr const char* kNoFolderBox = "请选择保存位置!";
constexpr const char* kFileExistsBox = "文件已存在,继续下载吗?";
constexpr const char* kUpdateEndedBox = "更新结束!";

QString kilobytes(double bytes)
{
    return toQString(kilobytesText(bytes));
}

// The handler the download service calls on its own threads. Each event is
// dealt with by the window thread while the service's thread waits, so
// boxes and controls stay on the window thread; no lock is held meanwhile.
// Once the window has closed, an existing file is left alone and every
// other event passes.
DownloadEventHandler downloadEventHandler(std::shared_ptr<UpdateWindowLink> link)
{
    return [link = std::move(link)](int event, std::int64_t, std::int64_t value, std::int64_t, DownloadTask&) {
        int answer = event == kDownloadFileExistsEvent ? kAbandonDownload : 0;
        if (!link->open.load() || QCoreApplication::instance() == nullptr)
            return answer;
        runOnWindowThread([&] {
            if (UpdateWindow* window = link->window; window != nullptr && link->open.load())
                answer = window->onDownloadEvent(event, value);
        });
        return answer;
    };
}

}  // namespace

void runUpdateWindow(WindowRuntime& runtime, UpdateContext context)
{
    const QPointer<RuntimeWindow> opened = runtime.openWindow(
        QString::fromLatin1(kUpdateWindowKey), QString::fromLatin1(kUpdateWindowDefinition),
        [&context] { return new UpdateWindow(context); }, Modality::Modal);
    auto* window = qobject_cast<UpdateWindow*>(opened.data());
    if (window == nullptr)
        return;
    // The window closes itself from the event loop, never while it is being
    // created, so it is still open here.
    QEventLoop loop;
    QObject::connect(window, &UpdateWindow::closedByProgram, &loop, &QEventLoop::quit);
    QObject::connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
}

UpdateWindow::UpdateWindow(UpdateContext context)
    : context_(std::move(context)),
      programFolder_(context_.programFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                      : context_.programFolder),
      progressTimer_(new QTimer(this))
{
    progressTimer_->setObjectName(QStringLiteral("时钟1"));
    connect(progressTimer_, &QTimer::timeout, this, &UpdateWindow::showProgress);
    link_->window = this;
}

UpdateWindow::~UpdateWindow()
{
    link_->open.store(false);
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
            [this] { openAddress(context_.addresses.siteHome()); });
    connect(controls_.chooseButton, &QPushButton::clicked, this, [this] { chooseSaveLocation(); });
    connect(controls_.downloadButton, &QPushButton::clicked, this, [this] { startDownload(); });

    attachSkin();
    // The program stands still for the wait and the page read.
    std::this_thread::sleep_for(context_.startDelay);
    Text page = textUpToZero(readWebPage(context_.addresses.updatePage().toStdString()));
    const UpdateEntries entries = readUpdateEntries(page);
    if (context_.onlineTexts)
        context_.onlineTexts->setUpdatePageText(std::move(page));
    controls_.deleteNameBox->setText(toQString(entries.deleteName));
    controls_.runNameBox->setText(toQString(entries.runName));
    deleteBesideProgram(programFolder_, fromQString(controls_.deleteNameBox->text()));
    controls_.addressBox->setText(toQString(entries.downloadAddress));
    chooseSaveLocation();

    // The window closes from the event loop once it stands, so the one who
    // opened it sees it close. Without a download no ended event will come:
    // the update is over at once, and the program ends as after an update.
    switch (startDownload()) {
    case DownloadStart::started:
        break;
    case DownloadStart::refused:
        // A refused start is a failed download: it ends as one.
        QTimer::singleShot(0, this, &UpdateWindow::downloadEnded);
        break;
    case DownloadStart::noSaveFolder:
        QTimer::singleShot(0, this, &UpdateWindow::closeByProgram);
        break;
    }
}

// The skin library is not in the program yet. Once it is, the update window
// attaches the same skin here, as the main window does at its creation.
void UpdateWindow::attachSkin()
{
    attachProgramSkin();
}

void UpdateWindow::chooseSaveLocation()
{
    const QString address = controls_.addressBox->text();
    if (address.isEmpty()) {
        messageBox(QString::fromUtf8(kNoAddressBox), kBoxOk);
        return;
    }
    const Text name = downloadFileName(fromQString(address));
    if (programFolder_.isEmpty())
        return;
    controls_.folderBox->setText(programFolder_);
    // Without a name of its own the target ends in "/", and the download
    // service takes the name the server gives.
    downloadTarget_ = nameFromQString(programFolder_) + '/' + name;
}

UpdateWindow::DownloadStart UpdateWindow::startDownload()
{
    if (controls_.folderBox->text().isEmpty()) {
        messageBox(QString::fromUtf8(kNoFolderBox), kBoxOk);
        return DownloadStart::noSaveFolder;
    }
    DownloadTask& task = context_.downloadTask;
    task.kind = kDownloadTaskKind;
    task.connections = kUpdateConnections;
    task.connectTimeoutMs = kDefaultNetworkTimeoutMs;
    task.sendTimeoutMs = kDefaultNetworkTimeoutMs;
    task.receiveTimeoutMs = kDefaultNetworkTimeoutMs;
    task.stopWaitMs = kDefaultStopWaitMs;
    task.readSize = kDefaultReadSize;
    task.eventHandler = downloadEventHandler(link_);
    progressTimer_->start(kProgressIntervalMs);
    task.address = fromQString(controls_.addressBox->text());
    task.savePath = downloadTarget_;
    return context_.downloadService.start(task) ? DownloadStart::started : DownloadStart::refused;
}

void UpdateWindow::showProgress()
{
    DownloadService& service = context_.downloadService;
    const auto setPanel = [this](std::size_t panel, const char* before, const QString& value, const char* after) {
        controls_.panels[panel]->setText(QString::fromUtf8(before) + value + QString::fromUtf8(after));
    };
    setPanel(kSpeedPanel, "速度:", kilobytes(static_cast<double>(service.receivedSinceLastQuery())), "kb/秒");
    controls_.progress->setValue(downloadPercent(service.downloaded(), totalSize_));
    setPanel(kDownloadedPanel, "已下载:", kilobytes(static_cast<double>(service.downloaded())), "KB");
    const QString percent = toQString(numberToText(controls_.progress->value()));
    setPanel(kPercentPanel, "百分比:", percent, "%");
    controls_.percentText->setText(percent + QLatin1Char('%'));
}

int UpdateWindow::onDownloadEvent(int event, std::int64_t value)
{
    switch (event) {
    case kDownloadFileExistsEvent:
        return messageBox(QString::fromUtf8(kFileExistsBox), kBoxYesNo) == kAnswerYes ? kSaveUnderFreeName
                                                                                      : kAbandonDownload;
    case kDownloadSizeKnownEvent:
        totalSize_ = static_cast<double>(value);
        controls_.panels[kTotalPanel]->setText(QStringLiteral("总大小:") + kilobytes(totalSize_) +
                                               QStringLiteral("KB"));
        return 0;
    case kDownloadEndedEvent:
        downloadEnded();
        return 0;
    default:
        return 0;
    }
}

// The update is over, whatever became of the download: the person is told,
// the progress is cleared, the program the page names takes over, and the
// window closes.
void UpdateWindow::downloadEnded()
{
    messageBox(QString::fromUtf8(kUpdateEndedBox), kBoxOkInformation);
    progressTimer_->stop();
    for (QLabel* panel : controls_.panels)
        panel->clear();
    controls_.progress->setValue(0);
    startBesideProgram(programFolder_, fromQString(controls_.runNameBox->text()));
    closeByProgram();
}

void UpdateWindow::closeByProgram()
{
    if (closingByProgram_)
        return;
    link_->open.store(false);
    closingByProgram_ = true;
    progressTimer_->stop();
    close();
    emit closedByProgram();
}

void UpdateWindow::closeEvent(QCloseEvent* event)
{
    if (!closingByProgram_) {
        event->ignore();
        return;
    }
    RuntimeWindow::closeEvent(event);
}

}  // namespace qinghe
