// A program built without the entry the skin library paints through: the
// mapping fails at its imports, and the program starts and works as before,
// unskinned and without a word.

#include "skin_image.h"

#include "runtime/window_runtime.h"
#include "editor/editor_window.h"
#include "skin/skin_binding.h"
#include "support/local_http_server.h"
#include "support/recorded_boxes.h"
#include "support/window_test_main.h"
#include "ui/main_window.h"

#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QTemporaryDir>

#include <dlfcn.h>

using namespace qinghe;

namespace {

constexpr std::uintptr_t kPreferredBase = 0x10000000;
constexpr std::uintptr_t kLargestSpan = 16u << 20;

}  // namespace

class SkinAbsentTest : public QObject {
    Q_OBJECT

private slots:
    void programStartsAndWorksWithoutItsSkin()
    {
        // The premise: this program does not offer the library its way back.
        QVERIFY(dlsym(dlopen(nullptr, RTLD_NOW), "qingheSkinPaint") == nullptr);

        LocalHttpServer site;
        site.setPage("/ad.html", "<html><body>广告</body></html>", "text/html; charset=utf-8");
        QTemporaryDir settings;
        CustomSoundTables tables;
        RecordedBoxes boxes;
        const QPalette unskinned = QApplication::palette();
        const int code = anonymousCode();
        {
            WindowRuntime runtime;
            MainWindowContext context{runtime,
                                      tables,
                                      Addresses::allAt(site.hostAndPort()),
                                      settings.filePath("my.ini"),
                                      [] { return true; }};
            QPointer<MainWindow> window = MainWindow::open(context);
            QVERIFY(window != nullptr);
            QVERIFY(window->isVisible());

            QVERIFY(skinLibrary() == nullptr);
            QVERIFY(QApplication::palette() == unskinned);
            QVERIFY(mappingsWithin(kPreferredBase, kPreferredBase + kLargestSpan).empty());
            QCOMPARE(anonymousCode(), code);
            // A later attach, the update window's, fails the same quiet way.
            QVERIFY(!attachProgramSkin());
            QVERIFY(skinLibrary() == nullptr);

            // The board answers and the side windows open.
            auto* slider = window->findChild<QSlider*>(QStringLiteral("滑块条1"));
            slider->setValue(40);
            QCOMPARE(window->findChild<QLabel*>(QStringLiteral("标签2"))->text(), QStringLiteral("40"));
            window->onToolbarButton(kToolbarNotepad);
            QVERIFY(qobject_cast<EditorWindow*>(runtime.openedWindow("editor")) != nullptr);
            QVERIFY(boxes.shown.isEmpty());

            for (QWidget* w : QApplication::topLevelWidgets())
                w->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        QVERIFY(boxes.shown.isEmpty());
    }
};

QINGHE_WINDOW_TEST_MAIN(SkinAbsentTest)
#include "skin_absent_test.moc"
