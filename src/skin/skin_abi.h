#pragma once

/* What the skin library and the program agree on. Plain C: the library is
   built as C and reached through a C ABI only. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The colours a skin gives, in the order the library hands them over. */
enum SkinRole {
    kSkinWindow = 0,
    kSkinWindowText,
    kSkinBase,
    kSkinAlternateBase,
    kSkinToolTipBase,
    kSkinToolTipText,
    kSkinPlaceholderText,
    kSkinText,
    kSkinButton,
    kSkinButtonText,
    kSkinBrightText,
    kSkinLight,
    kSkinMidlight,
    kSkinMid,
    kSkinDark,
    kSkinShadow,
    kSkinHighlight,
    kSkinHighlightedText,
    kSkinLink,
    kSkinLinkVisited,
    kSkinDisabledText,
    kSkinDisabledButton,
    kSkinRoleCount
};

/* The two exports of the skin library. */
#define SKIN_ATTACH_EXPORT "skin_attach_res"
#define SKIN_ADJUST_EXPORT "skin_adjust_hsv"

/* Reads a skin (data, its length in bytes, a password or null) and draws the
   windows with it; 1 when the skin was taken, 0 when it was refused. */
typedef int SkinAttachFunction(const unsigned char* data, uint32_t length, const char* password);
/* Turns the skin's hue by degrees and its brightness by percent; 1 when a
   skin is attached, 0 when there is nothing to adjust. */
typedef int SkinAdjustFunction(int hue, int brightness);

/* Exported by the program for the library: called with one 0xRRGGBB colour
   per role, kSkinRoleCount of them, each time the skin's colours change. */
#define SKIN_PAINT_SYMBOL "qingheSkinPaint"
void qingheSkinPaint(const uint32_t* colours, int count);

#ifdef __cplusplus
}
#endif
