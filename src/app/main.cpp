#include "startup.h"

#include "remote/board_remote.h"
#include "runtime/program_language.h"

#include <QApplication>
#include <QTextStream>

namespace {

// A start with options ("--stop" and the like) is the remote: it calls the
// running board and ends, without a window of its own. Qt's own options
// (one dash) still go to a board.
int callRunningBoard(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream errors(stderr);
    return qinghe::runRemoteCommand(QCoreApplication::arguments().mid(1), QStringLiteral(QINGHE_APP_ID), errors);
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && qinghe::isRemoteCommand({QString::fromLocal8Bit(argv[1])}))
        return callRunningBoard(argc, argv);
    qinghe::prepareProcessForWebViews();
    qinghe::preferNativeWayland();
    QApplication app(argc, argv);
    // Qt's buttons and dialogs speak the program's language, not the desktop's.
    qinghe::loadQtChineseTexts();
    QGuiApplication::setDesktopFileName(QStringLiteral(QINGHE_APP_ID));
    return qinghe::runProgram();
}
