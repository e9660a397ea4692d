// A window of the board's size holding one web view, created and loaded
// before the window is shown: what a start costs when the window waits for
// the web engine.

#include <QApplication>
#include <QWebEngineView>
#include <QWidget>

#include <unistd.h>

namespace {

// The board's outer size and its web panel's place.
constexpr int kWidth = 485;
constexpr int kHeight = 512;
constexpr QRect kPanel(-5, 263, 520, 180);

}  // namespace

int main(int argc, char* argv[])
{
    // As the program does: no sandbox for root, one GL context shared by the views.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("web view probe"));
    window.resize(kWidth, kHeight);
    auto* view = new QWebEngineView(&window);
    view->setGeometry(kPanel);
    view->setHtml(QStringLiteral("<html><body><p>probe</p></body></html>"));
    window.show();
    return QApplication::exec();
}
