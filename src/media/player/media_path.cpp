#include "media_path.h"

#include "text/gbk.h"

#include <QDir>
#include <QFileInfo>

namespace qinghe {

namespace {

bool isFile(const QString& path)
{
    return QFileInfo(path).isFile();
}

}  // namespace

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
    const QString folder = programFolder();
    const QString besideProgram = QDir(folder).absoluteFilePath(name);
    if (isFile(besideProgram))
        return besideProgram;
    const QString installed = QDir(installedDataFolder(folder)).absoluteFilePath(name);
    if (isFile(installed))
        return installed;
    return {};
}

}  // namespace qinghe
