#include "online/music_window.h"
#include "online/partner_window.h"
#include "runtime/window_runtime.h"
#include "support/local_http_server.h"
#include "support/window_test_main.h"

#include <QDesktopServices>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWebEngineView>

using namespace qinghe;

namespace {

// The partner window's banners from top to bottom, and the installer each opens.
const QList<QPair<QString, int>> kPartnerBanners{
    {"图片框2", 1}, {"图片框3", 2}, {"图片框4", 3}, {"图片框5", 4},
    {"图片框6", 5}, {"图片框8", 6}, {"图片框9", 7}, {"图片框7", 8},
};
const QList<int> kPartnerBannerTops{2, 63, 125, 186, 247, 309, 370, 431};

const QString kAppeal = QStringLiteral(
    "     我们承诺软件永久免费,所以请轻轻动一下您的手,给我们多一些前进的动力　　　下面的一些日常小软件您如果"
    "用的到就请轻轻动一下手直接点击下载安装并且使用,　您下载一个我们会得到几分钱奖励,如果大家每个人都支持一下,"
    "我们就更加有动力,　真诚的感谢每一位使用本软件的人,真诚的感谢您的支持!我们势必将免费进行到底!");

void deleteClosedWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

// Stands in for the desktop's web browser: keeps every address handed over.
class AddressRecorder : public QObject {
    Q_OBJECT

public:
    QStringList opened;

public slots:
    void open(const QUrl& url) { opened << url.toString(); }
};

class OnlineWindowsTest : public QObject {
    Q_OBJECT

    LocalHttpServer site_;
    AddressRecorder browser_;
    std::unique_ptr<WindowRuntime> runtime_;

    Addresses addresses() const { return Addresses::allAt(site_.hostAndPort()); }

    MusicWindow* openMusic()
    {
        return qobject_cast<MusicWindow*>(openMusicWindow(*runtime_, addresses(), [] { return true; }));
    }

    template <class T>
    static T* in(QWidget* window, const QString& name)
    {
        return window->findChild<T*>(name);
    }

    static void pressOn(QWidget* control, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mousePress(control, button, {}, control->rect().center());
        QTest::mouseRelease(control, button, {}, control->rect().center());
    }

    static QSystemTrayIcon* onlyTrayIcon(QWidget* window)
    {
        const QList<QSystemTrayIcon*> icons = window->findChildren<QSystemTrayIcon*>();
        return icons.size() == 1 ? icons[0] : nullptr;
    }

private slots:
    void initTestCase()
    {
        site_.setPage("/player/", "<html><head><title>外站播放器</title></head><body>播放器</body></html>",
                      "text/html; charset=utf-8");
        site_.setPage("/", "<html><head><title>外站小页</title></head><body>小页</body></html>",
                      "text/html; charset=utf-8");
        QDesktopServices::setUrlHandler("http", &browser_, "open");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("http"); }

    void init()
    {
        runtime_ = std::make_unique<WindowRuntime>();
        browser_.opened.clear();
    }

    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        deleteClosedWindows();
        runtime_.reset();
    }

    // ---- the online music player ----

    void musicWindowIsAFixedFrameWithItsCaption()
    {
        MusicWindow* music = openMusic();
        QVERIFY(music != nullptr);
        QCOMPARE(music->windowTitle(), QStringLiteral("青禾在线音乐播放器"));
        // The client area of the outer 742 x 510 within a fixed dialog frame and its caption.
        QCOMPARE(music->size(), QSize(736, 484));
        QCOMPARE(music->centralWidget()->size(), QSize(736, 484));
        QCOMPARE(music->minimumSize(), music->maximumSize());
        QVERIFY(music->windowFlags() & Qt::WindowSystemMenuHint);
        QVERIFY(music->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(music->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(music->windowModality(), Qt::NonModal);
    }

    void musicWindowShowsTheBannerOverThePlayerPage()
    {
        MusicWindow* music = openMusic();
        auto* banner = in<QLabel>(music, "图片框1");
        auto* player = in<QWebEngineView>(music, "超文本浏览框1");
        auto* side = in<QWebEngineView>(music, "超文本浏览框2");
        QCOMPARE(banner->geometry(), QRect(330, 8, 400, 60));
        QCOMPARE(player->geometry(), QRect(-128, -320, 1008, 1104));
        QCOMPARE(side->geometry(), QRect(712, 480, 32, 24));
        QCOMPARE(banner->pixmap().size(), QSize(400, 60));
        // The page lies under the whole client area, the banner over it.
        QTRY_VERIFY(player->isVisible());
        QCOMPARE(music->centralWidget()->childAt(530, 38), banner);
    }

    void musicWindowViewsLoadTheirPages()
    {
        MusicWindow* music = openMusic();
        auto* player = in<QWebEngineView>(music, "超文本浏览框1");
        auto* side = in<QWebEngineView>(music, "超文本浏览框2");
        // The window is shown before the browser engine starts.
        QVERIFY(music->isVisible());
        QVERIFY(!player->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(player->title(), QStringLiteral("外站播放器"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(side->title(), QStringLiteral("外站小页"), 30000);
        QCOMPARE(player->url().toString(), addresses().musicPlayerPage());
        QCOMPARE(side->url().toString(), addresses().sidePage());
        QVERIFY(side->isVisible());
        QVERIFY(site_.requestedPaths().contains("/player/"));
        QVERIFY(site_.requestedPaths().contains("/"));
    }

    void musicBannerOpensTheFirstPartnerInstallerOnEachLeftPress()
    {
        MusicWindow* music = openMusic();
        auto* banner = in<QLabel>(music, "图片框1");
        pressOn(banner, Qt::RightButton);
        QVERIFY(browser_.opened.isEmpty());
        pressOn(banner);
        pressOn(banner);
        const QString installer = addresses().partnerInstaller(1);
        QCOMPARE(browser_.opened, (QStringList{installer, installer}));
        QVERIFY(installer.endsWith(".exe"));
    }

    void musicWindowHidesIntoTheNotificationAreaAndComesBack()
    {
        MusicWindow* music = openMusic();
        QVERIFY(QTest::qWaitForWindowExposed(music));
        music->showMinimized();
        QTRY_VERIFY(!music->isVisible());
        QSystemTrayIcon* icon = onlyTrayIcon(music);
        QVERIFY(icon != nullptr);
        QVERIFY(icon->isVisible());
        QCOMPARE(icon->toolTip(), QStringLiteral("青禾在线音乐播放器运行中"));
        QCOMPARE(icon->icon().availableSizes().value(0), QSize(48, 48));

        // Single clicks and the context menu leave it hidden.
        emit icon->activated(QSystemTrayIcon::Trigger);
        emit icon->activated(QSystemTrayIcon::Context);
        QCoreApplication::processEvents();
        QVERIFY(!music->isVisible());

        emit icon->activated(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(music->isVisible());
        QCOMPARE(music->windowStateCode(), int(kStateNormal));
        QVERIFY(icon->isVisible());

        music->showMinimized();
        QTRY_VERIFY(!music->isVisible());
        QCOMPARE(onlyTrayIcon(music), icon);
    }

    void openingTheMusicWindowAgainBringsTheSameOneBack()
    {
        MusicWindow* music = openMusic();
        QVERIFY(QTest::qWaitForWindowExposed(music));
        QCOMPARE(openMusic(), music);
        music->showMinimized();
        QTRY_VERIFY(!music->isVisible());
        // From the notification area too.
        QCOMPARE(openMusic(), music);
        QTRY_VERIFY(music->isVisible());
        QCOMPARE(music->windowStateCode(), int(kStateNormal));
        int musicWindows = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            musicWindows += qobject_cast<MusicWindow*>(w) != nullptr ? 1 : 0;
        QCOMPARE(musicWindows, 1);
    }

    void escapeClosesTheMusicWindow()
    {
        QPointer<MusicWindow> music = openMusic();
        QVERIFY(QTest::qWaitForWindowActive(music));
        auto* player = in<QWebEngineView>(music, "超文本浏览框1");
        QTRY_VERIFY(player->isVisible());
        player->setFocus();
        QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : music.data(),
                        Qt::Key_Escape);
        deleteClosedWindows();
        QVERIFY(music.isNull());
    }

    // ---- the partner window ----

    void partnerWindowIsAFixedModalDialog()
    {
        RuntimeWindow* partner = openPartnerWindow(*runtime_, addresses());
        QVERIFY(partner != nullptr);
        QCOMPARE(partner->windowTitle(), QStringLiteral("爱心接力,放飞梦想,一路有你 - By:青禾"));
        // The client area of the outer 500 x 572, taller where the appeal needs more lines.
        QCOMPARE(partner->width(), 494);
        QVERIFY(partner->height() >= 546);
        QCOMPARE(partner->minimumSize(), partner->maximumSize());
        QVERIFY(partner->windowFlags() & Qt::WindowSystemMenuHint);
        QVERIFY(!(partner->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(partner->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(partner->windowModality(), Qt::ApplicationModal);
        QCOMPARE(QApplication::activeModalWidget(), partner);
        QCOMPARE(openPartnerWindow(*runtime_, addresses()), partner);
    }

    void partnerAppealIsWhiteOnGreen()
    {
        RuntimeWindow* partner = openPartnerWindow(*runtime_, addresses());
        auto* appeal = in<QLabel>(partner, "标签1");
        QCOMPARE(appeal->text(), kAppeal);
        // Cut at the window's edge, and as tall as its lines need.
        QCOMPARE(appeal->geometry(), QRect(0, 0, 494, std::max(63, appeal->heightForWidth(494))));
        QCOMPARE(appeal->font().family(), QStringLiteral("宋体"));
        QCOMPARE(appeal->font().pointSize(), 9);
        QVERIFY(appeal->font().bold());
        appeal->ensurePolished();
        QCOMPARE(appeal->palette().color(QPalette::WindowText), QColor(255, 255, 255));
        // Past the end of the last line the label shows its background.
        const QImage shown = appeal->grab().toImage();
        QCOMPARE(QColor(shown.pixel(shown.width() - 2, shown.height() - 2)), QColor(0, 128, 0));
        // It lies over the top of the banners' container, so the appeal reads whole.
        QCOMPARE(partner->centralWidget()->childAt(250, 55), appeal);
    }

    void partnerBannersStandInTheirContainer()
    {
        RuntimeWindow* partner = openPartnerWindow(*runtime_, addresses());
        auto* container = in<QWidget>(partner, "图片框1");
        // Below the appeal by as much as it grew, and past the bottom as the definition has it.
        const int grown = in<QLabel>(partner, "标签1")->height() - 63;
        QCOMPARE(container->geometry(), QRect(-8, 49 + grown, 528, 572));
        QCOMPARE(partner->height(), 546 + grown);
        for (int i = 0; i < kPartnerBanners.size(); ++i) {
            auto* banner = in<QLabel>(partner, kPartnerBanners[i].first);
            QVERIFY2(banner != nullptr, qPrintable(kPartnerBanners[i].first));
            QCOMPARE(banner->parentWidget(), container);
            QCOMPARE(banner->geometry(), QRect(10, kPartnerBannerTops[i], 490, 60));
            QCOMPARE(banner->pixmap().size(), QSize(490, 60));
        }
    }

    void partnerBannersAreThreeGifsAndFiveJpegs()
    {
        QStringList formats;
        for (int installer = 1; installer <= kPartnerInstallerCount; ++installer) {
            const QString gif = QStringLiteral(":/banners/partner_%1.gif").arg(installer);
            const QString jpeg = QStringLiteral(":/banners/partner_%1.jpg").arg(installer);
            QImageReader reader(QFile::exists(gif) ? gif : jpeg);
            formats << QString::fromLatin1(reader.format());
            QCOMPARE(reader.read().size(), QSize(490, 60));
        }
        QCOMPARE(formats, (QStringList{"gif", "gif", "gif", "jpeg", "jpeg", "jpeg", "jpeg", "jpeg"}));
        QImageReader music(":/banners/music_banner.jpg");
        QCOMPARE(music.format(), QByteArray("jpeg"));
        QCOMPARE(music.read().size(), QSize(400, 60));
    }

    void eachPartnerBannerOpensItsInstaller()
    {
        RuntimeWindow* partner = openPartnerWindow(*runtime_, addresses());
        QStringList expected;
        for (const auto& [name, installer] : kPartnerBanners) {
            pressOn(in<QLabel>(partner, name));
            expected << addresses().partnerInstaller(installer);
        }
        QCOMPARE(browser_.opened, expected);
        partner->close();
        deleteClosedWindows();
        // The music player's banner and the first one here open the same installer.
        MusicWindow* music = openMusic();
        pressOn(in<QLabel>(music, "图片框1"));
        QCOMPARE(browser_.opened.last(), browser_.opened.first());
    }

    void escapeClosesThePartnerWindow()
    {
        QPointer<RuntimeWindow> partner = openPartnerWindow(*runtime_, addresses());
        QVERIFY(QTest::qWaitForWindowActive(partner));
        QTest::keyClick(partner, Qt::Key_Escape);
        deleteClosedWindows();
        QVERIFY(partner.isNull());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
};

QINGHE_WINDOW_TEST_MAIN(OnlineWindowsTest)
#include "online_windows_test.moc"
