#include "program_places.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace qinghe {

namespace {

// Names the running program's own file when there is no application object.
constexpr const char* kOwnProgramLink = "/proc/self/exe";
constexpr const char* kSettingsFileName = "my.ini";
constexpr const char* kProgramConfigName = "qinghe";

// From the program's folder to its data, as the install rules lay them out.
#ifndef QINGHE_DATA_FROM_PROGRAM
#define QINGHE_DATA_FROM_PROGRAM "../share/qinghe"
#endif

}  // namespace

QString programFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QString::fromLatin1(kOwnProgramLink)).canonicalFilePath()).absolutePath();
}

QString installedDataFolder(const QString& programFolder)
{
    return QDir::cleanPath(QDir(programFolder).absoluteFilePath(QStringLiteral(QINGHE_DATA_FROM_PROGRAM)));
}

bool runsFromInstalledTree(const QString& programFolder)
{
    return QFileInfo(installedDataFolder(programFolder)).isDir();
}

QString userConfigFolder()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    // An empty or relative value counts as unset, as the desktop's base directory rules say.
    if (configHome.isEmpty() || QDir::isRelativePath(configHome)) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty())
            return {};
        configHome = home + QStringLiteral("/.config");
    }
    return QDir::cleanPath(configHome + QLatin1Char('/') + QLatin1String(kProgramConfigName));
}

bool isWritableFolder(const QString& folder)
{
    // access() also answers for a read-only mount, where the mode bits would say yes to root.
    return QFileInfo(folder).isDir() && ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

QString settingsFileFor(const QString& programFolder)
{
    const QString besideProgram = QDir(programFolder).filePath(QLatin1String(kSettingsFileName));
    // An installed program keeps its hands off bin/, even for an administrator who could write there.
    if (!runsFromInstalledTree(programFolder) && isWritableFolder(programFolder))
        return besideProgram;
    const QString configFolder = userConfigFolder();
    if (configFolder.isEmpty())
        return besideProgram;
    return configFolder + QLatin1Char('/') + QLatin1String(kSettingsFileName);
}

bool prepareSettingsFolder(const QString& settingsFile)
{
    const QString folder = QFileInfo(settingsFile).absolutePath();
    if (QFileInfo(folder).isDir())
        return true;
    if (!QDir().mkpath(folder))
        return false;
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return true;
}

}  // namespace qinghe
