#include "hot_key_settings.h"

#include "base/private_profile.h"
#include "board/sound_catalogue.h"
#include "text/gbk.h"

#include <QStringList>

namespace qinghe {
namespace {

constexpr const char* kHotKeySection = "热键";
constexpr const char* kStopName = "停止播放";

Text gbk(const QString& text)
{
    return fromQString(text);
}

// The built-in effects' captions, each once, in the catalogue's order.
const QStringList& effectCaptions()
{
    static const QStringList captions = [] {
        QStringList found;
        for (const BoardButton& entry : boardCatalogue()) {
            const QString caption = QString::fromUtf8(entry.caption.data(), qsizetype(entry.caption.size()));
            if (entry.action == BoardAction::PlayEffect && !found.contains(caption))
                found << caption;
        }
        return found;
    }();
    return captions;
}

}  // namespace

int hotKeyActionTotal()
{
    return kFirstEffectHotKeyAction + int(effectCaptions().size());
}

int effectHotKeyAction(const QString& caption)
{
    const qsizetype index = effectCaptions().indexOf(caption);
    return index < 0 ? -1 : kFirstEffectHotKeyAction + int(index);
}

QString hotKeyName(int action)
{
    if (action == kStopHotKeyAction)
        return QString::fromUtf8(kStopName);
    if (action >= kFirstEffectHotKeyAction)
        return effectCaptions().value(action - kFirstEffectHotKeyAction);
    return QStringLiteral("按钮%1").arg(action + 1);
}

HotKeyTexts readHotKeys(const QString& iniPath)
{
    const ProfileSnapshot snapshot = readProfileSnapshot(iniPath);
    const std::string section = gbk(QString::fromUtf8(kHotKeySection));
    HotKeyTexts keys(hotKeyActionTotal());
    for (int action = 0; action < hotKeyActionTotal(); ++action)
        keys[action] = toQString(readProfileString(snapshot, section, gbk(hotKeyName(action)))).trimmed();
    return keys;
}

bool writeHotKey(const QString& iniPath, int action, const QString& keyText)
{
    return writeProfileString(iniPath, gbk(QString::fromUtf8(kHotKeySection)), gbk(hotKeyName(action)),
                              gbk(keyText));
}

bool removeHotKey(const QString& iniPath, int action)
{
    return removeProfileKey(iniPath, gbk(QString::fromUtf8(kHotKeySection)), gbk(hotKeyName(action)));
}

}  // namespace qinghe
