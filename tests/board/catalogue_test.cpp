#include "board/sound_catalogue.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace qinghe {
namespace {

TEST(SoundCatalogue, NamesAreTheButtonsOneTo126EachOnce)
{
    std::set<std::string> names;
    for (const BoardButton& b : boardCatalogue())
        names.insert(std::string(b.name));
    ASSERT_EQ(names.size(), 126u);
    for (int n = 1; n <= 126; ++n)
        EXPECT_TRUE(names.count("按钮" + std::to_string(n))) << n;
}

TEST(SoundCatalogue, EveryPageFillsItsGridOnceWithAStopInTheLastCell)
{
    std::map<int, std::set<std::pair<int, int>>> cells;
    std::map<int, int> effects;
    for (const BoardButton& b : boardCatalogue()) {
        ASSERT_GE(b.row, 1);
        ASSERT_LE(b.row, 3);
        ASSERT_GE(b.column, 1);
        ASSERT_LE(b.column, 6);
        EXPECT_TRUE(cells[b.page].insert({b.row, b.column}).second) << b.name;
        const bool lastCell = b.row == 3 && b.column == 6;
        if (b.page < kCustomSlotPage) {
            EXPECT_EQ(b.action == BoardAction::Stop, lastCell) << b.name;
            if (b.action == BoardAction::Stop) {
                EXPECT_EQ(b.caption, "停止播放");
            }
        }
        if (b.action == BoardAction::PlayEffect)
            ++effects[b.page];
    }
    ASSERT_EQ(cells.size(), 7u);
    for (const auto& [page, grid] : cells)
        EXPECT_EQ(grid.size(), 18u) << page;
    for (int page = 0; page < kCustomSlotPage; ++page)
        EXPECT_EQ(effects[page], 17) << page;
}

TEST(SoundCatalogue, NinetyFiveFilesOfWhichSevenServeTwoButtons)
{
    std::map<std::string, int> uses;
    for (const BoardButton& b : boardCatalogue()) {
        if (b.action != BoardAction::PlayEffect) {
            EXPECT_TRUE(b.effectFile.empty());
            continue;
        }
        EXPECT_EQ(b.effectFile.substr(0, 5), "data\\") << b.name;
        EXPECT_EQ(b.effectFile.substr(b.effectFile.size() - 4), ".mp3") << b.name;
        ++uses[std::string(b.effectFile)];
    }
    EXPECT_EQ(uses.size(), 95u);
    std::set<std::string> shared;
    for (const auto& [file, count] : uses) {
        EXPECT_LE(count, 2) << file;
        if (count == 2)
            shared.insert(file);
    }
    EXPECT_EQ(shared, (std::set<std::string>{"data\\xwpt.mp3", "data\\qzxs.mp3", "data\\drxs.mp3", "data\\hhzs.mp3",
                                             "data\\jjzs.mp3", "data\\jxxr.mp3", "data\\drqs.mp3"}));
}

TEST(SoundCatalogue, CustomSlotsRunInReadingOrderOnTheLastPage)
{
    std::set<int> slots;
    for (const BoardButton& b : boardCatalogue()) {
        if (b.action != BoardAction::CustomSlot) {
            EXPECT_EQ(b.slot, 0);
            continue;
        }
        EXPECT_EQ(b.page, kCustomSlotPage);
        EXPECT_EQ(b.caption, "个性音效");
        EXPECT_EQ(b.slot, (b.row - 1) * 6 + b.column);
        slots.insert(b.slot);
    }
    EXPECT_EQ(slots.size(), 18u);
    EXPECT_EQ(*slots.begin(), 1);
    EXPECT_EQ(*slots.rbegin(), 18);
}

TEST(SoundCatalogue, GridPositionsAreEightyAndThirtyFivePixelsApart)
{
    EXPECT_EQ(boardButtonLeft(1), 8);
    EXPECT_EQ(boardButtonLeft(6), 408);
    EXPECT_EQ(boardButtonTop(1), 35);
    EXPECT_EQ(boardButtonTop(3), 105);
}

}  // namespace
}  // namespace qinghe
