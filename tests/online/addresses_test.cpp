#include "online/addresses.h"

#include "net/net_test_support.h"
#include "online/address_file.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using qinghe::Addresses;

namespace {

// NetTest for its environment that is given back afterwards.
class AddressFile : public NetTest {
protected:
    // A folder with an addresses.ini holding content.
    QString folderWith(const QByteArray& content)
    {
        auto& dir = folders_.emplace_back(std::make_unique<QTemporaryDir>());
        QFile file(dir->filePath(QStringLiteral("addresses.ini")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return dir->path();
    }
    QString emptyFolder() { return folders_.emplace_back(std::make_unique<QTemporaryDir>())->path(); }

private:
    std::vector<std::unique_ptr<QTemporaryDir>> folders_;
};

TEST_F(AddressFile, AKeyReplacesItsBuiltInAddressOnly)
{
    Addresses expected = Addresses::builtIn();
    expected.lyrics = QStringLiteral("http://lyrics.test:8080");
    EXPECT_EQ(Addresses::fromConfiguration({folderWith("[addresses]\nlyrics = lyrics.test:8080\n")}), expected);
    EXPECT_EQ(expected.lyricsPage(), "http://lyrics.test:8080/miniportal/player_lyrics.htm?songid=");
}

TEST_F(AddressFile, WithoutAFileOrItsSectionEverythingStaysBuiltIn)
{
    const QString missing = emptyFolder() + QStringLiteral("/nowhere");
    const QString otherSection = folderWith("[elsewhere]\nsite = other.test\n");
    EXPECT_EQ(Addresses::fromConfiguration({emptyFolder(), missing, otherSection}), Addresses::builtIn());
}

TEST_F(AddressFile, MalformedLinesArePassedOverAndTheRestRead)
{
    const QString folder = folderWith("\xEF\xBB\xBF; our own site\r\n"
                                      "[Addresses]\r\n"
                                      "site = bad host\r\n"
                                      "partner\r\n"
                                      "[broken\r\n"
                                      "download = ftp://files.test\r\n"
                                      "music = http://music.test/a b\r\n"
                                      "video = http://video.test/?q\r\n"
                                      "weather = weather.test\r\n"
                                      "site = host.test:0\r\n"
                                      "LYRICS = lyrics.test:81\r\n"
                                      "contact=HTTPS://chat.test/qinghe/\r\n"
                                      "[other]\r\n"
                                      "partner = partner.test\r\n");
    Addresses expected = Addresses::builtIn();
    expected.lyrics = QStringLiteral("http://lyrics.test:81");
    expected.contact = QStringLiteral("https://chat.test/qinghe");
    EXPECT_EQ(Addresses::fromConfiguration({folder}), expected);
}

TEST_F(AddressFile, TheLaterFileWinsKeyByKey)
{
    const QString first = folderWith("[addresses]\nsite = first.test\nlyrics = first.test\n");
    const QString second = folderWith("[addresses]\nlyrics = second.test\n");
    const Addresses read = Addresses::fromConfiguration({first, second});
    EXPECT_EQ(read.site, "http://first.test");
    EXPECT_EQ(read.lyrics, "http://second.test");
}

TEST_F(AddressFile, SecureBaseAddressesCarryTheirSchemeAndPathToEveryPage)
{
    const Addresses read =
        Addresses::fromConfiguration({folderWith("[addresses]\nsite = https://secure.test:8443/qinghe/\n")});
    EXPECT_EQ(read.updatePage(), "https://secure.test:8443/qinghe/updata.html");
    EXPECT_EQ(read.counterPage(), "https://secure.test:8443/qinghe/tongji/online.asp");
    EXPECT_EQ(read.siteHome(), "https://secure.test:8443/qinghe/");
}

TEST_F(AddressFile, ValuesMustBeAHostAndPortOrAWebBaseAddress)
{
    const std::pair<const char*, const char*> values[] = {
        {"www.example.org", "http://www.example.org"},
        {"127.0.0.1:65535", "http://127.0.0.1:65535"},
        {"Http://Site.test/", "http://Site.test"},
        {"https://site.test/a/b//", "https://site.test/a/b"},
        {"host:0", ""},
        {"host:65536", ""},
        {"host:", ""},
        {"host:8o", ""},
        {"", ""},
        {"http://", ""},
        {"https://:80/", ""},
        {"http://user@host.test", ""},
        {"javascript:alert(1)", ""},
        {"host.test/path", ""},
        {"[::1]:80", ""},
        {"h\xC3\xB6st.test", ""},
    };
    for (const auto& [value, base] : values)
        EXPECT_EQ(qinghe::baseAddressOf(value), base) << value;
}

TEST_F(AddressFile, FilesAreReadBesideTheProgramThenInTheUsersConfiguration)
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    setEnvironment("XDG_CONFIG_HOME", "/config.test");
    EXPECT_EQ(Addresses::configurationFolders(), (QStringList{programFolder, "/config.test/qinghe"}));
    setEnvironment("XDG_CONFIG_HOME", {});
    setEnvironment("HOME", "/home.test");
    EXPECT_EQ(Addresses::configurationFolders(), (QStringList{programFolder, "/home.test/.config/qinghe"}));
}

}  // namespace
