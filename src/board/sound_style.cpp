#include "sound_style.h"

#include "base/private_profile.h"
#include "board/loudness_numbers.h"
#include "text/gbk.h"

#include <string>

namespace qinghe {
namespace {

constexpr const char* kOn = "1";

Text gbk(const char* utf8)
{
    return fromQString(QString::fromUtf8(utf8));
}

bool writeSwitch(const QString& iniPath, const char* section, const Text& soundKey, bool on)
{
    return on ? writeProfileString(iniPath, gbk(section), soundKey, kOn)
              : removeProfileKey(iniPath, gbk(section), soundKey);
}

bool writeFade(const QString& iniPath, const char* section, const Text& soundKey, std::chrono::milliseconds fade)
{
    return fade.count() > 0 ? writeProfileString(iniPath, gbk(section), soundKey, std::to_string(fade.count()))
                            : removeProfileKey(iniPath, gbk(section), soundKey);
}

}  // namespace

SoundStyle readSoundStyle(const ProfileSnapshot& settings, const Text& soundKey)
{
    const auto read = [&](const char* section) { return readProfileString(settings, gbk(section), soundKey); };
    const auto fade = [&](const char* section) {
        const int most = static_cast<int>(kLongestSoundFade.count());
        return std::chrono::milliseconds(wholeNumberFromText(read(section), 0, most).value_or(0));
    };
    SoundStyle style;
    style.loop = read(kLoopSection) == kOn;
    style.fadeIn = fade(kFadeInSection);
    style.fadeOut = fade(kFadeOutSection);
    style.musicBed = read(kMusicBedSection) == kOn;
    return style;
}

bool writeSoundStyle(const QString& iniPath, const Text& soundKey, const SoundStyle& before, const SoundStyle& after)
{
    bool written = true;
    if (after.loop != before.loop)
        written = writeSwitch(iniPath, kLoopSection, soundKey, after.loop) && written;
    if (after.fadeIn != before.fadeIn)
        written = writeFade(iniPath, kFadeInSection, soundKey, after.fadeIn) && written;
    if (after.fadeOut != before.fadeOut)
        written = writeFade(iniPath, kFadeOutSection, soundKey, after.fadeOut) && written;
    if (after.musicBed != before.musicBed)
        written = writeSwitch(iniPath, kMusicBedSection, soundKey, after.musicBed) && written;
    return written;
}

bool removeSoundStyle(const QString& iniPath, const Text& soundKey)
{
    bool removed = true;
    for (const char* section : {kLoopSection, kFadeInSection, kFadeOutSection, kMusicBedSection})
        removed = removeProfileKey(iniPath, gbk(section), soundKey) && removed;
    return removed;
}

}  // namespace qinghe
