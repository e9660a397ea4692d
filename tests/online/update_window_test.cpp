// The update window end to end against a local site on 127.0.0.1: the page
// read, the new build downloaded beside the program, the old file deleted
// once the new one stands, the progress shown, the named program started
// and the window closed; and every way it can fail or be left, with nothing
// lost. The program's folder is a folder of the test's own.

#include "online/update_window.h"

#include "app/program_state.h"
#include "online/updater.h"
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

// Retries of a broken transfer wait this little here, and a silent server
// is given up sooner than the program's own bounds, which only add time.
constexpr std::chrono::milliseconds kShortRetryWait{10};
constexpr int kShortNetworkTimeoutMs = 1000;
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
const QString kPageUnreadable = QStringLiteral("无法读取更新页面，请稍后再试。");
const QString kCancelQuestion = QStringLiteral("是否取消更新？");

QString failure(const char* reason)
{
    return QStringLiteral("更新失败：") + QString::fromUtf8(reason) + QStringLiteral("，请稍后再试。");
}

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
    std::unique_ptr<Updater> updater_;
    std::unique_ptr<UpdateSite> site_;
    QList<AskedBox> asked_;
    int fileExistsAnswer_ = kAnswerYes;
    int cancelAnswer_ = kAnswerNo;
    UpdateEnd ended_ = UpdateEnd::notUpdated;
    QList<ProgressLook> looks_;
    ProgressLook lookAtClose_;

    QString inFolder(const QString& name) const { return QDir(folder_).filePath(name); }
    QString inRoot(const QString& name) const { return root_->filePath(name); }

    Updater& updaterFor(const QString& siteHostPort)
    {
        updater_ = std::make_unique<Updater>(Addresses::allAt(siteHostPort), folder_);
        UpdateBounds bounds;
        bounds.networkTimeoutMs = kShortNetworkTimeoutMs;
        bounds.retryWait = kShortRetryWait;
        updater_->setBounds(bounds);
        return *updater_;
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
                QObject::connect(window, &UpdateWindow::finished, [this, window] { lookAtClose_ = look(window); });
            }
            looks_ << look(window);
        });
        looker.start(kLookEveryMs);
        ended_ = runUpdateWindow(*runtime_, updaterFor(siteHostPort), std::chrono::milliseconds(0));
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
        site_ = std::make_unique<UpdateSite>();
        asked_.clear();
        looks_.clear();
        lookAtClose_ = {};
        fileExistsAnswer_ = kAnswerYes;
        cancelAnswer_ = kAnswerNo;
        ended_ = UpdateEnd::notUpdated;
        setMessageBoxSeam([this](const ShownMessageBox& box) {
            AskedBox asked{box, QThread::currentThread() == qApp->thread(), false};
            // The download's question comes while its thread waits for the
            // answer: the task runs and nothing is written yet.
            asked.downloadWaiting = updater_ && updater_->busy() && !QFile::exists(inFolder("new.bin.part"));
            asked_ << asked;
            if (box.text == kCancelQuestion)
                return cancelAnswer_;
            return box.text == kFileExists ? fileExistsAnswer_ : kAnswerOk;
        });
    }

    void cleanup()
    {
        setMessageBoxSeam({});
        // A test that failed half way leaves its window to be deleted here.
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<UpdateWindow*>(w) != nullptr)
                delete w;
            else
                w->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        updater_.reset();
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
        bool percentWhole = false;
        QTimer inspector;
        QObject::connect(&inspector, &QTimer::timeout, [&] {
            UpdateWindow* window = openUpdateWindow();
            if (window == nullptr || !title.isEmpty())
                return;
            title = window->windowTitle();
            size = window->size();
            flags = window->windowFlags();
            modality = window->windowModality();
            const QLabel* percent = window->findChild<QLabel*>("状态条1面板3");
            percentWhole = window->rect().contains(QRect(percent->mapTo(window, QPoint()), percent->size())) &&
                           percent->fontMetrics().horizontalAdvance("百分比:100%") <= percent->contentsRect().width();
            for (QWidget* control : window->centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                (control->isVisible() ? visible : hidden) << control->objectName();
            // Closing asks first; 否 keeps the window and the update.
            refusedClose = !window->close() && window->isVisible();
            emit window->findChild<QLabel*>("超级链接框1")->linkActivated(QStringLiteral("site"));
        });
        inspector.start(kLookEveryMs);
        LinkRecorder browser;
        QDesktopServices::setUrlHandler("http", &browser, "open");
        runUpdateWindow(*runtime_, updaterFor(site_->hostAndPort()), std::chrono::milliseconds(0));
        QDesktopServices::unsetUrlHandler("http");

        QCOMPARE(title, QStringLiteral("青禾主持人音效软件更新中..."));
        QCOMPARE(size, QSize(419, 161));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        // The board stays free while the update downloads; its boxes hold only this window.
        QCOMPARE(modality, Qt::NonModal);
        for (const AskedBox& asked : asked_)
            QVERIFY(!asked.box.holdsProgram);
        QVERIFY(percentWhole);
        QVERIFY(refusedClose);
        QCOMPARE(askedTexts(), QStringList({kCancelQuestion, kUpdateEnded}));
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
        QCOMPARE(ended_, UpdateEnd::updated);
        QCOMPARE(fileContent(inFolder("new.bin")), QByteArray::fromStdString(newBuild));
        QCOMPARE(entries(folder_), QStringList({"new.bin", "run.sh"}));
        QCOMPARE(askedTexts(), QStringList({kUpdateEnded}));
        QCOMPARE(asked_[0].box.style, int(kBoxOkInformation));
        QVERIFY(asked_[0].onWindowThread);
        // The run name beside the program is started; nothing waits for it.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(inRoot("mark")), kPatienceMs);
        QVERIFY(openUpdateWindow() == nullptr);
        QVERIFY(!updater_->busy());

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
        // A finished download stands at 100% until the window closes.
        QCOMPARE(lookAtClose_.panels[3], QStringLiteral("百分比:100%"));
        QCOMPARE(lookAtClose_.percentText, QStringLiteral("100%"));
        QCOMPARE(lookAtClose_.bar, 100);
    }

    void pageThatCannotBeReadEndsTheUpdateAndKeepsEverything_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::newRow("unreachable") << false;
        QTest::newRow("no download address") << true;
    }

    void pageThatCannotBeReadEndsTheUpdateAndKeepsEverything()
    {
        QFETCH(bool, reachable);
        site_->setPage(QStringLiteral("版本号（v2.0）结束 删除名（old.bin）结束删除名 运行名（run.sh）结束运行名"));
        QVERIFY(writeFile(inFolder("old.bin"), "the old build"));
        QVERIFY(writeMarkScript(inFolder("run.sh"), inRoot("mark")));
        // Nothing listens on the discard port.
        runUpdate(reachable ? site_->hostAndPort() : QStringLiteral("127.0.0.1:9"));
        QCOMPARE(askedTexts(), QStringList({kPageUnreadable}));
        QVERIFY(openUpdateWindow() == nullptr);
        QCOMPARE(ended_, UpdateEnd::notUpdated);
        QCOMPARE(entries(folder_), QStringList({"old.bin", "run.sh"}));
        QTest::qWait(kLookEveryMs * 10);
        QVERIFY(!QFile::exists(inRoot("mark")));
    }

    void failedDownloadIsToldAndLosesNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << "refused" << failure("无法连接下载服务器");
        QTest::newRow("never answered") << "silent" << failure("无法连接下载服务器");
        QTest::newRow("404") << "missing" << failure("服务器返回错误 404");
        QTest::newRow("cut short") << "cut" << failure("下载中断");
        QTest::newRow("endless redirects") << "loop" << failure("服务器返回错误 302");
        QTest::newRow("a ../ name") << "../new.bin" << failure("无法写入文件");
        QTest::newRow("refused scheme") << "gopher" << failure("无法连接下载服务器");
    }

    // Each failure ends with its reason; the file named for deletion stays,
    // nothing is started, nothing is left under the download's name.
    void failedDownloadIsToldAndLosesNothing()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        ScriptedHttpServer faulty([](const std::string& request, std::size_t) {
            ScriptedHttpServer::Reply reply;
            if (request.find("GET /silent") == 0) {
                reply.holdOpen = true;
            } else if (request.find("GET /missing") == 0) {
                reply.bytes = replyHeader("404 Not Found", {"Content-Length: 0"});
            } else if (request.find("GET /cut") == 0) {
                reply.bytes = replyHeader("200 OK", {"Content-Length: 100000"}) + std::string(5000, 'c');
            } else if (request.find("GET /loop") == 0) {
                reply.bytes = replyHeader("302 Found", {"Location: /loop", "Content-Length: 0"});
            }
            return reply;
        });
        const QString address = path == "refused"  ? QStringLiteral("http://127.0.0.1:9/new.bin")
                                : path == "gopher" ? QStringLiteral("gopher://127.0.0.1/new.bin")
                                : path == "../new.bin"
                                    ? QString::fromStdString(faulty.address("/soft/..\\new.bin"))
                                    : QString::fromStdString(faulty.address("/" + path.toStdString() + "/new.bin"));
        site_->setPage(QStringLiteral("删除名（old.bin）结束删除名 运行名（run.sh）结束运行名 下载地址（%1）结束下载地址")
                           .arg(address));
        QVERIFY(writeFile(inFolder("old.bin"), "the old build"));
        QVERIFY(writeMarkScript(inFolder("run.sh"), inRoot("mark")));

        runUpdate(site_->hostAndPort());

        QCOMPARE(askedTexts(), QStringList({reason}));
        QCOMPARE(asked_[0].box.style, int(kBoxOkExclamation));
        QVERIFY(openUpdateWindow() == nullptr);
        QCOMPARE(ended_, UpdateEnd::notUpdated);
        QCOMPARE(entries(folder_), QStringList({"old.bin", "run.sh"}));
        QCOMPARE(entries(root_->path()), QStringList({"program"}));
        QTest::qWait(kLookEveryMs * 10);
        QVERIFY(!QFile::exists(inRoot("mark")));
    }

    // 是 to the question stops the download: no file under its name, nothing
    // deleted or started, and the board's caller is told nothing was updated.
    void closingDuringASlowDownloadCancelsIt()
    {
        site_->setPage(QStringLiteral("删除名（old.bin）结束删除名 运行名（run.sh）结束运行名 "
                                      "下载地址（{site}/soft/new.bin）结束下载地址"));
        site_->setNewBuild(randomBytes(10 * kNewBuildSize, 4), true);
        QVERIFY(writeFile(inFolder("old.bin"), "the old build"));
        QVERIFY(writeMarkScript(inFolder("run.sh"), inRoot("mark")));
        cancelAnswer_ = kAnswerYes;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            UpdateWindow* window = openUpdateWindow();
            if (window != nullptr && updater_->downloaded() > 0) {
                closer.stop();
                window->close();
            }
        });
        closer.start(kLookEveryMs);
        runUpdate(site_->hostAndPort());

        QCOMPARE(askedTexts(), QStringList({kCancelQuestion}));
        QCOMPARE(ended_, UpdateEnd::notUpdated);
        QVERIFY(!updater_->busy());
        QCOMPARE(entries(folder_), QStringList({"old.bin", "run.sh"}));
        QTest::qWait(kLookEveryMs * 10);
        QVERIFY(!QFile::exists(inRoot("mark")));
    }

    // A Linux folder may be named with characters GBK cannot hold; the update
    // still downloads, deletes and starts inside it.
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

    void namesWithAFolderInThemAreRefused_data()
    {
        QTest::addColumn<QString>("deleteName");
        QTest::addColumn<QString>("runName");
        QTest::newRow("../x") << "../x.old" << "run.sh";
        QTest::newRow("absolute") << "{root}/outside/y.old" << "run.sh";
        QTest::newRow("a/b") << "old.bin" << "a/run.sh";
        QTest::newRow("..\\z") << "..\\z.old" << "run.sh";
        QTest::newRow("..") << ".." << "..";
    }

    // The page's names must be plain names in the program's folder: one that
    // is not fails the update before anything is written, deleted or started.
    void namesWithAFolderInThemAreRefused()
    {
        QFETCH(QString, deleteName);
        QFETCH(QString, runName);
        QVERIFY(QDir(root_->path()).mkpath("outside"));
        QVERIFY(QDir(folder_).mkpath("a"));
        QVERIFY(writeFile(inRoot("x.old"), "not the program's"));
        QVERIFY(writeFile(inRoot("outside/y.old"), "not the program's"));
        QVERIFY(writeFile(inFolder("old.bin"), "the old build"));
        QVERIFY(writeMarkScript(inFolder("run.sh"), inRoot("ran")));
        QVERIFY(writeMarkScript(inFolder("a/run.sh"), inRoot("ran")));
        site_->setPage(QStringLiteral("删除名（%1）结束删除名 运行名（%2）结束运行名 下载地址（{site}/soft/new.bin）结束下载地址")
                           .arg(deleteName, runName)
                           .replace(QStringLiteral("{root}"), root_->path()));
        site_->setNewBuild("new build", false);
        const QStringList rootBefore = entries(root_->path());
        const QStringList folderBefore = entries(folder_);

        runUpdate(site_->hostAndPort());

        QCOMPARE(askedTexts(), QStringList({failure("无法写入文件")}));
        QCOMPARE(entries(folder_), folderBefore);
        QCOMPARE(entries(root_->path()), rootBefore);
        QCOMPARE(site_->requestedPaths(), QStringList({"/updata.html"}));
    }

    void existingFileIsAskedAboutOnTheWindowThread_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("folderAfter");
        QTest::addColumn<QStringList>("asked");
        QTest::newRow("yes: a new name") << int(kAnswerYes) << QStringList({"new(1).bin", "new.bin"})
                                         << QStringList({kFileExists, kUpdateEnded});
        QTest::newRow("no: nothing written") << int(kAnswerNo) << QStringList({"new.bin"})
                                             << QStringList({kFileExists});
    }

    // The service's thread waits while the window thread asks.
    void existingFileIsAskedAboutOnTheWindowThread()
    {
        QFETCH(int, answer);
        QFETCH(QStringList, folderAfter);
        QFETCH(QStringList, asked);
        fileExistsAnswer_ = answer;
        QVERIFY(writeFile(inFolder("new.bin"), "kept"));
        site_->setPage(QStringLiteral("下载地址（{site}/soft/new.bin）结束下载地址"));
        site_->setNewBuild("new build", false);
        runUpdate(site_->hostAndPort());

        QCOMPARE(askedTexts(), asked);
        QCOMPARE(asked_[0].box.style, int(kBoxYesNo));
        QVERIFY(asked_[0].onWindowThread);
        QVERIFY(asked_[0].downloadWaiting);
        QCOMPARE(entries(folder_), folderAfter);
        QCOMPARE(fileContent(inFolder("new.bin")), QByteArray("kept"));
        if (answer == kAnswerYes)
            QCOMPARE(fileContent(inFolder("new(1).bin")), QByteArray("new build"));
    }

    // The program the page names for deletion is replaced by the download
    // only once it is whole, keeping its permissions, and the new one runs;
    // a new file named as the program to run is made executable.
    void replacedOrNewProgramStartsAfterTheUpdate_data()
    {
        QTest::addColumn<bool>("replacing");
        QTest::newRow("replaces the old program") << true;
        QTest::newRow("a new program") << false;
    }

    void replacedOrNewProgramStartsAfterTheUpdate()
    {
        QFETCH(bool, replacing);
        if (replacing)
            QVERIFY(writeMarkScript(inFolder("qinghe"), inRoot("old-ran")));
        const std::string newProgram = "#!/bin/sh\necho new > '" + inRoot("new-ran").toStdString() + "'\n";
        site_->setPage(QStringLiteral("删除名（%1）结束删除名 运行名（qinghe）结束运行名 "
                                      "下载地址（{site}/soft/qinghe）结束下载地址")
                           .arg(replacing ? QStringLiteral("qinghe") : QString()));
        site_->setNewBuild(newProgram, false);
        runUpdate(site_->hostAndPort());

        QCOMPARE(askedTexts(), QStringList({kUpdateEnded}));
        QCOMPARE(ended_, UpdateEnd::updated);
        QCOMPARE(fileContent(inFolder("qinghe")), QByteArray::fromStdString(newProgram));
        QVERIFY(QFileInfo(inFolder("qinghe")).isExecutable());
        QCOMPARE(entries(folder_), QStringList({"qinghe"}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(inRoot("new-ran")), kPatienceMs);
        QVERIFY(!QFile::exists(inRoot("old-ran")));
    }

    // Two cut connections and a whole reply to a Range on the way: the update
    // still ends well, byte for byte.
    void updateThroughCutConnectionsEndsWell()
    {
        const std::string newBuild = randomBytes(kNewBuildSize, 5);
        ScriptedHttpServer flaky([&](const std::string& request, std::size_t connection) {
            ScriptedHttpServer::Reply reply = fileReply(newBuild, request);
            if (connection == 0 || connection == 1)
                reply.cutAfter = 2000 + 50000 * connection;
            if (connection == 2)
                reply = {replyHeader("200 OK", {"Content-Length: " + std::to_string(newBuild.size())}) + newBuild};
            return reply;
        });
        site_->setPage(QStringLiteral("删除名（old.bin）结束删除名 运行名（run.sh）结束运行名 下载地址（%1）结束下载地址")
                           .arg(QString::fromStdString(flaky.address("/soft/new.bin"))));
        QVERIFY(writeFile(inFolder("old.bin"), "the old build"));
        QVERIFY(writeMarkScript(inFolder("run.sh"), inRoot("mark")));

        runUpdate(site_->hostAndPort());

        QCOMPARE(askedTexts(), QStringList({kUpdateEnded}));
        QCOMPARE(fileContent(inFolder("new.bin")), QByteArray::fromStdString(newBuild));
        QCOMPARE(entries(folder_), QStringList({"new.bin", "run.sh"}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(inRoot("mark")), kPatienceMs);
        const std::vector<std::string> requests = flaky.requests();
        QCOMPARE(requests.size(), std::size_t(3));
        QVERIFY(requests[1].find("Range: bytes=") != std::string::npos);
    }

    // The program's clean-up at exit stops a running update: its download
    // ends at once and no file is left behind.
    void cleanUpAtExitStopsARunningDownload()
    {
        // Part of the body, then the connection held open.
        ScriptedHttpServer server([](const std::string&, std::size_t) {
            ScriptedHttpServer::Reply reply{replyHeader("200 OK", {"Content-Length: 1000000"}) + std::string(4096, 'x')};
            reply.holdOpen = true;
            return reply;
        });
        ProgramState state;
        state.updater = std::make_unique<Updater>(Addresses::allAt(QStringLiteral("127.0.0.1:9")), folder_);
        bool told = false;
        QObject::connect(state.updater.get(), &Updater::updateFailed, [&] { told = true; });
        state.updater->startDownload(server.address("/soft/new.bin"), "new.bin", {}, {});
        QTRY_VERIFY_WITH_TIMEOUT(state.updater->downloaded() > 0, kPatienceMs);
        state.cleanUp();
        QVERIFY(state.updater == nullptr);
        QCoreApplication::processEvents();
        QVERIFY(!told);
        QCOMPARE(entries(folder_), QStringList());
    }
};

QINGHE_WINDOW_TEST_MAIN(UpdateWindowTest)

#include "update_window_test.moc"
