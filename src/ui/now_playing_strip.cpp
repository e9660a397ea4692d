#include "now_playing_strip.h"

#include "media/engine/sound_engine.h"
#include "runtime/window_definition.h"

#include <QLabel>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace qinghe {
namespace {

constexpr const char* kNothingPlaying = "正在播放：无";
constexpr const char* kLooping = "循环";
constexpr const char* kDucked = "压低";
// The widest time a row makes room for at once; a longer one widens its row.
constexpr const char* kWidestTime = "00:00";
constexpr int kMsPerSecond = 1000;

// False when the label already says it.
bool setText(QLabel* label, const QString& text)
{
    if (label->text() == text)
        return false;
    label->setText(text);
    return true;
}

// A label as wide as the widest of the texts it shows, never narrower than it was.
void makeRoom(QLabel* label, std::initializer_list<QString> texts)
{
    int width = label->minimumWidth();
    for (const QString& text : texts)
        width = std::max(width, label->fontMetrics().horizontalAdvance(text) + 2 * (label->frameWidth() + label->margin()));
    if (width != label->minimumWidth())
        label->setFixedWidth(width);
}

int milliseconds(std::int64_t frames, int rate)
{
    return rate > 0 ? int(frames * kMsPerSecond / rate) : 0;
}

// "m:ss" of what is left, counting down: a sound still playing never reads 0:00.
QString timeLeftText(std::int64_t frames, int rate)
{
    if (rate <= 0 || frames < 0)
        return {};
    const std::int64_t seconds = (frames + rate - 1) / rate;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

NowPlayingStrip::NowPlayingStrip(QWidget* parent) : QFrame(parent)
{
    pages_ = new QStackedLayout(this);
    pages_->setContentsMargins(0, 0, 0, 0);
    nothingPlaying_ = new QLabel(QString::fromUtf8(kNothingPlaying), this);
    nothingPlaying_->setObjectName(QStringLiteral("正在播放提示"));
    nothingPlaying_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    nothingPlaying_->setContentsMargins(6, 3, 6, 0);
    pages_->addWidget(nothingPlaying_);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("正在播放列表"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidgetResizable(true);
    auto* list = new QWidget(scroll_);
    rowList_ = new QVBoxLayout(list);
    rowList_->setContentsMargins(0, 0, 0, 0);
    rowList_->setSpacing(0);
    rowList_->addStretch();
    scroll_->setWidget(list);
    pages_->addWidget(scroll_);

    // Runs only while something plays: an idle board costs nothing here.
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("正在播放刷新"));
    timer_->setInterval(kNowPlayingRefresh);
    connect(timer_, &QTimer::timeout, this, &NowPlayingStrip::refresh);
}

NowPlayingStrip::~NowPlayingStrip() = default;

void NowPlayingStrip::follow(const SoundBoard& board)
{
    board_ = &board;
    // Queued: a voice's start is told before the board has taken it in, and
    // its end may reach the board after the strip.
    SoundEngine& engine = SoundEngine::instance();
    connect(&engine, &SoundEngine::voiceStarted, this, &NowPlayingStrip::refresh, Qt::QueuedConnection);
    connect(&engine, &SoundEngine::voiceEnded, this, &NowPlayingStrip::refresh, Qt::QueuedConnection);
    refresh();
}

void NowPlayingStrip::showEvent(QShowEvent* event)
{
    QFrame::showEvent(event);
    refresh();
}

void NowPlayingStrip::refresh()
{
    // Hidden with the board in the notification area, it looks again when shown.
    if (!isVisible()) {
        timer_->stop();
        return;
    }
    const std::vector<SoundBoard::PlayingSound> sounds =
        board_ != nullptr ? board_->playingSounds() : std::vector<SoundBoard::PlayingSound>{};
    const SoundEngine& engine = SoundEngine::instance();
    const VoiceId newestBefore = !rows_.empty() && rows_.front()->widget->isVisibleTo(this) ? rows_.front()->voice : kNoVoice;
    int shown = 0;
    // The newest on top, so a sound just clicked is in view without scrolling.
    for (auto sound = sounds.rbegin(); sound != sounds.rend() && shown < kMostNowPlayingRows; ++sound) {
        const std::optional<VoiceProgress> progress = engine.progress(sound->voice);
        if (!progress)
            continue;
        Row* next = row(shown);
        if (next == nullptr)
            break;
        showSound(*next, *sound, *progress);
        ++shown;
    }
    for (std::size_t i = std::size_t(shown); i < rows_.size(); ++i) {
        rows_[i]->widget->hide();
        rows_[i]->voice = kNoVoice;
    }
    if (shown > 0 && rows_.front()->voice != newestBefore)
        scroll_->verticalScrollBar()->setValue(0);
    pages_->setCurrentWidget(shown > 0 ? static_cast<QWidget*>(scroll_) : nothingPlaying_);
    if (shown == 0)
        timer_->stop();
    else if (!timer_->isActive())
        timer_->start();
}

NowPlayingStrip::Row* NowPlayingStrip::row(int index)
{
    while (int(rows_.size()) <= index) {
        auto made = std::make_unique<Row>();
        Row& row = *made;
        row.widget = new QWidget(scroll_->widget());
        if (!loadWindowDefinition(row.widget, QString::fromUtf8(kNowPlayingRowDefinition))) {
            qWarning("%s cannot be loaded", kNowPlayingRowDefinition);
            delete row.widget;
            return nullptr;
        }
        row.widget->setObjectName(QStringLiteral("正在播放%1").arg(rows_.size() + 1));
        row.caption = row.widget->findChild<QLabel*>(QStringLiteral("名称"));
        row.bar = row.widget->findChild<QProgressBar*>(QStringLiteral("进度条"));
        row.mark = row.widget->findChild<QLabel*>(QStringLiteral("标记"));
        row.timeLeft = row.widget->findChild<QLabel*>(QStringLiteral("剩余时间"));
        row.stop = row.widget->findChild<QToolButton*>(QStringLiteral("停止"));
        if (!row.caption || !row.bar || !row.mark || !row.timeLeft || !row.stop) {
            qWarning("%s lacks a control", kNowPlayingRowDefinition);
            delete row.widget;
            return nullptr;
        }
        row.widget->setFixedHeight(height() / kNowPlayingRowsInView);
        makeRoom(row.mark, {QString::fromUtf8(kDucked)});
        makeRoom(row.timeLeft, {QString::fromUtf8(kLooping), QString::fromUtf8(kWidestTime)});
        connect(row.stop, &QToolButton::clicked, this, [this, &row] {
            SoundEngine::instance().stop(row.voice, kNowPlayingStopFade);
            // The row stays while its sound fades; a second click has nothing left to do.
            row.stop->setEnabled(false);
        });
        row.widget->hide();
        rowList_->insertWidget(rowList_->count() - 1, row.widget);
        rows_.push_back(std::move(made));
    }
    return rows_[std::size_t(index)].get();
}

void NowPlayingStrip::showSound(Row& row, const SoundBoard::PlayingSound& sound, const VoiceProgress& progress)
{
    if (row.voice != sound.voice) {
        row.voice = sound.voice;
        row.stop->setEnabled(true);
    }
    if (row.fullCaption != sound.caption || row.caption->text().isEmpty()) {
        row.fullCaption = sound.caption;
        // A long slot name keeps its start; the whole of it is the tooltip.
        row.caption->setText(row.caption->fontMetrics().elidedText(sound.caption, Qt::ElideRight,
                                                                    row.caption->maximumWidth()));
        row.caption->setToolTip(sound.caption);
    }
    const bool known = progress.length > 0 && progress.rate > 0;
    const int lengthMs = known ? milliseconds(progress.length, progress.rate) : 1;
    if (row.bar->maximum() != lengthMs)
        row.bar->setRange(0, lengthMs);
    row.bar->setValue(known ? std::clamp(milliseconds(progress.position, progress.rate), 0, lengthMs) : 0);
    // A bed under the host's voice is dimmed and says so.
    row.bar->setEnabled(!progress.ducked);
    setText(row.mark, progress.ducked ? QString::fromUtf8(kDucked) : QString());
    const QString left = progress.looping ? QString::fromUtf8(kLooping)
                         : known          ? timeLeftText(std::max<std::int64_t>(0, progress.length - progress.position),
                                                         progress.rate)
                                          : QString();
    if (setText(row.timeLeft, left))
        makeRoom(row.timeLeft, {left});
    row.widget->show();
}

void registerNowPlayingStripControl()
{
    registerControlKind(QString::fromLatin1(kNowPlayingStripKind),
                        [](QWidget* parent) -> QWidget* { return new NowPlayingStrip(parent); });
}

}  // namespace qinghe
