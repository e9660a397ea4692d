#include "startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    qinghe::prepareProcessForWebViews();
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(QINGHE_APP_ID));
    return qinghe::runProgram();
}
