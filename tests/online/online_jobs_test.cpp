#include "online/online_jobs.h"
#include "online/updater.h"

#include "net/net_test_support.h"
#include "net/raw_http_server.h"
#include "text/gbk.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using qinghe::Addresses;
using qinghe::Text;
using qinghe::Updater;
using qinghe::VersionSurface;

namespace {

constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;
// Long enough for any local exchange; the loops below end as soon as they may.
constexpr auto kPatience = std::chrono::seconds(30);

std::string gbk(const char* utf8)
{
    return qinghe::fromQString(QString::fromUtf8(utf8));
}

std::string pageAnswer(const char* utf8Body)
{
    return httpAnswer(gbk(utf8Body));
}

// Stands in for the main window: keeps, in order, what each callback was
// asked to show, and whether it ran on the window thread.
class RecordingSurface {
public:
    explicit RecordingSurface(int answer = kAnswerNo) : answer_(answer) {}

    // updated: what the update window gives when it closes.
    VersionSurface surface(bool updated = true)
    {
        VersionSurface s;
        s.setNewVersionLabel = [this](const QString& caption) { record("新版本 " + caption.toStdString()); };
        s.setUserCountLabel = [this](const QString& caption) { record("标签5 " + caption.toStdString()); };
        s.setVersionLabel = [this](const QString& caption) { record("检查更新 " + caption.toStdString()); };
        s.messageBox = [this](const QString& text, int style) {
            record("box " + std::to_string(style) + " " + text.toStdString());
            return answer_;
        };
        s.openUpdateWindow = [this, updated] {
            record("update window");
            return updated;
        };
        s.closeMainWindow = [this] { record("close main window"); };
        s.endProgram = [this](int code) { record("end program " + std::to_string(code)); };
        return s;
    }

    std::vector<std::string> shown() const
    {
        const std::lock_guard lock(mutex_);
        return shown_;
    }
    bool allOnWindowThread() const { return !offWindowThread_; }

private:
    void record(std::string what)
    {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            offWindowThread_ = true;
        const std::lock_guard lock(mutex_);
        shown_.push_back(std::move(what));
    }

    int answer_;
    mutable std::mutex mutex_;
    std::vector<std::string> shown_;
    std::atomic<bool> offWindowThread_ = false;
};

class OnlineJobs : public NetTest {
protected:
    static Addresses siteAt(const RawHttpServer& server)
    {
        return Addresses::allAt(QString::fromStdString(server.hostAndPort()));
    }
    static Addresses unreachableSite()
    {
        return Addresses::allAt(QStringLiteral("127.0.0.1:%1").arg(RawHttpServer::closedPort()));
    }
    // The window thread's loop turns until done says so.
    template <typename Done>
    static void processEventsUntil(Done done)
    {
        const auto giveUp = std::chrono::steady_clock::now() + kPatience;
        while (!done() && std::chrono::steady_clock::now() < giveUp)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    // Job A and job B through the updater, as the main window wires them:
    // the version's news to one surface, the count to the other.
    static void runStartUpChecks(const Addresses& addresses, const VersionSurface& versionNews,
                                 const VersionSurface& countNews = {})
    {
        Updater updater(addresses, QString());
        QObject::connect(&updater, &Updater::newVersionFound, [&] { qinghe::showNewVersion(versionNews); });
        QObject::connect(&updater, &Updater::usersCounted,
                         [&](const Text& count) { qinghe::showUserCount(count, countNews); });
        updater.startBackgroundChecks();
        processEventsUntil([&] { return !updater.busy(); });
        QCoreApplication::processEvents();
    }

    // The manual check through the updater: the page is read off this
    // thread, and the answer shown here.
    static void checkForUpdate(const Addresses& addresses, const VersionSurface& surface,
                               const QString& refusal = {})
    {
        Updater updater(addresses, QString());
        bool answered = false;
        QObject::connect(&updater, &Updater::manualCheckRead, [&](const Text& latest) {
            qinghe::answerUpdateCheck(latest, surface, refusal);
            answered = true;
        });
        ASSERT_TRUE(updater.checkNow());
        // A second click while the page is read starts nothing.
        EXPECT_FALSE(updater.checkNow());
        processEventsUntil([&] { return answered; });
        ASSERT_TRUE(answered);
    }
};

using Shown = std::vector<std::string>;
const std::string kNewVersionBox = "box 36 发现最新版本,请点击在线更新";
const std::string kNewVersionLabel = "新版本 发现新版本,请点击软件更新自动更新程序!";
const std::string kVersionLabel = "检查更新 版本：Beta v1.0";

TEST_F(OnlineJobs, VersionCheckTellsOfAnyOtherVersionFirstInABoxThenInTheLabel)
{
    for (const char* version : {"v1.1", "V1.0", "v1.0 ", " v1.0"}) {
        RawHttpServer site(pageAnswer((std::string("<p>版本号（") + version + "）结束</p>").c_str()));
        RecordingSurface window;
        runStartUpChecks(siteAt(site), window.surface());
        EXPECT_EQ(window.shown(), (Shown{kNewVersionBox, kNewVersionLabel})) << version;
        EXPECT_TRUE(window.allOnWindowThread());
        EXPECT_EQ(site.requests(2).size(), 2u);
    }
}

TEST_F(OnlineJobs, VersionCheckShowsNothingForOurVersionOrWhenItFindsNone)
{
    const std::string ours = gbk("版本号（v1.0）结束");
    const std::string cases[] = {
        httpAnswer(ours),
        httpAnswer(gbk("版本号（v1.0")),  // no closing marker
        httpAnswer(gbk("v2.0 is out")),
        // The page text ends at its first zero byte.
        httpAnswer(std::string("<html>\0", 7) + gbk("版本号（v2.0）结束")),
    };
    for (const std::string& answer : cases) {
        RawHttpServer site(answer);
        RecordingSurface window;
        runStartUpChecks(siteAt(site), window.surface());
        EXPECT_EQ(window.shown(), Shown{}) << answer;
    }
}

TEST_F(OnlineJobs, VersionCheckTakesAnUnreachableUpdatePageForNoNews)
{
    RecordingSurface window;
    runStartUpChecks(unreachableSite(), window.surface());
    EXPECT_EQ(window.shown(), Shown{});
}

TEST_F(OnlineJobs, CounterShowsTheBytesBetweenItsMarkersAndOurVersion)
{
    RawHttpServer site(pageAnswer("<b>当前 12 人在线</b>"));
    RecordingSurface window;
    runStartUpChecks(siteAt(site), {}, window.surface());
    EXPECT_EQ(window.shown(), (Shown{"标签5 当前使用人数： 12 人", kVersionLabel}));
    // The counter goes through the program's own request with its default lines.
    const std::vector<std::string> requests = site.requests(2);
    const auto counter = std::find_if(requests.begin(), requests.end(),
                                      [](const std::string& r) { return r.find("/tongji/") != std::string::npos; });
    ASSERT_NE(counter, requests.end());
    const std::string request = *counter;
    EXPECT_EQ(request.substr(0, 33), "GET /tongji/online.asp HTTP/1.1\r\n");
    EXPECT_NE(request.find("\r\nAccept-Language: zh-cn\r\n"), std::string::npos);
}

TEST_F(OnlineJobs, CounterWithoutACountShowsAnEmptyOne)
{
    RawHttpServer site(pageAnswer("当前 12 位"));
    RecordingSurface window;
    runStartUpChecks(siteAt(site), {}, window.surface());
    runStartUpChecks(unreachableSite(), {}, window.surface());
    const std::string empty = "标签5 当前使用人数：人";
    EXPECT_EQ(window.shown(), (Shown{empty, kVersionLabel, empty, kVersionLabel}));
}

TEST_F(OnlineJobs, ManualCheckSaysWhenThisIsTheLatestVersion)
{
    RawHttpServer site(pageAnswer("版本号（v1.0）结束"));
    RecordingSurface window(kAnswerYes);
    checkForUpdate(siteAt(site), window.surface());
    EXPECT_EQ(window.shown(), Shown{"box 0 恭喜,您已经是最新版本!"});
}

TEST_F(OnlineJobs, ManualCheckOffersANewVersion)
{
    RawHttpServer site(pageAnswer("版本号（v2.0）结束"));
    const std::string question = "box 36 发现最新版本 是否下载?";
    {
        RecordingSurface window(kAnswerYes);
        checkForUpdate(siteAt(site), window.surface());
        EXPECT_EQ(window.shown(), (Shown{question, "update window", "end program 0"}));
    }
    {
        // An update that failed or was cancelled leaves the board as it was.
        RecordingSurface window(kAnswerYes);
        checkForUpdate(siteAt(site), window.surface(false));
        EXPECT_EQ(window.shown(), (Shown{question, "update window"}));
    }
    {
        RecordingSurface window(kAnswerNo);
        checkForUpdate(siteAt(site), window.surface());
        EXPECT_EQ(window.shown(), (Shown{question, "close main window"}));
    }
}

TEST_F(OnlineJobs, ManualCheckWhereTheProgramMayNotReplaceItselfSaysWhyAndKeepsTheBoard)
{
    RawHttpServer site(pageAnswer("版本号（v2.0）结束"));
    RecordingSurface window(kAnswerYes);
    checkForUpdate(siteAt(site), window.surface(), QStringLiteral("请使用系统的软件包管理器更新本程序。"));
    // No question, no update window, and the main window stays open.
    EXPECT_EQ(window.shown(), Shown{"box 64 请使用系统的软件包管理器更新本程序。"});

    // Nothing to update: the refusal is not worth a word.
    RawHttpServer same(pageAnswer("版本号（v1.0）结束"));
    RecordingSurface latest(kAnswerYes);
    checkForUpdate(siteAt(same), latest.surface(), QStringLiteral("请使用系统的软件包管理器更新本程序。"));
    EXPECT_EQ(latest.shown(), Shown{"box 0 恭喜,您已经是最新版本!"});
}

TEST_F(OnlineJobs, ManualCheckWithoutAVersionSaysTheServerCannotBeReached)
{
    RawHttpServer site(pageAnswer("<html>maintenance</html>"));
    for (const Addresses& addresses : {unreachableSite(), siteAt(site)}) {
        RecordingSurface window(kAnswerYes);
        checkForUpdate(addresses, window.surface());
        EXPECT_EQ(window.shown(), Shown{"box 64 无法连接更新服务器,请稍后再试!"});
    }
}

TEST_F(OnlineJobs, AnUpdaterThatGoesWhileItsJobsWaitStopsThemAndShowsNothing)
{
    // A site whose connections are taken by the system and never answered:
    // only the updater's end stops the reads.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const Addresses silent = Addresses::allAt(QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port)));

    RecordingSurface window(kAnswerYes);
    {
        Updater updater(silent, QString());
        QObject::connect(&updater, &Updater::newVersionFound, [&] { qinghe::showNewVersion(window.surface()); });
        updater.startBackgroundChecks();
        ASSERT_TRUE(updater.checkNow());
        QCoreApplication::processEvents();
        EXPECT_TRUE(updater.busy());
    }
    close(listener);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.shown(), Shown{});
}

}  // namespace
