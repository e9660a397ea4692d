// The download service against real servers on 127.0.0.1 that cut, redirect,
// refuse, lie and stall, with real files in a folder of the test's own.

#include "net/download_service.h"

#include "net_test_support.h"
#include "raw_http_server.h"
#include "scripted_http_server.h"
#include "text/gbk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/mount.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace qinghe;

namespace {

// Generous guards for waits on the service's threads; a passing test never
// comes near them.
constexpr std::chrono::seconds kPatience{30};
constexpr std::chrono::milliseconds kPollStep{5};
// Retries wait this little in the tests.
constexpr std::chrono::milliseconds kShortRetryWait{10};

Text gbk(const char* utf8)
{
    return fromQString(QString::fromUtf8(utf8));
}

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::string fileContent(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whether the file holds exactly the bytes; says where they part, never
// what they are (they may be large and binary).
::testing::AssertionResult holds(const std::string& path, const std::string& bytes)
{
    const std::string content = fileContent(path);
    if (content == bytes)
        return ::testing::AssertionSuccess();
    const auto parted = std::mismatch(content.begin(), content.end(), bytes.begin(), bytes.end());
    return ::testing::AssertionFailure() << path << " holds " << content.size() << " bytes, expected "
                                         << bytes.size() << "; they part at byte " << (parted.first - content.begin());
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every entry under folder, as paths relative to it.
std::set<std::string> entries(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        names.insert(std::filesystem::relative(entry.path(), folder).string());
    return names;
}

std::size_t threadCount()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

// The process's thread count once it has come down to expected (a joined
// thread may linger in the process table a moment), or what it is then.
std::size_t threadCountSettlingAt(std::size_t expected)
{
    for (auto waited = std::chrono::milliseconds(0); threadCount() > expected && waited < kPatience;
         waited += kPollStep)
        std::this_thread::sleep_for(kPollStep);
    return threadCount();
}

// What a task tells its handlers: events with their threads, and status lines.
class Recorder {
public:
    struct Event {
        int code;
        std::int64_t a;
        std::int64_t b;
        std::thread::id thread;
    };

    // Answers the existing-file event; may rewrite the task's save path.
    std::function<int(DownloadTask&)> answerFileExists = [](DownloadTask&) { return kSaveUnderFreeName; };

    void attach(DownloadTask& task)
    {
        task.eventHandler = [this](int event, std::int64_t a, std::int64_t b, std::int64_t, DownloadTask& record) {
            int answer = 0;
            if (event == kDownloadFileExistsEvent)
                answer = answerFileExists(record);
            std::lock_guard lock(mutex_);
            events_.push_back({event, a, b, std::this_thread::get_id()});
            changed_.notify_all();
            return answer;
        };
        task.logHandler = [this](const Text& line, DownloadLogLevel level) {
            std::lock_guard lock(mutex_);
            lines_.push_back({line, level});
        };
    }

    std::size_t endedCount()
    {
        std::lock_guard lock(mutex_);
        return endedCountLocked();
    }
    // Waits for one more ended event than before; false when it does not come.
    bool waitForEnd(std::size_t before)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return endedCountLocked() > before; });
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        events_.clear();
        lines_.clear();
    }

    std::vector<Event> events()
    {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<int> codes()
    {
        std::vector<int> codes;
        for (const Event& e : events())
            codes.push_back(e.code);
        return codes;
    }
    Event event(int code)
    {
        for (const Event& e : events()) {
            if (e.code == code)
                return e;
        }
        return {0, -1, -1, {}};
    }
    bool logged(const Text& line, DownloadLogLevel level)
    {
        std::lock_guard lock(mutex_);
        return std::any_of(lines_.begin(), lines_.end(),
                           [&](const auto& entry) { return entry.first == line && entry.second == level; });
    }
    int countLines(const Text& line)
    {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count_if(lines_.begin(), lines_.end(),
                                              [&](const auto& entry) { return entry.first == line; }));
    }
    std::vector<Text> linesAt(DownloadLogLevel level)
    {
        std::lock_guard lock(mutex_);
        std::vector<Text> found;
        for (const auto& [line, at] : lines_) {
            if (at == level)
                found.push_back(line);
        }
        return found;
    }

private:
    std::size_t endedCountLocked() const
    {
        return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(),
                                                      [](const Event& e) { return e.code == kDownloadEndedEvent; }));
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
    std::vector<std::pair<Text, DownloadLogLevel>> lines_;
};

class DownloadService_ : public NetTest {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        ASSERT_TRUE(folder_.isValid());
        service.setRetryWait(kShortRetryWait);
    }

    std::string folder() const { return folder_.path().toStdString(); }
    std::string inFolder(const std::string& name) const { return folder() + "/" + name; }

    // A task for address saved at savePath, its handlers on recorder.
    DownloadTask task(const std::string& address, const std::string& savePath)
    {
        DownloadTask parameters;
        parameters.kind = kDownloadTaskKind;
        parameters.address = address;
        parameters.savePath = savePath;
        recorder.attach(parameters);
        return parameters;
    }

    // Starts the task and waits for its ended event.
    void download(const DownloadTask& parameters)
    {
        const std::size_t before = recorder.endedCount();
        ASSERT_TRUE(service.start(parameters));
        ASSERT_TRUE(recorder.waitForEnd(before));
        // The object is idle once the ended event has been handled.
        for (auto waited = std::chrono::milliseconds(0); service.running() && waited < kPatience; waited += kPollStep)
            std::this_thread::sleep_for(kPollStep);
    }

    void waitForBytes(std::int64_t count)
    {
        for (auto waited = std::chrono::milliseconds(0); service.downloaded() < count && waited < kPatience;
             waited += kPollStep)
            std::this_thread::sleep_for(kPollStep);
    }

    QTemporaryDir folder_;
    Recorder recorder;
    DownloadService service;
};

// --- whole transfers -------------------------------------------------------

TEST_F(DownloadService_, TenCutsAreResumedWithRangeIntoAByteIdenticalFile)
{
    const std::string source = randomBytes(300000, 7);
    std::mt19937 generator(11);
    std::set<std::size_t> cutSet;
    while (cutSet.size() < 10)
        cutSet.insert(1 + generator() % (source.size() - 1));
    const std::vector<std::size_t> cuts(cutSet.begin(), cutSet.end());

    ScriptedHttpServer server([&](const std::string& request, std::size_t connection) {
        ScriptedHttpServer::Reply reply = fileReply(source, request);
        if (connection < cuts.size()) {
            const std::size_t headerLength = reply.bytes.find("\r\n\r\n") + 4;
            reply.cutAfter = headerLength + cuts[connection] - requestedOffset(request);
        }
        return reply;
    });
    // More cuts in a row than the service bridges by default.
    service.setRetryLimit(static_cast<int>(cuts.size()));
    download(task(server.address("/soft/new.exe"), folder() + "\\new.exe"));

    EXPECT_TRUE(holds(inFolder("new.exe"), source));
    EXPECT_EQ(entries(folder()), std::set<std::string>{"new.exe"});
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), cuts.size() + 1);
    EXPECT_EQ(requests[0].find("Range:"), std::string::npos);
    for (std::size_t i = 1; i < requests.size(); ++i)
        EXPECT_NE(requests[i].find("\r\nRange: bytes=" + std::to_string(cuts[i - 1]) + "-\r\n"), std::string::npos) << i;
    EXPECT_EQ(recorder.countLines(gbk("等待0秒后重试")), 10);

    // Size known, then ended, once each, both on the task's thread.
    EXPECT_EQ(recorder.codes(), (std::vector<int>{kDownloadSizeKnownEvent, kDownloadEndedEvent}));
    const auto events = recorder.events();
    EXPECT_EQ(events[0].b, static_cast<std::int64_t>(source.size()));
    EXPECT_EQ(events[1].b, static_cast<std::int64_t>(source.size()));
    EXPECT_EQ(events[0].thread, events[1].thread);
    EXPECT_NE(events[0].thread, std::this_thread::get_id());
    EXPECT_EQ(service.downloaded(), 0);
}

TEST_F(DownloadService_, AWholeReplyToARangeStartsTheFileOver)
{
    const std::string source = randomBytes(100000, 3);
    ScriptedHttpServer server([&](const std::string&, std::size_t connection) {
        // This server ignores Range and always sends the whole file.
        ScriptedHttpServer::Reply reply{replyHeader("200 OK", {"Content-Length: 100000"}) + source};
        if (connection == 0)
            reply.cutAfter = 40000;
        return reply;
    });
    download(task(server.address("/new.exe"), inFolder("new.exe")));

    EXPECT_TRUE(holds(inFolder("new.exe"), source));
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_NE(server.requests()[1].find("Range: bytes="), std::string::npos);
}

TEST_F(DownloadService_, ChunkedReplyIsDecodedAndAReplyWithoutLengthEndsAtTheClose)
{
    const std::string source = randomBytes(50000, 5);
    std::string chunked;
    for (std::size_t at = 0; at < source.size(); at += 7000) {
        const std::string piece = source.substr(at, 7000);
        char size[16];
        std::snprintf(size, sizeof size, "%zx", piece.size());
        chunked += std::string(size) + "\r\n" + piece + "\r\n";
    }
    chunked += "0\r\n\r\n";
    ScriptedHttpServer server([&](const std::string& request, std::size_t) {
        if (request.find("GET /chunked") == 0)
            return ScriptedHttpServer::Reply{replyHeader("200 OK", {"Transfer-Encoding: chunked"}) + chunked};
        return ScriptedHttpServer::Reply{replyHeader("200 OK", {"Connection: close"}) + source};
    });

    download(task(server.address("/chunked.bin"), inFolder("chunked.bin")));
    EXPECT_TRUE(holds(inFolder("chunked.bin"), source));

    EXPECT_EQ(recorder.codes(), (std::vector<int>{kDownloadEndedEvent}));
    recorder.clear();
    download(task(server.address("/plain.bin"), inFolder("plain.bin")));
    EXPECT_TRUE(holds(inFolder("plain.bin"), source));
    // No size was announced: no size event, and 0 with the ended event.
    EXPECT_EQ(recorder.codes(), (std::vector<int>{kDownloadEndedEvent}));
    EXPECT_EQ(recorder.event(kDownloadEndedEvent).b, 0);
}

TEST_F(DownloadService_, ServerThatLiesAboutLengthsLeavesNoFileOrOnlyWhatItAnnounced)
{
    ScriptedHttpServer server([&](const std::string& request, std::size_t) {
        if (request.find("GET /short") == 0) {
            if (request.find("Range:") != std::string::npos)
                return ScriptedHttpServer::Reply{replyHeader("416 Requested Range Not Satisfiable", {})};
            return ScriptedHttpServer::Reply{replyHeader("200 OK", {"Content-Length: 100"}) + std::string(60, 'a')};
        }
        if (request.find("GET /long") == 0)
            return ScriptedHttpServer::Reply{replyHeader("200 OK", {"Content-Length: 10"}) + "0123456789EXTRA"};
        // A continuation answered from the wrong place.
        if (request.find("Range:") != std::string::npos)
            return ScriptedHttpServer::Reply{
                replyHeader("206 Partial", {"Content-Length: 10", "Content-Range: bytes 0-9/20"}) + "0123456789"};
        ScriptedHttpServer::Reply reply{replyHeader("200 OK", {"Content-Length: 20"}) + "0123456789abcdefghij"};
        reply.cutAfter = reply.bytes.size() - 10;
        return reply;
    });

    download(task(server.address("/short.exe"), inFolder("short.exe")));
    EXPECT_TRUE(recorder.logged(gbk("暂时不支持的返回, 返回号[416]"), DownloadLogLevel::error));
    EXPECT_EQ(recorder.event(kDownloadEndedEvent).b, 100);
    EXPECT_TRUE(entries(folder()).empty());

    recorder.clear();
    download(task(server.address("/elsewhere.exe"), inFolder("elsewhere.exe")));
    EXPECT_TRUE(recorder.logged(gbk("暂时不支持的返回, 返回号[206]"), DownloadLogLevel::error));
    EXPECT_TRUE(entries(folder()).empty());

    download(task(server.address("/long.exe"), inFolder("long.exe")));
    EXPECT_EQ(fileContent(inFolder("long.exe")), "0123456789");
}

// --- the existing file ------------------------------------------------------

TEST_F(DownloadService_, ExistingFileAnsweredZeroIsSavedAsOneThenTwo)
{
    ScriptedHttpServer server([](const std::string&, std::size_t) {
        return ScriptedHttpServer::Reply{httpAnswer("new build")};
    });
    writeFile(inFolder("new.exe"), "old");

    download(task(server.address("/new.exe"), inFolder("new.exe")));
    EXPECT_TRUE(recorder.logged(gbk("发现同名文件, 系统自动更名为") + inFolder("new(1).exe"),
                                DownloadLogLevel::information));
    const auto asked = recorder.event(kDownloadFileExistsEvent);
    EXPECT_EQ(asked.a, 3);
    EXPECT_EQ(asked.b, 9);
    // Asked on the connection's thread, while size and end come on the task's.
    EXPECT_NE(asked.thread, recorder.event(kDownloadEndedEvent).thread);
    EXPECT_EQ(recorder.event(kDownloadSizeKnownEvent).thread, recorder.event(kDownloadEndedEvent).thread);

    download(task(server.address("/new.exe"), inFolder("new.exe")));
    EXPECT_EQ(fileContent(inFolder("new.exe")), "old");
    EXPECT_EQ(fileContent(inFolder("new(1).exe")), "new build");
    EXPECT_EQ(fileContent(inFolder("new(2).exe")), "new build");
    EXPECT_EQ(entries(folder()), (std::set<std::string>{"new.exe", "new(1).exe", "new(2).exe"}));
}

TEST_F(DownloadService_, NumberingGivesUpAfterNinetyNineNamesOrAtTheLengthLimit)
{
    ScriptedHttpServer server([](const std::string&, std::size_t) {
        return ScriptedHttpServer::Reply{httpAnswer("new build")};
    });
    writeFile(inFolder("new.exe"), "old");
    for (int counter = 1; counter <= 99; ++counter)
        writeFile(inFolder("new(" + std::to_string(counter) + ").exe"), "old");
    download(task(server.address("/new.exe"), inFolder("new.exe")));
    EXPECT_EQ(recorder.countLines(gbk("发现同名文件，超过系统自动更名次数")), 1);
    EXPECT_EQ(entries(folder()).size(), 100u);

    // A save path of 258 bytes has no room for "(1)" within 259.
    const std::string longName = std::string(258 - folder().size() - 1 - 4, 'n') + ".exe";
    ASSERT_EQ(inFolder(longName).size(), 258u);
    writeFile(inFolder(longName), "old");
    download(task(server.address("/new.exe"), inFolder(longName)));
    EXPECT_TRUE(recorder.logged(gbk("发现同名文件，超过系统自动更名次数"), DownloadLogLevel::error));
    EXPECT_EQ(recorder.countLines(gbk("发现同名文件，超过系统自动更名次数")), 2);
    EXPECT_EQ(entries(folder()).size(), 101u);
}

TEST_F(DownloadService_, ExistingFileAnsweredOneWritesNothing)
{
    ScriptedHttpServer server([](const std::string&, std::size_t) {
        return ScriptedHttpServer::Reply{httpAnswer("new build")};
    });
    writeFile(inFolder("new.exe"), "old");
    recorder.answerFileExists = [](DownloadTask&) { return kAbandonDownload; };

    download(task(server.address("/new.exe"), inFolder("new.exe")));
    EXPECT_TRUE(recorder.logged(gbk("发现同名文件, 用户选择放弃下载"), DownloadLogLevel::information));
    // The size comes on the task's thread, the question on the connection's,
    // in either order; the end comes last.
    std::vector<int> codes = recorder.codes();
    ASSERT_EQ(codes.size(), 3u);
    EXPECT_EQ(codes[2], kDownloadEndedEvent);
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, (std::vector<int>{kDownloadSizeKnownEvent, kDownloadEndedEvent, kDownloadFileExistsEvent}));
    EXPECT_EQ(fileContent(inFolder("new.exe")), "old");
    EXPECT_EQ(entries(folder()), std::set<std::string>{"new.exe"});
}

TEST_F(DownloadService_, ExistingFileAnsweredTwoTakesTheHandlersName)
{
    ScriptedHttpServer server([](const std::string&, std::size_t) {
        return ScriptedHttpServer::Reply{httpAnswer("new build")};
    });
    writeFile(inFolder("new.exe"), "old");
    const std::string chosen = inFolder("chosen.exe");
    recorder.answerFileExists = [&](DownloadTask& record) {
        EXPECT_EQ(record.savePath, inFolder("new.exe"));
        record.savePath = chosen;
        return kUseNameFromHandler;
    };

    download(task(server.address("/new.exe"), inFolder("new.exe")));
    EXPECT_TRUE(recorder.logged(gbk("发现同名文件, 用户更名为") + chosen, DownloadLogLevel::information));
    EXPECT_EQ(fileContent(chosen), "new build");
    EXPECT_EQ(fileContent(inFolder("new.exe")), "old");
}

TEST_F(DownloadService_, NamesFromTheServerStayInsideTheFolder)
{
    const std::string inner = inFolder("inner");
    QDir().mkpath(QString::fromStdString(inner));
    ScriptedHttpServer server([](const std::string& request, std::size_t) {
        if (request.find("GET /up") == 0)
            return ScriptedHttpServer::Reply{httpAnswer("up", "Content-Disposition: attachment; filename=\"../x\"\r\n")};
        if (request.find("GET /root") == 0)
            return ScriptedHttpServer::Reply{httpAnswer("root", "Content-Disposition: attachment; filename=/tmp/y\r\n")};
        return ScriptedHttpServer::Reply{httpAnswer("dots", "Content-Disposition: attachment; filename=\"..\"\r\n")};
    });

    download(task(server.address("/up/get.asp"), inner + "\\"));
    EXPECT_EQ(fileContent(inner + "/x"), "up");
    download(task(server.address("/root/get.asp"), inner + "/"));
    EXPECT_EQ(fileContent(inner + "/y"), "root");
    // ".." from the server, and an address that ends in "/": no name at all.
    download(task(server.address("/dots/"), inner + "/"));
    EXPECT_TRUE(recorder.logged(gbk("打开文件失败，请检查磁盘是否存在 ") + inner + "/" + gbk(" 这个文件"),
                                DownloadLogLevel::error));
    EXPECT_EQ(entries(folder()), (std::set<std::string>{"inner", "inner/x", "inner/y"}));
}

TEST_F(DownloadService_, FullDiskEndsTheTaskWithoutAFile)
{
    const std::string small = inFolder("small");
    QDir().mkpath(QString::fromStdString(small));
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "no small tmpfs can be mounted here";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};
    const std::string big = randomBytes(1 << 20, 9);
    ScriptedHttpServer server([&](const std::string& request, std::size_t) {
        if (request.find("GET /sized") == 0)
            return ScriptedHttpServer::Reply{httpAnswer(big)};
        return ScriptedHttpServer::Reply{replyHeader("200 OK", {}) + big};
    });

    for (const char* name : {"/sized.exe", "/unsized.exe"}) {
        recorder.clear();
        download(task(server.address(name), small + name));
        EXPECT_EQ(recorder.event(kDownloadEndedEvent).a, static_cast<int>(DownloadOutcome::diskFull)) << name;
        EXPECT_EQ(recorder.countLines(gbk("创建文件错误，超出最大支持下载长度或磁盘是可写或磁盘没有空间")), 1);
    }
    EXPECT_TRUE(entries(small).empty());
}

// A size beyond what the service takes is refused before any room is
// claimed, whatever the disk has free.
TEST_F(DownloadService_, ClaimOfThreeGigabytesIsRefusedBeforeAnythingIsReserved)
{
    ScriptedHttpServer server([](const std::string&, std::size_t) {
        return ScriptedHttpServer::Reply{replyHeader("200 OK", {"Content-Length: 3221225472"}) + "xyz"};
    });
    download(task(server.address("/huge.exe"), inFolder("huge.exe")));
    EXPECT_EQ(recorder.event(kDownloadEndedEvent).a, static_cast<int>(DownloadOutcome::diskFull));
    EXPECT_TRUE(entries(folder()).empty());
}

// --- redirections and status ------------------------------------------------

TEST_F(DownloadService_, RedirectsAbsoluteAndRelativeAreFollowed)
{
    int port = 0;
    ScriptedHttpServer server([&](const std::string& request, std::size_t) {
        if (request.find("GET /start") == 0)
            return ScriptedHttpServer::Reply{replyHeader(
                "302 Found", {"Location: http://127.0.0.1:" + std::to_string(port) + "/dir/get.asp?id=1"})};
        if (request.find("GET /dir/get.asp") == 0)
            return ScriptedHttpServer::Reply{replyHeader("301 Moved", {"Location: files/new.exe"})};
        return ScriptedHttpServer::Reply{httpAnswer("moved file")};
    });
    port = server.port();

    download(task(server.address("/start"), inFolder("new.exe")));
    EXPECT_EQ(fileContent(inFolder("new.exe")), "moved file");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].substr(0, requests[2].find("\r\n")), "GET /dir/files/new.exe HTTP/1.1");
    EXPECT_TRUE(recorder.logged(gbk("重定向到 [") + server.address("/dir/get.asp?id=1") + "]", DownloadLogLevel::error));
    EXPECT_TRUE(recorder.logged(gbk("重定向到 [") + server.address("/dir/files/new.exe") + "]", DownloadLogLevel::error));
}

TEST_F(DownloadService_, ALocationCannotAddALineToTheNextRequest)
{
    int port = 0;
    ScriptedHttpServer server([&](const std::string& request, std::size_t) {
        if (request.find("GET /start") == 0)
            return ScriptedHttpServer::Reply{replyHeader(
                "302 Found", {"Location: http://127.0.0.1:" + std::to_string(port) + "/a\rX-Injected: 1/new.exe"})};
        return ScriptedHttpServer::Reply{httpAnswer("file")};
    });
    port = server.port();

    download(task(server.address("/start"), inFolder("new.exe")));
    EXPECT_EQ(fileContent(inFolder("new.exe")), "file");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "GET /a%0DX-Injected:%201/new.exe HTTP/1.1");
    EXPECT_NE(requests[1].find("\r\nReferer: http://127.0.0.1:" + std::to_string(port) + "/a%0DX-Injected: 1\r\n"),
              std::string::npos);
    // Every CR of the request ends a line.
    for (std::size_t at = requests[1].find('\r'); at != std::string::npos; at = requests[1].find('\r', at + 1))
        EXPECT_EQ(requests[1][at + 1], '\n') << at;
}

TEST_F(DownloadService_, EndlessRedirectsStopAfterTwentyAndFtpIsRefused)
{
    ScriptedHttpServer server([](const std::string& request, std::size_t connection) {
        if (request.find("GET /ftp") == 0)
            return ScriptedHttpServer::Reply{replyHeader("302 Found", {"Location: ftp://127.0.0.1/new.exe"})};
        if (request.find("GET /https") == 0)
            return ScriptedHttpServer::Reply{replyHeader("302 Found", {"Location: https://127.0.0.1/new.exe"})};
        if (request.find("GET /bare") == 0)
            return ScriptedHttpServer::Reply{replyHeader("302 Found", {})};
        return ScriptedHttpServer::Reply{replyHeader("302 Found", {"Location: /loop" + std::to_string(connection)})};
    });

    download(task(server.address("/loop"), inFolder("loop.exe")));
    EXPECT_TRUE(recorder.logged(gbk("重定向次数过多"), DownloadLogLevel::error));
    // The first request and twenty redirections followed.
    EXPECT_EQ(server.requests().size(), 21u);

    download(task(server.address("/ftp"), inFolder("ftp.exe")));
    download(task(server.address("/https"), inFolder("https.exe")));
    EXPECT_EQ(recorder.countLines(gbk("COOKIE过长或获得重定向信息错误或不支持的协议")), 2);
    download(task(server.address("/bare"), inFolder("bare.exe")));
    EXPECT_TRUE(recorder.logged(gbk("获得重定向信息错误"), DownloadLogLevel::error));
    EXPECT_EQ(server.requests().size(), 24u);
    EXPECT_TRUE(entries(folder()).empty());
}

TEST_F(DownloadService_, ErrorRepliesEndTheTaskAtOnce)
{
    ScriptedHttpServer server([](const std::string& request, std::size_t) {
        if (request.find("GET /missing") == 0)
            return ScriptedHttpServer::Reply{replyHeader("404 Not Found", {"Content-Length: 3"}) + "404"};
        if (request.find("GET /broken") == 0)
            return ScriptedHttpServer::Reply{replyHeader("500 Oops", {})};
        return ScriptedHttpServer::Reply{replyHeader("200 OK", {"X-Padding: " + std::string(5000, 'p')}) + "body"};
    });

    download(task(server.address("/missing.exe"), inFolder("missing.exe")));
    EXPECT_TRUE(recorder.logged(gbk("出现错误"), DownloadLogLevel::error));
    EXPECT_EQ(recorder.codes(), (std::vector<int>{kDownloadEndedEvent}));
    EXPECT_EQ(recorder.event(kDownloadEndedEvent).b, 0);
    download(task(server.address("/broken.exe"), inFolder("broken.exe")));
    EXPECT_TRUE(recorder.logged(gbk("暂时不支持的返回, 返回号[500]"), DownloadLogLevel::error));
    download(task(server.address("/padded.exe"), inFolder("padded.exe")));
    EXPECT_TRUE(recorder.logged(gbk("HTTP返回头部信息过长"), DownloadLogLevel::error));
    // None of them is tried again.
    EXPECT_EQ(server.requests().size(), 3u);
    EXPECT_TRUE(entries(folder()).empty());
}

TEST_F(DownloadService_, RefusedConnectionIsTriedAgainUpToTheLimit)
{
    const int port = RawHttpServer::closedPort();
    service.setRetryLimit(2);
    download(task("http://127.0.0.1:" + std::to_string(port) + "/new.exe", inFolder("new.exe")));

    const std::string where = "127.0.0.1:" + std::to_string(port);
    EXPECT_TRUE(recorder.logged(gbk("正在解析域名 [127.0.0.1]"), DownloadLogLevel::information));
    EXPECT_TRUE(recorder.logged(gbk("正在连接 [") + where + "]", DownloadLogLevel::information));
    EXPECT_EQ(recorder.countLines(gbk("连接 [") + where + gbk("]失败")), 3);
    EXPECT_EQ(recorder.countLines(gbk("等待0秒后重试")), 2);
    EXPECT_EQ(recorder.codes(), (std::vector<int>{kDownloadEndedEvent}));
    EXPECT_TRUE(entries(folder()).empty());
}

// --- the request bytes ------------------------------------------------------

TEST_F(DownloadService_, RequestsAreSentByteForByteWithCookieAndRange)
{
    const std::string agent = "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n";
    const std::string tail = "Pragma: no-cache\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n";
    // The file's server cuts its first answer after four bytes.
    RawHttpServer files(std::vector<RawHttpServer::Answer>{
        {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123"},
        {"HTTP/1.1 206 Partial Content\r\nContent-Length: 6\r\nContent-Range: bytes 4-9/10\r\n\r\n456789"},
    });
    const std::string filesBase = "http://" + files.hostAndPort();
    RawHttpServer redirecting("HTTP/1.1 302 Found\r\nLocation: " + filesBase +
                              "/b/file.bin\r\nSet-Cookie: sid=ab12; path=/\r\n\r\n");

    download(task("http://" + redirecting.hostAndPort() + "/a/start.bin", inFolder("file.bin")));
    EXPECT_EQ(fileContent(inFolder("file.bin")), "0123456789");

    const std::string first = "GET /a/start.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
                              "Referer: http://" + redirecting.hostAndPort() + "/a\r\n" + agent + tail;
    // After the redirection: the new server's folder as referrer, the cookie,
    // and after the cut the Range of the next byte.
    const std::string head = "GET /b/file.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
                             "Referer: " + filesBase + "/b\r\n" + agent;
    const std::string second = head + "Cookie: sid=ab12\r\n" + tail;
    const std::string third = head + "Range: bytes=4-\r\nCookie: sid=ab12\r\n" + tail;
    EXPECT_EQ(redirecting.onlyRequest(), first);
    EXPECT_EQ(files.requests(2), (std::vector<std::string>{second, third}));

    EXPECT_EQ(recorder.linesAt(DownloadLogLevel::requestSent), (std::vector<Text>{first, second, third}));
    const std::vector<Text> headers = recorder.linesAt(DownloadLogLevel::headerReceived);
    ASSERT_EQ(headers.size(), 3u);
    EXPECT_EQ(headers[1], "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n");
    EXPECT_TRUE(recorder.logged(gbk("连接 [") + files.hostAndPort() + gbk("]成功"), DownloadLogLevel::information));
    EXPECT_TRUE(recorder.logged(gbk("连接[") + files.hostAndPort() + gbk("]成功"), DownloadLogLevel::information));
}

TEST_F(DownloadService_, ReferrerMemberReplacesTheAddressFolder)
{
    RawHttpServer server(httpAnswer("x"));
    DownloadTask parameters = task("http://" + server.hostAndPort() + "/a/b.exe", inFolder("b.exe"));
    parameters.referrer = "http://site.example/update.html";
    download(parameters);
    EXPECT_NE(server.onlyRequest().find("\r\nReferer: http://site.example/update.html\r\n"), std::string::npos);
}

TEST_F(DownloadService_, ProxyRequestCarriesTheWholeAddress)
{
    RawHttpServer proxy(httpAnswer("via proxy"));
    DownloadTask parameters = task("http://download.example/pkg/new.exe", inFolder("new.exe"));
    parameters.proxy = proxy.hostAndPort();
    download(parameters);

    EXPECT_EQ(fileContent(inFolder("new.exe")), "via proxy");
    EXPECT_EQ(proxy.onlyRequest(), "GET http://download.example/pkg/new.exe HTTP/1.1\r\n"
                                   "Host: download.example\r\n"
                                   "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
                                   "Proxy-Connection: Keep-Alive\r\n"
                                   "\r\n\r\n");
    EXPECT_TRUE(recorder.logged(gbk("正在代理服务器解析域名 [127.0.0.1]"), DownloadLogLevel::information));
    EXPECT_TRUE(recorder.logged(gbk("正在连接代理服务器 [") + proxy.hostAndPort() + "]",
                                DownloadLogLevel::information));
    EXPECT_EQ(recorder.linesAt(DownloadLogLevel::requestSent), std::vector<Text>{proxy.onlyRequest()});
}

// --- the object ---------------------------------------------------------------

TEST_F(DownloadService_, StartIsRefusedForBadTasksAndWhileATaskRuns)
{
    EXPECT_FALSE(service.start(task("www.example.com/new.exe", inFolder("a.exe"))));
    EXPECT_FALSE(service.start(task("gopher://example.com/new.exe", inFolder("a.exe"))));
    EXPECT_FALSE(service.start(task("http:///new.exe", inFolder("a.exe"))));
    DownloadTask upload = task("http://127.0.0.1/new.exe", inFolder("a.exe"));
    upload.kind = kUploadTaskKind;
    EXPECT_FALSE(service.start(upload));
    EXPECT_FALSE(service.running());

    ScriptedHttpServer server([](const std::string&, std::size_t) {
        ScriptedHttpServer::Reply reply{replyHeader("200 OK", {"Content-Length: 2000"}) + std::string(1000, 'x')};
        reply.holdOpen = true;
        return reply;
    });
    ASSERT_TRUE(service.start(task(server.address("/held.exe"), inFolder("held.exe"))));
    waitForBytes(1000);
    EXPECT_FALSE(service.start(task(server.address("/other.exe"), inFolder("other.exe"))));
    EXPECT_EQ(service.downloaded(), 1000);
    EXPECT_EQ(service.receivedSinceLastQuery(), 1000);
    EXPECT_EQ(service.receivedSinceLastQuery(), 0);
    EXPECT_EQ(service.downloaded(), 1000);
    service.stop();
    EXPECT_EQ(service.downloaded(), 0);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(DownloadService_, StopEndsATransferAndARetryWaitWithinTheStopWait)
{
    const std::size_t threadsBefore = threadCount();
    ScriptedHttpServer server([](const std::string& request, std::size_t) {
        if (request.find("GET /refused") == 0)
            return ScriptedHttpServer::Reply{};
        ScriptedHttpServer::Reply reply{replyHeader("200 OK", {"Content-Length: 10000000"}) +
                                        std::string(10000000, 's')};
        reply.pause = std::chrono::milliseconds(5);
        return reply;
    });

    DownloadTask slow = task(server.address("/slow.exe"), inFolder("slow.exe"));
    // Nothing but the stop could end these waits in time.
    slow.receiveTimeoutMs = 0;
    slow.stopWaitMs = 10000;
    ASSERT_TRUE(service.start(slow));
    waitForBytes(1);
    service.stop();
    // Stop returns with the task ended: event raised, object free, no file.
    EXPECT_FALSE(service.running());
    EXPECT_EQ(recorder.codes(), (std::vector<int>{kDownloadSizeKnownEvent, kDownloadEndedEvent}));
    const std::int64_t ended = recorder.event(kDownloadEndedEvent).b;
    EXPECT_GT(ended, 0);
    EXPECT_LT(ended, 10000000);
    EXPECT_TRUE(entries(folder()).empty());

    // A server that closes at once, retried after a wait only a stop ends.
    recorder.clear();
    service.setRetryWait(std::chrono::minutes(10));
    DownloadTask refused = task(server.address("/refused.exe"), inFolder("refused.exe"));
    refused.stopWaitMs = 10000;
    ASSERT_TRUE(service.start(refused));
    for (auto waited = std::chrono::milliseconds(0);
         recorder.countLines(gbk("等待600秒后重试")) == 0 && waited < kPatience; waited += kPollStep)
        std::this_thread::sleep_for(kPollStep);
    service.stop();
    EXPECT_EQ(recorder.codes(), (std::vector<int>{kDownloadEndedEvent}));
    EXPECT_TRUE(entries(folder()).empty());
    EXPECT_EQ(threadCountSettlingAt(threadsBefore + 1), threadsBefore + 1);  // the server's own thread
}

TEST_F(DownloadService_, DestroyingTheObjectEndsItsTask)
{
    ScriptedHttpServer server([](const std::string&, std::size_t) {
        ScriptedHttpServer::Reply reply{replyHeader("200 OK", {"Content-Length: 5000"}) + std::string(100, 'x')};
        reply.holdOpen = true;
        return reply;
    });
    const std::size_t threadsBefore = threadCount();
    {
        DownloadService atExit;
        DownloadTask parameters = task(server.address("/held.exe"), inFolder("held.exe"));
        parameters.receiveTimeoutMs = 0;
        ASSERT_TRUE(atExit.start(parameters));
        for (auto waited = std::chrono::milliseconds(0); atExit.downloaded() < 100 && waited < kPatience;
             waited += kPollStep)
            std::this_thread::sleep_for(kPollStep);
    }
    EXPECT_EQ(recorder.codes(), (std::vector<int>{kDownloadSizeKnownEvent, kDownloadEndedEvent}));
    EXPECT_EQ(recorder.event(kDownloadEndedEvent).b, 100);
    EXPECT_EQ(threadCountSettlingAt(threadsBefore), threadsBefore);
    EXPECT_TRUE(entries(folder()).empty());
}

TEST_F(DownloadService_, SpeedLimitedDownloadArrivesWhole)
{
    const std::string source = randomBytes(6000, 13);
    ScriptedHttpServer server([&](const std::string&, std::size_t) {
        ScriptedHttpServer::Reply reply{httpAnswer(source)};
        reply.pieceSize = 100;
        return reply;
    });
    DownloadTask limited = task(server.address("/limited.exe"), inFolder("limited.exe"));
    limited.speedLimit = 4096;
    download(limited);
    EXPECT_TRUE(holds(inFolder("limited.exe"), source));
}

}  // namespace
