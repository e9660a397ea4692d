#include "self_update.h"

#include "base/file_bytes.h"
#include "base/program_places.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace qinghe {

namespace {

// A package's file list is a few dozen lines; a larger file is not ours.
constexpr std::size_t kLargestFileList = 1 << 20;

// The list file of our package: plain, or with the architecture dpkg adds
// for a package of several architectures.
QStringList packageFileLists(const QString& fileLists)
{
    const QDir folder(fileLists);
    const QString name = QString::fromLatin1(kProgramPackageName);
    QStringList lists{folder.filePath(name + QStringLiteral(".list"))};
    for (const QString& entry : folder.entryList({name + QStringLiteral(":*.list")}, QDir::Files, QDir::Name))
        lists.append(folder.filePath(entry));
    return lists;
}

bool listNames(const QString& listFile, const QStringList& paths)
{
    const std::optional<Text> bytes = readFileBytes(listFile, kLargestFileList);
    if (!bytes)
        return false;
    const QStringList lines = QString::fromUtf8(bytes->data(), static_cast<qsizetype>(bytes->size()))
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        if (paths.contains(line.trimmed()))
            return true;
    }
    return false;
}

}  // namespace

bool installedByPackageManager(const QString& programFile, const QString& fileLists)
{
    if (programFile.isEmpty())
        return false;
    QStringList paths{QDir::cleanPath(QFileInfo(programFile).absoluteFilePath())};
    const QString resolved = QFileInfo(programFile).canonicalFilePath();
    if (!resolved.isEmpty() && !paths.contains(resolved))
        paths.append(resolved);
    for (const QString& list : packageFileLists(fileLists)) {
        if (listNames(list, paths))
            return true;
    }
    return false;
}

QString selfUpdateRefusal(const QString& programFile, const QString& programFolder, const QString& fileLists)
{
    if (installedByPackageManager(programFile, fileLists))
        return QString::fromUtf8(kPackageManagerUpdateText);
    if (!isWritableFolder(programFolder))
        return QString::fromUtf8(kUnwritableFolderUpdateText);
    return {};
}

}  // namespace qinghe
