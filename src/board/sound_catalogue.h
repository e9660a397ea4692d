#pragma once

#include <array>
#include <string_view>

namespace qinghe {

// What a board button does when clicked.
enum class BoardAction { PlayEffect, Stop, CustomSlot };

struct BoardButton {
    std::string_view name;     // control name, the button's key
    std::string_view caption;  // shown text (UTF-8)
    int page;                  // 0..6
    int row;                   // 1..3
    int column;                // 1..6
    BoardAction action;
    std::string_view effectFile;  // "data\\xxx.mp3" for PlayEffect, empty otherwise
    int slot;                     // 1..18 for CustomSlot, 0 otherwise
};

inline constexpr int kBoardPageCount = 7;
inline constexpr int kBoardButtonCount = 126;
inline constexpr int kCustomSlotCount = 18;
inline constexpr int kCustomSlotPage = 6;
// "音乐类音效": its effects are music, and play as beds.
inline constexpr int kMusicPage = 5;
inline constexpr int kBoardButtonWidth = 72;
inline constexpr int kBoardButtonHeight = 22;
// What a custom button shows while its slot holds no file.
inline constexpr std::string_view kEmptySlotCaption = "个性音效";

// Page captions, page 0 first.
const std::array<std::string_view, kBoardPageCount>& boardPageCaptions();

// Every board button, in the order the pages and their grids are read.
const std::array<BoardButton, kBoardButtonCount>& boardCatalogue();

// Grid cell to position inside the tab control: columns 80 px apart from x 8,
// rows 35 px apart from y 35.
int boardButtonLeft(int column);
int boardButtonTop(int row);

}  // namespace qinghe
