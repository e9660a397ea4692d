#include "media_path.h"

#include "text/gbk.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace qinghe {

namespace {

// Names the running program's own file when there is no application object.
constexpr const char* kOwnProgramLink = "/proc/self/exe";

bool isFile(const QString& path)
{
    return QFileInfo(path).isFile();
}

}  // namespace

QString programFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QString::fromLatin1(kOwnProgramLink)).canonicalFilePath())
        .absolutePath();
}

QString resolveMediaFile(const Text& elementName)
{
    QString name = nameToQString(elementName);
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.isEmpty())
        return {};
    if (QDir::isAbsolutePath(name))
        return isFile(name) ? name : QString();
    const QString here = QDir::current().absoluteFilePath(name);
    if (isFile(here))
        return here;
    const QString besideProgram = QDir(programFolder()).absoluteFilePath(name);
    if (isFile(besideProgram))
        return besideProgram;
    return {};
}

}  // namespace qinghe
