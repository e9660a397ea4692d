#pragma once

#include "board/sound_board.h"

#include <QFrame>

#include <chrono>
#include <memory>
#include <vector>

class QLabel;
class QProgressBar;
class QScrollArea;
class QStackedLayout;
class QTimer;
class QToolButton;
class QVBoxLayout;

namespace qinghe {

// The strip's kind in the main window's definition.
inline constexpr const char* kNowPlayingStripKind = "NowPlayingStrip";
inline constexpr const char* kNowPlayingRowDefinition = ":/parts/now_playing_row.ui";
// The rows a host can keep an eye on: as many as the board plays at once.
inline constexpr int kMostNowPlayingRows = kMostVoices;
// The strip is four rows tall whatever plays, so the window never jumps.
inline constexpr int kNowPlayingRowsInView = 4;
// A row follows its sound within a tenth of a second, which reads as at once.
inline constexpr std::chrono::milliseconds kNowPlayingRefresh{80};
// × lets the one sound go gently instead of cutting it mid-word.
inline constexpr std::chrono::milliseconds kNowPlayingStopFade{300};

// 正在播放: one row for each sound the board plays, the newest on top, up
// to kMostNowPlayingRows (the board stops its oldest before a ninth plays):
// its caption, how far it has come, the time it has left ("循环" for one that
// loops), "压低" and a dimmed bar while it is held under the host's voice,
// and × to fade that sound alone out. "正在播放：无" while nothing plays, and
// then no timer runs.
class NowPlayingStrip : public QFrame {
    Q_OBJECT

public:
    explicit NowPlayingStrip(QWidget* parent = nullptr);
    ~NowPlayingStrip() override;

    // Follows the board's sounds from now on; the board stays while the window lives.
    void follow(const SoundBoard& board);

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Row {
        QWidget* widget = nullptr;
        QLabel* caption = nullptr;
        QProgressBar* bar = nullptr;
        QLabel* mark = nullptr;
        QLabel* timeLeft = nullptr;
        QToolButton* stop = nullptr;
        VoiceId voice = kNoVoice;
        QString fullCaption;
    };

    void refresh();
    // The index-th row, made from its definition the first time it is needed; null when it cannot be.
    Row* row(int index);
    void showSound(Row& row, const SoundBoard::PlayingSound& sound, const VoiceProgress& progress);

    const SoundBoard* board_ = nullptr;
    QStackedLayout* pages_ = nullptr;
    QLabel* nothingPlaying_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QVBoxLayout* rowList_ = nullptr;
    QTimer* timer_ = nullptr;
    std::vector<std::unique_ptr<Row>> rows_;
};

// Lets the main window's definition hold the strip.
void registerNowPlayingStripControl();

}  // namespace qinghe
