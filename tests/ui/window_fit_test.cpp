// Every window of the program, loaded as the program loads it, reads whole
// with the CJK fonts a Linux desktop gives, at scale 1, 1.25, 1.5 and 2 on a
// 1366×768 screen: no caption wider than its control, no control outside its
// window, every page tab of the board in the tab bar, the window with its
// title bar in the screen's free area and 关闭 in view. Each font and scale
// runs in a process of its own, since fontconfig, the screen and the scale
// are fixed when the application starts.
// QINGHE_FIT_SHOTS=<folder> keeps a picture of every window for a person.

#include "editor/editor_window.h"
#include "lyrics/lyrics_window.h"
#include "online/music_window.h"
#include "online/partner_window.h"
#include "online/update_window.h"
#include "online/updater.h"
#include "runtime/program_language.h"
#include "runtime/screen_fit.h"
#include "runtime/window_runtime.h"
#include "hotkeys/hot_key_settings.h"
#include "search/sound_search_window.h"
#include "settings/sound_settings_window.h"
#include "support/recorded_boxes.h"
#include "app/startup.h"
#include "ui/main_window.h"
#include "ui/sound_fade_window.h"
#include "ui/sound_hot_key_window.h"
#include "ui/sound_volume_window.h"

#include <QApplication>
#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocumentFragment>
#include <QToolBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTest>

using namespace qinghe;

namespace {

constexpr const char* kFontVariable = "QINGHE_FIT_FONT";
// What a desktop adds above a window that offscreen windows lack: a title
// bar, with room to spare for a frame.
constexpr int kTitleBarAllowance = 40;
// The offscreen screen of every run, as a small laptop's.
constexpr const char* kSmallScreenConfig =
    R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768, "logicalDpi": 96, "dpr": 1}]})";

// A caption as drawn: "(&F)" shows as "(F)", "&&" as "&".
QString shown(QString caption) { return caption.replace(QRegularExpression("&(.)"), "\\1"); }

int metric(const QWidget* w, QStyle::PixelMetric m) { return w->style()->pixelMetric(m, nullptr, w); }

// The size w's caption needs, the style's margins included; empty where w has none.
QSize captionNeed(const QWidget* w)
{
    const QFontMetrics fm(w->font());
    const auto across = [&](const QString& text, int margins) { return QSize(fm.horizontalAdvance(shown(text)) + margins, 0); };
    if (const auto* push = qobject_cast<const QPushButton*>(w))
        return across(push->text(), metric(w, QStyle::PM_ButtonMargin) + 2 * metric(w, QStyle::PM_DefaultFrameWidth));
    if (const auto* check = qobject_cast<const QCheckBox*>(w))
        return across(check->text(), metric(w, QStyle::PM_IndicatorWidth) + metric(w, QStyle::PM_CheckBoxLabelSpacing));
    if (const auto* radio = qobject_cast<const QRadioButton*>(w))
        return across(radio->text(),
                      metric(w, QStyle::PM_ExclusiveIndicatorWidth) + metric(w, QStyle::PM_RadioButtonLabelSpacing));
    if (const auto* box = qobject_cast<const QGroupBox*>(w))
        return across(box->title(), 2 * metric(w, QStyle::PM_DefaultFrameWidth));
    const auto* label = qobject_cast<const QLabel*>(w);
    if (label == nullptr || label->text().isEmpty())
        return {};
    if (label->wordWrap())
        return {0, label->heightForWidth(label->width())};
    const int frame = 2 * (label->frameWidth() + label->margin());
    const QString text = label->textFormat() == Qt::RichText ? QTextDocumentFragment::fromHtml(label->text()).toPlainText()
                                                             : label->text();
    // A label the program fills in later names the widest text it will show.
    const QSize lines = fm.size(Qt::TextShowMnemonic, text).expandedTo(fm.size(0, label->property("widestText").toString()));
    return lines + QSize(frame, frame);
}

// Web views crop their pages on purpose, plain containers and status bars
// only hold other controls, an empty label shows nothing: the definitions
// may place them past an edge.
bool mayLieOutside(const QWidget* w)
{
    const auto* label = qobject_cast<const QLabel*>(w);
    return w->inherits("QWebEngineView") || w->inherits("QStatusBar") || qstrcmp(w->metaObject()->className(), "QWidget") == 0 ||
           (label != nullptr && label->text().isEmpty() && label->pixmap().isNull());
}

// Controls that draw their own parts; they are checked whole.
bool isComposite(const QWidget* w)
{
    return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractScrollArea*>(w) ||
           qobject_cast<const QKeySequenceEdit*>(w) || qobject_cast<const QToolBar*>(w) || qobject_cast<const QTabBar*>(w) ||
           w->inherits("QWebEngineView");
}

void checkTabs(const QTabWidget* tabs, const QString& where, QStringList& misfits)
{
    const QTabBar* bar = tabs->tabBar();
    for (const QToolButton* scroll : bar->findChildren<QToolButton*>())
        if (scroll->isVisible())
            misfits << where + ": the tab bar scrolls";
    for (int i = 0; i < tabs->count(); ++i) {
        const int need = QFontMetrics(bar->font()).horizontalAdvance(shown(tabs->tabText(i))) +
                         metric(bar, QStyle::PM_TabBarTabHSpace);
        if (!tabs->rect().contains(bar->geometry()) || !bar->rect().contains(bar->tabRect(i)) || bar->tabRect(i).width() < need)
            misfits << where + ": tab " + tabs->tabText(i) + " does not read whole";
    }
}

void checkControls(const QWidget* parent, const QWidget* client, const QString& window, QStringList& misfits)
{
    for (const QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isWindow() || (w->isHidden() && !qobject_cast<const QStackedWidget*>(parent)))
            continue;
        const QString where = window + "/" + (w->objectName().isEmpty() ? w->metaObject()->className() : w->objectName());
        const bool ours = !w->objectName().startsWith(QLatin1String("qt_"));
        if (ours && !mayLieOutside(w) && !client->rect().contains(QRect(w->mapTo(client, QPoint(0, 0)), w->size())))
            misfits << where + ": lies outside its window";
        const QSize need = captionNeed(w);
        if (ours && (need.width() > w->width() || need.height() > w->height()))
            misfits << where + QStringLiteral(": its caption needs %1×%2").arg(need.width()).arg(need.height());
        if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
            if (QFontMetrics(combo->font()).horizontalAdvance(combo->currentText()) + 4 > field.width())
                misfits << where + ": its text is cut";
        }
        if (const auto* tabs = qobject_cast<const QTabWidget*>(w))
            checkTabs(tabs, where, misfits);
        if (const auto* more = w->findChild<QToolButton*>("qt_toolbar_ext_button"); more != nullptr && more->isVisible())
            misfits << where + ": buttons hide behind »";
        if (!isComposite(w))
            checkControls(w, client, window, misfits);
    }
}

QStringList misfitsOf(RuntimeWindow* window, const QString& name)
{
    QStringList misfits;
    // A window too large for the screen scrolls its client area and keeps its bottom row apart.
    QList<QWidget*> clients{window->centralWidget()};
    if (const auto* scroll = window->findChild<QScrollArea*>(QString::fromUtf8(kScreenFitScroll))) {
        clients = {scroll->widget()};
        if (auto* row = window->findChild<QWidget*>(QString::fromUtf8(kScreenFitBottomRow)))
            clients << row;
    }
    // A tab page's controls are placed when the page shows.
    QTabWidget* tabs = window->findChild<QTabWidget*>();
    for (int page = 0; page < (tabs != nullptr ? tabs->count() : 1); ++page) {
        if (tabs != nullptr)
            tabs->setCurrentIndex(page);
        QCoreApplication::processEvents();
        for (QWidget* client : clients)
            checkControls(client, client, name, misfits);
    }
    const QRect frame = window->frameGeometry();
    const int titleBar = std::max(0, kTitleBarAllowance - (window->geometry().top() - frame.top()));
    if (!window->screen()->availableGeometry().contains(frame.adjusted(0, -titleBar, 0, 0)))
        misfits << name + QStringLiteral(": does not fit the screen's free area, its title bar included: %1,%2 %3×%4 in %5×%6")
                              .arg(frame.x()).arg(frame.y() - titleBar).arg(frame.width()).arg(frame.height() + titleBar)
                              .arg(window->screen()->availableGeometry().width()).arg(window->screen()->availableGeometry().height());
    for (const QPushButton* close : window->findChildren<QPushButton*>(QStringLiteral("关闭")))
        if (close->isVisible() && close->visibleRegion().boundingRect() != close->rect())
            misfits << name + ": 关闭 is out of view";
    return misfits;
}

}  // namespace

// One font at one scale, in the process the parent started for it.
class WindowFitCheck : public QObject {
    Q_OBJECT

private slots:
    void everyWindowDefinitionFitsItsText()
    {
        const QString family = qEnvironmentVariable(kFontVariable);
        QVERIFY2(QFontDatabase::hasFamily(family), qPrintable(family + " is not installed"));
        // The screen is the small laptop's, in device pixels.
        const QScreen* screen = QGuiApplication::primaryScreen();
        QVERIFY(qAbs(screen->geometry().width() * screen->devicePixelRatio() - 1366) <= 2);
        QTemporaryDir dir;
        WindowRuntime runtime;
        CustomSoundTables tables;
        const Addresses addresses = Addresses::allAt("127.0.0.1:9");
        const auto noArea = [] { return false; };
        Updater updater(addresses, dir.path());
        RecordedBoxes boxes(kAnswerYes);

        QMap<QString, QPointer<RuntimeWindow>> windows;
        windows["main_window.ui"] = MainWindow::open({runtime, tables, addresses, dir.filePath("my.ini"), noArea});
        auto* editor = qobject_cast<EditorWindow*>(openEditorWindow(runtime, QString()));
        QVERIFY(editor != nullptr);
        windows["editor_window.ui"] = editor;
        windows["find_window.ui"] = editor->openFindWindow();
        windows["replace_window.ui"] = editor->openReplaceWindow();
        windows["lyrics_window.ui"] = openLyricsWindow(runtime, addresses);
        windows["music_window.ui"] = openMusicWindow(runtime, addresses, noArea);
        windows["sound_settings_window.ui"] = openSoundSettingsWindow(runtime, nullptr, dir.filePath("my.ini"));
        auto* update = new UpdateWindow(updater, std::chrono::hours(1));
        QVERIFY(runtime.createWindow(update, QString::fromLatin1(kUpdateWindowDefinition), Modality::Modal));
        windows["update_window.ui"] = update;
        windows["partner_window.ui"] = openPartnerWindow(runtime, addresses);
        windows["sound_search_window.ui"] = openSoundSearchWindow(runtime, boardSearchEntries({}), {});
        windows["sound_volume_window.ui"] = openSoundVolumeWindow(runtime, {QStringLiteral("哄堂大笑"), -6, {}, {}});
        windows["sound_fade_window.ui"] = openSoundFadeWindow(runtime, {QStringLiteral("哄堂大笑"), {}, {}, {}});
        windows["sound_hot_key_window.ui"] =
            openSoundHotKeyWindow(runtime, nullptr, dir.filePath("my.ini"), kFirstEffectHotKeyAction, QStringLiteral("哄堂大笑"));
        // Every definition the program carries is among them.
        QCOMPARE(QDir(":/ui").entryList({"*.ui"}), windows.keys());

        const QString shots = qEnvironmentVariable("QINGHE_FIT_SHOTS");
        const QString run = QStringLiteral("%1@%2").arg(family).arg(qEnvironmentVariable("QT_SCALE_FACTOR", "1"));
        QStringList misfits;
        for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
            RuntimeWindow* window = it.value();
            QVERIFY2(window != nullptr, qPrintable(it.key()));
            QVERIFY(QTest::qWaitForWindowExposed(window));
            QCOMPARE(QFontInfo(window->font()).family(), family);
            misfits << misfitsOf(window, it.key());
            if (!shots.isEmpty())
                window->grab().save(QDir(shots).filePath(QString(it.key()).replace(".ui", "@" + run + ".png")));
        }
        // Fonts the definitions name ("宋体", "Fixedsys") come from the same family.
        QCOMPARE(QFontInfo(windows["main_window.ui"]->findChild<QTabWidget*>()->font()).family(), family);
        misfits.removeDuplicates();
        for (const QString& misfit : misfits)
            qWarning("%s: %s", qUtf8Printable(run), qUtf8Printable(misfit));
        QVERIFY2(misfits.isEmpty(), qPrintable(QStringLiteral("%1 misfits at %2").arg(misfits.size()).arg(run)));
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
    }
};

// Starts the check once for each font and scale.
class WindowFitTest : public QObject {
    Q_OBJECT

private slots:
    void everyWindowFitsWithEachFontAtEachScale_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("scale");
        for (const char* family : {"WenQuanYi Zen Hei", "Noto Sans CJK SC"})
            for (const char* scale : {"1", "1.25", "1.5", "2"})
                QTest::addRow("%s at %s", family, scale) << QString::fromLatin1(family) << QString::fromLatin1(scale);
    }

    void everyWindowFitsWithEachFontAtEachScale()
    {
        QFETCH(QString, family);
        QFETCH(QString, scale);
        QTemporaryDir dir;
        // Every face the program asks for, and the desktop's default, become this one family.
        QFile config(dir.filePath("fonts.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("<?xml version=\"1.0\"?><!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">"
                                    "<fontconfig><include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>"
                                    "<match target=\"pattern\"><edit name=\"family\" mode=\"prepend_first\" "
                                    "binding=\"strong\"><string>%1</string></edit></match></fontconfig>")
                         .arg(family)
                         .toUtf8());
        config.close();
        QFile screen(dir.filePath("screen.json"));
        QVERIFY(screen.open(QIODevice::WriteOnly) && screen.write(kSmallScreenConfig) > 0);
        screen.close();
        QProcess check;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("FONTCONFIG_FILE", config.fileName());
        environment.insert("QT_SCALE_FACTOR", scale);
        environment.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.fileName());
        environment.insert(kFontVariable, family);
        check.setProcessEnvironment(environment);
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(check.waitForFinished(-1));
        const bool passed = check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0;
        if (!passed)
            qWarning("%s", check.readAll().constData());
        QVERIFY2(passed, qPrintable(family + " at scale " + scale));
    }
};

int main(int argc, char* argv[])
{
    const bool oneRun = qEnvironmentVariableIsSet(kFontVariable);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareProcessForWebViews();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (oneRun) {
        // As the program starts.
        loadQtChineseTexts();
        WindowFitCheck check;
        return QTest::qExec(&check, argc, argv);
    }
    WindowFitTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_fit_test.moc"
