#include "startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    qinghe::prepareProcessForWebViews();
    QApplication app(argc, argv);
    return qinghe::runProgram();
}
