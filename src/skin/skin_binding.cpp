#include "skin_binding.h"

#include "skin/embedded_skin.h"
#include "skin/mapped_library.h"
#include "skin/skin_abi.h"

#include <QApplication>
#include <QEvent>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <limits>

namespace qinghe {
namespace {

// A hue turns at most half the colour circle either way.
constexpr int kHueLimit = 180;
// Brightness is a percentage towards white or black.
constexpr int kBrightnessLimit = 100;
// The style that draws every control from the palette alone, so the skin's
// colours reach all of them.
constexpr const char* kPaletteStyle = "Fusion";

// Mapped once and kept until the process ends: the library is never detached.
MappedLibrary* skinInstance = nullptr;

MappedLibrary* mappedSkinLibrary()
{
    if (skinInstance == nullptr)
        skinInstance = MappedLibrary::map(skinLibraryImage()).library.release();
    return skinInstance;
}

template <class Function>
Function* skinExport(const char* name)
{
    MappedLibrary* library = mappedSkinLibrary();
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<Function*>(library->findExport(name));
}

struct RolePlace {
    SkinRole skinRole;
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

constexpr RolePlace kRolePlaces[] = {
    {kSkinWindow, QPalette::All, QPalette::Window},
    {kSkinWindowText, QPalette::All, QPalette::WindowText},
    {kSkinBase, QPalette::All, QPalette::Base},
    {kSkinAlternateBase, QPalette::All, QPalette::AlternateBase},
    {kSkinToolTipBase, QPalette::All, QPalette::ToolTipBase},
    {kSkinToolTipText, QPalette::All, QPalette::ToolTipText},
    {kSkinPlaceholderText, QPalette::All, QPalette::PlaceholderText},
    {kSkinText, QPalette::All, QPalette::Text},
    {kSkinButton, QPalette::All, QPalette::Button},
    {kSkinButtonText, QPalette::All, QPalette::ButtonText},
    {kSkinBrightText, QPalette::All, QPalette::BrightText},
    {kSkinLight, QPalette::All, QPalette::Light},
    {kSkinMidlight, QPalette::All, QPalette::Midlight},
    {kSkinMid, QPalette::All, QPalette::Mid},
    {kSkinDark, QPalette::All, QPalette::Dark},
    {kSkinShadow, QPalette::All, QPalette::Shadow},
    {kSkinHighlight, QPalette::All, QPalette::Highlight},
    {kSkinHighlightedText, QPalette::All, QPalette::HighlightedText},
    {kSkinLink, QPalette::All, QPalette::Link},
    {kSkinLinkVisited, QPalette::All, QPalette::LinkVisited},
    // Disabled controls take their own text and face; set after the rest.
    {kSkinDisabledText, QPalette::Disabled, QPalette::WindowText},
    {kSkinDisabledText, QPalette::Disabled, QPalette::Text},
    {kSkinDisabledText, QPalette::Disabled, QPalette::ButtonText},
    {kSkinDisabledButton, QPalette::Disabled, QPalette::Button},
};

QPalette paletteOf(std::span<const std::uint32_t, kSkinRoleCount> colours)
{
    QPalette palette;
    for (const RolePlace& place : kRolePlaces)
        palette.setColor(place.group, place.role, QColor::fromRgb(colours[place.skinRole]));
    return palette;
}

// The library's colours become the palette of the whole application, which
// every window has now and every window opened later takes.
void paintApplication(const std::uint32_t* colours, int count)
{
    if (colours == nullptr || count < kSkinRoleCount || qApp == nullptr || QThread::currentThread() != qApp->thread())
        return;
    if (QApplication::style()->name().compare(QLatin1String(kPaletteStyle), Qt::CaseInsensitive) != 0)
        QApplication::setStyle(QStyleFactory::create(QLatin1String(kPaletteStyle)));
    QApplication::setPalette(paletteOf(std::span<const std::uint32_t, kSkinRoleCount>(colours, kSkinRoleCount)));
    // Until the message loop runs, Qt leaves the windows that already exist on
    // their old palette; the main window attaches the skin before then. Each
    // window passes the change on to its controls.
    QEvent change(QEvent::ApplicationPaletteChange);
    for (QWidget* window : QApplication::topLevelWidgets())
        QCoreApplication::sendEvent(window, &change);
}

}  // namespace

bool attachProgramSkin()
{
    return attachSkin(programSkinFile());
}

bool attachSkin(std::span<const std::uint8_t> skinData, int hue, int brightness)
{
    if (skinData.size() > std::numeric_limits<std::uint32_t>::max())
        return false;
    auto* attach = skinExport<SkinAttachFunction>(SKIN_ATTACH_EXPORT);
    if (attach == nullptr)
        return false;
    const bool taken = attach(skinData.data(), static_cast<std::uint32_t>(skinData.size()), nullptr) != 0;
    const bool adjusted = adjustSkin(std::clamp(hue, -kHueLimit, kHueLimit),
                                     std::clamp(brightness, -kBrightnessLimit, kBrightnessLimit));
    return taken && adjusted;
}

bool adjustSkin(int hue, int brightness)
{
    auto* adjust = skinExport<SkinAdjustFunction>(SKIN_ADJUST_EXPORT);
    return adjust != nullptr && adjust(hue, brightness) != 0;
}

const MappedLibrary* skinLibrary()
{
    return skinInstance;
}

}  // namespace qinghe

// The library's way back into the program.
extern "C" __attribute__((visibility("default"))) void qingheSkinPaint(const std::uint32_t* colours, int count)
{
    qinghe::paintApplication(colours, count);
}
