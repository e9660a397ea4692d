#include "sound_board.h"

#include "base/private_profile.h"
#include "base/program_places.h"
#include "board/sound_catalogue.h"
#include "media/player/media_path.h"
#include "media/player/media_player.h"
#include "text/gbk.h"

#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <limits>

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

// The slot a per-sound key names, or 0 for an effect's caption.
int slotOfKey(const Text& soundKey)
{
    for (int slot = kFirstSlot; slot <= kCustomSoundTableSize; ++slot)
        if (soundKey == slotSoundKey(slot))
            return slot;
    return 0;
}

// The 音乐类音效 page holds music: its effects play as beds.
bool onMusicPage(const Text& soundKey)
{
    return std::any_of(boardCatalogue().begin(), boardCatalogue().end(), [&soundKey](const BoardButton& entry) {
        return entry.page == kMusicPage && entry.action == BoardAction::PlayEffect &&
               fromQString(QString::fromUtf8(entry.caption.data(), qsizetype(entry.caption.size()))) == soundKey;
    });
}

// The file as a name the system reads; stored paths may be written the Windows way.
QFileInfo slotFileInfo(const Text& file)
{
    return QFileInfo(nameToQString(file).replace(QLatin1Char('\\'), QLatin1Char('/')));
}

// Said while the output's server is away: the routing is calling it again,
// and a click once it is back plays.
constexpr const char* kServerAwayText = "声音服务器没有响应，正在重新连接…";

// The status line's words for a sound that did not play: the file as the
// host bound it, so a moved or renamed one can be found again.
QString notPlayedText(const Text& file, SoundFileProblem problem)
{
    switch (problem) {
    case SoundFileProblem::NotFound:
        return QStringLiteral("找不到文件：") + slotFileInfo(file).filePath();
    case SoundFileProblem::Unsupported:
        return soundFileProblemText(problem);
    case SoundFileProblem::Damaged:
        return QStringLiteral("无法播放这个文件：") + soundFileProblemText(problem);
    case SoundFileProblem::None:
        break;
    }
    return QString::fromUtf8(kServerAwayText);
}

// The file's name without its folder and its last extension; a name that is
// all extension (".wav") stays whole.
Text baseName(const Text& file)
{
    const QFileInfo info = slotFileInfo(file);
    const QString base = info.completeBaseName();
    return nameFromQString(base.isEmpty() ? info.fileName() : base);
}

}  // namespace

QString soundFileProblemText(SoundFileProblem problem)
{
    switch (problem) {
    case SoundFileProblem::NotFound:
        return QStringLiteral("找不到文件");
    case SoundFileProblem::Unsupported:
        return QStringLiteral("无法播放这个文件：格式不支持");
    case SoundFileProblem::Damaged:
        return QStringLiteral("文件已损坏");
    case SoundFileProblem::None:
        break;
    }
    return {};
}

Text slotSoundKey(int slot)
{
    return gbk("按钮") + std::to_string(slot);
}

Text slotShownName(const CustomSoundTables& tables, int slot)
{
    if (!isSlot(slot) || tables.paths[slot].empty())
        return {};
    return tables.names[slot].empty() ? baseName(tables.paths[slot]) : tables.names[slot];
}

Text slotCaption(const CustomSoundTables& tables, int slot)
{
    const Text name = slotShownName(tables, slot);
    return name.empty() ? gbk(kEmptySlotCaption.data()) : name;
}

Text slotToolTip(const CustomSoundTables& tables, int slot)
{
    if (!isSlot(slot) || tables.paths[slot].empty())
        return slotSoundKey(slot);
    return slotSoundKey(slot) + gbk("：") + nameFromQString(slotFileInfo(tables.paths[slot]).fileName());
}

QString defaultSettingsFile()
{
    return settingsFileFor(programFolder());
}

SoundBoard::SoundBoard(CustomSoundTables& tables, QString settingsFile, BoardSurface surface)
    : tables_(tables), settingsFile_(std::move(settingsFile)), surface_(std::move(surface))
{
    setOverlapping(false);
}

// The board's sounds end with it, as they would with the window.
SoundBoard::~SoundBoard()
{
    stopAll({});
}

void SoundBoard::setOverlapping(bool on)
{
    overlapping_ = on;
    // Every cut fades out, overlapping or not; the engine stops the sounds
    // that started first where fewer may play now.
    SoundEngine::instance().setMostPlaying(on ? kMostVoices : 1);
}

void SoundBoard::setSecondClickStops(bool on)
{
    secondClickStops_ = on;
}

void SoundBoard::setStopFade(std::chrono::milliseconds fade)
{
    stopFade_ = std::max(fade, std::chrono::milliseconds(0));
}

SoundStyle SoundBoard::soundStyle(const Text& soundKey) const
{
    if (soundKey.empty())
        return {};
    const auto known = styles_.find(soundKey);
    if (known != styles_.end())
        return known->second;
    const SoundStyle style = readSoundStyle(readProfileSnapshot(settingsFile_), soundKey);
    styles_[soundKey] = style;
    return style;
}

bool SoundBoard::setSoundStyle(const Text& soundKey, const SoundStyle& style)
{
    const auto inRange = [](std::chrono::milliseconds fade) { return fade.count() >= 0 && fade <= kLongestSoundFade; };
    if (soundKey.empty() || !inRange(style.fadeIn) || !inRange(style.fadeOut))
        return false;
    const SoundStyle before = soundStyle(soundKey);
    styles_[soundKey] = style;
    return writeSoundStyle(settingsFile_, soundKey, before, style);
}

VoiceShape SoundBoard::voiceShape(const Text& soundKey) const
{
    const SoundStyle style = soundStyle(soundKey);
    return {style.loop, style.fadeIn, style.fadeOut, style.loop || style.musicBed || onMusicPage(soundKey)};
}

QString SoundBoard::playEffect(const Text& file, const Text& soundKey)
{
    return startAtSliderVolume(file, soundKey, effectGainDb(file, soundKey.empty() ? 0 : soundVolumeDb(soundKey)));
}

void SoundBoard::previewSound(const Text& file, const Text& soundKey, int decibels)
{
    const int volume = std::clamp(decibels, kLeastSoundVolumeDb, kMostSoundVolumeDb);
    const int slot = slotOfKey(soundKey);
    if (slot > 0 && tables_.paths[slot] == file)
        startAtSliderVolume(file, soundKey, slotGainDb(slot, volume), Audience::HostOnly);
    else
        startAtSliderVolume(file, soundKey, effectGainDb(file, volume), Audience::HostOnly);
}

std::vector<SoundBoard::PlayingSound> SoundBoard::playingSounds() const
{
    const SoundEngine& engine = SoundEngine::instance();
    std::vector<PlayingSound> sounds;
    for (const auto& [voice, sound] : voices_) {
        if (!engine.playing(voice))
            continue;
        const int slot = slotOfKey(sound.soundKey);
        const Text caption = slot > 0 ? slotCaption(tables_, slot) : sound.soundKey;
        sounds.push_back({voice, sound.soundKey, nameToQString(caption)});
    }
    return sounds;
}

QString SoundBoard::playSlot(int slot)
{
    if (!isSlot(slot) || tables_.paths[slot].empty())
        return tellNotPlayed(QStringLiteral("按钮%1 还没有声音").arg(slot));
    const QString why = playBoundSlot(slot);
    applyVolume();
    return why;
}

int SoundBoard::soundVolumeDb(const Text& soundKey) const
{
    const auto known = soundVolumes_.find(soundKey);
    if (known != soundVolumes_.end())
        return known->second;
    const int volume =
        soundVolumeFromText(readProfileString(settingsFile_, gbk(kSoundVolumeSection), soundKey), kLeastSoundVolumeDb,
                            kMostSoundVolumeDb)
            .value_or(0);
    soundVolumes_[soundKey] = volume;
    return volume;
}

bool SoundBoard::setSoundVolumeDb(const Text& soundKey, int decibels)
{
    if (soundKey.empty() || decibels < kLeastSoundVolumeDb || decibels > kMostSoundVolumeDb)
        return false;
    soundVolumes_[soundKey] = decibels;
    // 0 dB is no volume of its own: the key goes, so my.ini holds only what was set.
    if (decibels == 0)
        return removeProfileKey(settingsFile_, gbk(kSoundVolumeSection), soundKey);
    return writeProfileString(settingsFile_, gbk(kSoundVolumeSection), soundKey, std::to_string(decibels));
}

void SoundBoard::chooseSlotFile(int slot)
{
    if (!isSlot(slot))
        return;
    const Text chosen = askPlayableFile();
    if (chosen.empty())
        return;
    const std::optional<Text> name = surface_.askSlotName(tables_.names[slot]);
    assignSlot(slot, chosen, name);
}

bool SoundBoard::renameSlot(int slot, const Text& name)
{
    if (!isSlot(slot))
        return false;
    tables_.names[slot] = name;
    surface_.setSlotCaption(slot, slotCaption(tables_, slot));
    return writeProfileString(settingsFile_, gbk(kCustomSoundSection), slotKey(slot, "name"), name);
}

bool SoundBoard::clearSlot(int slot)
{
    if (!isSlot(slot))
        return false;
    tables_.paths[slot].clear();
    tables_.names[slot].clear();
    tables_.loudnessGains[slot].reset();
    slotFiles_[slot] = SlotFile{};
    soundVolumes_.erase(slotSoundKey(slot));
    surface_.setSlotCaption(slot, slotCaption(tables_, slot));
    const Text section = gbk(kCustomSoundSection);
    const Text loudness = gbk(kSlotLoudnessSection);
    styles_.erase(slotSoundKey(slot));
    bool removed = removeSoundStyle(settingsFile_, slotSoundKey(slot));
    removed = removeProfileKey(settingsFile_, section, slotKey(slot, "path")) && removed;
    removed = removeProfileKey(settingsFile_, section, slotKey(slot, "name")) && removed;
    for (const char* suffix : {"", kSlotFileBytesSuffix, kSlotFileTimeSuffix, kSlotPeakSuffix})
        removed = removeProfileKey(settingsFile_, loudness, slotKey(slot, suffix)) && removed;
    return removeProfileKey(settingsFile_, gbk(kSoundVolumeSection), slotSoundKey(slot)) && removed;
}

double SoundBoard::slotGainDb(int slot, int decibels)
{
    checkSlotFile(slot);
    return heldLoudnessGain(tables_.loudnessGains[slot].value_or(0) + decibels, slotFiles_[slot].peak);
}

double SoundBoard::effectGainDb(const Text& file, int decibels)
{
    // A cut needs no peak; a boost waits for the file's, and is held by it.
    return heldLoudnessGain(decibels, decibels > 0 ? effectPeak(file) : std::nullopt);
}

std::optional<double> SoundBoard::effectPeak(const Text& file)
{
    EffectPeak& known = effectPeaks_[file];
    if (!known.peak && !known.measuring) {
        known.measuring = true;
        loudnessWorker().measure(file, [this, file](std::optional<FileLevels> levels, std::optional<FileStamp>) {
            EffectPeak& measured = effectPeaks_[file];
            measured.measuring = false;
            if (levels)
                measured.peak = levels->peak;
        });
    }
    return known.peak;
}

VoiceGains SoundBoard::gainsAtSlider(double gainDb) const
{
    // The slider's percent on the engine's 0..kFullVolume scale.
    constexpr int kPercentScale = kFullVolume / 100;
    const int position = surface_.volumePosition() * kPercentScale;
    return {position, position, gainDb};
}

QString SoundBoard::startAtSliderVolume(const Text& file, const Text& soundKey, double gainDb, Audience audience)
{
    SoundEngine& engine = SoundEngine::instance();
    // Sounds the board started that have ended since are forgotten here.
    for (auto it = voices_.begin(); it != voices_.end();)
        it = engine.playing(it->first) ? std::next(it) : voices_.erase(it);
    if (answerSecondClick(soundKey, audience))
        return {};
    const VoiceShape shape = audience == Audience::Everyone ? voiceShape(soundKey) : VoiceShape{};
    const QString path = resolveMediaFile(file);
    VoiceStart started{kNoVoice, SoundFileProblem::NotFound, false};
    if (!path.isEmpty())
        started = engine.play(QFile::encodeName(path).toStdString(), gainsAtSlider(gainDb), {}, audience, shape);
    if (started.voice != kNoVoice) {
        voices_[started.voice] = {file, gainDb, soundKey, audience, shape.fadeOut, std::chrono::steady_clock::now()};
        return {};
    }
    // A click cuts the sound before it, as ever, even when its own cannot
    // play; a sound the host tries out never cuts what the room hears.
    if (!overlapping_ && audience == Audience::Everyone)
        stopAll({});
    // No output at all is the server's doing, not the file's.
    return tellNotPlayed(notPlayedText(file, started.noOutput ? SoundFileProblem::None : started.problem));
}

bool SoundBoard::answerSecondClick(const Text& soundKey, Audience audience)
{
    const auto same = std::find_if(voices_.begin(), voices_.end(), [&](const auto& entry) {
        return !soundKey.empty() && entry.second.soundKey == soundKey && entry.second.audience == audience;
    });
    if (same == voices_.end())
        return false;
    const bool stops = secondClickStops_ && audience == Audience::Everyone;
    const StartedSound& sound = same->second;
    // A double click's second half leaves the sound as its first half started it.
    if (stops && std::chrono::steady_clock::now() - sound.started < surface_.doubleClick)
        return true;
    // Starting again, the one playing makes way as any cut sound does.
    using std::chrono::milliseconds;
    const milliseconds fade = !stops ? milliseconds(0) : sound.fadeOut.count() > 0 ? sound.fadeOut : kSecondClickFade;
    SoundEngine::instance().stop(same->first, fade);
    voices_.erase(same);
    return stops;
}

// Said on the board itself: a box would stop the host mid-show.
QString SoundBoard::tellNotPlayed(const QString& message)
{
    if (surface_.soundNotPlayed)
        surface_.soundNotPlayed(message);
    return message;
}

void SoundBoard::voiceEnded(VoiceId voice, VoiceEnd end)
{
    const auto found = voices_.find(voice);
    if (found == voices_.end())
        return;
    if (end == VoiceEnd::BrokeOff)
        tellNotPlayed(notPlayedText(found->second.file, SoundFileProblem::Damaged));
    voices_.erase(found);
}

void SoundBoard::stop()
{
    stopAll(stopFade_);
}

void SoundBoard::stopAll(std::chrono::milliseconds fade)
{
    SoundEngine& engine = SoundEngine::instance();
    for (const auto& entry : voices_)
        engine.stop(entry.first, fade);
    voices_.clear();
}

void SoundBoard::applyVolume()
{
    SoundEngine& engine = SoundEngine::instance();
    for (const auto& [voice, sound] : voices_)
        engine.setGains(voice, gainsAtSlider(sound.gainDb));
}

Text SoundBoard::slotKey(int slot, const char* suffix) const
{
    return slotSoundKey(slot) + suffix;
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
        slotFiles_[slot] = SlotFile{};
        if (tables_.paths[slot].empty())
            continue;
        restoreSlotLevels(slot, settings);
        surface_.setSlotCaption(slot, slotCaption(tables_, slot));
    }
}

// A stored gain counts only for the file it was measured on, and never
// lifts that file's stored peak past full scale; any other is measured again.
void SoundBoard::restoreSlotLevels(int slot, const ProfileSnapshot& settings)
{
    const Text section = gbk(kSlotLoudnessSection);
    const auto stored = [&](const char* suffix) { return readProfileString(settings, section, slotKey(slot, suffix)); };
    const Text gainText = stored("");
    const std::optional<double> gain = loudnessGainFromText(gainText);
    const std::optional<FileStamp> now = fileStamp(tables_.paths[slot]);
    if (!now) {
        // Nothing plays now; should the file come back, its first click measures it first.
        tables_.loudnessGains[slot] = gain;
        return;
    }
    const std::optional<std::int64_t> bytes = stampNumberFromText(stored(kSlotFileBytesSuffix));
    const std::optional<std::int64_t> modified = stampNumberFromText(stored(kSlotFileTimeSuffix));
    const Text peakText = stored(kSlotPeakSuffix);
    const std::optional<double> peak = peakFromText(peakText);
    // A slot never measured (bound before loudness was matched) plays as it always has.
    if (gainText.empty() && !bytes && !modified && peakText.empty())
        return;
    const bool sameFile = bytes && modified && FileStamp{*bytes, *modified} == *now;
    // A gain needs its peak; an empty peak or gain stands for none measured.
    const bool consistent = (peak || peakText.empty()) && (gain ? peak.has_value() : gainText.empty());
    if (!sameFile || !consistent) {
        measureSlot(slot);
        return;
    }
    slotFiles_[slot].stamp = now;
    slotFiles_[slot].peak = peak;
    if (gain)
        tables_.loudnessGains[slot] = std::min(*gain, heldLoudnessGain(*gain, peak));
}

// The slot's file as it lies now: another file than the gain was measured
// on loses the gain at once and is measured again.
void SoundBoard::checkSlotFile(int slot)
{
    SlotFile& known = slotFiles_[slot];
    // Nothing was measured for the slot: nothing to distrust.
    if (!known.stamp && !known.measuring && !tables_.loudnessGains[slot])
        return;
    const std::optional<FileStamp> now = fileStamp(tables_.paths[slot]);
    if (!now || now == known.stamp || now == known.measuring)
        return;
    measureSlot(slot);
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
        playBoundSlot(slot);
        return;
    }
    const Text chosen = askPlayableFile();
    if (chosen.empty())
        return;
    assignSlot(slot, chosen, surface_.askSlotName({}));
}

// A file gone or broken since it was bound keeps its binding: it may come back.
QString SoundBoard::playBoundSlot(int slot)
{
    const double gain = slotGainDb(slot, soundVolumeDb(slotSoundKey(slot)));
    return startAtSliderVolume(tables_.paths[slot], slotSoundKey(slot), gain);
}

// The dialog opens on the last confirmed choice, but a cancel assigns nothing.
Text SoundBoard::askPlayableFile()
{
    const Text chosen = surface_.askSoundFile(lastChosenFile_);
    if (chosen.empty())
        return {};
    lastChosenFile_ = chosen;
    return refuseUnplayable(chosen) ? Text() : chosen;
}

// A file that will not play is never bound: the host hears why now, not on air.
bool SoundBoard::refuseUnplayable(const Text& file)
{
    const SoundFileProblem problem = mediaFileProblem(file);
    if (problem == SoundFileProblem::None)
        return false;
    if (surface_.fileRefused)
        surface_.fileRefused(soundFileProblemText(problem));
    return true;
}

bool SoundBoard::fileDropped(int slot, const Text& file)
{
    if (!isSlot(slot) || refuseUnplayable(file))
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
    surface_.setSlotCaption(slot, slotCaption(tables_, slot));
    if (!saved && surface_.slotNotSaved)
        surface_.slotNotSaved(slot);
    measureSlot(slot);
}

// A gain stored for the slot's old file must not outlive it, even if the
// program ends before the new one is measured.
void SoundBoard::forgetSlotLevels(int slot)
{
    tables_.loudnessGains[slot].reset();
    slotFiles_[slot].stamp.reset();
    slotFiles_[slot].peak.reset();
    const ProfileSnapshot settings = readProfileSnapshot(settingsFile_);
    const Text section = gbk(kSlotLoudnessSection);
    for (const char* suffix : {"", kSlotFileBytesSuffix, kSlotFileTimeSuffix, kSlotPeakSuffix}) {
        if (!readProfileString(settings, section, slotKey(slot, suffix)).empty())
            writeProfileString(settingsFile_, section, slotKey(slot, suffix), {});
    }
}

void SoundBoard::measureSlot(int slot)
{
    forgetSlotLevels(slot);
    const Text file = tables_.paths[slot];
    slotFiles_[slot].measuring = fileStamp(file);
    loudnessWorker().measure(file, [this, slot, file](std::optional<FileLevels> levels, std::optional<FileStamp> stamp) {
        // The slot may have been bound to another file meanwhile.
        if (tables_.paths[slot] != file)
            return;
        SlotFile& known = slotFiles_[slot];
        known.measuring.reset();
        known.stamp = stamp;
        known.peak = levels && levels->peak > 0 ? std::optional<double>(levels->peak) : std::nullopt;
        const Text section = gbk(kSlotLoudnessSection);
        if (levels && levels->integratedLufs && levels->peak > 0) {
            const double gain = evenLoudnessGain({*levels->integratedLufs, levels->peak});
            tables_.loudnessGains[slot] = gain;
            writeProfileString(settingsFile_, section, slotKey(slot, ""), numberToText(gain));
        }
        if (!stamp)
            return;
        writeProfileString(settingsFile_, section, slotKey(slot, kSlotFileBytesSuffix), std::to_string(stamp->bytes));
        writeProfileString(settingsFile_, section, slotKey(slot, kSlotFileTimeSuffix), std::to_string(stamp->modifiedMs));
        writeProfileString(settingsFile_, section, slotKey(slot, kSlotPeakSuffix),
                           known.peak ? numberToText(*known.peak) : Text());
    });
}

LoudnessWorker& SoundBoard::loudnessWorker()
{
    if (!loudness_)
        loudness_ = std::make_unique<LoudnessWorker>();
    return *loudness_;
}

}  // namespace qinghe
