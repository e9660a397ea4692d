#pragma once

// Message box style numbers and answers as the program's handlers pass and
// receive them. Cores that ask the user something through a callback use
// them too, so they live below the window run-time.

namespace qinghe {

enum MessageBoxStyle : int {
    kBoxOk = 0,
    kBoxYesNo = 4,
    kBoxYesNoQuestion = 0x24,
    kBoxYesNoCancelExclamation = 0x33,
    kBoxOkExclamation = 0x30,
    kBoxOkInformation = 64,
};

// Added to a style: the second button (否 of 是/否) is the default, so Enter
// alone does not say yes.
inline constexpr int kBoxSecondButtonDefault = 0x100;

enum MessageBoxAnswer : int {
    kAnswerOk = 1,
    kAnswerCancel = 2,
    kAnswerYes = 6,
    kAnswerNo = 7,
};

}  // namespace qinghe
