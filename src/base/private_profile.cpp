#include "private_profile.h"

#include "file_update.h"
#include "profile_document.h"
#include "base/file_bytes.h"

#include <QFileInfo>

#include <optional>
#include <utility>

namespace qinghe {

Text readProfileString(const QString& iniPath, std::string_view section, std::string_view key,
                       std::string_view defaultValue, int bufferSize)
{
    const std::optional<Text> file = readFileBytes(iniPath, kProfileByteLimit);
    const std::optional<Text> value = file ? findProfileValue(*file, section, key) : std::nullopt;
    return fitProfileBuffer(value ? std::string_view(*value) : defaultValue, bufferSize);
}

ProfileSnapshot readProfileSnapshot(const QString& iniPath)
{
    std::optional<Text> file = readFileBytes(iniPath, kProfileByteLimit);
    return file ? ProfileSnapshot(std::move(*file)) : ProfileSnapshot();
}

Text readProfileString(const ProfileSnapshot& snapshot, std::string_view section, std::string_view key,
                       std::string_view defaultValue, int bufferSize)
{
    const std::optional<Text> value = snapshot.find(section, key);
    return fitProfileBuffer(value ? std::string_view(*value) : defaultValue, bufferSize);
}

bool writeProfileString(const QString& iniPath, std::string_view section, std::string_view key,
                        std::string_view value)
{
    if (!isStorableProfileEntry(section, key, value))
        return false;
    // The check above holds for any file the entry goes into; the written
    // file is checked as well, as it is what the next reader sees.
    return updateFile(iniPath, kProfileByteLimit, [&](std::string_view current) -> std::optional<Text> {
        Text updated = withProfileValue(current, section, key, value);
        if (!readsBack(updated, section, key, value))
            return std::nullopt;
        return updated;
    });
}

bool removeProfileKey(const QString& iniPath, std::string_view section, std::string_view key)
{
    // Nothing to take out leaves the file, or its absence, alone.
    if (!QFileInfo::exists(iniPath))
        return true;
    const std::optional<Text> file = readFileBytes(iniPath, kProfileByteLimit);
    if (file && !findProfileValue(*file, section, key))
        return true;
    return updateFile(iniPath, kProfileByteLimit, [&](std::string_view current) -> std::optional<Text> {
        Text updated = withoutProfileKey(current, section, key);
        if (findProfileValue(updated, section, key))
            return std::nullopt;
        return updated;
    });
}

} // namespace qinghe
