#include "main_window.h"

#include "board_grid.h"
#include "web_view.h"

#include "app/window_runtime.h"
#include "board/sound_catalogue.h"
#include "online/links.h"

#include <QAction>
#include <QPushButton>
#include <QTabWidget>
#include <QToolBar>
#include <QWebEngineView>

namespace qinghe {
namespace {

constexpr const char* kTagProperty = "tag";

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MainWindow::MainWindow(MainWindowContext context) : context_(std::move(context)), notificationIcon_(this)
{
    connect(&notificationIcon_, &NotificationIcon::action, this, &MainWindow::onNotificationAction);
}

MainWindow* MainWindow::open(MainWindowContext context, const QString& definitionPath)
{
    registerWebViewControl();
    WindowRuntime& runtime = context.runtime;
    auto* window = new MainWindow(std::move(context));
    if (!runtime.createWindow(window, definitionPath))
        return nullptr;
    return window;
}

void MainWindow::onCreated()
{
    buildBoard();
    wireToolbar();
    wireMenu();
    loadAdvertisingPanel();
    // Start-up steps that follow here, in this order: attach the skin,
    // restore the custom slots, start the version check and the online counter.
}

void MainWindow::buildBoard()
{
    auto* tabs = control<QTabWidget>("高级选择夹1");
    auto* grid = new BoardGrid(tabs);
    for (const BoardButton& entry : boardCatalogue()) {
        QWidget* page = tabs->widget(entry.page);
        auto* button = new QPushButton(fromUtf8(entry.caption), page);
        button->setObjectName(fromUtf8(entry.name));
        button->resize(kBoardButtonWidth, kBoardButtonHeight);
        grid->place(button, QPoint(boardButtonLeft(entry.column), boardButtonTop(entry.row)));
        button->setFocusPolicy(Qt::StrongFocus);
        button->setAutoDefault(false);
        button->setProperty(kTagProperty, entry.slot > 0 ? QString::number(entry.slot) : QString());
    }
}

void MainWindow::wireToolbar()
{
    auto* toolbar = control<QToolBar>("工具条1");
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    // The toolbar is as tall as its buttons want, whatever the definition's starting height.
    toolbar->resize(toolbar->width(), toolbar->sizeHint().height());
    connect(toolbar, &QToolBar::actionTriggered, this,
            [this, toolbar](QAction* action) { onToolbarButton(static_cast<int>(toolbar->actions().indexOf(action))); });
}

void MainWindow::onToolbarButton(int index)
{
    switch (index) {
    case kToolbarCustomPage:
        control<QTabWidget>("高级选择夹1")->setCurrentIndex(kCustomSlotPage);
        break;
    case kToolbarContact:
        openAddress(context_.addresses.contactPage());
        break;
    default:
        // The music player, lyrics search and notepad windows open here.
        break;
    }
}

void MainWindow::wireMenu()
{
    const Addresses& addresses = context_.addresses;
    connect(control<QAction>("官方网站"), &QAction::triggered, this, [addresses] { openAddress(addresses.siteHome()); });
    connect(control<QAction>("使用帮助"), &QAction::triggered, this, [addresses] { openAddress(addresses.siteHome()); });
    connect(control<QAction>("轻轻一点"), &QAction::triggered, this,
            [addresses] { openAddress(addresses.partnerPortal()); });
    connect(control<QAction>("网络赚钱"), &QAction::triggered, this,
            [addresses] { openAddress(addresses.partnerBonusPage()); });
    // "在线更新" and "赞助我们" open the update check and the partner window.
}

void MainWindow::loadAdvertisingPanel()
{
    control<QWebEngineView>("超文本浏览框1")->setUrl(QUrl(context_.addresses.advertisingPage()));
}

void MainWindow::onMoved()
{
    if (windowStateCode() != kStateMinimised) {
        if (!isVisible())
            setVisible(true);
        return;
    }
    // Hiding is only safe where an icon can bring the window back.
    if (context_.notificationAreaAvailable && !context_.notificationAreaAvailable())
        return;
    // Hide once the minimise has finished: hiding in its middle is undone by it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (windowStateCode() != kStateMinimised)
                return;
            setVisible(false);
            notificationIcon_.show(windowIcon(), QString::fromUtf8(kMainWindowToolTip));
        },
        Qt::QueuedConnection);
}

void MainWindow::onNotificationAction(int code)
{
    if (code != kActionLeftDoubleClick)
        return;
    setVisible(true);
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    showNormal();
}

}  // namespace qinghe
