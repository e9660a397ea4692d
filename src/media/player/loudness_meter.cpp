#include "loudness_meter.h"

#include "media/engine/sound_module.h"
#include "media_path.h"

#include <QFile>

namespace qinghe {

std::optional<FileLoudness> measureFileLoudness(const Text& elementName, const std::atomic<bool>& cancelled)
{
    const std::optional<FileLevels> levels = measureFileLevels(elementName, cancelled);
    if (!levels || !levels->integratedLufs || !(levels->peak > 0))
        return std::nullopt;
    return FileLoudness{*levels->integratedLufs, levels->peak};
}

std::optional<FileLevels> measureFileLevels(const Text& elementName, const std::atomic<bool>& cancelled)
{
    const SoundModule* module = soundModule();
    const QString path = resolveMediaFile(elementName);
    if (!module || path.isEmpty())
        return std::nullopt;
    return module->measureLevels(QFile::encodeName(path).toStdString(), cancelled);
}

}  // namespace qinghe
