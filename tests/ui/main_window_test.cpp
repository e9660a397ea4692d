#include "runtime/program_language.h"
#include "runtime/window_runtime.h"
#include "board/sound_catalogue.h"
#include "editor/edit_box.h"
#include "editor/editor_window.h"
#include "media/engine/sound_engine.h"
#include "online/music_window.h"
#include "support/local_http_server.h"
#include "support/recorded_boxes.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include "support/played_sounds.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QKeySequenceEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWebEngineView>

using namespace qinghe;

// Stands in for the desktop's web browser: keeps every address handed over.
class AddressRecorder : public QObject {
    Q_OBJECT

public:
    QStringList opened;

public slots:
    void open(const QUrl& url) { opened << url.toString(); }
};

class MainWindowTest : public QObject {
    Q_OBJECT

    LocalHttpServer site_;
    QTemporaryDir settings_;
    AddressRecorder browser_;
    CustomSoundTables tables_;
    std::unique_ptr<WindowRuntime> runtime_;
    bool notificationArea_ = true;
    QPointer<MainWindow> window_;

    Addresses addresses() const { return Addresses::allAt(site_.hostAndPort()); }

    MainWindow* openMainWindow()
    {
        MainWindowContext context{*runtime_,
                                  tables_,
                                  addresses(),
                                  settings_.filePath("my.ini"),
                                  [this] { return notificationArea_; }};
        return MainWindow::open(context);
    }

    template <class T>
    T* find(const char* name) const
    {
        return window_->findChild<T*>(QString::fromUtf8(name));
    }

private slots:
    void initTestCase()
    {
        loadQtChineseTexts();
        site_.setPage("/ad.html", "<html><head><title>青禾广告</title></head><body>广告</body></html>",
                      "text/html; charset=utf-8");
        QDesktopServices::setUrlHandler("http", &browser_, "open");
    }

    void init()
    {
        runtime_ = std::make_unique<WindowRuntime>();
        notificationArea_ = true;
        browser_.opened.clear();
        window_ = openMainWindow();
        QVERIFY(window_ != nullptr);
    }

    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runtime_.reset();
    }

    void windowIsAFixedDialogWithItsCaption()
    {
        QCOMPARE(window_->windowTitle(), QStringLiteral("青禾主持人音效辅助工具"));
        QCOMPARE(window_->minimumSize(), window_->maximumSize());
        // At least the definition's client area; wider where the tabs need it with this font.
        QVERIFY(window_->width() >= 479);
        // 466 and the 88 of 正在播放, between the volume row and the web panel.
        QCOMPARE(window_->centralWidget()->size(), QSize(window_->width(), 466 + 88));
        QCOMPARE(find<QWidget>("正在播放")->geometry(), QRect(0, 263, window_->width(), 88));
        QVERIFY(window_->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(window_->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window_->isVisible());
        QCOMPARE(window_->windowIcon().availableSizes().value(0), QSize(48, 48));
        const QSize before = window_->size();
        window_->showMaximized();
        QCOMPARE(window_->size(), before);
    }

    void boardHoldsEveryCatalogueButtonAtItsPlace()
    {
        auto* tabs = find<QTabWidget>("高级选择夹1");
        QVERIFY(tabs != nullptr);
        // It spans the client area, which is as wide as the tabs need.
        QCOMPARE(tabs->geometry(), QRect(0, 89, window_->centralWidget()->width(), 140));
        QVERIFY(tabs->tabBar()->sizeHint().width() <= tabs->width());
        QCOMPARE(tabs->count(), kBoardPageCount);
        QCOMPARE(tabs->currentIndex(), 0);
        for (int page = 0; page < kBoardPageCount; ++page)
            QCOMPARE(tabs->tabText(page), QString::fromUtf8(boardPageCaptions()[page].data()));
        QCOMPARE(tabs->findChildren<QPushButton*>().size(), kBoardButtonCount);

        for (const BoardButton& entry : boardCatalogue()) {
            const QString name = QString::fromUtf8(entry.name.data(), entry.name.size());
            auto* button = tabs->findChild<QPushButton*>(name);
            QVERIFY2(button != nullptr, qPrintable(name));
            QCOMPARE(button->parentWidget(), tabs->widget(entry.page));
            QCOMPARE(button->text(), QString::fromUtf8(entry.caption.data(), entry.caption.size()));
            QCOMPARE(button->mapTo(tabs, QPoint(0, 0)),
                     QPoint(8 + 80 * (entry.column - 1), 35 + 35 * (entry.row - 1)));
            QCOMPARE(button->size(), QSize(72, 22));
            QVERIFY(button->isEnabled());
            const QString tag = button->property("tag").toString();
            if (entry.page == kCustomSlotPage)
                QCOMPARE(tag, QString::number((entry.row - 1) * 6 + entry.column));
            else
                QVERIFY(tag.isEmpty());
        }
    }

    void volumeRowStartsAtFullVolumeUnchecked()
    {
        auto* slider = find<QSlider>("滑块条1");
        QCOMPARE(slider->geometry(), QRect(41, 234, 143, 24));
        QCOMPARE(slider->minimum(), 1);
        QCOMPARE(slider->maximum(), 100);
        QCOMPARE(slider->value(), 100);
        QCOMPARE(slider->pageStep(), 5);
        QCOMPARE(slider->singleStep(), 1);
        QCOMPARE(slider->tickPosition(), QSlider::TicksBelow);
        QCOMPARE(find<QLabel>("标签1")->text(), QStringLiteral("音量："));
        QCOMPARE(find<QLabel>("标签2")->text(), QStringLiteral("100"));
        QCOMPARE(find<QLabel>("标签3")->text(), QStringLiteral("声卡多通道："));
        auto* combo = find<QComboBox>("组合框1");
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->currentText(), QStringLiteral("SoundMAX HD Audio"));
        auto* check = find<QCheckBox>("选择框1");
        QCOMPARE(check->text(), QStringLiteral("开启"));
        QVERIFY(!check->isChecked());
    }

    void statusLabelsShowTheirWaitingTexts()
    {
        QCOMPARE(find<QLabel>("标签5")->text(), QStringLiteral("当前使用人数统计中..."));
        QCOMPARE(find<QLabel>("检查更新")->text(), QStringLiteral("版本号验证中..."));
        auto* notice = find<QLabel>("新版本");
        QVERIFY(notice->text().isEmpty());
        QCOMPARE(notice->geometry(), QRect(127, 446 + 88, 250, 18));
        QVERIFY(notice->font().bold());
        QVERIFY(notice->font().underline());
        notice->ensurePolished();
        QCOMPARE(notice->palette().color(QPalette::WindowText), QColor(Qt::red));
        QVERIFY(!find<QWidget>("媒体播放1")->isVisible());
        QVERIFY(!find<QWidget>("通用对话框1")->isVisible());
    }

    void toolbarShowsFivePicturesWithCaptionsBelow()
    {
        auto* toolbar = find<QToolBar>("工具条1");
        QCOMPARE(toolbar->iconSize(), QSize(90, 60));
        QCOMPARE(toolbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        const QStringList captions{"在线听歌", "搜索歌词", "临时笔记", "个性音效", "商务合作"};
        QCOMPARE(toolbar->actions().size(), captions.size());
        for (int i = 0; i < captions.size(); ++i) {
            QAction* action = toolbar->actions()[i];
            QCOMPARE(action->text(), captions[i]);
            QVERIFY(action->isEnabled());
            QCOMPARE(action->icon().pixmap(QSize(90, 60)).size(), QSize(90, 60));
        }
        // Everything below the toolbar stays clear of it.
        QVERIFY(toolbar->geometry().bottom() < 89);
    }

    void fourthToolbarButtonSelectsTheCustomPage()
    {
        auto* tabs = find<QTabWidget>("高级选择夹1");
        tabs->setCurrentIndex(2);
        auto* toolbar = find<QToolBar>("工具条1");
        toolbar->actions()[3]->trigger();
        QCOMPARE(tabs->currentIndex(), 6);
        toolbar->actions()[3]->trigger();
        QCOMPARE(tabs->currentIndex(), 6);
        QVERIFY(browser_.opened.isEmpty());
    }

    void linksOpenTheirAddressesInTheBrowser()
    {
        find<QAction>("官方网站")->trigger();
        find<QAction>("使用帮助")->trigger();
        find<QAction>("轻轻一点")->trigger();
        find<QAction>("网络赚钱")->trigger();
        find<QToolBar>("工具条1")->actions()[4]->trigger();
        const Addresses a = addresses();
        QCOMPARE(browser_.opened,
                 (QStringList{a.siteHome(), a.siteHome(), a.partnerPortal(), a.partnerBonusPage(), a.contactPage()}));
    }

    void firstToolbarButtonOpensTheMusicPlayerOnce()
    {
        auto* toolbar = find<QToolBar>("工具条1");
        toolbar->actions()[0]->trigger();
        auto* music = qobject_cast<MusicWindow*>(runtime_->openedWindow("music"));
        QVERIFY(music != nullptr);
        QVERIFY(music->isVisible());
        QCOMPARE(music->windowModality(), Qt::NonModal);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        toolbar->actions()[0]->trigger();
        int musicWindows = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            musicWindows += qobject_cast<MusicWindow*>(w) != nullptr ? 1 : 0;
        QCOMPARE(musicWindows, 1);
        QVERIFY(browser_.opened.isEmpty());
    }

    void secondToolbarButtonOpensTheLyricsSearchOnce()
    {
        auto* toolbar = find<QToolBar>("工具条1");
        toolbar->actions()[1]->trigger();
        RuntimeWindow* lyrics = runtime_->openedWindow("lyrics");
        QVERIFY(lyrics != nullptr);
        QVERIFY(lyrics->isVisible());
        QCOMPARE(lyrics->windowTitle(), QStringLiteral("青禾在线搜索歌词"));
        const int windows = runtime_->liveWindowCount();
        toolbar->actions()[1]->trigger();
        QCOMPARE(runtime_->liveWindowCount(), windows);
        QCOMPARE(runtime_->openedWindow("lyrics"), lyrics);
        QVERIFY(browser_.opened.isEmpty());
    }

    void partnerWindowBlocksTheMainWindowUntilItCloses()
    {
        QVERIFY(QTest::qWaitForWindowExposed(window_));
        auto* tabs = find<QTabWidget>("高级选择夹1");
        auto* toolbar = find<QToolBar>("工具条1");
        QWidget* customPageButton = toolbar->widgetForAction(toolbar->actions()[3]);
        const QPoint onButton = customPageButton->mapTo(window_.data(), customPageButton->rect().center());
        // A click that the person makes, through the window system.
        const auto clickCustomPageButton = [&] {
            QTest::mouseClick(window_->windowHandle(), Qt::LeftButton, {}, onButton);
            QCoreApplication::processEvents();
        };

        find<QAction>("赞助我们")->trigger();
        QPointer<RuntimeWindow> partner = runtime_->openedWindow("partner");
        QVERIFY(partner != nullptr);
        QVERIFY(partner->isVisible());
        QCOMPARE(QApplication::activeModalWidget(), partner.data());
        clickCustomPageButton();
        QCOMPARE(tabs->currentIndex(), 0);

        partner->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(partner.isNull());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        clickCustomPageButton();
        QCOMPARE(tabs->currentIndex(), 6);
        QVERIFY(window_->isVisible());
    }

    void menuBarHoldsItsEntriesInOrder()
    {
        QStringList titles;
        for (QAction* top : window_->menuWidget()->actions())
            titles << top->text();
        // The window's four menus, then the program's own settings after them.
        QCOMPARE(titles, (QStringList{"关于我们", "软件更新", "常见问题", "爱心接力", "设置"}));
        QStringList partner;
        for (QAction* item : find<QMenu>("爱心接力")->actions())
            partner << item->text();
        QCOMPARE(partner, (QStringList{"轻轻一点", "赞助我们", "网络赚钱"}));
        QStringList settings;
        for (QAction* item : find<QMenu>("设置")->actions())
            settings << item->text();
        QCOMPARE(settings, QStringList{"声音设置"});
    }

    void soundSettingsItemOpensItsWindowOnce()
    {
        auto* item = window_->findChild<QAction*>(QStringLiteral("声音设置"));
        QVERIFY(item != nullptr);
        tables_.paths[3] = "C:\\声音\\开场.mp3";
        tables_.names[3] = fromQString(QStringLiteral("开场白"));
        item->trigger();
        item->trigger();
        QList<QWidget*> opened;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle() == QStringLiteral("声音设置"))
                opened << w;
        QCOMPARE(opened.size(), 1);
        // The board's own window has no sound routing here: the settings say so.
        auto* status = opened[0]->findChild<QLabel*>(QStringLiteral("状态说明"));
        QVERIFY(status != nullptr);
        QVERIFY(status->text().startsWith(QStringLiteral("没有找到声音服务器")));
        QVERIFY(window_->isVisible());

        // Hot-key rows name their slots as the board does; key fields say what to do and show any combination whole.
        QStringList rows;
        for (const QLabel* row : opened[0]->findChild<QWidget*>(QStringLiteral("热键栏"))->findChildren<QLabel*>())
            rows << row->text();
        QVERIFY(rows.contains(QStringLiteral("按钮3 开场白")));
        QVERIFY(rows.contains(QStringLiteral("按钮4 (空)")));
        auto* field = opened[0]->findChild<QKeySequenceEdit*>(QStringLiteral("按钮3"));
        auto* shown = field->findChild<QLineEdit*>();
        QCOMPARE(shown->placeholderText(), QStringLiteral("按下按键…"));
        // Shown as the window shows a stored key; keys are unavailable here, so nothing is assigned.
        const QSignalBlocker shownOnly(field);
        field->setKeySequence(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F12")));
        QCOMPARE(shown->text(), QStringLiteral("Ctrl+Alt+Shift+F12"));
        QVERIFY(shown->fontMetrics().horizontalAdvance(shown->text()) + 4 <= shown->contentsRect().width());
    }

    void webPanelShowsTheAdvertisingPage()
    {
        auto* panel = find<QWebEngineView>("超文本浏览框1");
        // Past both edges of the client area by as much as the definition says, however wide it grew.
        const QRect place(-5, 263 + 88, 520 + window_->centralWidget()->width() - 479, 180);
        QCOMPARE(panel->geometry(), place);
        // The board is on screen before the browser engine starts; the panel follows by itself.
        QVERIFY(window_->isVisible());
        QVERIFY(!panel->isVisible());
        QTRY_VERIFY(panel->isVisible());
        QCOMPARE(panel->geometry(), place);
        QCOMPARE(panel->url().toString(), addresses().advertisingPage());
        QTRY_COMPARE_WITH_TIMEOUT(panel->title(), QStringLiteral("青禾广告"), 30000);
        QVERIFY(site_.requestedPaths().contains("/ad.html"));
    }

    void minimisingHidesIntoTheNotificationArea()
    {
        window_->showMinimized();
        QTRY_VERIFY(!window_->isVisible());
        QVERIFY(window_->notificationIcon().isShown());
        QCOMPARE(window_->notificationIcon().toolTip(), QStringLiteral("青禾音效辅助工具运行中"));

        window_->onNotificationAction(kActionLeftRelease);
        window_->onNotificationAction(kActionContextMenu);
        QVERIFY(!window_->isVisible());

        window_->onNotificationAction(kActionLeftDoubleClick);
        QTRY_VERIFY(window_->isVisible());
        QCOMPARE(window_->windowStateCode(), int(kStateNormal));
        QVERIFY(window_->notificationIcon().isShown());

        window_->showMinimized();
        QTRY_VERIFY(!window_->isVisible());
        QCOMPARE(window_->findChildren<QSystemTrayIcon*>().size(), 1);
    }

    void notificationIconMenuShowsStopsAndEndsTheProgram()
    {
        window_->showMinimized();
        QTRY_VERIFY(!window_->isVisible());
        const QMenu* menu = window_->notificationIcon().menu();
        QVERIFY(menu != nullptr);
        const QList<QAction*> entries = menu->actions();
        QStringList captions;
        for (const QAction* entry : entries)
            captions << entry->text();
        QCOMPARE(captions, QStringList({"显示主界面", "停止播放", "退出"}));

        entries[0]->trigger();
        QTRY_VERIFY(window_->isVisible());
        QCOMPARE(window_->windowStateCode(), int(kStateNormal));

        test::PlayedSounds played;
        window_->findChild<QPushButton*>(QStringLiteral("按钮8"))->click();  // "哄堂大笑"
        QTRY_VERIFY(!played.lines.filter(QStringLiteral("play ")).isEmpty());
        entries[1]->trigger();
        QTRY_VERIFY(!played.lines.filter(QStringLiteral("stop ")).isEmpty());

        // 退出 closes every window, the hidden board too; the notepad asks first.
        window_->onToolbarButton(kToolbarNotepad);
        QPointer<EditorWindow> editor = qobject_cast<EditorWindow*>(runtime_->openedWindow("editor"));
        QVERIFY(editor != nullptr);
        editor->editBox()->setDocumentText("未保存");
        window_->showMinimized();
        QTRY_VERIFY(!window_->isVisible());
        QSignalSpy ended(runtime_.get(), &WindowRuntime::lastWindowDestroyed);
        {
            RecordedBoxes boxes(kAnswerCancel);
            entries[2]->trigger();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCOMPARE(boxes.shown.size(), 1);
            QVERIFY(editor != nullptr && window_ != nullptr);
        }
        {
            RecordedBoxes boxes(kAnswerNo);
            entries[2]->trigger();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(editor.isNull() && window_.isNull());
            QCOMPARE(ended.count(), 1);
        }
    }

    void movingANormalWindowKeepsItVisibleWithoutIcon()
    {
        window_->move(window_->pos() + QPoint(20, 10));
        QCoreApplication::processEvents();
        QVERIFY(window_->isVisible());
        QVERIFY(!window_->notificationIcon().isShown());
    }

    void withoutNotificationAreaTheWindowStaysOnTheTaskBar()
    {
        notificationArea_ = false;
        window_->showMinimized();
        QCoreApplication::processEvents();
        QVERIFY(window_->isVisible());
        QCOMPARE(window_->windowStateCode(), int(kStateMinimised));
        QVERIFY(!window_->notificationIcon().isShown());
    }

    void escapeClosesTheMainWindowFromTheSlider()
    {
        QVERIFY(QTest::qWaitForWindowActive(window_));
        auto* slider = find<QSlider>("滑块条1");
        slider->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), slider);
        QSignalSpy ended(runtime_.get(), &WindowRuntime::lastWindowDestroyed);
        QTest::keyClick(slider, Qt::Key_Escape);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(window_.isNull());
        QCOMPARE(ended.count(), 1);
    }

    void startUpEndsWithZeroWhenTheMainWindowCloses()
    {
        cleanup();
        QTimer::singleShot(0, [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == QStringLiteral("启动窗口"))
                    w->close();
        });
        StartOptions options;
        options.addresses = addresses();
        options.settingsFile = settings_.filePath("my.ini");
        QCOMPARE(runProgram(options), 0);
        init();
    }

    void startUpFailsWhenTheDefinitionLacksAControl_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("changedTo");
        QTest::newRow("slider gone") << R"(name="滑块条1")" << R"(name="滑块条0")";
        QTest::newRow("slider of another kind") << R"(class="QSlider")" << R"(class="QDial")";
        QTest::newRow("menu entry gone") << R"(<action name="官方网站">)" << R"(<action name="官方">)";
        QTest::newRow("web panel gone") << R"(name="超文本浏览框1")" << R"(name="超文本浏览框0")";
    }

    void startUpFailsWhenTheDefinitionLacksAControl()
    {
        QFETCH(QString, written);
        QFETCH(QString, changedTo);
        QFile builtIn(QString::fromUtf8(kMainWindowDefinition));
        QVERIFY(builtIn.open(QIODevice::ReadOnly));
        QString definition = QString::fromUtf8(builtIn.readAll());
        QVERIFY(definition.contains(written));
        QFile broken(settings_.filePath("broken_main_window.ui"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(definition.replace(written, changedTo).toUtf8());
        broken.close();
        const auto mainWindows = [] {
            int count = 0;
            for (QWidget* w : QApplication::topLevelWidgets())
                count += w->objectName() == QStringLiteral("启动窗口") ? 1 : 0;
            return count;
        };
        const int before = mainWindows();

        RecordedBoxes boxes;
        StartOptions options;
        options.addresses = addresses();
        options.settingsFile = settings_.filePath("my.ini");
        options.mainWindowDefinition = broken.fileName();
        QCOMPARE(runProgram(options), -1);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("运行时出错!\n\n错误信息：载入启动窗口失败\n"));
        // Nothing of the half-bound window is left.
        QCOMPARE(mainWindows(), before);
    }

    void startUpFailsWithMinusOneWithoutItsMainWindow()
    {
        RecordedBoxes boxes;
        StartOptions options;
        options.addresses = addresses();
        options.mainWindowDefinition = ":/ui/no_such_window.ui";
        QCOMPARE(runProgram(options), -1);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("运行时出错!\n\n错误信息：载入启动窗口失败\n"));
    }
};

QINGHE_WINDOW_TEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
