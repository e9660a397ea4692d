#include "updater.h"

#include "online/online_jobs.h"
#include "net/file_name.h"
#include "net/http.h"
#include "text/gbk.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <utility>

namespace qinghe {
namespace {

constexpr const char* kPageUnreadable = "无法读取更新页面，请稍后再试。";
constexpr const char* kFailedBefore = "更新失败：";
constexpr const char* kFailedAfter = "，请稍后再试。";
constexpr const char* kNoThread = "无法启动更新";

// The update fetches with one connection.
constexpr int kUpdateConnections = 1;

QString failureMessage(UpdateFailure failure, int httpStatus)
{
    return QString::fromUtf8(kFailedBefore) + updateFailureReason(failure, httpStatus) +
           QString::fromUtf8(kFailedAfter);
}

}  // namespace

QString updateFailureReason(UpdateFailure failure, int httpStatus)
{
    switch (failure) {
    case UpdateFailure::cannotConnect:
        return QStringLiteral("无法连接下载服务器");
    case UpdateFailure::serverError:
        return QStringLiteral("服务器返回错误 %1").arg(httpStatus);
    case UpdateFailure::interrupted:
        return QStringLiteral("下载中断");
    case UpdateFailure::diskFull:
        return QStringLiteral("磁盘空间不足");
    case UpdateFailure::cannotWrite:
        break;
    }
    return QStringLiteral("无法写入文件");
}

Updater::Updater(Addresses addresses, QString programFolder, QObject* parent)
    : QObject(parent),
      addresses_(std::move(addresses)),
      programFolder_(programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : std::move(programFolder))
{
}

Updater::~Updater()
{
    cancelUpdate();
    checks_.stopAndJoin();
    updatePage_.stopAndJoin();
}

template <typename Work>
void Updater::post(Work work)
{
    // The updater joins every job and the download before it goes, so it
    // stands while a job posts; a post it has not taken by then is dropped.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void Updater::startBackgroundChecks()
{
    const Addresses addresses = addresses_;
    checks_.start([this, addresses](const std::atomic<bool>& stop) {
        const Text latest = readLatestVersion(addresses, &stop);
        // A page we could not read tells nothing about versions.
        if (!stop && !latest.empty() && latest != kCurrentVersion)
            post([this] { emit newVersionFound(); });
    });
    checks_.start([this, addresses](const std::atomic<bool>& stop) {
        Text count = readUserCount(addresses, &stop);
        if (!stop)
            post([this, count = std::move(count)] { emit usersCounted(count); });
    });
}

bool Updater::checkNow()
{
    if (checking_)
        return false;
    const Addresses addresses = addresses_;
    checking_ = checks_.start([this, addresses](const std::atomic<bool>& stop) {
        Text latest = readLatestVersion(addresses, &stop);
        if (stop)
            return;
        post([this, latest = std::move(latest)] {
            checking_ = false;
            emit manualCheckRead(latest);
        });
    });
    return checking_;
}

void Updater::readUpdatePage()
{
    cancelled_ = false;
    updating_ = true;
    const unsigned generation = ++generation_;
    const QString address = addresses_.updatePage();
    const bool started = updatePage_.start([this, address, generation](const std::atomic<bool>& stop) {
        const Text page = textUpToZero(readWebPage(address.toStdString(), &stop));
        if (stop)
            return;
        post([this, entries = readUpdateEntries(page), generation] { pageArrived(entries, generation); });
    });
    if (!started)
        fail(QString::fromUtf8(kNoThread));
}

void Updater::pageArrived(const UpdateEntries& entries, unsigned generation)
{
    if (generation != generation_ || !updating_)
        return;
    if (entries.downloadAddress.empty()) {
        fail(QString::fromUtf8(kPageUnreadable));
        return;
    }
    emit updatePageRead(entries);
}

void Updater::startDownload(const Text& address, const Text& target, const Text& runName, const Text& deleteName)
{
    cancelled_ = false;
    updating_ = true;
    replacing_ = false;
    const unsigned generation = ++generation_;
    runPath_ = fileBesideProgram(programFolder_, runName);
    deletePath_ = fileBesideProgram(programFolder_, deleteName);
    // A name with a folder in it is no name the update may write, delete or start.
    const bool namesRefused = (!runName.empty() && runPath_.isEmpty()) || (!deleteName.empty() && deletePath_.isEmpty()) ||
                              (!target.empty() && !isOnePlainFileName(target));
    if (namesRefused) {
        fail(failureMessage(UpdateFailure::cannotWrite, 0));
        return;
    }

    DownloadTask task;
    task.kind = kDownloadTaskKind;
    task.address = address;
    // Without a name of its own the path ends in "/", and the download
    // service takes the name the server gives.
    task.savePath = nameFromQString(programFolder_) + '/' + target;
    task.connections = kUpdateConnections;
    task.connectTimeoutMs = bounds_.networkTimeoutMs;
    task.sendTimeoutMs = bounds_.networkTimeoutMs;
    task.receiveTimeoutMs = bounds_.networkTimeoutMs;
    task.eventHandler = [this, generation](int event, std::int64_t a, std::int64_t b, std::int64_t c,
                                           DownloadTask& running) {
        switch (event) {
        case kDownloadSizeKnownEvent:
            post([this, b, generation] {
                if (generation == generation_)
                    emit sizeKnown(b);
            });
            return 0;
        case kDownloadFileExistsEvent:
            // The file the page names for deletion is the one the download
            // replaces: only once it is whole, in one step.
            if (!deletePath_.isEmpty() && nameToQString(running.savePath) == deletePath_) {
                replacing_ = true;
                return kReplaceWhenComplete;
            }
            return waitForFileAnswer();
        case kDownloadEndedEvent:
            post([this, a, c, generation, saved = running.savePath] {
                downloadEnded(static_cast<DownloadOutcome>(a), static_cast<int>(c), saved, generation);
            });
            return 0;
        default:
            return 0;
        }
    };
    service_.setRetryWait(bounds_.retryWait);
    service_.setRetryLimit(bounds_.retryLimit);
    if (!service_.start(task))
        fail(failureMessage(UpdateFailure::cannotConnect, 0));
}

int Updater::waitForFileAnswer()
{
    {
        std::lock_guard lock(answerLock_);
        fileAnswer_ = -1;
    }
    post([this] { emit fileExists(); });
    std::unique_lock lock(answerLock_);
    answerGiven_.wait(lock, [this] { return fileAnswer_ >= 0 || cancelled_; });
    return cancelled_ ? kAbandonDownload : fileAnswer_;
}

void Updater::answerFileExists(bool saveUnderFreeName)
{
    std::lock_guard lock(answerLock_);
    fileAnswer_ = saveUnderFreeName ? kSaveUnderFreeName : kAbandonDownload;
    answerGiven_.notify_all();
}

void Updater::cancelUpdate()
{
    {
        std::lock_guard lock(answerLock_);
        cancelled_ = true;
        answerGiven_.notify_all();
    }
    updatePage_.requestStop();
    // Every wait of the download watches the stop: this is short. The
    // partial file goes with it, so nothing stays under the download's name.
    service_.stop();
    updating_ = false;
    ++generation_;
}

void Updater::downloadEnded(DownloadOutcome outcome, int httpStatus, const Text& savedPath, unsigned generation)
{
    if (generation != generation_ || !updating_)
        return;
    switch (outcome) {
    case DownloadOutcome::complete:
        break;
    case DownloadOutcome::abandoned:
    case DownloadOutcome::stopped:
        updating_ = false;
        emit updateAbandoned();
        return;
    case DownloadOutcome::cannotConnect:
        fail(failureMessage(UpdateFailure::cannotConnect, 0));
        return;
    case DownloadOutcome::serverError:
        fail(failureMessage(UpdateFailure::serverError, httpStatus));
        return;
    case DownloadOutcome::interrupted:
        fail(failureMessage(UpdateFailure::interrupted, 0));
        return;
    case DownloadOutcome::diskFull:
        fail(failureMessage(UpdateFailure::diskFull, 0));
        return;
    case DownloadOutcome::cannotWrite:
        fail(failureMessage(UpdateFailure::cannotWrite, 0));
        return;
    }
    // Complete: the file stands under its final name before anything else is touched.
    const QString saved = nameToQString(savedPath);
    if (!QFileInfo(saved).isFile()) {
        fail(failureMessage(UpdateFailure::cannotWrite, 0));
        return;
    }
    // A replaced program kept the old file's permissions; a new file named
    // as the program to run must be able to run.
    if (!replacing_ && !runPath_.isEmpty() && QFileInfo(saved) == QFileInfo(runPath_))
        makeExecutable(saved);
    if (!deletePath_.isEmpty() && QFileInfo(deletePath_) != QFileInfo(saved))
        QFile::remove(deletePath_);
    updating_ = false;
    emit updateSucceeded();
}

void Updater::fail(const QString& message)
{
    updating_ = false;
    emit updateFailed(message);
}

bool Updater::startNewProgram()
{
    return startProgramFile(runPath_);
}

QString Updater::newProgramPath() const
{
    return runPath_;
}

}  // namespace qinghe
