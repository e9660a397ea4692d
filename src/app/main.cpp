#include "startup.h"

#include "runtime/program_language.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    qinghe::prepareProcessForWebViews();
    QApplication app(argc, argv);
    // Qt's buttons and dialogs speak the program's language, not the desktop's.
    qinghe::loadQtChineseTexts();
    QGuiApplication::setDesktopFileName(QStringLiteral(QINGHE_APP_ID));
    return qinghe::runProgram();
}
