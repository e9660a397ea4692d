#pragma once

#include "board/custom_sound_tables.h"
#include "board/slot_loudness.h"
#include "text/text.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace qinghe {

class MediaPlayer;

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
};

inline constexpr const char* kCustomSoundSection = "自定义音乐";
// Each slot's loudness gain in dB, key "按钮" + N; an empty value: no gain.
inline constexpr const char* kSlotLoudnessSection = "响度";

// my.ini: beside a portable program it may write in, else in the user's config folder.
QString defaultSettingsFile();

// What the board's buttons and slider do with the one player.
class SoundBoard {
public:
    SoundBoard(MediaPlayer& player, CustomSoundTables& tables, QString settingsFile, BoardSurface surface);

    // An effect button: cut off what plays, play the file from its start at the slider's volume.
    void playEffect(const Text& file);
    // A stop button: stop and rewind; the sound stays open.
    void stop();
    // The slider moved, or a custom button was handled: both channels at the slider's position.
    void applyVolume();
    // At start: slots 1..count from my.ini, with their names on the buttons.
    void restoreSlots(int count);
    // A custom button: play its file, or let the host assign one; then the volume.
    void customSlotClicked(int slot);
    // A file dropped on a custom button: assigned as the button's own dialog
    // assigns one, the name box opening with the file's name; a bound slot is
    // bound anew, unless the host cancels the name box. False, with nothing
    // changed, when the file does not open in the player.
    bool fileDropped(int slot, const Text& file);

private:
    void runSlotRoutine(int slot);
    void assignSlot(int slot, const Text& file, const std::optional<Text>& name);
    void measureSlot(int slot);
    void startAtSliderVolume(const Text& file, std::optional<double> loudnessGain = std::nullopt);
    Text slotKey(int slot, const char* suffix) const;

    MediaPlayer& player_;
    CustomSoundTables& tables_;
    QString settingsFile_;
    BoardSurface surface_;
    Text lastChosenFile_;
    // Slots' files are measured here; made with the first one.
    std::unique_ptr<LoudnessWorker> loudness_;
};

}  // namespace qinghe
