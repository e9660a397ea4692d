#pragma once

#include "board/custom_sound_tables.h"
#include "text/text.h"

#include <QString>

#include <functional>
#include <optional>

namespace qinghe {

class MediaPlayer;

// What the board needs from its window: the slider, the custom buttons'
// captions, and the two questions it asks the host.
struct BoardSurface {
    std::function<int()> volumePosition;  // the slider, 1..100
    std::function<void(int slot, const Text& caption)> setSlotCaption;
    std::function<Text(const Text& lastChoice)> askSoundFile;  // empty: cancelled
    std::function<std::optional<Text>()> askSlotName;          // nullopt: cancelled
};

inline constexpr const char* kCustomSoundSection = "自定义音乐";
inline constexpr const char* kSettingsFileName = "my.ini";

// my.ini beside the program.
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

private:
    void runSlotRoutine(int slot);
    void startAtSliderVolume(const Text& file);
    Text slotKey(int slot, const char* suffix) const;

    MediaPlayer& player_;
    CustomSoundTables& tables_;
    QString settingsFile_;
    BoardSurface surface_;
    Text lastChosenFile_;
};

}  // namespace qinghe
