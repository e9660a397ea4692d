#include "addresses.h"

#include "site_host.h"

namespace qinghe {
namespace {

const QString kScheme = QStringLiteral("http://");

QString at(const QString& host, const QString& path)
{
    return kScheme + host + path;
}

}  // namespace

Addresses Addresses::builtIn()
{
    Addresses a;
    a.siteHost = QStringLiteral(QINGHE_SITE_HOST);
    // Reserved example domains until partners are signed up.
    a.partnerHost = QStringLiteral("partner.example.net");
    a.downloadHost = QStringLiteral("download.example.net");
    a.musicHost = QStringLiteral("music.example.org");
    a.videoHost = QStringLiteral("video.example.org");
    a.lyricsHost = QStringLiteral("lyrics.example.org");
    a.contactHost = QStringLiteral("chat.example.net");
    return a;
}

Addresses Addresses::allAt(const QString& hostAndPort)
{
    Addresses a;
    a.siteHost = a.partnerHost = a.downloadHost = a.musicHost = a.videoHost = a.lyricsHost = a.contactHost =
        hostAndPort;
    return a;
}

QString Addresses::siteHome() const { return at(siteHost, QStringLiteral("/")); }
QString Addresses::contactPage() const { return at(contactHost, QStringLiteral("/chat?to=qinghe&site=qinghe")); }
QString Addresses::partnerPortal() const { return at(partnerHost, QStringLiteral("/?aff=qinghe")); }
QString Addresses::partnerBonusPage() const { return at(partnerHost, QStringLiteral("/bonus.html?id=qinghe")); }

QString Addresses::partnerInstaller(int number) const
{
    if (number < 1 || number > kPartnerInstallerCount)
        return {};
    return at(downloadHost, QStringLiteral("/soft/setup%1_qinghe.exe").arg(number));
}

QString Addresses::advertisingPage() const { return at(siteHost, QStringLiteral("/ad.html")); }
QString Addresses::updatePage() const { return at(siteHost, QStringLiteral("/updata.html")); }
QString Addresses::counterPage() const { return at(siteHost, QStringLiteral("/tongji/online.asp")); }
QString Addresses::musicPlayerPage() const { return at(musicHost, QStringLiteral("/player/")); }
QString Addresses::sidePage() const { return at(videoHost, QStringLiteral("/")); }

QString Addresses::lyricsSearchPage() const
{
    return at(lyricsHost, QStringLiteral("/portal_v2/static/search_result.html?search_input="));
}

QString Addresses::lyricsPage() const
{
    return at(lyricsHost, QStringLiteral("/miniportal/player_lyrics.htm?songid="));
}

}  // namespace qinghe
