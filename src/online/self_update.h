#pragma once

// Whether the program may replace itself where it stands. A package
// manager's copy is the package manager's to update, and the updater never
// downloads into a folder it cannot write.

#include <QString>

namespace qinghe {

// Where dpkg lists the files of each installed package.
inline constexpr const char* kPackageFileLists = "/var/lib/dpkg/info";
// The name the program's package goes by.
inline constexpr const char* kProgramPackageName = "qinghe";

inline constexpr const char* kPackageManagerUpdateText = "请使用系统的软件包管理器更新本程序。";
inline constexpr const char* kUnwritableFolderUpdateText =
    "程序所在的文件夹不能写入，无法在这里更新。请到网站下载新版本。";

// True when the program's package lists programFile among its files (the
// path as it stands or with its links resolved).
bool installedByPackageManager(const QString& programFile, const QString& fileLists = QString::fromLatin1(kPackageFileLists));

// Why the program in programFolder may not update itself, as the box says
// it; empty when it may.
QString selfUpdateRefusal(const QString& programFile, const QString& programFolder,
                          const QString& fileLists = QString::fromLatin1(kPackageFileLists));

}  // namespace qinghe
