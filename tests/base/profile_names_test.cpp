// Names in my.ini: any name a desktop gives is stored and read back exactly
// (GB18030 for what GBK lacks), and what the platform's GBK functions wrote
// reads as it always did. iconv is asked for every fact about the encodings.

#include "base/private_profile.h"

#include "text/gbk.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <iconv.h>
#include <optional>
#include <random>
#include <string>

namespace qinghe {
namespace {

// The section and keys of slot 1, in GBK.
const Text kSection = "\xD7\xD4\xB6\xA8\xD2\xE5\xD2\xF4\xC0\xD6";  // 自定义音乐
const Text kPathKey = "\xB0\xB4\xC5\xA5" "1path";                    // 按钮1path
const Text kNameKey = "\xB0\xB4\xC5\xA5" "1name";                    // 按钮1name

// What iconv makes of bytes in one encoding, or nothing when it refuses them.
std::optional<std::string> iconvConvert(const std::string& bytes, const char* to, const char* from)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in = bytes;
    std::string out(bytes.size() * 4 + 8, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

std::optional<QString> iconvDecode(const std::string& bytes, const char* encoding)
{
    const auto utf8 = iconvConvert(bytes, "UTF-8", encoding);
    if (!utf8)
        return std::nullopt;
    return QString::fromStdString(*utf8);
}

std::optional<std::string> iconvEncode(const QString& text, const char* encoding)
{
    return iconvConvert(text.toStdString(), encoding, "UTF-8");
}

// Built by hand: QString::fromUcs4 would drop U+FEFF as a byte-order mark.
QString fromCodePoint(char32_t c)
{
    if (!QChar::requiresSurrogates(c))
        return QString(QChar(static_cast<char16_t>(c)));
    const QChar units[] = {QChar(QChar::highSurrogate(c)), QChar(QChar::lowSurrogate(c))};
    return QString(units, 2);
}

class ProfileNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder_.isValid());
        ini_ = folder_.filePath("my.ini");
    }

    std::string fileBytes() const
    {
        QFile file(ini_);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<missing>";
    }

    QTemporaryDir folder_;
    QString ini_;
};

// Korean, accented Latin, emoji, and each mixed with Chinese; also the kinds
// of character GB18030 spells in two bytes that GBK leaves unused (ḿ, a
// user-defined character, 𠂇) and one of plane 2 in four bytes (𠀀).
const char* const kNames[] = {
    "한국 café 😀.wav",
    "/home/主持人/音乐/한국어 노래 – Ærøskøbing 🎵.mp3",
    "掌声 ñ 한 🎉",
    "Ελληνικά Русский ไทย",
    "ḿ \xEE\x80\x80 𠂇 𠀀",
};

TEST_F(ProfileNames, AnyNameIsStoredInGb18030AndReadBackExactly)
{
    for (const char* utf8 : kNames) {
        const QString name = QString::fromUtf8(utf8);
        const Text stored = nameFromQString(name);
        ASSERT_TRUE(writeProfileString(ini_, kSection, kPathKey, stored)) << utf8;
        ASSERT_TRUE(writeProfileString(ini_, kSection, kNameKey, stored)) << utf8;
        EXPECT_EQ(nameToQString(readProfileString(ini_, kSection, kPathKey)), name) << utf8;
        EXPECT_EQ(nameToQString(readProfileString(ini_, kSection, kNameKey)), name) << utf8;
        // The bytes are what GB18030 makes of the name, question marks nowhere.
        EXPECT_EQ(std::optional<std::string>(stored), iconvEncode(name, "GB18030")) << utf8;
        EXPECT_EQ(fileBytes().find('?'), std::string::npos) << utf8;
    }
}

TEST_F(ProfileNames, WhatThePlatformsGbkFunctionsWroteReadsAsBefore)
{
    // The Chinese names of the store's own tests, written in GBK by iconv.
    for (const char* utf8 : {"D:\\音乐\\掌声 欢呼.mp3", "开场·掌声", "热烈掌声", "欢呼 € 1.wav"}) {
        const QString name = QString::fromUtf8(utf8);
        const auto gbk = iconvEncode(name, "GBK");
        ASSERT_TRUE(gbk) << utf8;
        ASSERT_TRUE(writeProfileString(ini_, kSection, kPathKey, *gbk));
        const Text read = readProfileString(ini_, kSection, kPathKey);
        EXPECT_EQ(read, *gbk);
        EXPECT_EQ(nameToQString(read), name) << utf8;
        // Written again by this program, the name is the same bytes.
        EXPECT_EQ(nameFromQString(name), *gbk) << utf8;
    }
}

TEST(NameConversion, EveryGbkSequenceReadsAsGbkReadsIt)
{
    int read = 0;
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = -1; trail <= 0xFF; ++trail) {
            std::string bytes(1, static_cast<char>(lead));
            if (trail >= 0)
                bytes += static_cast<char>(trail);
            const auto gbk = iconvDecode(bytes, "GBK");
            const QString name = nameToQString(bytes);
            ASSERT_EQ(nameFromQString(name), bytes) << lead << ' ' << trail;
            if (!gbk)
                continue;
            ++read;
            ASSERT_EQ(name, *gbk) << lead << ' ' << trail;
        }
    }
    EXPECT_GT(read, 21000);
    // 0x80 is the euro sign of GBK, even before a byte that would make it a
    // lead byte elsewhere; GB18030 has no single byte 0x80 and spells the euro
    // sign A2 E3, which therefore stays two bytes of their own here.
    EXPECT_EQ(iconvDecode("\x80" "a", "GBK"), QString::fromUtf8("€a"));
    EXPECT_EQ(nameToQString("\x80" "a"), QString::fromUtf8("€a"));
    EXPECT_FALSE(iconvDecode("\x80", "GB18030"));
    EXPECT_EQ(iconvDecode("\xA2\xE3", "GB18030"), QString::fromUtf8("€"));
    EXPECT_FALSE(iconvDecode("\xA2\xE3", "GBK"));
    EXPECT_NE(nameToQString("\xA2\xE3"), QString::fromUtf8("€"));
    EXPECT_EQ(nameFromQString(QString::fromUtf8("€")), "\x80");
}

TEST(NameConversion, WhatGbkLacksIsSpelledAsGb18030Spells)
{
    // Every character of the BMP and of planes 1 and 2, and a sample beyond.
    int spelled = 0;
    int unspellable = 0;
    for (char32_t c = 0x80; c <= 0x10FFFF; c += c < 0x30000 ? 1 : 97) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const QString name = fromCodePoint(c);
        const Text bytes = nameFromQString(name);
        const auto gbk = iconvEncode(name, "GBK");
        const auto gb18030 = iconvEncode(name, "GB18030");
        // iconv's GBK drops some characters it ignores (tags) without a byte.
        if (gbk && !gbk->empty()) {
            ASSERT_EQ(bytes, *gbk) << std::hex << static_cast<unsigned>(c);
        } else if (gb18030) {
            ASSERT_EQ(bytes, *gb18030) << std::hex << static_cast<unsigned>(c);
            ASSERT_FALSE(iconvDecode(bytes, "GBK")) << std::hex << static_cast<unsigned>(c);
            ++spelled;
        } else {
            // A few private-use characters GB18030 gives no bytes at all.
            ASSERT_EQ(bytes, "?") << std::hex << static_cast<unsigned>(c);
            ++unspellable;
            continue;
        }
        ASSERT_EQ(nameToQString(bytes), name) << std::hex << static_cast<unsigned>(c);
    }
    EXPECT_GT(spelled, 150000);
    EXPECT_LT(unspellable, 30);
}

TEST(NameConversion, BytesOfNoCharacterComeBackAsThemselves)
{
    // A lead byte without a character is kept as a lone surrogate.
    EXPECT_EQ(nameToQString("a\x81"), QString("a") + QChar(0xDC81));
    EXPECT_EQ(nameToQString("\x81" "0"), QString(QChar(0xDC81)) + "0");
    EXPECT_EQ(nameToQString("\xFF" "\xD6\xD0"), QString(QChar(0xDCFF)) + QString::fromUtf8("中"));
    // GB18030 reads 95 32 90 31 as 𠂇 but writes 𠂇 as FE 51: those four bytes
    // are kept as bytes, so that they too are written back as they were.
    const std::string older = "\x95\x32\x90\x31";
    EXPECT_EQ(iconvDecode(older, "GB18030"), QString::fromUtf8("𠂇"));
    EXPECT_EQ(iconvEncode(QString::fromUtf8("𠂇"), "GB18030"), std::optional<std::string>("\xFE\x51"));
    EXPECT_NE(nameToQString(older), QString::fromUtf8("𠂇"));
    EXPECT_EQ(nameFromQString(nameToQString(older)), older);
    std::mt19937 random(1234);
    for (int round = 0; round < 5000; ++round) {
        Text bytes(random() % 24, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 3 == 0 ? '0' + random() % 10 : 0x80 + random() % 0x80);
        ASSERT_EQ(nameFromQString(nameToQString(bytes)), bytes);
    }
}

}  // namespace
}  // namespace qinghe
