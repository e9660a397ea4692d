#pragma once

#include <QString>
#include <QStringList>

#include <string_view>

namespace qinghe {

// Every web address the program uses, in one place. Each site is a base
// address: "http://" or "https://", the host with an optional port, and an
// optional path that the pages' own paths follow. The author's site comes
// from the build, the others are fixed here; addresses.ini may replace any
// of them at run time, and tests point them all at a local server.
struct Addresses {
    QString site;      // the author's web site: home, update page, counter
    QString partner;   // the partner portal and its bonus scheme
    QString download;  // the partner's installer downloads
    QString music;     // the outside web music player
    QString video;     // the outside page of the small side view
    QString lyrics;    // the music portal searched for lyrics
    QString contact;   // the instant-messaging web link

    bool operator==(const Addresses&) const = default;

    static Addresses builtIn();
    // All sites at one place, as a test server provides them: a host[:port]
    // (reached over http) or a base address.
    static Addresses allAt(const QString& hostAndPort);

    // The built-in addresses, then addresses.ini from the program's folder,
    // then from $XDG_CONFIG_HOME/qinghe/ (~/.config/qinghe/ when that is
    // unset): a later file wins key by key; a missing file, key or readable
    // line keeps what stood before. Needs the application object.
    static Addresses fromConfiguration();
    // The same with the folders named, read in their order.
    static Addresses fromConfiguration(const QStringList& folders);
    // The folders fromConfiguration() reads, in their order.
    static QStringList configurationFolders();
    // The accepted lines of one addresses.ini's bytes applied in their order.
    void applyConfiguration(std::string_view fileBytes);

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
inline constexpr const char* kAddressFileName = "addresses.ini";

}  // namespace qinghe
