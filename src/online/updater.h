#pragma once

// The one owner of everything the program does online about versions: the
// start-up version check (job A), the user counter (job B), the manual
// check's page read, and the update itself with its download. Every step
// that waits for the network runs as a job of its own that the updater can
// cancel, and each reports back to the window thread by a signal; the
// window thread never waits for the network. No widget: the windows show
// what the signals say.

#include "base/job_threads.h"
#include "net/download_service.h"
#include "online/addresses.h"
#include "online/update_rules.h"
#include "text/text.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qinghe {

// The bounds of an update's download. A dead or silent server costs at most
// (1 + retries) network waits plus the waits between tries:
// 6 × 10 s + 5 × 5 s = 85 s, within the 90 s a host is asked to wait.
inline constexpr int kUpdateNetworkTimeoutMs = 10000;
inline constexpr std::chrono::milliseconds kUpdateRetryWait{5000};
inline constexpr int kUpdateRetryLimit = 5;

struct UpdateBounds {
    int networkTimeoutMs = kUpdateNetworkTimeoutMs;
    std::chrono::milliseconds retryWait = kUpdateRetryWait;
    int retryLimit = kUpdateRetryLimit;
};

// Why an update failed, as the failure box names it.
enum class UpdateFailure { cannotConnect, serverError, interrupted, diskFull, cannotWrite };
QString updateFailureReason(UpdateFailure failure, int httpStatus);

class Updater : public QObject {
    Q_OBJECT

public:
    // programFolder: where the download goes and the page's names are
    // deleted and started; empty: the program's own folder.
    Updater(Addresses addresses, QString programFolder, QObject* parent = nullptr);
    // Cancels every job and waits for each to end.
    ~Updater() override;

    const Addresses& addresses() const { return addresses_; }
    const QString& programFolder() const { return programFolder_; }
    void setBounds(const UpdateBounds& bounds) { bounds_ = bounds; }

    // Whether any job or the download still runs.
    bool busy() const { return checks_.running() || updatePage_.running() || service_.running(); }

    // Job A and job B, each once, side by side.
    void startBackgroundChecks();

    // The manual check reads the update page; manualCheckRead follows.
    // False, with nothing started, while an earlier check still reads.
    bool checkNow();

    // The update: reads the update page; updatePageRead or updateFailed follows.
    void readUpdatePage();
    // Downloads the new file beside the program as target (a plain file
    // name, empty: the server's). runName and deleteName are the page's.
    // Ends with updateSucceeded, updateFailed or updateAbandoned.
    void startDownload(const Text& address, const Text& target, const Text& runName, const Text& deleteName);
    // The answer to fileExists: true saves under a free numbered name.
    void answerFileExists(bool saveUnderFreeName);
    // Stops the page read and the download: nothing is deleted or started,
    // and no file stays under the download's name. No signal follows.
    void cancelUpdate();
    // Whether the update is reading its page or downloading.
    bool updating() const { return updating_; }

    // The download's counters, as the progress display reads them.
    std::int64_t receivedSinceLastQuery() { return service_.receivedSinceLastQuery(); }
    std::int64_t downloaded() const { return service_.downloaded(); }

    // After updateSucceeded: starts the program the page names; false when
    // it could not be started.
    bool startNewProgram();
    QString newProgramPath() const;

signals:
    // Job A: the update page names another version than ours.
    void newVersionFound();
    // Job B: the bytes between the counter page's markers (GBK).
    void usersCounted(const qinghe::Text& count);
    // The manual check: the version the page names, empty when unreadable.
    void manualCheckRead(const qinghe::Text& latestVersion);

    void updatePageRead(const qinghe::UpdateEntries& entries);
    void sizeKnown(std::int64_t size);
    // A file lies at the target that the update does not replace.
    void fileExists();
    // The download is complete and in place, the page's delete name gone.
    void updateSucceeded();
    // The whole text of the box that tells the host why.
    void updateFailed(const QString& message);
    // The host chose not to replace an existing file.
    void updateAbandoned();

private:
    // On the download's thread: asks the window thread and waits for the answer or a cancel.
    int waitForFileAnswer();
    void pageArrived(const UpdateEntries& entries, unsigned generation);
    void downloadEnded(DownloadOutcome outcome, int httpStatus, const Text& savedPath, unsigned generation);
    void fail(const QString& message);
    // Hands work to the window thread; dropped once the updater is gone.
    template <typename Work>
    void post(Work work);

    Addresses addresses_;
    QString programFolder_;
    UpdateBounds bounds_;
    JobThreads checks_;
    JobThreads updatePage_;
    DownloadService service_;
    bool updating_ = false;
    bool checking_ = false;
    // Each update step's reports carry the number of the update they belong
    // to, so a report that arrives after a cancel is passed over.
    unsigned generation_ = 0;
    std::atomic<bool> replacing_{false};
    QString runPath_;
    QString deletePath_;

    // The file-exists question, asked of the window thread while the
    // download's thread waits for the answer or a cancel.
    std::mutex answerLock_;
    std::condition_variable answerGiven_;
    int fileAnswer_ = -1;
    std::atomic<bool> cancelled_{false};
};

}  // namespace qinghe
