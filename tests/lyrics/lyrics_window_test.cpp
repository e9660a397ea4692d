// The lyrics search window against our fake portal on 127.0.0.1, through a
// real browser engine.

#include "lyrics/lyrics_window.h"

#include "fake_portal.h"
#include "online/addresses.h"
#include "runtime/web_view.h"
#include "runtime/window_runtime.h"
#include "support/recorded_boxes.h"
#include "support/window_test_main.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTcpServer>
#include <QTimer>
#include <QWebEngineView>

using namespace qinghe;

namespace {

constexpr const char* kSearchPath = "/portal_v2/static/search_result.html?search_input=";
constexpr const char* kSearchTail = "&search_bt.x=0&search_bt.y=0";
// Time the fake portal's search page waits before it writes its result row,
// long enough for the test to act while the search runs.
constexpr int kSlowResultMs = 1500;
constexpr int kActDuringSearchMs = 300;
// A search bound of the test's own: long enough for a warm browser engine
// to start a page, short enough to keep the test quick.
constexpr int kShortSearchLimitMs = 4000;

}  // namespace

class LyricsWindowTest : public QObject {
    Q_OBJECT

    FakePortal portal_;
    std::unique_ptr<WindowRuntime> runtime_;
    QPointer<LyricsWindow> window_;

    Addresses addresses() const { return Addresses::allAt(QStringLiteral("127.0.0.1:%1").arg(portal_.port())); }

    LyricsWindow* open() { return qobject_cast<LyricsWindow*>(openLyricsWindow(*runtime_, addresses())); }

    template <class T>
    T* find(const char* name) const
    {
        return window_->findChild<T*>(QString::fromUtf8(name));
    }

    QLineEdit* titleBox() const { return find<QLineEdit>("歌名"); }
    QLineEdit* singerBox() const { return find<QLineEdit>("歌手"); }
    QPushButton* searchButton() const { return find<QPushButton>("查看"); }
    QPlainTextEdit* lyricsBox() const { return find<QPlainTextEdit>("歌词"); }

    // Clicks "取歌词" for title and singer; returns when the search has ended.
    void search(const QString& title, const QString& singer)
    {
        titleBox()->setText(title);
        singerBox()->setText(singer);
        QTest::mouseClick(searchButton(), Qt::LeftButton);
    }

    static QString searchTarget(const char* query)
    {
        return QString::fromLatin1(kSearchPath) + QString::fromLatin1(query) + QString::fromLatin1(kSearchTail);
    }

    static QStringList targets(const QList<QByteArray>& list)
    {
        QStringList out;
        for (const QByteArray& target : list)
            out << QString::fromLatin1(target);
        return out;
    }

private slots:
    void initTestCase()
    {
        registerWebViewControl();
        portal_.addSong(FakePortal::sampleSong());
        portal_.addSong({"1", QStringLiteral("abc"), QStringLiteral("d"), QStringLiteral("x<br>y")});
    }

    void init()
    {
        runtime_ = std::make_unique<WindowRuntime>();
        portal_.forgetRequests();
        portal_.setResultDelayMs(0);
        portal_.setSearchSilent(false);
        portal_.setSearchEndless(false);
        window_ = open();
        QVERIFY(window_ != nullptr);
    }

    void cleanup()
    {
        delete window_.data();
        runtime_.reset();
    }

    void opensWithItsControlsInPlace()
    {
        QCOMPARE(window_->windowTitle(), QStringLiteral("青禾在线搜索歌词"));
        QCOMPARE(window_->size(), QSize(374, 454));
        QCOMPARE(window_->minimumSize(), window_->maximumSize());
        QVERIFY(window_->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(window_->windowFlags() & Qt::WindowMaximizeButtonHint));

        QCOMPARE(find<QLabel>("标签1")->text(), QStringLiteral("歌名:"));
        QCOMPARE(find<QLabel>("标签1")->geometry(), QRect(5, 11, 35, 20));
        QCOMPARE(find<QLabel>("标签2")->text(), QStringLiteral("歌手:"));
        QCOMPARE(find<QLabel>("标签2")->geometry(), QRect(188, 11, 35, 20));
        QCOMPARE(titleBox()->geometry(), QRect(44, 10, 137, 21));
        QCOMPARE(singerBox()->geometry(), QRect(227, 10, 70, 21));
        QCOMPARE(searchButton()->geometry(), QRect(302, 9, 65, 24));
        QCOMPARE(searchButton()->text(), QStringLiteral("取歌词"));

        // The sample song and our own singer are filled in.
        QCOMPARE(titleBox()->text(), QStringLiteral("青禾之歌"));
        QCOMPARE(singerBox()->text(), QStringLiteral("青禾"));

        QPlainTextEdit* lyrics = lyricsBox();
        QCOMPARE(lyrics->geometry(), QRect(8, 40, 358, 407));
        QVERIFY(lyrics->toPlainText().isEmpty());
        QCOMPARE(lyrics->font().family(), QStringLiteral("Fixedsys"));
        QCOMPARE(lyrics->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

        // The browser lies wholly left of the client area: on, but never seen.
        auto* view = find<QWebEngineView>("浏览框");
        QCOMPARE(view->geometry(), QRect(-100, 39, 66, 60));
        QTRY_VERIFY(view->isVisible());
        QVERIFY(view->visibleRegion().isEmpty());
    }

    void openingAgainBringsTheOpenWindowBack()
    {
        QCOMPARE(open(), window_.data());
        window_->showMinimized();
        QTRY_COMPARE(window_->windowStateCode(), int(kStateMinimised));
        QCOMPARE(open(), window_.data());
        QTRY_COMPARE(window_->windowStateCode(), int(kStateNormal));
        QCOMPARE(window_->findChildren<QWebEngineView*>().size(), 1);
    }

    void escapeClosesTheWindow()
    {
        QVERIFY(QTest::qWaitForWindowActive(window_));
        QTest::keyClick(titleBox(), Qt::Key_Escape);
        QTRY_VERIFY(window_.isNull());
    }

    void queryReachesThePortalByteForByte()
    {
        RecordedBoxes boxes;
        // The address holds the escapes and the plain space as built; on the
        // wire the space can only travel as %20, and no escape is undone.
        QCOMPARE(window_->searchAddress("d", "abc"),
                 addresses().lyricsSearchPage() + QStringLiteral("%61%62%63 %64") + QString::fromLatin1(kSearchTail));
        search(QStringLiteral("d"), QStringLiteral("abc"));
        QCOMPARE(targets(portal_.searchTargets()), QStringList{searchTarget("%61%62%63%20%64")});
        QCOMPARE(targets(portal_.lyricsTargets()), QStringList{"/miniportal/player_lyrics.htm?songid=1"});
        QCOMPARE(lyricsBox()->toPlainText(), QStringLiteral("x\ny"));
        QCOMPARE(boxes.shown.size(), 1);
    }

    void chineseSearchShowsTheLyricsAndHowLongItTook()
    {
        RecordedBoxes boxes;
        lyricsBox()->setPlainText(QStringLiteral("上一首"));
        QTest::mouseClick(searchButton(), Qt::LeftButton);

        // Singer and title arrive as their GBK bytes: 青禾 青禾之歌.
        QCOMPARE(targets(portal_.searchTargets()),
                 QStringList{searchTarget("%C7%E0%BA%CC%20%C7%E0%BA%CC%D6%AE%B8%E8")});
        QCOMPARE(targets(portal_.lyricsTargets()), QStringList{"/miniportal/player_lyrics.htm?songid=20240817"});

        // Every form of line break became a line; the window shows text, not markup.
        QCOMPARE(lyricsBox()->toPlainText().split(QLatin1Char('\n')),
                 (QStringList{"青禾之歌", "清晨的风吹过青青禾田", "麦克风前轻声道一句早安",
                              "掌声 & 笑声一起响起来", "今夜的房间不会冷清", ""}));

        QCOMPARE(boxes.shown.size(), 1);
        const ShownMessageBox& box = boxes.shown.first();
        QCOMPARE(box.caption, QStringLiteral("提示"));
        QCOMPARE(box.style, int(kBoxOkInformation));
        // Seconds with their milliseconds, no trailing zeros.
        const QRegularExpression report(
            QStringLiteral("^成功获取 青禾之歌 的歌词，歌手为 青禾；用时 (0|[1-9][0-9]*)(\\.[0-9]{0,2}[1-9])? 秒。$"));
        QVERIFY2(report.match(box.text).hasMatch(), qPrintable(box.text));
        QVERIFY(searchButton()->isEnabled());
    }

    void titleOrSingerOfOnlySpacesAsksForBoth_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("singer");
        QTest::newRow("empty title") << "" << "青禾";
        QTest::newRow("ASCII spaces") << "   " << "青禾";
        QTest::newRow("full-width spaces") << "　 　" << "青禾";
        QTest::newRow("empty singer") << "青禾之歌" << "";
        QTest::newRow("full-width singer") << "青禾之歌" << "　";
    }

    void titleOrSingerOfOnlySpacesAsksForBoth()
    {
        QFETCH(QString, title);
        QFETCH(QString, singer);
        RecordedBoxes boxes;
        lyricsBox()->setPlainText(QStringLiteral("上一首"));
        search(title, singer);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.first().text, QStringLiteral("请输入歌名和歌手。"));
        QCOMPARE(boxes.shown.first().caption, QStringLiteral("信息："));
        QCOMPARE(boxes.shown.first().style, int(kBoxOkInformation));
        QVERIFY(portal_.searchTargets().isEmpty());
        QCOMPARE(lyricsBox()->toPlainText(), QStringLiteral("上一首"));
    }

    void searchThatFindsNothingEndsWithinTheBound_data()
    {
        QTest::addColumn<bool>("searchPageSilent");
        QTest::newRow("portal without the song") << false;
        QTest::newRow("search page never completes") << true;
    }

    void searchThatFindsNothingEndsWithinTheBound()
    {
        QFETCH(bool, searchPageSilent);
        portal_.setSearchSilent(searchPageSilent);
        RecordedBoxes boxes;
        lyricsBox()->setPlainText(QStringLiteral("上一首"));
        search(QStringLiteral("没有的歌"), QStringLiteral("青禾"));

        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.first().text, QStringLiteral("未找到 没有的歌 的歌词。"));
        QCOMPARE(boxes.shown.first().style, int(kBoxOkInformation));
        QCOMPARE(portal_.searchTargets().size(), 1);
        QVERIFY(portal_.lyricsTargets().isEmpty());
        // The lyrics box keeps what it showed, and the next search may start.
        QCOMPARE(lyricsBox()->toPlainText(), QStringLiteral("上一首"));
        QVERIFY(!window_->isSearching());
        QVERIFY(searchButton()->isEnabled());
    }

    void aPortalThatCannotBeReachedIsToldAtOnce()
    {
        // A port nothing listens on, as a portal on a network that is down.
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        const QString address = QStringLiteral("127.0.0.1:%1").arg(gone.serverPort());
        gone.close();
        delete window_.data();
        window_ = qobject_cast<LyricsWindow*>(openLyricsWindow(*runtime_, Addresses::allAt(address)));
        QVERIFY(window_ != nullptr);
        RecordedBoxes boxes;
        lyricsBox()->setPlainText(QStringLiteral("上一首"));
        search(QStringLiteral("青禾之歌"), QStringLiteral("青禾"));

        // Not the word of a search that ran out of time.
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.first().text, QStringLiteral("无法连接歌词网站，请检查网络。"));
        QCOMPARE(lyricsBox()->toPlainText(), QStringLiteral("上一首"));
        QVERIFY(searchButton()->isEnabled());
    }

    void aPageStillLoadingWhenTheSearchGivesUpIsLetGo()
    {
        RecordedBoxes boxes;
        // The engine is started by a first search, so the endless page surely comes within the bound.
        QTest::mouseClick(searchButton(), Qt::LeftButton);
        QCOMPARE(boxes.shown.size(), 1);
        portal_.setSearchEndless(true);
        window_->setSearchTimeLimit(kShortSearchLimitMs);
        search(QStringLiteral("没有的歌"), QStringLiteral("青禾"));
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown.last().text, QStringLiteral("未找到 没有的歌 的歌词。"));

        // The browser stops reading the page and is left on an empty one.
        QCOMPARE(portal_.searchTargets().size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(portal_.closedEndlessPages(), 1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(find<QWebEngineView>("浏览框")->url(), QUrl(QStringLiteral("about:blank")), 30000);

        // The next search goes on from there, within the program's own bound:
        // the engine may still be letting the long page go for a few seconds.
        portal_.setSearchEndless(false);
        window_->setSearchTimeLimit(LyricsWindow::kSearchTimeLimitMs);
        search(QStringLiteral("青禾之歌"), QStringLiteral("青禾"));
        QCOMPARE(boxes.shown.size(), 3);
        QVERIFY2(boxes.shown.last().text.startsWith(QStringLiteral("成功获取 青禾之歌 的歌词，歌手为 青禾；")),
                 qPrintable(boxes.shown.last().text));
    }

    void secondClickIsRefusedWhileASearchRuns()
    {
        portal_.setResultDelayMs(kSlowResultMs);
        RecordedBoxes boxes;
        bool searchingMeanwhile = false;
        bool buttonEnabledMeanwhile = true;
        // The window goes on taking input while the search waits.
        QTimer::singleShot(kActDuringSearchMs, this, [&] {
            searchingMeanwhile = window_->isSearching();
            buttonEnabledMeanwhile = searchButton()->isEnabled();
            QTest::mouseClick(searchButton(), Qt::LeftButton);
            QTest::keyClicks(singerBox(), QStringLiteral("x"));
        });
        QTest::mouseClick(searchButton(), Qt::LeftButton);

        QVERIFY(searchingMeanwhile);
        QVERIFY(!buttonEnabledMeanwhile);
        QCOMPARE(portal_.searchTargets().size(), 1);
        QCOMPARE(portal_.lyricsTargets().size(), 1);
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown.first().text.startsWith(QStringLiteral("成功获取 青禾之歌 的歌词，歌手为 青禾；")));
        QCOMPARE(singerBox()->text(), QStringLiteral("青禾x"));
        QVERIFY(searchButton()->isEnabled());
    }

    void closingDuringASearchStopsItQuietly()
    {
        QVERIFY(QTest::qWaitForWindowActive(window_));
        portal_.setResultDelayMs(kSlowResultMs);
        RecordedBoxes boxes;
        QTimer::singleShot(kActDuringSearchMs, this, [&] { QTest::keyClick(titleBox(), Qt::Key_Escape); });
        QTest::mouseClick(searchButton(), Qt::LeftButton);
        QTRY_VERIFY(window_.isNull());
        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(portal_.lyricsTargets().isEmpty());
    }
};

QINGHE_WINDOW_TEST_MAIN(LyricsWindowTest)
#include "lyrics_window_test.moc"
