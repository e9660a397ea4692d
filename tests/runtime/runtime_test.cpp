#include "runtime/dialogs.h"
#include "runtime/message_box.h"
#include "runtime/notification_icon.h"
#include "runtime/program_language.h"
#include "runtime/window_runtime.h"
#include "base/window_thread.h"
#include "support/recorded_boxes.h"
#include "support/window_test_main.h"
#include "text/gbk.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QTreeView>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <thread>

using namespace qinghe;

namespace {

// A window that writes down which of its events ran, and whether it was
// already on screen when created ran.
class RecordingWindow : public RuntimeWindow {
public:
    QStringList events;
    bool visibleAtCreated = true;

protected:
    void onCreated() override
    {
        visibleAtCreated = isVisible();
        events << "created";
    }
    void onMoved() override { events << "moved"; }
    void onResized() override { events << "resized"; }
};

// A window whose handlers would use a control of the given name and kind.
template <class Control>
class BindingWindow : public RecordingWindow {
public:
    explicit BindingWindow(const char* name) : name_(name) {}
    Control* bound = nullptr;

protected:
    void bindControls(ControlBinder& binder) override { binder.bind(bound, name_); }

private:
    const char* name_;
};

QString definition(bool escapeCloses)
{
    return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <widget class="QMainWindow" name="测试窗口">
  <property name="windowTitle"><string>测试</string></property>
  <property name="clientSize" stdset="0"><size><width>300</width><height>120</height></size></property>
  <property name="fixedFrame" stdset="0"><bool>true</bool></property>
  <property name="maximizeButton" stdset="0"><bool>false</bool></property>
  <property name="escapeCloses" stdset="0"><bool>%1</bool></property>
  <widget class="QWidget" name="客户区">
   <widget class="QPushButton" name="按钮1"><property name="geometry"><rect><x>5</x><y>5</y><width>80</width><height>24</height></rect></property></widget>
   <widget class="QSlider" name="滑块条1"><property name="orientation"><enum>Qt::Horizontal</enum></property><property name="geometry"><rect><x>5</x><y>40</y><width>100</width><height>24</height></rect></property></widget>
   <widget class="QCheckBox" name="选择框1"><property name="geometry"><rect><x>5</x><y>70</y><width>100</width><height>24</height></rect></property></widget>
  </widget>
 </widget>
</ui>
)")
        .arg(escapeCloses ? "true" : "false");
}

void deleteClosedWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

class RuntimeTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString withEscape_;
    QString withoutEscape_;

    QString write(const QString& name, const QString& text)
    {
        QFile file(dir_.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(text.toUtf8());
        return file.fileName();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        withEscape_ = write("escape.ui", definition(true));
        withoutEscape_ = write("plain.ui", definition(false));
    }

    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        deleteClosedWindows();
    }

    void createdMovedResizedComeFirstAndInOrder()
    {
        WindowRuntime runtime;
        auto* window = new RecordingWindow;
        QVERIFY(runtime.createWindow(window, withEscape_));
        QVERIFY(window->events.size() >= 3);
        QCOMPARE(window->events.mid(0, 3), (QStringList{"created", "moved", "resized"}));
        QVERIFY(!window->visibleAtCreated);
        QVERIFY(window->isVisible());
    }

    void controlsCarryTheirDefinitionNames()
    {
        WindowRuntime runtime;
        auto* window = new RecordingWindow;
        QVERIFY(runtime.createWindow(window, withEscape_));
        QCOMPARE(window->objectName(), QStringLiteral("测试窗口"));
        QVERIFY(window->findChild<QPushButton*>("按钮1") != nullptr);
        QVERIFY(window->findChild<QSlider*>("滑块条1") != nullptr);
        QVERIFY(window->findChild<QCheckBox*>("选择框1") != nullptr);
    }

    void fixedFrameHasNoMaximiseAndKeepsItsClientSize()
    {
        WindowRuntime runtime;
        auto* window = new RecordingWindow;
        QVERIFY(runtime.createWindow(window, withEscape_));
        QCOMPARE(window->size(), QSize(300, 120));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window->windowFlags() & Qt::WindowMinimizeButtonHint);
        window->showMaximized();
        QCOMPARE(window->size(), QSize(300, 120));
    }

    void unreadableDefinitionCreatesNothing()
    {
        WindowRuntime runtime;
        QPointer<RecordingWindow> window = new RecordingWindow;
        QVERIFY(!runtime.createWindow(window, dir_.filePath("missing.ui")));
        QVERIFY(window.isNull());
        QCOMPARE(runtime.liveWindowCount(), 0);
        const QString broken = write("broken.ui", "<ui version=\"4.0\"><nonsense/>");
        QVERIFY(!runtime.createWindow(new RecordingWindow, broken));
        QCOMPARE(runtime.liveWindowCount(), 0);
    }

    void controlsAreBoundBeforeAnyEvent()
    {
        WindowRuntime runtime;
        auto* window = new BindingWindow<QSlider>("滑块条1");
        QVERIFY(runtime.createWindow(window, withEscape_));
        QCOMPARE(window->bound, window->findChild<QSlider*>("滑块条1"));
        QCOMPARE(window->events.value(0), QStringLiteral("created"));
    }

    void aMissingOrMistypedControlFailsTheLoad_data()
    {
        QTest::addColumn<bool>("mistyped");
        QTest::newRow("missing") << false;
        QTest::newRow("of another kind") << true;
    }

    void aMissingOrMistypedControlFailsTheLoad()
    {
        QFETCH(bool, mistyped);
        const auto make = [mistyped]() -> RuntimeWindow* {
            if (mistyped)
                return new BindingWindow<QSlider>("按钮1");
            return new BindingWindow<QPushButton>("按钮9");
        };
        const QString name = mistyped ? QStringLiteral("按钮1") : QStringLiteral("按钮9");
        RecordedBoxes boxes;
        WindowRuntime runtime;
        QSignalSpy fatal(&runtime, &WindowRuntime::fatalError);

        // Creating leaves what the user sees to the caller.
        QPointer<RuntimeWindow> created = make();
        QVERIFY(!runtime.createWindow(created, withEscape_));
        QVERIFY(created.isNull());
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(fatal.count(), 0);

        // Opening one is the run-time's fatal error: its box, then the end of the program.
        QVERIFY(runtime.openWindow("side", withEscape_, make) == nullptr);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("运行时出错!\n\n错误信息：找不到控件 %1\n").arg(name));
        QCOMPARE(fatal.count(), 1);
        QCOMPARE(fatal[0][0].toInt(), -1);
        QCOMPARE(runtime.liveWindowCount(), 0);
        QVERIFY(runtime.openedWindow("side") == nullptr);
    }

    void openingAnOpenWindowRestoresOrActivatesIt()
    {
        WindowRuntime runtime;
        int made = 0;
        auto make = [&made] {
            ++made;
            return new RecordingWindow;
        };
        RuntimeWindow* first = runtime.openWindow("editor", withEscape_, make);
        QVERIFY(first != nullptr);
        QCOMPARE(runtime.openWindow("editor", withEscape_, make), first);
        QCOMPARE(made, 1);

        first->showMinimized();
        QCOMPARE(first->windowStateCode(), int(kStateMinimised));
        QCOMPARE(runtime.openWindow("editor", withEscape_, make), first);
        QCOMPARE(first->windowStateCode(), int(kStateNormal));
        QVERIFY(first->isVisible());
        QCOMPARE(runtime.liveWindowCount(), 1);

        first->close();
        deleteClosedWindows();
        RuntimeWindow* second = runtime.openWindow("editor", withEscape_, make);
        QVERIFY(second != nullptr);
        QCOMPARE(made, 2);
    }

    void modalWindowBlocksTheOthersUntilItCloses()
    {
        WindowRuntime runtime;
        auto* main = new RecordingWindow;
        QVERIFY(runtime.createWindow(main, withEscape_));
        RuntimeWindow* partner =
            runtime.openWindow("partner", withEscape_, [] { return new RecordingWindow; }, Modality::Modal);
        QVERIFY(partner != nullptr);
        QCOMPARE(partner->windowModality(), Qt::ApplicationModal);
        QCOMPARE(QApplication::activeModalWidget(), partner);
        partner->close();
        deleteClosedWindows();
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void programEndsWithTheLastWindowHiddenOnesIncluded()
    {
        WindowRuntime runtime;
        QSignalSpy ended(&runtime, &WindowRuntime::lastWindowDestroyed);
        auto* main = new RecordingWindow;
        auto* side = new RecordingWindow;
        QVERIFY(runtime.createWindow(main, withEscape_));
        QVERIFY(runtime.createWindow(side, withEscape_));

        side->hide();  // as in the notification area
        main->close();
        deleteClosedWindows();
        QCOMPARE(ended.count(), 0);
        QCOMPARE(runtime.liveWindowCount(), 1);

        side->close();
        deleteClosedWindows();
        QCOMPARE(ended.count(), 1);
    }

    void escapeClosesWhicheverControlHasFocus_data()
    {
        QTest::addColumn<QString>("control");
        QTest::newRow("button") << "按钮1";
        QTest::newRow("slider") << "滑块条1";
        QTest::newRow("check box") << "选择框1";
    }

    void escapeClosesWhicheverControlHasFocus()
    {
        QFETCH(QString, control);
        WindowRuntime runtime;
        QPointer<RecordingWindow> window = new RecordingWindow;
        QVERIFY(runtime.createWindow(window, withEscape_));
        QVERIFY(QTest::qWaitForWindowActive(window));
        QWidget* focused = window->findChild<QWidget*>(control);
        focused->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), focused);
        QTest::keyClick(focused, Qt::Key_Escape);
        deleteClosedWindows();
        QVERIFY(window.isNull());
    }

    void escapeDoesNothingWhereTheDefinitionSaysSo()
    {
        WindowRuntime runtime;
        QPointer<RecordingWindow> window = new RecordingWindow;
        QVERIFY(runtime.createWindow(window, withoutEscape_));
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window->findChild<QPushButton*>("按钮1"), Qt::Key_Escape);
        deleteClosedWindows();
        QVERIFY(!window.isNull());
        QVERIFY(window->isVisible());
    }

    void messageBoxesCarryTheDefaultCaptionAndTheirAnswer()
    {
        RecordedBoxes boxes(kAnswerYes);
        QCOMPARE(messageBox("要更新吗？", kBoxYesNoQuestion), int(kAnswerYes));
        QCOMPARE(messageBox("找不到‘x’", kBoxOkInformation, "记事本"), int(kAnswerYes));
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("信息："));
        QCOMPARE(boxes.shown[0].style, int(kBoxYesNoQuestion));
        QCOMPARE(boxes.shown[1].caption, QStringLiteral("记事本"));
        QCOMPARE(boxes.shown[1].text, QStringLiteral("找不到‘x’"));
    }

    void qtButtonsSpeakChineseUnderAnEnglishLocale()
    {
        // CTest runs this under LANG=C.UTF-8, where Qt on its own says Yes and No.
        QVERIFY(loadQtChineseTexts());
        QStringList buttons;
        QTimer look;
        connect(&look, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            look.stop();
            for (QAbstractButton* button : box->buttons())
                buttons << button->text().remove(QRegularExpression("\\(&.\\)|&"));
            box->button(QMessageBox::No)->click();
        });
        look.start(10);
        QCOMPARE(messageBox("要更新吗？", kBoxYesNoQuestion), int(kAnswerNo));
        buttons.sort();
        QCOMPARE(buttons, QStringList({"否", "是"}));
        QCOMPARE(QCoreApplication::translate("QKeySequenceEdit", "Press shortcut"), QStringLiteral("按下按键…"));
    }

    void qtFileDialogSpeaksChineseUnderAnEnglishLocale()
    {
        QVERIFY(loadQtChineseTexts());
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("歌单")));
        QStringList texts;
        QString date;
        QTimer look;
        connect(&look, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* list = dialog != nullptr ? dialog->findChild<QTreeView*>(QStringLiteral("treeView")) : nullptr;
            // The list as shown; the folder is read on a thread of its own.
            const QModelIndex folder = list != nullptr ? list->model()->index(0, 0, list->rootIndex()) : QModelIndex();
            if (folder.siblingAtColumn(3).data().toString().isEmpty())
                return;
            look.stop();
            date = folder.siblingAtColumn(3).data().toString();
            texts << folder.siblingAtColumn(2).data().toString() << dialog->windowTitle();
            for (int column = 0; column < list->model()->columnCount(); ++column)
                texts << list->model()->headerData(column, Qt::Horizontal).toString();
            for (const QLabel* label : dialog->findChildren<QLabel*>())
                texts << label->text();
            for (const QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
                texts << button->text() << button->toolTip();
            dialog->reject();
        });
        look.start(10);
        QVERIFY(askFileName({FileDialogRequest::Kind::Open, {}, {}, dir.path()}).isEmpty());
        QCOMPARE(texts.value(0), QStringLiteral("文件夹"));
        const QDateTime modified = QFileInfo(dir.filePath(QStringLiteral("歌单"))).lastModified();
        QCOMPARE(date, QLocale(QLocale::Chinese, QLocale::China).toString(modified, QLocale::ShortFormat));
        for (const QString& text : texts)  // access keys such as "(&O)" aside
            QVERIFY2(!QString(text).remove(QRegularExpression("\\(&[A-Z]\\)")).contains(QRegularExpression("[A-Za-z]")),
                     qPrintable(text));
    }

    void workersShowBoxesAndTouchWidgetsOnTheWindowThread()
    {
        RecordedBoxes boxes(kAnswerNo);
        QThread* boxThread = nullptr;
        setMessageBoxSeam([&](const ShownMessageBox&) {
            boxThread = QThread::currentThread();
            return int(kAnswerNo);
        });
        int answer = 0;
        QThread* postedThread = nullptr;
        bool done = false;
        std::thread worker([&] {
            answer = messageBox("发现新版本", kBoxYesNo);
            postToWindowThread([&] {
                postedThread = QThread::currentThread();
                done = true;
            });
        });
        QTRY_VERIFY(done);
        worker.join();
        QCOMPARE(answer, int(kAnswerNo));
        QCOMPARE(boxThread, qApp->thread());
        QCOMPARE(postedThread, qApp->thread());
    }

    void fatalErrorNamesItsMessageAndGivesMinusOne()
    {
        RecordedBoxes boxes;
        QCOMPARE(fatalRuntimeError("载入启动窗口失败"), -1);
        QCOMPARE(fatalRuntimeError("索引越界", 5), -1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("运行时出错!\n\n错误信息：载入启动窗口失败\n"));
        QCOMPARE(boxes.shown[1].text, QStringLiteral("运行时出错!\n\n错误代码：5\n\n错误信息：索引越界\n"));
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("信息："));
    }

    void notificationClicksMapToActionCodes()
    {
        QCOMPARE(notificationActionCode(QSystemTrayIcon::Trigger), 1);
        QCOMPARE(notificationActionCode(QSystemTrayIcon::DoubleClick), 2);
        QCOMPARE(notificationActionCode(QSystemTrayIcon::Context), 3);
        QCOMPARE(notificationActionCode(QSystemTrayIcon::MiddleClick), 0);
    }

    void toolTipsAreCutTo62BytesOnACharacterBoundary()
    {
        const QString short_ = QStringLiteral("青禾音效辅助工具运行中");
        QCOMPARE(cutToolTip(short_), short_);
        const QString ascii(70, QLatin1Char('a'));
        QCOMPARE(cutToolTip(ascii), QString(62, QLatin1Char('a')));
        // 'a' then 31 two-byte characters would end at byte 63: the last one goes.
        const QString mixed = QStringLiteral("a") + QString(31, QChar(0x9752));
        const QString cut = cutToolTip(mixed);
        QCOMPARE(fromQString(cut).size(), std::size_t(61));
        QCOMPARE(cut, QStringLiteral("a") + QString(30, QChar(0x9752)));
    }
};

QINGHE_WINDOW_TEST_MAIN(RuntimeTest)
#include "runtime_test.moc"
