// The update window end to end against a local site on 127.0.0.1: the page
// read, the old file deleted, the new build downloaded beside the program,
// the progress shown, the named program started and the window closed. The
// program's folder is a folder of the test's own.

#include "online/update_window.h"

#include "app/program_state.h"
#include "net/scripted_http_server.h"
#include "runtime/message_box.h"
#include "runtime/window_runtime.h"
#include "support/window_test_main.h"
#include "text/gbk.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <random>

using namespace qinghe;

namespace {

// Retries of a broken transfer wait this little here.
constexpr std::chrono::milliseconds kShortRetryWait{10};
// Generous guards for waits on other threads and processes; a passing test
// never comes near them.
constexpr int kPatienceMs = 30000;
// The progress is looked at this often while the window stands.
constexpr int kLookEveryMs = 20;
// A download slow enough that the once-a-second progress shows at least
// once: pieces of 16 KiB, each after a pause of 100 ms.
constexpr std::size_t kSlowPiece = 16384;
constexpr std::chrono::milliseconds kSlowPause{100};
// Not a whole number of kilobytes, so the total shows two decimals.
constexpr std::size_t kNewBuildSize = 300000;

const QString kUpdateEnded = QStringLiteral("更新结束!");
const QString kFileExists = QStringLiteral("文件已存在,继续下载吗?");
const QString kNoAddress = QStringLiteral("请输入网址");
const QString kNoFolder = QStringLiteral("请选择保存位置!");

std::string gbk(const QString& text)
{
    return fromQString(text);
}

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

QByteArray fileContent(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A program for the page's run name: leaves a mark file when started.
bool writeMarkScript(const QString& path, const QString& mark)
{
    if (!writeFile(path, "#!/bin/sh\necho ran > '" + mark.toUtf8() + "'\n"))
        return false;
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// The author's site: the update page at /updata.html, the new build at any
// other path, sent slowly when asked.
class UpdateSite {
public:
    UpdateSite() = default;

    // The page, written with "{site}" for the site's own address.
    void setPage(QString page)
    {
        page.replace(QStringLiteral("{site}"), QString::fromStdString(server_.address("")));
        std::lock_guard lock(mutex_);
        page_ = gbk(page);
    }
    void setNewBuild(std::string bytes, bool slowly)
    {
        std::lock_guard lock(mutex_);
        newBuild_ = std::move(bytes);
        slowly_ = slowly;
    }
    QString hostAndPort() const { return QStringLiteral("127.0.0.1:%1").arg(server_.port()); }
    // The paths asked for, in order.
    QStringList requestedPaths()
    {
        QStringList paths;
        for (const std::string& request : server_.requests())
            paths << QString::fromStdString(pathOf(request));
        return paths;
    }

private:
    static std::string pathOf(const std::string& request)
    {
        const std::size_t start = request.find(' ') + 1;
        return request.substr(start, request.find(' ', start) - start);
    }

    ScriptedHttpServer::Reply answer(const std::string& request)
    {
        std::lock_guard lock(mutex_);
        if (pathOf(request) == "/updata.html")
            return {replyHeader("200 OK", {"Content-Length: " + std::to_string(page_.size())}) + page_};
        ScriptedHttpServer::Reply reply = fileReply(newBuild_, request);
        if (slowly_) {
            reply.pieceSize = kSlowPiece;
            reply.pause = kSlowPause;
        }
        return reply;
    }

    std::mutex mutex_;
    std::string page_;
    std::string newBuild_;
    bool slowly_ = false;
    // Last, so that all it answers from stands before its thread runs.
    ScriptedHttpServer server_{[this](const std::string& request, std::size_t) { return answer(request); }};
};

// What the window showed at one look.
struct ProgressLook {
    QStringList panels;
    QString percentText;
    int bar = 0;
};

// Stands in for the desktop's web browser: keeps every address handed over.
class LinkRecorder : public QObject {
    Q_OBJECT

public:
    QStringList opened;

public slots:
    void open(const QUrl& url) { opened << url.toString(); }
};

// One message box as the window thread showed it.
struct AskedBox {
    ShownMessageBox box;
    bool onWindowThread = false;
    bool downloadWaiting = false;
};

}  // namespace

class UpdateWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root_;
    QString folder_;  // the program's folder
    std::unique_ptr<WindowRuntime> runtime_;
    std::unique_ptr<DownloadService> service_;
    std::unique_ptr<DownloadTask> task_;
    std::shared_ptr<OnlineTexts> texts_;
    std::unique_ptr<UpdateSite> site_;
    QList<AskedBox> asked_;
    int fileExistsAnswer_ = kAnswerYes;
    QList<ProgressLook> looks_;
    ProgressLook lookAtClose_;

    QString inFolder(const QString& name) const { return QDir(folder_).filePath(name); }
    QString inRoot(const QString& name) const { return root_->filePath(name); }

    UpdateContext context(const QString& siteHostPort)
    {
        UpdateContext c{*service_, *task_, Addresses::allAt(siteHostPort), texts_, folder_};
        c.startDelay = std::chrono::milliseconds(0);
        return c;
    }

    static UpdateWindow* openUpdateWindow()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<UpdateWindow*>(w); window != nullptr && window->isVisible())
                return window;
        return nullptr;
    }

    static ProgressLook look(UpdateWindow* window)
    {
        ProgressLook seen;
        for (int i = 0; i < 4; ++i)
            seen.panels << window->findChild<QLabel*>(QStringLiteral("状态条1面板%1").arg(i))->text();
        seen.percentText = window->findChild<QLabel*>("透明标签1")->text();
        seen.bar = window->findChild<QProgressBar*>("进度条1")->value();
        return seen;
    }

    // Runs the update as the manual check does, looking at the window while
    // it stands; returns once it has closed.
    void runUpdate(const QString& siteHostPort)
    {
        QTimer looker;
        QPointer<UpdateWindow> seen;
        QObject::connect(&looker, &QTimer::timeout, [&] {
            UpdateWindow* window = openUpdateWindow();
            if (window == nullptr)
                return;
            if (seen != window) {
                seen = window;
                QObject::connect(window, &UpdateWindow::closedByProgram, [this, window] { lookAtClose_ = look(window); });
            }
            looks_ << look(window);
        });
        looker.start(kLookEveryMs);
        runUpdateWindow(*runtime_, context(siteHostPort));
    }

    QStringList askedTexts() const
    {
        QStringList texts;
        for (const AskedBox& asked : asked_)
            texts << asked.box.text;
        return texts;
    }

    // Looks at which the progress had been shown.
    QList<ProgressLook> progressShown() const
    {
        QList<ProgressLook> shown;
        for (const ProgressLook& seen : looks_)
            if (!seen.panels[2].isEmpty())
                shown << seen;
        return shown;
    }

private slots:
    void initTestCase()
    {
        // The page is read directly, whatever proxy the caller's environment names.
        for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
            qunsetenv(name);
    }

    void init()
    {
        root_ = std::make_unique<QTemporaryDir>();
        QVERIFY(root_->isValid());
        QVERIFY(QDir(root_->path()).mkdir("program"));
        folder_ = root_->filePath("program");
        runtime_ = std::make_unique<WindowRuntime>();
        service_ = std::make_unique<DownloadService>();
        service_->setRetryWait(kShortRetryWait);
        task_ = std::make_unique<DownloadTask>();
        texts_ = std::make_shared<OnlineTexts>();
        site_ = std::make_unique<UpdateSite>();
        asked_.clear();
        looks_.clear();
        lookAtClose_ = {};
        fileExistsAnswer_ = kAnswerYes;
        setMessageBoxSeam([this](const ShownMessageBox& box) {
            AskedBox asked{box, QThread::currentThread() == qApp->thread(), false};
            // The download's question comes while its thread waits for the
            // answer: the task runs and nothing is written yet.
            asked.downloadWaiting = service_->running() && !QFile::exists(inFolder("new.bin.part"));
            asked_ << asked;
            return box.text == kFileExists ? fileExistsAnswer_ : kAnswerOk;
        });
    }

    void cleanup()
    {
        setMessageBoxSeam({});
        // Only the program closes the update window; a test that failed half
        // way leaves it to be deleted here.
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<UpdateWindow*>(w) != nullptr)
                delete w;
            else
                w->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        service_.reset();
        site_.reset();
        runtime_.reset();
        root_.reset();
    }

    void updateWindowStandsAsDefinedAndLinksToTheSite()
    {
        site_->setPage(QStringLiteral("下载地址（{site}/soft/new.bin）结束下载地址"));
        site_->setNewBuild(randomBytes(kNewBuildSize, 1), true);
        QStringList visible;
        QStringList hidden;
        QString title;
        QSize size;
        Qt::WindowFlags flags;
        Qt::WindowModality modality = Qt::NonModal;
        bool refusedClose = false;
        QTimer inspector;
        QObject::connect(&inspector, &QTimer::timeout, [&] {
            UpdateWindow* window = openUpdateWindow();
            if (window == nullptr || !title.isEmpty())
                return;
            title = window->windowTitle();
            size = window->size();
            flags = window->windowFlags();
            modality = window->windowModality();
            for (QWidget* control : window->centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                (control->isVisible() ? visible : hidden) << control->objectName();
            // Neither the title bar nor a key closes it.
            refusedClose = !window->close() && window->isVisible();
            emit window->findChild<QLabel*>("超级链接框1")->linkActivated(QStringLiteral("site"));
        });
        inspector.start(kLookEveryMs);
        LinkRecorder browser;
        QDesktopServices::setUrlHandler("http", &browser, "open");
        runUpdateWindow(*runtime_, context(site_->hostAndPort()));
        QDesktopServices::unsetUrlHandler("http");

        QCOMPARE(title, QStringLiteral("青禾主持人音效软件更新中..."));
        QCOMPARE(size, QSize(419, 161));
        QVERIFY(!(flags & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowMaximizeButtonHint)));
        QCOMPARE(modality, Qt::ApplicationModal);
        QVERIFY(refusedClose);
        QStringList shownControls{"进度条1", "标签3", "超级链接框1", "状态条1", "透明标签1", "皮肤标签"};
        QStringList hiddenControls{"标签1", "编辑框1", "按钮1", "标签2", "编辑框2", "按钮2", "按钮3", "运行名", "删除名"};
        for (QStringList* names : {&visible, &hidden, &shownControls, &hiddenControls})
            names->sort();
        QCOMPARE(visible, shownControls);
        QCOMPARE(hidden, hiddenControls);
        // The link takes the person to the author's site.
        QCOMPARE(browser.opened, QStringList({Addresses::allAt(site_->hostAndPort()).siteHome()}));
    }

    void updateReplacesTheOldBuildAndStartsTheNewOne()
    {
        const std::string newBuild = randomBytes(kNewBuildSize, 2);
        site_->setPage(QStringLiteral("<p>版本号（v2.0）结束</p>删除名（old.bin）结束删除名 "
                                      "下载地址（{site}/soft/new.bin）结束下载地址 运行名（run.sh）结束运行名"));
        site_->setNewBuild(newBuild, true);
        QVERIFY(writeFile(inFolder("old.bin"), "the old build"));
        QVERIFY(writeMarkScript(inFolder("run.sh"), inRoot("mark")));

        runUpdate(site_->hostAndPort());

        QCOMPARE(site_->requestedPaths(), QStringList({"/updata.html", "/soft/new.bin"}));
        // The page read stays with the program's texts.
        QVERIFY(texts_->values().updatePageText.find("run.sh") != Text::npos);
        QCOMPARE(fileContent(inFolder("new.bin")), QByteArray::fromStdString(newBuild));
        QCOMPARE(entries(folder_), QStringList({"new.bin", "run.sh"}));
        QCOMPARE(askedTexts(), QStringList({kUpdateEnded}));
        QCOMPARE(asked_[0].box.style, int(kBoxOkInformation));
        QVERIFY(asked_[0].onWindowThread);
        // The run name beside the program is started; nothing waits for it.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(inRoot("mark")), kPatienceMs);
        QVERIFY(openUpdateWindow() == nullptr);
        // The task ends as soon as its ended event has been dealt with.
        QTRY_VERIFY_WITH_TIMEOUT(!service_->running(), kPatienceMs);

        // The progress showed while the build came: "%.13g" figures.
        const QList<ProgressLook> shown = progressShown();
        QVERIFY(!shown.isEmpty());
        for (const ProgressLook& seen : shown) {
            QCOMPARE(seen.panels[0], QStringLiteral("总大小:292.97KB"));
            QVERIFY2(QRegularExpression(QStringLiteral("^速度:\\d+(\\.\\d\\d?)?kb/秒$")).match(seen.panels[1]).hasMatch(),
                     qPrintable(seen.panels[1]));
            QVERIFY2(QRegularExpression(QStringLiteral("^已下载:\\d+(\\.\\d\\d?)?KB$")).match(seen.panels[2]).hasMatch(),
                     qPrintable(seen.panels[2]));
            QCOMPARE(seen.panels[3], QStringLiteral("百分比:%1%").arg(seen.bar));
            QCOMPARE(seen.percentText, QStringLiteral("%1%").arg(seen.bar));
            QVERIFY(seen.bar >= 0 && seen.bar <= 100);
        }
        // At the end the panels and the bar are cleared before the window closes.
        QCOMPARE(lookAtClose_.panels, QStringList({"", "", "", ""}));
        QCOMPARE(lookAtClose_.bar, 0);
    }

    // A Linux folder may be named with characters GBK cannot hold; the update
    // still reads, deletes, downloads and starts inside it.
    void programFolderNamedOutsideGbkStillUpdates()
    {
        QVERIFY(QDir(root_->path()).mkdir(QStringLiteral("程序 한국 😀")));
        folder_ = root_->filePath(QStringLiteral("程序 한국 😀"));
        const std::string newBuild = randomBytes(kNewBuildSize, 3);
        site_->setPage(QStringLiteral("版本号（v2.0）结束删除名（old.bin）结束删除名 "
                                      "下载地址（{site}/soft/new.bin）结束下载地址 运行名（run.sh）结束运行名"));
        site_->setNewBuild(newBuild, false);
        QVERIFY(writeFile(inFolder("old.bin"), "the old build"));
        QVERIFY(writeMarkScript(inFolder("run.sh"), inRoot("mark")));

        runUpdate(site_->hostAndPort());

        QCOMPARE(fileContent(inFolder("new.bin")), QByteArray::fromStdString(newBuild));
        QCOMPARE(entries(folder_), QStringList({"new.bin", "run.sh"}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(inRoot("mark")), kPatienceMs);
    }

    void unreachablePageEndsTheUpdateWithoutADownload()
    {
        QVERIFY(writeFile(inFolder("old.bin"), "the old build"));
        // Nothing listens on the discard port.
        runUpdate(QStringLiteral("127.0.0.1:9"));
        QCOMPARE(askedTexts(), QStringList({kNoAddress, kNoFolder}));
        QCOMPARE(asked_[0].box.style, int(kBoxOk));
        QCOMPARE(asked_[1].box.style, int(kBoxOk));
        QVERIFY(openUpdateWindow() == nullptr);
        QVERIFY(!service_->running());
        QCOMPARE(entries(folder_), QStringList({"old.bin"}));
    }

    void pageWithoutADownloadAddressEndsTheUpdate()
    {
        site_->setPage(QStringLiteral("版本号（v2.0）结束 删除名（old.bin）结束删除名 运行名（run.sh）结束运行名"));
        QVERIFY(writeFile(inFolder("old.bin"), "the old build"));
        QVERIFY(writeMarkScript(inFolder("run.sh"), inRoot("mark")));
        runUpdate(site_->hostAndPort());
        QCOMPARE(askedTexts(), QStringList({kNoAddress, kNoFolder}));
        QVERIFY(openUpdateWindow() == nullptr);
        // The page's delete name stands before its download address.
        QCOMPARE(entries(folder_), QStringList({"run.sh"}));
        QCOMPARE(site_->requestedPaths(), QStringList({"/updata.html"}));
        // Nothing was updated, so nothing is started.
        QTest::qWait(kLookEveryMs * 10);
        QVERIFY(!QFile::exists(inRoot("mark")));
    }

    void namesFromThePageStayInTheProgramFolder_data()
    {
        // The page's names; what they point at if taken as written, and the
        // plain names the updater acts on, relative to the test's root
        // ({root} is the root itself); empty: none.
        QTest::addColumn<QString>("deleteName");
        QTest::addColumn<QString>("runName");
        QTest::addColumn<QStringList>("outside");
        QTest::addColumn<QStringList>("inside");
        QTest::newRow("../x") << "../x.old" << "../x.sh" << QStringList{"x.old", "x.sh"}
                              << QStringList{"program/x.old", "program/x.sh"};
        QTest::newRow("absolute") << "{root}/outside/y.old" << "{root}/outside/y.sh"
                                  << QStringList{"outside/y.old", "outside/y.sh"}
                                  << QStringList{"program/y.old", "program/y.sh"};
        QTest::newRow("a/b") << "a/b.old" << "a/b.sh" << QStringList{"program/a/b.old", "program/a/b.sh"}
                             << QStringList{"program/b.old", "program/b.sh"};
        QTest::newRow("..\\z") << "..\\z.old" << "..\\z.sh" << QStringList{"z.old", "z.sh"}
                               << QStringList{"program/z.old", "program/z.sh"};
        QTest::newRow("..") << ".." << ".." << QStringList() << QStringList();
    }

    // The page's delete and run names act on their plain name in the
    // program's folder only; ".." does nothing at all.
    void namesFromThePageStayInTheProgramFolder()
    {
        QFETCH(QString, deleteName);
        QFETCH(QString, runName);
        QFETCH(QStringList, outside);
        QFETCH(QStringList, inside);
        QVERIFY(QDir(root_->path()).mkpath("outside"));
        QVERIFY(QDir(folder_).mkpath("a"));
        if (!outside.isEmpty()) {
            QVERIFY(writeFile(inRoot(outside[0]), "not the program's"));
            QVERIFY(writeMarkScript(inRoot(outside[1]), inRoot("outside-ran")));
            QVERIFY(writeFile(inRoot(inside[0]), "the old build"));
            QVERIFY(writeMarkScript(inRoot(inside[1]), inRoot("inside-ran")));
        }
        site_->setPage(QStringLiteral("删除名（%1）结束删除名 运行名（%2）结束运行名 下载地址（{site}/soft/new.bin）结束下载地址")
                           .arg(deleteName, runName)
                           .replace(QStringLiteral("{root}"), root_->path()));
        site_->setNewBuild("new build", false);
        const QStringList rootBefore = entries(root_->path());
        QStringList folderAfter = entries(folder_);
        if (!inside.isEmpty())
            folderAfter.removeAll(QFileInfo(inside[0]).fileName());
        folderAfter << "new.bin";
        folderAfter.sort();

        runUpdate(site_->hostAndPort());

        QCOMPARE(askedTexts(), QStringList({kUpdateEnded}));
        QCOMPARE(fileContent(inFolder("new.bin")), QByteArray("new build"));
        if (!inside.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(inRoot("inside-ran")), kPatienceMs);
            QCOMPARE(fileContent(inRoot(outside[0])), QByteArray("not the program's"));
        }
        QCOMPARE(entries(folder_), folderAfter);
        QVERIFY(QDir(folder_).exists("a"));
        // Whatever was started has had its time to leave its mark.
        QTest::qWait(kLookEveryMs * 10);
        QVERIFY(!QFile::exists(inRoot("outside-ran")));
        QStringList rootAfter = entries(root_->path());
        rootAfter.removeAll("inside-ran");
        QCOMPARE(rootAfter, rootBefore);
    }

    // An address whose last part climbs out of the folder saves under its plain name.
    void downloadNameFromTheAddressStaysInTheProgramFolder()
    {
        site_->setPage(QStringLiteral("下载地址（{site}/soft/..\\..\\evil.bin）结束下载地址"));
        site_->setNewBuild("new build", false);
        runUpdate(site_->hostAndPort());
        QCOMPARE(askedTexts(), QStringList({kUpdateEnded}));
        QCOMPARE(entries(folder_), QStringList({"evil.bin"}));
        QCOMPARE(entries(root_->path()), QStringList({"program"}));
    }

    void existingFileIsAskedAboutOnTheWindowThread_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("folderAfter");
        QTest::newRow("yes: a new name") << int(kAnswerYes) << QStringList({"new(1).bin", "new.bin"});
        QTest::newRow("no: nothing written") << int(kAnswerNo) << QStringList({"new.bin"});
    }

    // The service's thread waits while the window thread asks.
    void existingFileIsAskedAboutOnTheWindowThread()
    {
        QFETCH(int, answer);
        QFETCH(QStringList, folderAfter);
        fileExistsAnswer_ = answer;
        QVERIFY(writeFile(inFolder("new.bin"), "kept"));
        site_->setPage(QStringLiteral("下载地址（{site}/soft/new.bin）结束下载地址"));
        site_->setNewBuild("new build", false);
        runUpdate(site_->hostAndPort());

        QCOMPARE(askedTexts(), QStringList({kFileExists, kUpdateEnded}));
        QCOMPARE(asked_[0].box.style, int(kBoxYesNo));
        QVERIFY(asked_[0].onWindowThread);
        QVERIFY(asked_[0].downloadWaiting);
        QCOMPARE(entries(folder_), folderAfter);
        QCOMPARE(fileContent(inFolder("new.bin")), QByteArray("kept"));
        if (answer == kAnswerYes)
            QCOMPARE(fileContent(inFolder("new(1).bin")), QByteArray("new build"));
    }

    // Deleted first, so the question is never asked.
    void deleteNameOfTheDownloadedFileIsNotAskedAbout()
    {
        QVERIFY(writeFile(inFolder("new.bin"), "the old build"));
        site_->setPage(QStringLiteral("删除名（new.bin）结束删除名 下载地址（{site}/soft/new.bin）结束下载地址"));
        site_->setNewBuild("new build", false);
        runUpdate(site_->hostAndPort());
        QCOMPARE(askedTexts(), QStringList({kUpdateEnded}));
        QCOMPARE(fileContent(inFolder("new.bin")), QByteArray("new build"));
    }

    // A download that fails still ends the update: told, run name started, closed.
    void failedDownloadEndsTheUpdateAsOne()
    {
        // Nothing listens on the discard port.
        site_->setPage(QStringLiteral("下载地址（http://127.0.0.1:9/soft/gone.bin）结束下载地址 运行名（run.sh）结束运行名"));
        QVERIFY(writeMarkScript(inFolder("run.sh"), inRoot("mark")));
        service_->setRetryLimit(1);
        runUpdate(site_->hostAndPort());
        QCOMPARE(askedTexts(), QStringList({kUpdateEnded}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(inRoot("mark")), kPatienceMs);
        QCOMPARE(entries(folder_), QStringList({"run.sh"}));
    }

    // The address has no scheme the download service knows: a failed download as well.
    void refusedDownloadEndsTheUpdateAsOne()
    {
        site_->setPage(QStringLiteral("下载地址（gopher://127.0.0.1/new.bin）结束下载地址"));
        runUpdate(site_->hostAndPort());
        QCOMPARE(askedTexts(), QStringList({kUpdateEnded}));
        QVERIFY(openUpdateWindow() == nullptr);
        QCOMPARE(entries(folder_), QStringList());
    }

    // The program's download object stops a running task at exit, within
    // its stop wait: the task has ended, and no file was left behind.
    void cleanUpAtExitStopsARunningDownload()
    {
        // Part of the body, then the connection held open.
        ScriptedHttpServer server([](const std::string&, std::size_t) {
            ScriptedHttpServer::Reply reply{replyHeader("200 OK", {"Content-Length: 1000000"}) + std::string(4096, 'x')};
            reply.holdOpen = true;
            return reply;
        });
        ProgramState state;
        std::atomic<int> endedEvents{0};
        state.downloadTask->address = server.address("/soft/new.bin");
        state.downloadTask->savePath = fromQString(inFolder("new.bin"));
        state.downloadTask->eventHandler = [&endedEvents](int event, std::int64_t, std::int64_t, std::int64_t,
                                                          DownloadTask&) {
            if (event == kDownloadEndedEvent)
                ++endedEvents;
            return 0;
        };
        QVERIFY(state.downloadService->start(*state.downloadTask));
        QTRY_VERIFY_WITH_TIMEOUT(state.downloadService->downloaded() > 0, kPatienceMs);
        state.cleanUp();
        QCOMPARE(endedEvents.load(), 1);
        QVERIFY(state.downloadService == nullptr);
        QVERIFY(state.downloadTask == nullptr);
        QCOMPARE(entries(folder_), QStringList());
    }
};

QINGHE_WINDOW_TEST_MAIN(UpdateWindowTest)

#include "update_window_test.moc"
