#include "search/sound_search.h"

#include "board/sound_catalogue.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace qinghe;

namespace {

QStringList captionsFound(const SoundSearch& search, QStringView query)
{
    QStringList captions;
    for (const std::size_t index : search.find(query))
        captions << search.entries()[index].caption;
    return captions;
}

QString slotNamedOnlyThird(int slot) { return slot == 3 ? QStringLiteral("开场白") : QString(); }

}  // namespace

TEST(SoundSearch, findsAnEffectByItsCaptionAndByThePinyinInitialsOfIt)
{
    const SoundSearch search(boardSearchEntries(slotNamedOnlyThird));
    for (const char* query : {"哄堂", "htdx", "HTDX", "堂d", "大笑"}) {
        const QStringList found = captionsFound(search, QString::fromUtf8(query));
        EXPECT_TRUE(found.contains(QStringLiteral("哄堂大笑"))) << query;
    }
    EXPECT_EQ(captionsFound(search, u"htdx").value(0), QStringLiteral("哄堂大笑"));
    // A bound slot is found by its name; Latin captions by either case.
    EXPECT_EQ(captionsFound(search, u"kcb"), QStringList{QStringLiteral("开场白")});
    EXPECT_TRUE(captionsFound(search, u"mcjx").contains(QStringLiteral("Mc教学鼓")));
    EXPECT_TRUE(captionsFound(search, u"htdxz").isEmpty());
}

TEST(SoundSearch, aCharacterReadTwoWaysMatchesByEitherAndCaptionStartsComeFirst)
{
    const std::uint32_t xing = pinyinInitials(U'行');
    EXPECT_NE(xing & (1u << ('x' - 'a')), 0u);
    EXPECT_NE(xing & (1u << ('h' - 'a')), 0u);
    EXPECT_EQ(pinyinInitials(U'a'), 0u);

    const SoundSearch search({{QStringLiteral("银行到账"), QStringLiteral("按钮1")},
                              {QStringLiteral("行走脚步"), QStringLiteral("按钮2")}});
    EXPECT_EQ(captionsFound(search, u"xz"), QStringList{QStringLiteral("行走脚步")});
    EXPECT_EQ(captionsFound(search, u"hz"), QStringList{QStringLiteral("行走脚步")});
    EXPECT_EQ(captionsFound(search, u"yh"), QStringList{QStringLiteral("银行到账")});
    EXPECT_EQ(captionsFound(search, u"yx"), QStringList{QStringLiteral("银行到账")});
    // The caption that starts with the query leads; the rest keep their order.
    EXPECT_EQ(captionsFound(search, u"h"), (QStringList{QStringLiteral("行走脚步"), QStringLiteral("银行到账")}));
}

TEST(SoundSearch, entriesHoldEveryEffectOnceAndOnlyTheBoundSlots)
{
    const std::vector<SearchEntry> entries = boardSearchEntries(slotNamedOnlyThird);
    QSet<QString> effects;
    QString thirdSlot;
    for (const BoardButton& button : boardCatalogue()) {
        if (button.action == BoardAction::PlayEffect)
            effects.insert(QString::fromUtf8(button.caption.data(), static_cast<qsizetype>(button.caption.size())));
        if (button.slot == 3)
            thirdSlot = QString::fromUtf8(button.name.data(), static_cast<qsizetype>(button.name.size()));
    }
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(effects.size()) + 1);
    EXPECT_EQ(entries.back().caption, QStringLiteral("开场白"));
    EXPECT_EQ(entries.back().control, thirdSlot);
    for (const SearchEntry& entry : entries)
        EXPECT_NE(entry.caption, QStringLiteral("停止播放"));
    // Every entry is found by its own caption, and an empty query lists them all.
    const SoundSearch search(entries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::vector<std::size_t> found = search.find(entries[i].caption);
        EXPECT_NE(std::find(found.begin(), found.end(), i), found.end()) << entries[i].caption.toStdString();
    }
    EXPECT_EQ(search.find(u"").size(), entries.size());
}

TEST(SoundSearch, oddInputFindsNothing)
{
    const SoundSearch search(boardSearchEntries(slotNamedOnlyThird));
    QString loneSurrogates;
    loneSurrogates += QChar(0xD800);
    loneSurrogates += QChar(0xDFFF);
    loneSurrogates += QStringLiteral("哄");
    const QString queries[] = {QString(10 * 1024, QLatin1Char('h')), QStringLiteral("😀"), QStringLiteral("\x01\x1b\t"),
                               QString(1, QChar(0)), loneSurrogates, QStringLiteral("\U0010FFFF"),
                               QString::fromUtf8("\xff\xfe\xc3")};
    for (const QString& query : queries)
        EXPECT_TRUE(search.find(query).empty()) << query.size();
    EXPECT_TRUE(SoundSearch().find(u"htdx").empty());
}
