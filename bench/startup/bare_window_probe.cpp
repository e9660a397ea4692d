// The least a Qt program does to put a window of the board's size on screen:
// the floor under the board's start-up time.

#include <QApplication>
#include <QWidget>

namespace {

// The board's outer size.
constexpr int kWidth = 485;
constexpr int kHeight = 512;

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare window probe"));
    window.resize(kWidth, kHeight);
    window.show();
    return QApplication::exec();
}
