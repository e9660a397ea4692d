#include "hot_key_settings.h"

#include "base/private_profile.h"
#include "text/gbk.h"

namespace qinghe {
namespace {

constexpr const char* kHotKeySection = "热键";
constexpr const char* kStopName = "停止播放";

Text gbk(const QString& text)
{
    return fromQString(text);
}

}  // namespace

QString hotKeyName(int action)
{
    if (action == kStopHotKeyAction)
        return QString::fromUtf8(kStopName);
    return QStringLiteral("按钮%1").arg(action + 1);
}

HotKeyTexts readHotKeys(const QString& iniPath)
{
    const ProfileSnapshot snapshot = readProfileSnapshot(iniPath);
    const std::string section = gbk(QString::fromUtf8(kHotKeySection));
    HotKeyTexts keys;
    for (int action = 0; action < kHotKeyActionCount; ++action)
        keys[action] = toQString(readProfileString(snapshot, section, gbk(hotKeyName(action)))).trimmed();
    return keys;
}

bool writeHotKey(const QString& iniPath, int action, const QString& keyText)
{
    return writeProfileString(iniPath, gbk(QString::fromUtf8(kHotKeySection)), gbk(hotKeyName(action)),
                              gbk(keyText));
}

}  // namespace qinghe
