#include "private_profile.h"

#include "file_update.h"
#include "profile_document.h"

#include <QFile>

#include <optional>

namespace qinghe {

namespace {

// The file's bytes, or nothing when it cannot be read. The file is replaced
// whole by writers, so this sees one version or another, never a mix.
std::optional<Text> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return Text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace

Text readProfileString(const QString& iniPath, std::string_view section, std::string_view key,
                       std::string_view defaultValue, int bufferSize)
{
    const std::optional<Text> file = readFile(iniPath);
    const std::optional<Text> value = file ? findProfileValue(*file, section, key) : std::nullopt;
    return fitProfileBuffer(value ? std::string_view(*value) : defaultValue, bufferSize);
}

bool writeProfileString(const QString& iniPath, std::string_view section, std::string_view key,
                        std::string_view value)
{
    if (!isStorableProfileEntry(section, key, value))
        return false;
    return updateFile(iniPath, [&](std::string_view current) {
        return withProfileValue(current, section, key, value);
    });
}

} // namespace qinghe
