#include "update_rules.h"

#include "net/file_name.h"
#include "text/gbk.h"

#include <QFile>
#include <QFileInfo>
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
    address = address.substr(0, address.find_first_of("?#"));
    const std::size_t slash = address.rfind('/');
    return Text(slash == std::string_view::npos ? address : address.substr(slash + 1));
}

QString fileBesideProgram(const QString& folder, std::string_view name)
{
    if (!isOnePlainFileName(name) || folder.isEmpty())
        return {};
    // The same conversion as the download service's, so a name deleted or
    // started is the very file a download of that name writes. Joined by
    // hand: Qt takes a name starting with ":" for a path of its own.
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + nameToQString(name);
}

bool startProgramFile(const QString& path)
{
    // The new build finds its data beside it, as the old one did. A start
    // that the system refuses (not executable, no such program) says so.
    return !path.isEmpty() && QProcess::startDetached(path, {}, QFileInfo(path).absolutePath());
}

bool makeExecutable(const QString& path)
{
    QFile file(path);
    QFileDevice::Permissions permissions = file.permissions();
    if (permissions & QFileDevice::ReadOwner)
        permissions |= QFileDevice::ExeOwner | QFileDevice::ExeUser;
    if (permissions & QFileDevice::ReadGroup)
        permissions |= QFileDevice::ExeGroup;
    if (permissions & QFileDevice::ReadOther)
        permissions |= QFileDevice::ExeOther;
    return file.setPermissions(permissions);
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
