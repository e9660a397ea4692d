#pragma once

#include "board/custom_sound_tables.h"
#include "base/profile_document.h"
#include "board/slot_loudness.h"
#include "board/sound_style.h"
#include "media/engine/sound_engine.h"
#include "text/text.h"

#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace qinghe {

// What the board needs from its window: the slider, the custom buttons'
// captions, the two questions it asks the host, and a word when a slot the
// host bound could not be kept in my.ini.
struct BoardSurface {
    std::function<int()> volumePosition;  // the slider, 1..100
    std::function<void(int slot, const Text& caption)> setSlotCaption;
    std::function<Text(const Text& lastChoice)> askSoundFile;  // empty: cancelled
    // nullopt: cancelled. The edit field opens holding prefill.
    std::function<std::optional<Text>(const Text& prefill)> askSlotName;
    // The slot plays until the program ends, but the next start will not know it. May be empty.
    std::function<void(int slot)> slotNotSaved;
    // A file chosen or dropped for a slot will not play: why, for a box. May be empty.
    std::function<void(const QString& reason)> fileRefused;
    // A click or a remote call that played nothing: what went wrong, for the
    // board's status line. May be empty.
    std::function<void(const QString& message)> soundNotPlayed;
    // The desktop's double-click interval (most desktops' default until the
    // window tells): with 再次点击停止, a second click this soon after a
    // sound started is the host's double click, not a stop.
    std::chrono::milliseconds doubleClick{400};
};

// The host's words for a file that will not play ("找不到文件", ...).
QString soundFileProblemText(SoundFileProblem problem);

inline constexpr const char* kCustomSoundSection = "自定义音乐";
// A sound's own volume in whole dB: the key is a built-in effect's caption,
// or slotSoundKey(N) for custom slot N.
inline constexpr const char* kSoundVolumeSection = "音量";
inline constexpr int kLeastSoundVolumeDb = -30;
inline constexpr int kMostSoundVolumeDb = 10;
// "按钮N": a custom slot's key in the sections kept per sound.
Text slotSoundKey(int slot);
// Each slot's loudness gain in dB, key "按钮" + N; an empty value: no gain.
// Beside it, the file it was measured on and that file's peak: "按钮N" +
// kSlotFileBytesSuffix, kSlotFileTimeSuffix and kSlotPeakSuffix. A gain whose
// file is not the slot's file now is measured again.
inline constexpr const char* kSlotLoudnessSection = "响度";
inline constexpr const char* kSlotFileBytesSuffix = "size";
inline constexpr const char* kSlotFileTimeSuffix = "mtime";
inline constexpr const char* kSlotPeakSuffix = "peak";

// What a bound slot is called: its name, or when it has none its file's name
// without folder and extension, as the host knows the file. Empty for an
// empty slot.
Text slotShownName(const CustomSoundTables& tables, int slot);
// A custom button's caption: slotShownName, or "个性音效" for an empty slot.
Text slotCaption(const CustomSoundTables& tables, int slot);
// A custom button's tooltip: "按钮N", the number 声音设置 and --play-slot
// use, then the bound file's name, which a narrow caption may cut.
Text slotToolTip(const CustomSoundTables& tables, int slot);

// my.ini: beside a portable program it may write in, else in the user's config folder.
QString defaultSettingsFile();

// A second click's fade-out for a sound without one of its own: soft
// enough not to chop a word of a song, quick enough to feel like a stop.
inline constexpr std::chrono::milliseconds kSecondClickFade{300};

// What the board's buttons and slider do with the sound engine. Every sound
// plays at the slider's volume, its own volume and (a slot) its loudness
// gain, never pushed past full scale; a sound that is cut fades out.
class SoundBoard {
public:
    SoundBoard(CustomSoundTables& tables, QString settingsFile, BoardSurface surface);
    ~SoundBoard();
    SoundBoard(const SoundBoard&) = delete;
    SoundBoard& operator=(const SoundBoard&) = delete;

    // 叠加播放: on, a sound starts over those playing, up to kMostVoices
    // at once (the oldest stops for one more); off, as ever, a new sound
    // cuts the one before. Off at first. Either way a sound never plays
    // twice over itself: clicked while it plays, it starts again.
    void setOverlapping(bool on);
    bool overlapping() const { return overlapping_; }
    // 再次点击停止: on, a click on a sound that plays fades it out, over its
    // own fade-out or kSecondClickFade, instead of starting it again. Off at first.
    void setSecondClickStops(bool on);
    // How long 停止播放 fades every sound out; 0 cuts at once.
    void setStopFade(std::chrono::milliseconds fade);

    // The sound's loop, fades and 背景音乐 as its menu set them, read from
    // my.ini once.
    SoundStyle soundStyle(const Text& soundKey) const;
    // False when my.ini could not be written; the style holds for this run either way.
    bool setSoundStyle(const Text& soundKey, const SoundStyle& style);
    // How a click plays the sound: its style, and a bed when it loops, when
    // it is on the 音乐类音效 page, or when it is marked 背景音乐.
    VoiceShape voiceShape(const Text& soundKey) const;

    // An effect button: cut off what plays, play the file from its start at
    // the slider's volume and the sound's own, shaped by its style. Empty
    // when it plays (or was stopped), else why not, as the status line is told it.
    QString playEffect(const Text& file, const Text& soundKey = {});
    // 试听: the file at this volume of its own, for the host's ears alone
    // (never into the chat), plain (no loop, no fades), nothing stored.
    void previewSound(const Text& file, const Text& soundKey, int decibels);
    // A bound slot as its click plays it; an empty one opens no dialog and
    // plays nothing ("按钮N 还没有声音"). Empty when it plays, else why not,
    // as the status line is told it.
    QString playSlot(int slot);

    // The volume stored for the sound; 0 when there is none, or when what
    // my.ini holds is no whole number in kLeastSoundVolumeDb..kMostSoundVolumeDb.
    int soundVolumeDb(const Text& soundKey) const;
    // False when my.ini could not be written or decibels is out of range;
    // the volume holds for this run either way when in range.
    bool setSoundVolumeDb(const Text& soundKey, int decibels);

    // 更换声音文件…: the slot's own dialog (file, then name), as a click on an empty slot.
    void chooseSlotFile(int slot);
    // New caption on the button and in my.ini; false when my.ini could not be written.
    bool renameSlot(int slot, const Text& name);
    // Empties the slot: file, name and caption, and its keys in
    // [自定义音乐], [响度], [音量] and the style's sections. False when
    // my.ini could not be written.
    bool clearSlot(int slot);
    // A stop button: every sound the board plays fades out.
    void stop();
    // A sound the board plays now, as the host knows it.
    struct PlayingSound {
        VoiceId voice = kNoVoice;
        Text soundKey;    // the key its settings are kept under (see kSoundVolumeSection)
        QString caption;  // its button's caption
    };
    // The board's sounds that still play, in the order they started.
    std::vector<PlayingSound> playingSounds() const;
    // The slider moved, or a custom button was handled: both channels of
    // every sound the board plays at the slider's position.
    void applyVolume();
    // The engine's word that a voice ended: one of the board's whose file
    // broke off (found bad only once it began) is told on the status line.
    void voiceEnded(VoiceId voice, VoiceEnd end);
    // At start: slots 1..count from my.ini, with their names on the buttons.
    void restoreSlots(int count);
    // A custom button: play its file, or let the host assign one; then the volume.
    void customSlotClicked(int slot);
    // A file dropped on a custom button: assigned as the button's own dialog
    // assigns one, the name box opening with the file's name; a bound slot is
    // bound anew, unless the host cancels the name box. False, with nothing
    // changed, when the file will not play: the host is told why.
    bool fileDropped(int slot, const Text& file);

private:
    // What the board knows of a slot's file beyond its loudness gain.
    struct SlotFile {
        std::optional<FileStamp> stamp;     // the file the gain was measured on
        std::optional<double> peak;         // its peak, 1.0 full scale
        std::optional<FileStamp> measuring; // the file under measurement now
    };
    // A built-in effect's peak, measured when a boost first asks for it.
    struct EffectPeak {
        std::optional<double> peak;
        bool measuring = false;
    };

    void runSlotRoutine(int slot);
    QString playBoundSlot(int slot);
    // The host's choice in the slot's file dialog, once it is known to play; empty when cancelled or refused.
    Text askPlayableFile();
    bool refuseUnplayable(const Text& file);
    void assignSlot(int slot, const Text& file, const std::optional<Text>& name);
    void measureSlot(int slot);
    void forgetSlotLevels(int slot);
    void checkSlotFile(int slot);
    void restoreSlotLevels(int slot, const ProfileSnapshot& settings);
    std::optional<double> effectPeak(const Text& file);
    double effectGainDb(const Text& file, int decibels);
    QString startAtSliderVolume(const Text& file, const Text& soundKey, double gainDb,
                                Audience audience = Audience::Everyone);
    // A click on a sound that plays: true when it stopped the sound, or was a
    // double click's second half, and so starts nothing.
    bool answerSecondClick(const Text& soundKey, Audience audience);
    void stopAll(std::chrono::milliseconds fade);
    QString tellNotPlayed(const QString& message);
    VoiceGains gainsAtSlider(double gainDb) const;
    double slotGainDb(int slot, int decibels);
    Text slotKey(int slot, const char* suffix) const;
    LoudnessWorker& loudnessWorker();

    CustomSoundTables& tables_;
    QString settingsFile_;
    BoardSurface surface_;
    Text lastChosenFile_;
    // The volumes set in this run, read from my.ini once.
    mutable std::map<Text, int> soundVolumes_;
    std::array<SlotFile, kCustomSoundTableSize + 1> slotFiles_;
    std::map<Text, EffectPeak> effectPeaks_;
    bool overlapping_ = false;
    bool secondClickStops_ = false;
    std::chrono::milliseconds stopFade_{0};  // a cut, as ever, until the window hands the host's
    // The styles read or set in this run.
    mutable std::map<Text, SoundStyle> styles_;
    // The sounds the board started: each one's file, and the gain it plays at on top of the slider.
    struct StartedSound {
        Text file;
        double gainDb = 0;
        Text soundKey;
        Audience audience = Audience::Everyone;
        std::chrono::milliseconds fadeOut{0};
        std::chrono::steady_clock::time_point started;
    };
    std::map<VoiceId, StartedSound> voices_;
    // Slots' and effects' files are measured here; made with the first one.
    std::unique_ptr<LoudnessWorker> loudness_;
};

}  // namespace qinghe
