#include "sound_board.h"

#include "base/private_profile.h"
#include "base/program_places.h"
#include "media/media_player.h"
#include "text/gbk.h"

#include <QFileInfo>

namespace qinghe {
namespace {

constexpr int kFirstSlot = 1;

Text gbk(const char* utf8)
{
    return fromQString(QString::fromUtf8(utf8));
}

bool isSlot(int slot)
{
    return slot >= kFirstSlot && slot <= kCustomSoundTableSize;
}

// The file's name without its folder and its last extension.
Text baseName(const Text& file)
{
    return nameFromQString(QFileInfo(nameToQString(file)).completeBaseName());
}

}  // namespace

QString defaultSettingsFile()
{
    return settingsFileFor(programFolder());
}

SoundBoard::SoundBoard(MediaPlayer& player, CustomSoundTables& tables, QString settingsFile, BoardSurface surface)
    : player_(player), tables_(tables), settingsFile_(std::move(settingsFile)), surface_(std::move(surface))
{
}

void SoundBoard::playEffect(const Text& file)
{
    startAtSliderVolume(file);
    applyVolume();
}

void SoundBoard::startAtSliderVolume(const Text& file, std::optional<double> loudnessGain)
{
    player_.open(file);
    if (loudnessGain)
        player_.setLoudnessGain(*loudnessGain);
    // A new file starts at full volume; set the slider's first so the first
    // block cannot blare out before the volume after play takes hold.
    applyVolume();
    player_.play(-1);
}

void SoundBoard::stop()
{
    player_.stop();
}

void SoundBoard::applyVolume()
{
    const int left = surface_.volumePosition();
    const int right = surface_.volumePosition();
    player_.setVolume(left, right);
}

Text SoundBoard::slotKey(int slot, const char* suffix) const
{
    return gbk("按钮") + std::to_string(slot) + suffix;
}

void SoundBoard::restoreSlots(int count)
{
    const Text section = gbk(kCustomSoundSection);
    // One read of the file serves every key: the host may keep a long file.
    const ProfileSnapshot settings = readProfileSnapshot(settingsFile_);
    for (int slot = kFirstSlot; slot <= count && slot <= kCustomSoundTableSize; ++slot) {
        tables_.paths[slot] = readProfileString(settings, section, slotKey(slot, "path"));
        tables_.names[slot] = readProfileString(settings, section, slotKey(slot, "name"));
        tables_.loudnessGains[slot].reset();
        if (tables_.paths[slot].empty())
            continue;
        tables_.loudnessGains[slot] =
            loudnessGainFromText(readProfileString(settings, gbk(kSlotLoudnessSection), slotKey(slot, "")));
        surface_.setSlotCaption(slot, tables_.names[slot]);
    }
}

void SoundBoard::customSlotClicked(int slot)
{
    runSlotRoutine(slot);
    applyVolume();
}

void SoundBoard::runSlotRoutine(int slot)
{
    if (!isSlot(slot))
        return;
    if (!tables_.paths[slot].empty()) {
        startAtSliderVolume(tables_.paths[slot], tables_.loudnessGains[slot]);
        return;
    }
    // The dialog opens on the last confirmed choice, but a cancel assigns nothing.
    const Text chosen = surface_.askSoundFile(lastChosenFile_);
    if (chosen.empty())
        return;
    lastChosenFile_ = chosen;
    assignSlot(slot, chosen, surface_.askSlotName({}));
}

bool SoundBoard::fileDropped(int slot, const Text& file)
{
    if (!isSlot(slot) || !mediaFileOpens(file))
        return false;
    const bool bound = !tables_.paths[slot].empty();
    const std::optional<Text> name = surface_.askSlotName(baseName(file));
    // A stray drop on a bound slot must be undoable: there the name box
    // confirms, and a cancel keeps the old file and name.
    if (bound && !name)
        return true;
    assignSlot(slot, file, name);
    return true;
}

void SoundBoard::assignSlot(int slot, const Text& file, const std::optional<Text>& name)
{
    tables_.paths[slot] = file;
    if (name)
        tables_.names[slot] = *name;

    const Text section = gbk(kCustomSoundSection);
    const bool saved = writeProfileString(settingsFile_, section, slotKey(slot, "path"), tables_.paths[slot])
        && writeProfileString(settingsFile_, section, slotKey(slot, "name"), tables_.names[slot]);
    surface_.setSlotCaption(slot, tables_.names[slot]);
    if (!saved && surface_.slotNotSaved)
        surface_.slotNotSaved(slot);
    measureSlot(slot);
}

void SoundBoard::measureSlot(int slot)
{
    // A gain stored for the slot's old file must not outlive it, even if the
    // program ends before the new one is measured.
    if (tables_.loudnessGains[slot]) {
        tables_.loudnessGains[slot].reset();
        writeProfileString(settingsFile_, gbk(kSlotLoudnessSection), slotKey(slot, ""), {});
    }
    if (!loudness_)
        loudness_ = std::make_unique<LoudnessWorker>();
    const Text file = tables_.paths[slot];
    loudness_->measure(file, [this, slot, file](std::optional<FileLoudness> loudness) {
        // The slot may have been bound to another file meanwhile.
        if (!loudness || tables_.paths[slot] != file)
            return;
        const double gain = evenLoudnessGain(*loudness);
        tables_.loudnessGains[slot] = gain;
        writeProfileString(settingsFile_, gbk(kSlotLoudnessSection), slotKey(slot, ""), numberToText(gain));
    });
}

}  // namespace qinghe
