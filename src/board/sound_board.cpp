#include "sound_board.h"

#include "base/private_profile.h"
#include "media/media_player.h"
#include "text/gbk.h"

#include <QCoreApplication>

namespace qinghe {
namespace {

constexpr int kFirstSlot = 1;

Text gbk(const char* utf8)
{
    return fromQString(QString::fromUtf8(utf8));
}

}  // namespace

QString defaultSettingsFile()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kSettingsFileName);
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

void SoundBoard::startAtSliderVolume(const Text& file)
{
    player_.open(file);
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
        if (tables_.paths[slot].empty())
            continue;
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
    if (slot < kFirstSlot || slot > kCustomSoundTableSize)
        return;
    if (!tables_.paths[slot].empty()) {
        startAtSliderVolume(tables_.paths[slot]);
        return;
    }
    // The dialog opens on the last confirmed choice, but a cancel assigns nothing.
    const Text chosen = surface_.askSoundFile(lastChosenFile_);
    if (chosen.empty())
        return;
    lastChosenFile_ = chosen;
    tables_.paths[slot] = chosen;
    if (const std::optional<Text> name = surface_.askSlotName())
        tables_.names[slot] = *name;

    const Text section = gbk(kCustomSoundSection);
    writeProfileString(settingsFile_, section, slotKey(slot, "path"), tables_.paths[slot]);
    writeProfileString(settingsFile_, section, slotKey(slot, "name"), tables_.names[slot]);
    surface_.setSlotCaption(slot, tables_.names[slot]);
}

}  // namespace qinghe
