#include "updater.h"

#include "net/file_name.h"
#include "text/gbk.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cmath>

namespace qinghe {
namespace {

// The page's entries with their markers (full-width parentheses).
constexpr const char* kDownloadAddressOpen = "下载地址（";
constexpr const char* kDownloadAddressClose = "）结束下载地址";
constexpr const char* kRunNameOpen = "运行名（";
constexpr const char* kRunNameClose = "）结束运行名";
constexpr const char* kDeleteNameOpen = "删除名（";
constexpr const char* kDeleteNameClose = "）结束删除名";

constexpr double kBytesPerKilobyte = 1024.0;
// Two decimals are shown: the value is rounded on hundredths.
constexpr double kHundredths = 100.0;
constexpr int kWholePercent = 100;

// Our texts are written here in UTF-8; the page speaks GBK.
Text gbk(const char* utf8)
{
    return fromQString(QString::fromUtf8(utf8));
}

Text entry(std::string_view page, const char* open, const char* close)
{
    return textBetween(page, gbk(open), gbk(close));
}

}  // namespace

UpdateEntries readUpdateEntries(std::string_view page)
{
    return {entry(page, kDownloadAddressOpen, kDownloadAddressClose), entry(page, kRunNameOpen, kRunNameClose),
            entry(page, kDeleteNameOpen, kDeleteNameClose)};
}

Text downloadFileName(std::string_view address)
{
    const std::size_t slash = address.rfind('/');
    return plainFileName(slash == std::string_view::npos ? address : address.substr(slash + 1));
}

QString fileBesideProgram(const QString& folder, std::string_view name)
{
    const Text plain = plainFileName(name);
    if (plain.empty() || folder.isEmpty())
        return {};
    // The same conversion as the download service's, so a name deleted or
    // started is the very file a download of that name writes.
    return QDir(folder).filePath(nameToQString(plain));
}

void deleteBesideProgram(const QString& folder, std::string_view name)
{
    const QString path = fileBesideProgram(folder, name);
    if (!path.isEmpty())
        QFile::remove(path);
}

bool startBesideProgram(const QString& folder, std::string_view name)
{
    const QString path = fileBesideProgram(folder, name);
    if (path.isEmpty())
        return false;
    // The new build finds its data beside it, as the old one did.
    return QProcess::startDetached(path, {}, folder);
}

Text kilobytesText(double bytes)
{
    return numberToText(std::round(bytes / kBytesPerKilobyte * kHundredths) / kHundredths);
}

int downloadPercent(std::int64_t downloaded, double total)
{
    if (!(total > 0))
        return 0;
    const double percent = std::trunc(static_cast<double>(downloaded) / total * kWholePercent);
    if (percent <= 0)
        return 0;
    return percent >= kWholePercent ? kWholePercent : static_cast<int>(percent);
}

}  // namespace qinghe
