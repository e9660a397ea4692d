#include "media/engine/sound_engine.h"
#include "net/scripted_http_server.h"
#include "runtime/window_runtime.h"
#include "support/recorded_boxes.h"
#include "support/threaded_http_site.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include "support/played_sounds.h"

#include <QAction>
#include <QPushButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

using namespace qinghe;

namespace {

QByteArray gbk(const char* utf8)
{
    const Text bytes = fromQString(QString::fromUtf8(utf8));
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

const QString kNewVersionNotice = QStringLiteral("发现新版本,请点击软件更新自动更新程序!");
const QString kNewVersionBox = QStringLiteral("发现最新版本,请点击在线更新");
const QString kDownloadQuestion = QStringLiteral("发现最新版本 是否下载?");
const QString kLatestBox = QStringLiteral("恭喜,您已经是最新版本!");
const QString kVersionCaption = QStringLiteral("版本：Beta v1.0");
const QString kPageUnreadableBox = QStringLiteral("无法读取更新页面，请稍后再试。");
const QString kUpdateEndedBox = QStringLiteral("更新结束!");
// Generous guard for a program started on its own; a passing test never comes near it.
constexpr int kPatienceMs = 30000;

QStringList textsOf(const QList<ShownMessageBox>& boxes)
{
    QStringList texts;
    for (const ShownMessageBox& box : boxes)
        texts << box.text;
    return texts;
}

}  // namespace

// The main window's online jobs and its menu "在线更新" against a local site
// on a thread of its own: the pages are read off the window thread, which
// goes on serving the board meanwhile.
class MainWindowOnlineTest : public QObject {
    Q_OBJECT

    QTemporaryDir settings_;
    std::unique_ptr<QTemporaryDir> programFolder_;
    CustomSoundTables tables_;
    std::unique_ptr<ThreadedHttpSite> site_;
    std::unique_ptr<WindowRuntime> runtime_;
    QList<int> endedWith_;
    QPointer<MainWindow> window_;

    // The site serves the update page and the counter page given; null: none (404).
    void serve(const char* updatePage, const char* counterPage)
    {
        if (updatePage != nullptr)
            site_->setPage("/updata.html", gbk(updatePage));
        if (counterPage != nullptr)
            site_->setPage("/tongji/online.asp", gbk(counterPage));
    }

    Addresses addresses() const { return Addresses::allAt(site_->hostAndPort()); }

    MainWindow* openMainWindow()
    {
        MainWindowContext context{*runtime_,
                                  tables_,
                                  addresses(),
                                  settings_.filePath("my.ini"),
                                  [] { return true; },
                                  [this](int exitCode) { endedWith_ << exitCode; },
                                  programFolder_->path()};
        window_ = MainWindow::open(context);
        return window_;
    }

    QString label(const char* name) const { return window_->findChild<QLabel*>(QString::fromUtf8(name))->text(); }

    // The jobs have told their news: the counter has written its labels and
    // the version check has said what it found.
    bool jobsDone(bool newVersion) const
    {
        return label("检查更新") == kVersionCaption && (!newVersion || label("新版本") == kNewVersionNotice);
    }

    static void deleteClosedWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

private slots:
    void init()
    {
        QVERIFY(settings_.isValid());
        programFolder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(programFolder_->isValid());
        site_ = std::make_unique<ThreadedHttpSite>();
        runtime_ = std::make_unique<WindowRuntime>();
        endedWith_.clear();
    }

    void cleanup()
    {
        // Closing while a sound plays would ask the host.
        SoundEngine::instance().stopAll();
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        deleteClosedWindows();
        runtime_.reset();
        site_.reset();
        programFolder_.reset();
    }

    void jobsShowANewVersionAndTheUserCount()
    {
        serve("<p>版本号（v2.0）结束</p>", "<b>当前 12 人在线</b>");
        RecordedBoxes boxes(kAnswerNo);
        QVERIFY(openMainWindow() != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(jobsDone(true), 30000);
        QCOMPARE(label("标签5"), QStringLiteral("当前使用人数： 12 人"));
        QCOMPARE(label("检查更新"), kVersionCaption);
        QCOMPARE(label("新版本"), kNewVersionNotice);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, kNewVersionBox);
        QCOMPARE(boxes.shown[0].style, int(kBoxYesNoQuestion));
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("信息："));
        QVERIFY(window_->isVisible());
        QVERIFY(endedWith_.isEmpty());
    }

    void jobsWithOurVersionAndNoCounterPage()
    {
        serve("<p>版本号（v1.0）结束</p>", nullptr);
        RecordedBoxes boxes(kAnswerNo);
        QVERIFY(openMainWindow() != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(jobsDone(false), 30000);
        QCoreApplication::processEvents();
        QCOMPARE(label("标签5"), QStringLiteral("当前使用人数：人"));
        QVERIFY(label("新版本").isEmpty());
        QVERIFY(boxes.shown.isEmpty());
    }

    void manualCheckTellsAsksAndEnds_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<bool>("windowStays");
        QTest::addColumn<QList<int>>("ended");
        QTest::newRow("ours") << "v1.0" << int(kAnswerYes) << QStringList{kLatestBox} << true << QList<int>{};
        // The update window finds no download address on the page, says so
        // and closes; nothing was updated, so the board stays.
        QTest::newRow("new, yes") << "v2.0" << int(kAnswerYes)
                                  << QStringList{kNewVersionBox, kDownloadQuestion, kPageUnreadableBox} << true
                                  << QList<int>{};
        QTest::newRow("new, no") << "v2.0" << int(kAnswerNo) << QStringList{kNewVersionBox, kDownloadQuestion}
                                 << false << QList<int>{};
    }

    void manualCheckTellsAsksAndEnds()
    {
        QFETCH(QString, version);
        QFETCH(int, answer);
        QFETCH(QStringList, asked);
        QFETCH(bool, windowStays);
        QFETCH(QList<int>, ended);
        serve(("版本号（" + version.toStdString() + "）结束").c_str(), "当前1人在线");
        RecordedBoxes boxes(answer);
        QVERIFY(openMainWindow() != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(jobsDone(version != "v1.0"), 30000);

        window_->findChild<QAction*>("在线更新")->trigger();
        // The page is read off the window thread: the answer comes later.
        QTRY_COMPARE_WITH_TIMEOUT(textsOf(boxes.shown), asked, kPatienceMs);
        QTest::qWait(50);
        deleteClosedWindows();
        QCOMPARE(textsOf(boxes.shown), asked);
        QCOMPARE(boxes.shown.last().style, version == "v1.0"     ? int(kBoxOk)
                                           : answer == kAnswerYes ? int(kBoxOkExclamation)
                                                                  : int(kBoxYesNoQuestion));
        QCOMPARE(!window_.isNull(), windowStays);
        QCOMPARE(endedWith_, ended);
    }

    // The manual check waits for a slow page off the window thread: a board
    // click plays meanwhile, and the check's answer comes when the page does.
    void aBoardClickPlaysWhileTheManualCheckWaits()
    {
        serve(nullptr, "当前1人在线");
        std::atomic<bool> hold{false};
        std::atomic<bool> release{false};
        std::atomic<int> held{0};
        std::atomic<int> pageRequests{0};
        ScriptedHttpServer slowSite([&](const std::string& request, std::size_t) {
            if (request.find("/updata.html") == std::string::npos)
                return ScriptedHttpServer::Reply{replyHeader("404 Not Found", {"Content-Length: 0"})};
            ++pageRequests;
            held += hold ? 1 : 0;
            while (hold && !release)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const std::string page = gbk("版本号（v1.0）结束").toStdString();
            return ScriptedHttpServer::Reply{replyHeader("200 OK", {"Content-Length: " + std::to_string(page.size())}) + page};
        });
        test::PlayedSounds played;
        QStringList& sent = played.lines;
        RecordedBoxes boxes(kAnswerNo);
        MainWindowContext context{*runtime_, tables_, Addresses::allAt(QStringLiteral("127.0.0.1:%1").arg(slowSite.port())),
                                  settings_.filePath("my.ini"), [] { return true; }, [this](int code) { endedWith_ << code; },
                                  programFolder_->path()};
        window_ = MainWindow::open(context);
        QVERIFY(window_ != nullptr);
        // The start-up jobs have their answers; the manual check's page is held.
        QTRY_COMPARE_WITH_TIMEOUT(label("检查更新"), kVersionCaption, kPatienceMs);
        QTRY_COMPARE_WITH_TIMEOUT(pageRequests.load(), 1, kPatienceMs);
        hold = true;
        window_->findChild<QAction*>("在线更新")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(held.load(), 1, kPatienceMs);
        sent.clear();
        window_->findChild<QPushButton*>(QStringLiteral("按钮1"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!sent.filter(QStringLiteral("play ")).isEmpty(), kPatienceMs);
        QVERIFY(boxes.shown.isEmpty());
        release = true;
        QTRY_COMPARE_WITH_TIMEOUT(textsOf(boxes.shown), QStringList({kLatestBox}), kPatienceMs);
    }

    // The whole update from the menu: the old build deleted, the new one
    // downloaded beside the program and started, the program ended with 0.
    void updateFromTheMenuReplacesTheProgramAndEndsWithZero()
    {
        const QDir folder(programFolder_->path());
        const QByteArray newBuild(70000, 'n');
        site_->setPage("/updata.html", gbk(("版本号（v2.0）结束 删除名（old.bin）结束删除名 运行名（run.sh）结束运行名 "
                                            "下载地址（http://" + site_->hostAndPort().toStdString() +
                                            "/soft/new.bin）结束下载地址").c_str()));
        site_->setPage("/soft/new.bin", newBuild, "application/octet-stream");
        site_->setPage("/tongji/online.asp", gbk("当前1人在线"));
        QFile old(folder.filePath("old.bin"));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("the old build") > 0);
        old.close();
        QFile run(folder.filePath("run.sh"));
        QVERIFY(run.open(QIODevice::WriteOnly) &&
                run.write("#!/bin/sh\necho ran > '" + settings_.filePath("mark").toUtf8() + "'\n") > 0);
        run.close();
        QVERIFY(run.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        RecordedBoxes boxes(kAnswerYes);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->objectName() == QStringLiteral("启动窗口") &&
                    w->findChild<QLabel*>("检查更新")->text() == kVersionCaption &&
                    w->findChild<QLabel*>("新版本")->text() == kNewVersionNotice) {
                    poll.stop();
                    w->findChild<QAction*>("在线更新")->trigger();
                }
            }
        });
        poll.start(10);
        StartOptions options;
        options.addresses = addresses();
        options.settingsFile = settings_.filePath("my.ini");
        options.programFolder = folder.path();
        QCOMPARE(runProgram(options), 0);
        QCOMPARE(textsOf(boxes.shown), QStringList({kNewVersionBox, kDownloadQuestion, kUpdateEndedBox}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(settings_.filePath("mark")), kPatienceMs);
        QCOMPARE(folder.entryList(QDir::Files, QDir::Name), QStringList({"new.bin", "run.sh"}));
        QFile downloaded(folder.filePath("new.bin"));
        QVERIFY(downloaded.open(QIODevice::ReadOnly));
        QCOMPARE(downloaded.readAll(), newBuild);
    }
};

QINGHE_WINDOW_TEST_MAIN(MainWindowOnlineTest)
#include "main_window_online_test.moc"
