#include "addresses.h"

#include "address_file.h"
#include "base/file_bytes.h"
#include "base/program_places.h"
#include "site_host.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <array>

namespace qinghe {
namespace {

// An addresses.ini is a handful of lines; a file larger than this is not one.
constexpr qint64 kLargestAddressFile = 64 * 1024;

// The members in the order of kAddressKeys.
constexpr std::array<QString Addresses::*, kAddressKeys.size()> kAddressMembers = {
    &Addresses::site,  &Addresses::partner, &Addresses::download, &Addresses::music,
    &Addresses::video, &Addresses::lyrics,  &Addresses::contact,
};

// Values written into the program itself are taken as they are once they
// have a scheme; only outside values are held to the rules of the file.
QString baseOf(const QString& value)
{
    const std::string base = baseAddressOf(value.toStdString());
    if (!base.empty())
        return QString::fromStdString(base);
    return value.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                   value.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)
               ? value
               : QStringLiteral("http://") + value;
}

QString at(const QString& base, const QString& path)
{
    return base + path;
}

}  // namespace

Addresses Addresses::builtIn()
{
    Addresses a;
    a.site = baseOf(QStringLiteral(QINGHE_SITE_HOST));
    // Reserved example domains until partners are signed up.
    a.partner = QStringLiteral("http://partner.example.net");
    a.download = QStringLiteral("http://download.example.net");
    a.music = QStringLiteral("http://music.example.org");
    a.video = QStringLiteral("http://video.example.org");
    a.lyrics = QStringLiteral("http://lyrics.example.org");
    a.contact = QStringLiteral("http://chat.example.net");
    return a;
}

Addresses Addresses::allAt(const QString& hostAndPort)
{
    Addresses a;
    for (QString Addresses::*member : kAddressMembers)
        a.*member = baseOf(hostAndPort);
    return a;
}

void Addresses::applyConfiguration(std::string_view fileBytes)
{
    for (const AddressSetting& setting : readAddressFile(fileBytes))
        this->*kAddressMembers[setting.key] = QString::fromStdString(setting.base);
}

QStringList Addresses::configurationFolders()
{
    QStringList folders{QCoreApplication::applicationDirPath()};
    const QString configFolder = userConfigFolder();
    if (!configFolder.isEmpty())
        folders.append(configFolder);
    return folders;
}

Addresses Addresses::fromConfiguration()
{
    return fromConfiguration(configurationFolders());
}

Addresses Addresses::fromConfiguration(const QStringList& folders)
{
    Addresses a = builtIn();
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(QString::fromLatin1(kAddressFileName));
        const QFileInfo file(path);
        if (!file.isFile() || file.size() > kLargestAddressFile)
            continue;
        if (const std::optional<Text> bytes = readFileBytes(path))
            a.applyConfiguration(*bytes);
    }
    return a;
}

QString Addresses::siteHome() const { return at(site, QStringLiteral("/")); }
QString Addresses::contactPage() const { return at(contact, QStringLiteral("/chat?to=qinghe&site=qinghe")); }
QString Addresses::partnerPortal() const { return at(partner, QStringLiteral("/?aff=qinghe")); }
QString Addresses::partnerBonusPage() const { return at(partner, QStringLiteral("/bonus.html?id=qinghe")); }

QString Addresses::partnerInstaller(int number) const
{
    if (number < 1 || number > kPartnerInstallerCount)
        return {};
    return at(download, QStringLiteral("/soft/setup%1_qinghe.exe").arg(number));
}

QString Addresses::advertisingPage() const { return at(site, QStringLiteral("/ad.html")); }
QString Addresses::updatePage() const { return at(site, QStringLiteral("/updata.html")); }
QString Addresses::counterPage() const { return at(site, QStringLiteral("/tongji/online.asp")); }
QString Addresses::musicPlayerPage() const { return at(music, QStringLiteral("/player/")); }
QString Addresses::sidePage() const { return at(video, QStringLiteral("/")); }

QString Addresses::lyricsSearchPage() const
{
    return at(lyrics, QStringLiteral("/portal_v2/static/search_result.html?search_input="));
}

QString Addresses::lyricsPage() const
{
    return at(lyrics, QStringLiteral("/miniportal/player_lyrics.htm?songid="));
}

}  // namespace qinghe
