#include "online_jobs.h"

#include "base/message_styles.h"
#include "net/http.h"
#include "text/gbk.h"

#include <optional>
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

// The counter page goes through the program's own request, which speaks
// plain HTTP only; a site configured for TLS is read as a web page instead.
Text readCounterPage(const QString& address, const std::atomic<bool>* stop)
{
    const std::string url = address.toStdString();
    if (address.startsWith(QLatin1String("https://")))
        return readWebPage(url, stop);
    return httpRequest(url, nullptr, std::nullopt, nullptr, {}, nullptr, stop);
}

}  // namespace

Text readLatestVersion(const Addresses& addresses, const std::atomic<bool>* stop)
{
    const Text page = textUpToZero(readWebPage(addresses.updatePage().toStdString(), stop));
    return textBetween(page, gbk(kVersionOpen), gbk(kVersionClose));
}

Text readUserCount(const Addresses& addresses, const std::atomic<bool>* stop)
{
    const Text page = textUpToZero(readCounterPage(addresses.counterPage(), stop));
    // The bytes between the markers are shown as they stand, spaces and all.
    return textBetweenQuoted(page, gbk(kCountOpen), gbk(kCountClose), 1, false);
}

void showNewVersion(const VersionSurface& surface)
{
    askIfSet(surface, kNewVersionBox, kBoxYesNoQuestion);
    callIfSet(surface.setNewVersionLabel, QString::fromUtf8(kNewVersionCaption));
}

void showUserCount(const Text& count, const VersionSurface& surface)
{
    callIfSet(surface.setUserCountLabel, toQString(gbk(kUserCountBefore) + count + gbk(kUserCountAfter)));
    callIfSet(surface.setVersionLabel, QString::fromUtf8(kVersionCaption));
}

void answerUpdateCheck(const Text& latest, const VersionSurface& surface, const QString& selfUpdateRefusal)
{
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
    // A failed or cancelled update leaves the board as it was.
    if (surface.openUpdateWindow && surface.openUpdateWindow())
        callIfSet(surface.endProgram, kExitForUpdate);
}

}  // namespace qinghe
