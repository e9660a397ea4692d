#include "net/download_service.h"
#include "net/download_task.h"
#include "runtime/window_runtime.h"
#include "support/recorded_boxes.h"
#include "support/threaded_http_site.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include <QAction>
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
const QString kNoAddressBox = QStringLiteral("请输入网址");
const QString kNoFolderBox = QStringLiteral("请选择保存位置!");
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
// on a thread of its own: the manual check reads the update page on the
// window thread, which waits meanwhile.
class MainWindowOnlineTest : public QObject {
    Q_OBJECT

    QTemporaryDir settings_;
    std::unique_ptr<QTemporaryDir> programFolder_;
    CustomSoundTables tables_;
    std::unique_ptr<DownloadService> downloadService_;
    DownloadTask downloadTask_;
    std::unique_ptr<ThreadedHttpSite> site_;
    std::unique_ptr<WindowRuntime> runtime_;
    std::shared_ptr<OnlineTexts> texts_;
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
                                  texts_,
                                  [this](int exitCode) { endedWith_ << exitCode; },
                                  downloadService_.get(),
                                  &downloadTask_,
                                  programFolder_->path()};
        window_ = MainWindow::open(context);
        return window_;
    }

    QString label(const char* name) const { return window_->findChild<QLabel*>(QString::fromUtf8(name))->text(); }

    // Both jobs are over: the counter has written its labels and the version
    // check has kept the update page (and said what it found).
    bool jobsDone(bool newVersion) const
    {
        return label("检查更新") == kVersionCaption && texts_->values().currentVersion == "v1.0" &&
               (!newVersion || label("新版本") == kNewVersionNotice);
    }

    static void deleteClosedWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

private slots:
    void init()
    {
        QVERIFY(settings_.isValid());
        programFolder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(programFolder_->isValid());
        downloadService_ = std::make_unique<DownloadService>();
        site_ = std::make_unique<ThreadedHttpSite>();
        runtime_ = std::make_unique<WindowRuntime>();
        texts_ = std::make_shared<OnlineTexts>();
        endedWith_.clear();
    }

    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        deleteClosedWindows();
        runtime_.reset();
        downloadService_.reset();
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
        // The texts stay with the program for the updater.
        QCOMPARE(texts_->values().latestVersion, Text("v2.0"));
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
        // and closes; the program ends as after an update.
        QTest::newRow("new, yes") << "v2.0" << int(kAnswerYes)
                                  << QStringList{kNewVersionBox, kDownloadQuestion, kNoAddressBox, kNoFolderBox}
                                  << true << QList<int>{0};
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
        deleteClosedWindows();
        QStringList shown;
        for (const ShownMessageBox& box : boxes.shown)
            shown << box.text;
        QCOMPARE(shown, asked);
        QCOMPARE(boxes.shown.last().style, version == "v1.0" || answer == kAnswerYes ? int(kBoxOk)
                                                                                     : int(kBoxYesNoQuestion));
        QCOMPARE(!window_.isNull(), windowStays);
        QCOMPARE(endedWith_, ended);
    }

    void yesToTheUpdateEndsTheProgramWithZero()
    {
        serve("版本号（v2.0）结束", "当前1人在线");
        RecordedBoxes boxes(kAnswerYes);
        QPointer<QWidget> mainWindow;
        // Once the jobs have told their news, the host asks for the update.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == QStringLiteral("启动窗口"))
                    mainWindow = w;
            if (mainWindow == nullptr ||
                mainWindow->findChild<QLabel*>("新版本")->text() != kNewVersionNotice ||
                mainWindow->findChild<QLabel*>("检查更新")->text() != kVersionCaption)
                return;
            poll.stop();
            mainWindow->findChild<QAction*>("在线更新")->trigger();
        });
        poll.start(10);
        StartOptions options;
        options.addresses = addresses();
        options.settingsFile = settings_.filePath("my.ini");
        options.programFolder = programFolder_->path();
        QCOMPARE(runProgram(options), 0);
        // The program ended once the update window had closed, not because its last window closed.
        QVERIFY(!mainWindow.isNull());
        QCOMPARE(textsOf(boxes.shown), QStringList({kNewVersionBox, kDownloadQuestion, kNoAddressBox, kNoFolderBox}));
        QVERIFY(QDir(programFolder_->path()).isEmpty());
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
