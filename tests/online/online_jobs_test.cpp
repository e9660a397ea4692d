#include "online/online_jobs.h"

#include "net/net_test_support.h"
#include "net/raw_http_server.h"
#include "text/gbk.h"

#include <QCoreApplication>
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
using qinghe::OnlineTexts;
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

    VersionSurface surface(bool withUpdateWindow = true)
    {
        VersionSurface s;
        s.setNewVersionLabel = [this](const QString& caption) { record("新版本 " + caption.toStdString()); };
        s.setUserCountLabel = [this](const QString& caption) { record("标签5 " + caption.toStdString()); };
        s.setVersionLabel = [this](const QString& caption) { record("检查更新 " + caption.toStdString()); };
        s.messageBox = [this](const QString& text, int style) {
            record("box " + std::to_string(style) + " " + text.toStdString());
            return answer_;
        };
        if (withUpdateWindow)
            s.openUpdateWindow = [this] { record("update window"); };
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

    OnlineTexts texts;
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
        qinghe::runVersionCheck(siteAt(site), texts, window.surface());
        EXPECT_EQ(window.shown(), (Shown{kNewVersionBox, kNewVersionLabel})) << version;
        EXPECT_EQ(texts.values().latestVersion, version);
        EXPECT_EQ(site.onlyRequest().substr(0, 26), "GET /updata.html HTTP/1.0\r");
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
        qinghe::runVersionCheck(siteAt(site), texts, window.surface());
        EXPECT_EQ(window.shown(), Shown{}) << answer;
    }
    EXPECT_EQ(texts.values().updatePageText, "<html>");
}

TEST_F(OnlineJobs, VersionCheckTakesAnUnreachableUpdatePageForNoNews)
{
    RecordingSurface window;
    qinghe::runVersionCheck(unreachableSite(), texts, window.surface());
    EXPECT_EQ(window.shown(), Shown{});
    EXPECT_EQ(texts.values().currentVersion, "v1.0");
    EXPECT_EQ(texts.values().latestVersion, "");
}

TEST_F(OnlineJobs, CounterShowsTheBytesBetweenItsMarkersAndOurVersion)
{
    RawHttpServer site(pageAnswer("<b>当前 12 人在线</b>"));
    RecordingSurface window;
    qinghe::runUserCounter(siteAt(site), texts, window.surface());
    EXPECT_EQ(window.shown(), (Shown{"标签5 当前使用人数： 12 人", kVersionLabel}));
    EXPECT_EQ(texts.values().counterPageText, gbk("<b>当前 12 人在线</b>"));
    // The counter goes through the program's own request with its default lines.
    const std::string request = site.onlyRequest();
    EXPECT_EQ(request.substr(0, 33), "GET /tongji/online.asp HTTP/1.1\r\n");
    EXPECT_NE(request.find("\r\nAccept-Language: zh-cn\r\n"), std::string::npos);
}

TEST_F(OnlineJobs, CounterWithoutACountShowsAnEmptyOne)
{
    RawHttpServer site(pageAnswer("当前 12 位"));
    RecordingSurface window;
    qinghe::runUserCounter(siteAt(site), texts, window.surface());
    qinghe::runUserCounter(unreachableSite(), texts, window.surface());
    const std::string empty = "标签5 当前使用人数：人";
    EXPECT_EQ(window.shown(), (Shown{empty, kVersionLabel, empty, kVersionLabel}));
}

TEST_F(OnlineJobs, ManualCheckSaysWhenThisIsTheLatestVersion)
{
    RawHttpServer site(pageAnswer("版本号（v1.0）结束"));
    RecordingSurface window(kAnswerYes);
    qinghe::checkForUpdate(siteAt(site), texts, window.surface());
    EXPECT_EQ(window.shown(), Shown{"box 0 恭喜,您已经是最新版本!"});
}

TEST_F(OnlineJobs, ManualCheckOffersANewVersion)
{
    RawHttpServer site(pageAnswer("版本号（v2.0）结束"));
    const std::string question = "box 36 发现最新版本 是否下载?";
    {
        RecordingSurface window(kAnswerYes);
        qinghe::checkForUpdate(siteAt(site), texts, window.surface());
        EXPECT_EQ(window.shown(), (Shown{question, "update window", "end program 0"}));
    }
    {
        // Until the update window exists, Yes ends the program at once.
        RecordingSurface window(kAnswerYes);
        qinghe::checkForUpdate(siteAt(site), texts, window.surface(false));
        EXPECT_EQ(window.shown(), (Shown{question, "end program 0"}));
    }
    {
        RecordingSurface window(kAnswerNo);
        qinghe::checkForUpdate(siteAt(site), texts, window.surface());
        EXPECT_EQ(window.shown(), (Shown{question, "close main window"}));
    }
}

TEST_F(OnlineJobs, ManualCheckWhereTheProgramMayNotReplaceItselfSaysWhyAndKeepsTheBoard)
{
    RawHttpServer site(pageAnswer("版本号（v2.0）结束"));
    RecordingSurface window(kAnswerYes);
    qinghe::checkForUpdate(siteAt(site), texts, window.surface(), QStringLiteral("请使用系统的软件包管理器更新本程序。"));
    // No question, no update window, and the main window stays open.
    EXPECT_EQ(window.shown(), Shown{"box 64 请使用系统的软件包管理器更新本程序。"});

    // Nothing to update: the refusal is not worth a word.
    RawHttpServer same(pageAnswer("版本号（v1.0）结束"));
    RecordingSurface latest(kAnswerYes);
    qinghe::checkForUpdate(siteAt(same), texts, latest.surface(), QStringLiteral("请使用系统的软件包管理器更新本程序。"));
    EXPECT_EQ(latest.shown(), Shown{"box 0 恭喜,您已经是最新版本!"});
}

TEST_F(OnlineJobs, ManualCheckWithoutAVersionSaysTheServerCannotBeReached)
{
    RawHttpServer site(pageAnswer("<html>maintenance</html>"));
    for (const Addresses& addresses : {unreachableSite(), siteAt(site)}) {
        RecordingSurface window(kAnswerYes);
        qinghe::checkForUpdate(addresses, texts, window.surface());
        EXPECT_EQ(window.shown(), Shown{"box 64 无法连接更新服务器,请稍后再试!"});
    }
}

TEST_F(OnlineJobs, JobsShowTheirNewsOnTheWindowThreadOnly)
{
    // One page answers both jobs, whichever asks first.
    RawHttpServer site(pageAnswer("版本号（v2.0）结束 当前7人在线"));
    RecordingSurface recorder;
    QObject window;
    auto shared = std::make_shared<OnlineTexts>();
    qinghe::startOnlineJobs(siteAt(site), shared, qinghe::onWindowThread(&window, recorder.surface()));
    processEventsUntil([&] { return recorder.shown().size() == 4; });

    Shown shown = recorder.shown();
    std::sort(shown.begin(), shown.end());
    Shown expected{kNewVersionBox, kNewVersionLabel, "标签5 当前使用人数：7人", kVersionLabel};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
    EXPECT_TRUE(recorder.allOnWindowThread());
}

TEST_F(OnlineJobs, WindowThreadSurfaceDropsCaptionsOnceTheWindowIsGone)
{
    RecordingSurface recorder(kAnswerYes);
    auto window = std::make_unique<QObject>();
    const VersionSurface surface = qinghe::onWindowThread(window.get(), recorder.surface());

    std::atomic<int> answer = 0;
    std::atomic<bool> answered = false;
    std::thread asking([&] {
        answer = surface.messageBox(QStringLiteral("?"), 0x24);
        answered = true;
    });
    // The worker waits for its answer while the window thread shows the box.
    processEventsUntil([&] { return answered.load(); });
    asking.join();
    // A caption that reaches the window thread after the window has gone.
    std::thread([&] { surface.setUserCountLabel(QStringLiteral("late")); }).join();
    window.reset();
    QCoreApplication::processEvents();

    EXPECT_EQ(answer, kAnswerYes);
    EXPECT_EQ(recorder.shown(), Shown{"box 36 ?"});
    EXPECT_TRUE(recorder.allOnWindowThread());
}

}  // namespace
