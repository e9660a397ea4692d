#pragma once

#include <QString>

namespace qinghe {

// Every web address the program uses, in one place. The hosts are
// configuration: the author's site comes from the build, the others are
// fixed here; tests point them all at a local server.
struct Addresses {
    QString siteHost;       // the author's web site, host[:port]
    QString partnerHost;    // the partner portal and its bonus scheme
    QString downloadHost;   // the partner's installer downloads
    QString musicHost;      // the outside web music player
    QString videoHost;      // the outside page of the small side view
    QString lyricsHost;     // the music portal searched for lyrics
    QString contactHost;    // the instant-messaging web link

    static Addresses builtIn();
    // All hosts at one place, as a test server provides them.
    static Addresses allAt(const QString& hostAndPort);

    QString siteHome() const;
    QString contactPage() const;
    QString partnerPortal() const;
    QString partnerBonusPage() const;
    // Installer number 1 to 8; empty outside that range.
    QString partnerInstaller(int number) const;
    QString advertisingPage() const;
    QString updatePage() const;
    QString counterPage() const;
    QString musicPlayerPage() const;
    QString sidePage() const;
    QString lyricsSearchPage() const;  // the query text follows
    QString lyricsPage() const;        // the song id follows
};

inline constexpr int kPartnerInstallerCount = 8;

}  // namespace qinghe
