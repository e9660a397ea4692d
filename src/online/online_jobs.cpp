#include "online_jobs.h"

#include "base/message_styles.h"
#include "base/window_thread.h"
#include "net/http.h"
#include "text/gbk.h"
#include "text/text.h"

#include <QObject>
#include <QPointer>

#include <system_error>
#include <thread>
#include <utility>

namespace qinghe {
namespace {

// What a box gives when it could not be shown at all.
constexpr int kNoAnswer = 0;

// The exit code of a program that ends for its update.
constexpr int kExitForUpdate = 0;

constexpr const char* kVersionOpen = "版本号（";
constexpr const char* kVersionClose = "）结束";
constexpr const char* kCountOpen = "当前";
constexpr const char* kCountClose = "人在线";

constexpr const char* kNewVersionBox = "发现最新版本,请点击在线更新";
constexpr const char* kNewVersionCaption = "发现新版本,请点击软件更新自动更新程序!";
constexpr const char* kUserCountBefore = "当前使用人数：";
constexpr const char* kUserCountAfter = "人";
constexpr const char* kVersionCaption = "版本：Beta v1.0";
constexpr const char* kLatestBox = "恭喜,您已经是最新版本!";
constexpr const char* kDownloadQuestion = "发现最新版本 是否下载?";
constexpr const char* kNoServerBox = "无法连接更新服务器,请稍后再试!";

// Our texts are written here in UTF-8; the pages speak GBK.
Text gbk(const char* utf8)
{
    return fromQString(QString::fromUtf8(utf8));
}

template <typename Callback, typename... Arguments>
void callIfSet(const Callback& callback, Arguments&&... arguments)
{
    if (callback)
        callback(std::forward<Arguments>(arguments)...);
}

int askIfSet(const VersionSurface& surface, const char* text, int style)
{
    return surface.messageBox ? surface.messageBox(QString::fromUtf8(text), style) : kNoAnswer;
}

// The update page read and its version recorded, as job A and the manual
// check both begin. Gives the version found, empty when there is none.
Text readLatestVersion(const Addresses& addresses, OnlineTexts& texts)
{
    Text page = textUpToZero(readWebPage(addresses.updatePage().toStdString()));
    Text latest = textBetween(page, gbk(kVersionOpen), gbk(kVersionClose));
    texts.setVersionCheck(Text(kCurrentVersion), std::move(page), latest);
    return latest;
}

// The counter page goes through the program's own request, which speaks
// plain HTTP only; a site configured for TLS is read as a web page instead.
Text readCounterPage(const QString& address)
{
    const std::string url = address.toStdString();
    if (address.startsWith(QLatin1String("https://")))
        return readWebPage(url);
    return httpRequest(url);
}

// Runs job on a thread of its own that nothing joins.
template <typename Job>
void startDetached(Job job)
{
    try {
        std::thread(std::move(job)).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the job's news is simply not shown.
    }
}

// A caption setter that posts to the window thread and checks there that
// the window still stands.
std::function<void(const QString&)> postedCaption(const QPointer<QObject>& window,
                                                  std::function<void(const QString&)> setCaption)
{
    if (!setCaption)
        return {};
    return [window, setCaption = std::move(setCaption)](const QString& caption) {
        postToWindowThread([window, setCaption, caption] {
            if (window)
                setCaption(caption);
        });
    };
}

// An action run on the window thread while the caller waits.
std::function<void()> waitedAction(const QPointer<QObject>& window, std::function<void()> action)
{
    if (!action)
        return {};
    return [window, action = std::move(action)] {
        runOnWindowThread([&] {
            if (window)
                action();
        });
    };
}

}  // namespace

void runVersionCheck(const Addresses& addresses, OnlineTexts& texts, const VersionSurface& surface)
{
    const Text latest = readLatestVersion(addresses, texts);
    // A page we could not read tells nothing about versions.
    if (latest.empty() || latest == kCurrentVersion)
        return;
    askIfSet(surface, kNewVersionBox, kBoxYesNoQuestion);
    callIfSet(surface.setNewVersionLabel, QString::fromUtf8(kNewVersionCaption));
}

void runUserCounter(const Addresses& addresses, OnlineTexts& texts, const VersionSurface& surface)
{
    Text page = textUpToZero(readCounterPage(addresses.counterPage()));
    // The bytes between the markers are shown as they stand, spaces and all.
    const Text count = textBetweenQuoted(page, gbk(kCountOpen), gbk(kCountClose), 1, false);
    texts.setCounterPageText(std::move(page));
    callIfSet(surface.setUserCountLabel, toQString(gbk(kUserCountBefore) + count + gbk(kUserCountAfter)));
    callIfSet(surface.setVersionLabel, QString::fromUtf8(kVersionCaption));
}

void startOnlineJobs(const Addresses& addresses, std::shared_ptr<OnlineTexts> texts, const VersionSurface& surface)
{
    // Each job holds its own copies: the window and the state may be gone before it ends.
    startDetached([addresses, texts, surface] { runVersionCheck(addresses, *texts, surface); });
    startDetached([addresses, texts, surface] { runUserCounter(addresses, *texts, surface); });
}

void checkForUpdate(const Addresses& addresses, OnlineTexts& texts, const VersionSurface& surface,
                    const QString& selfUpdateRefusal)
{
    const Text latest = readLatestVersion(addresses, texts);
    if (latest.empty()) {
        askIfSet(surface, kNoServerBox, kBoxOkInformation);
        return;
    }
    if (latest == kCurrentVersion) {
        askIfSet(surface, kLatestBox, kBoxOk);
        return;
    }
    if (!selfUpdateRefusal.isEmpty()) {
        if (surface.messageBox)
            surface.messageBox(selfUpdateRefusal, kBoxOkInformation);
        return;
    }
    if (askIfSet(surface, kDownloadQuestion, kBoxYesNoQuestion) != kAnswerYes) {
        callIfSet(surface.closeMainWindow);
        return;
    }
    callIfSet(surface.openUpdateWindow);
    callIfSet(surface.endProgram, kExitForUpdate);
}

VersionSurface onWindowThread(QObject* window, VersionSurface direct)
{
    const QPointer<QObject> guard(window);
    VersionSurface safe;
    safe.setNewVersionLabel = postedCaption(guard, std::move(direct.setNewVersionLabel));
    safe.setUserCountLabel = postedCaption(guard, std::move(direct.setUserCountLabel));
    safe.setVersionLabel = postedCaption(guard, std::move(direct.setVersionLabel));
    if (direct.messageBox) {
        // A box has no owner, so it is shown whether or not the window still stands.
        safe.messageBox = [box = std::move(direct.messageBox)](const QString& text, int style) {
            int answer = kNoAnswer;
            runOnWindowThread([&] { answer = box(text, style); });
            return answer;
        };
    }
    safe.openUpdateWindow = waitedAction(guard, std::move(direct.openUpdateWindow));
    safe.closeMainWindow = waitedAction(guard, std::move(direct.closeMainWindow));
    if (direct.endProgram) {
        safe.endProgram = [end = std::move(direct.endProgram)](int exitCode) {
            runOnWindowThread([&] { end(exitCode); });
        };
    }
    return safe;
}

}  // namespace qinghe
