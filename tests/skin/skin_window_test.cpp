// The skin on the program's windows: the main window attaches it when it is
// created, windows opened later carry it, a shift re-colours them, and the
// colours the program fixes stay as they are.

#include "skin_image.h"

#include "runtime/window_runtime.h"
#include "editor/edit_box.h"
#include "editor/editor_window.h"
#include "skin/mapped_library.h"
#include "skin/skin_abi.h"
#include "skin/skin_binding.h"
#include "support/local_http_server.h"
#include "support/window_test_main.h"
#include "ui/main_window.h"

#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>

using namespace qinghe;

namespace {

constexpr std::uintptr_t kPreferredBase = 0x10000000;
// One step of a colour channel: what rounding in the library may move a colour by.
constexpr int kChannelStep = 1;
// Degrees a turned hue may stray from its target through that rounding.
constexpr int kHueSlack = 2;
// Value steps between text and its surface below which 9-point text gets hard to read.
constexpr int kLegibleContrast = 96;

QColor skinColour(SkinRole role)
{
    return QColor::fromRgb(skinFileColours().at(role));
}

// Roles and the palette places they land in.
const std::vector<std::pair<SkinRole, QPalette::ColorRole>> kCheckedRoles = {
    {kSkinWindow, QPalette::Window},       {kSkinWindowText, QPalette::WindowText},
    {kSkinBase, QPalette::Base},           {kSkinText, QPalette::Text},
    {kSkinButton, QPalette::Button},       {kSkinButtonText, QPalette::ButtonText},
    {kSkinHighlight, QPalette::Highlight}, {kSkinHighlightedText, QPalette::HighlightedText},
};

bool carriesTheSkinFile(const QWidget* widget)
{
    for (const auto& [skinRole, role] : kCheckedRoles) {
        if (widget->palette().color(QPalette::Active, role) != skinColour(skinRole)) {
            qWarning() << widget->objectName() << role << widget->palette().color(role) << skinColour(skinRole);
            return false;
        }
    }
    return true;
}

QList<QColor> paletteColours()
{
    QList<QColor> colours;
    const QPalette palette = QApplication::palette();
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        for (auto group : {QPalette::Active, QPalette::Disabled})
            colours << palette.color(group, static_cast<QPalette::ColorRole>(role));
    }
    return colours;
}

int hueDistance(int a, int b)
{
    const int d = std::abs(a - b) % 360;
    return std::min(d, 360 - d);
}

// How many pixels of the widget's drawing have exactly this colour.
int pixelsOf(QWidget* widget, const QColor& colour)
{
    const QImage image = widget->grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).rgb() == colour.rgb() ? 1 : 0;
    }
    return count;
}

}  // namespace

class SkinWindowTest : public QObject {
    Q_OBJECT

    LocalHttpServer site_;
    QTemporaryDir settings_;
    CustomSoundTables tables_;
    std::unique_ptr<WindowRuntime> runtime_;
    QPointer<MainWindow> window_;

    template <class T>
    T* find(QWidget* window, const char* name) const
    {
        return window->findChild<T*>(QString::fromUtf8(name));
    }

    EditorWindow* openEditor()
    {
        window_->onToolbarButton(kToolbarNotepad);
        return qobject_cast<EditorWindow*>(runtime_->openedWindow("editor"));
    }

private slots:
    void initTestCase()
    {
        site_.setPage("/ad.html", "<html><body>广告</body></html>", "text/html; charset=utf-8");
        QVERIFY(skinLibrary() == nullptr);
        const QPalette unskinned = QApplication::palette();
        runtime_ = std::make_unique<WindowRuntime>();
        MainWindowContext context{*runtime_,
                                  tables_,
                                  Addresses::allAt(site_.hostAndPort()),
                                  settings_.filePath("my.ini"),
                                  [] { return true; }};
        window_ = MainWindow::open(context);
        QVERIFY(window_ != nullptr);
        QVERIFY(QApplication::palette() != unskinned);
    }

    void cleanupTestCase()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runtime_.reset();
    }

    void mainWindowAttachesTheSkinUnshiftedWhenCreated()
    {
        const MappedLibrary* library = skinLibrary();
        QVERIFY(library != nullptr);
        QCOMPARE(library->base(), kPreferredBase);
        QCOMPARE(QApplication::style()->name().toLower(), QStringLiteral("fusion"));
        QVERIFY(carriesTheSkinFile(window_));
        // Labels that once carried a black of their own now take the skin's text colour.
        for (const char* name : {"标签1", "标签2", "标签3", "标签5", "检查更新"})
            QCOMPARE(find<QLabel>(window_, name)->palette().color(QPalette::WindowText), skinColour(kSkinWindowText));
        QVERIFY(carriesTheSkinFile(find<QPushButton>(window_, "按钮1")));
    }

    void theNewVersionNoticeStaysRed()
    {
        auto* notice = find<QLabel>(window_, "新版本");
        notice->setText(QStringLiteral("发现新版本"));
        QCOMPARE(notice->palette().color(QPalette::WindowText), QColor(Qt::red));
        QVERIFY(pixelsOf(notice, Qt::red) > 0);
        notice->clear();
    }

    void thePartnerAppealStaysWhiteOnGreen()
    {
        find<QAction>(window_, "赞助我们")->trigger();
        QPointer<RuntimeWindow> partner = runtime_->openedWindow("partner");
        QVERIFY(partner != nullptr);
        QVERIFY(carriesTheSkinFile(partner));
        auto* appeal = find<QLabel>(partner, "标签1");
        const QColor green(0, 128, 0);
        const int area = appeal->width() * appeal->height();
        QVERIFY(pixelsOf(appeal, green) > area / 2);
        QVERIFY(pixelsOf(appeal, Qt::white) > 0);
        partner->close();
        QTRY_VERIFY(partner.isNull());
    }

    void aSecondAttachMapsNothingNew()
    {
        const MappedLibrary* library = skinLibrary();
        const std::set<std::string> before = mappingsWithin(library->base(), library->base() + library->mappedSize());
        const int code = anonymousCode();
        QVERIFY(attachProgramSkin());
        QCOMPARE(skinLibrary(), library);
        QCOMPARE(mappingsWithin(library->base(), library->base() + library->mappedSize()), before);
        // A second copy would have had to go elsewhere, as code of its own.
        QCOMPARE(anonymousCode(), code);
        QVERIFY(carriesTheSkinFile(window_));
    }

    void aWindowOpenedLaterCarriesTheSkinAndAHueShiftRecoloursIt()
    {
        QPointer<EditorWindow> editor = openEditor();
        QVERIFY(editor != nullptr);
        QVERIFY(carriesTheSkinFile(editor));
        QVERIFY(carriesTheSkinFile(editor->editBox()));
        const QColor window = editor->palette().color(QPalette::Window);
        const QColor text = editor->editBox()->palette().color(QPalette::Text);

        QVERIFY(adjustSkin(120, 0));
        const QColor turned = editor->palette().color(QPalette::Window);
        QVERIFY(turned != window);
        QVERIFY(hueDistance(turned.hsvHue(), (window.hsvHue() + 120) % 360) <= kHueSlack);
        QVERIFY(std::abs(turned.value() - window.value()) <= kChannelStep);
        // Text keeps its lightness, so it stays readable on the turned surfaces.
        const QColor turnedText = editor->editBox()->palette().color(QPalette::Text);
        QVERIFY(std::abs(turnedText.value() - text.value()) <= kChannelStep);
        QVERIFY(turnedText.value() + kLegibleContrast < turned.value());

        QVERIFY(adjustSkin(0, -60));
        QVERIFY(editor->palette().color(QPalette::Window).value() < window.value());

        QVERIFY(adjustSkin(0, 0));
        QVERIFY(carriesTheSkinFile(editor));
        editor->close();
        QTRY_VERIFY(editor.isNull());
    }

    void attachClampsHueAndBrightness()
    {
        const auto file = programSkinFile();
        QVERIFY(attachSkin(file, 250, -130));
        const QList<QColor> clamped = paletteColours();
        QVERIFY(attachSkin(file, 180, -100));
        QCOMPARE(paletteColours(), clamped);
        // The library itself takes any shift; unclamped, these would look different.
        QVERIFY(adjustSkin(250, -130));
        QVERIFY(paletteColours() != clamped);
        QVERIFY(attachSkin(file, -360, 1000));
        const QList<QColor> otherEnd = paletteColours();
        QVERIFY(attachSkin(file, -180, 100));
        QCOMPARE(paletteColours(), otherEnd);

        QVERIFY(attachProgramSkin());
        QVERIFY(carriesTheSkinFile(window_));
    }

    void aSkinTheLibraryRefusesChangesNothing()
    {
        const auto file = programSkinFile();
        std::vector<std::uint8_t> spoilt(file.begin(), file.end());
        spoilt.at(kSkinHeaderSize + 2) ^= 0xFF;  // a colour the checksum no longer agrees with
        const QList<QColor> before = paletteColours();
        QVERIFY(!attachSkin(spoilt));
        QCOMPARE(paletteColours(), before);
        QVERIFY(carriesTheSkinFile(window_));
    }
};

QINGHE_WINDOW_TEST_MAIN(SkinWindowTest)
#include "skin_window_test.moc"
