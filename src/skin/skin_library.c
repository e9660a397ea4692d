/* The skin library: reads one skin file and hands the program the skin's
   colours, turned by a hue and brightness shift. The program carries this
   library inside itself and brings it up with a loader of its own, so the
   library keeps to what that loader maps: plain C, no thread-local storage,
   imports only from the C library and from the program (qingheSkinPaint). */

#include "skin_abi.h"
#include "skin_file_format.h"

#include <stdint.h>
#include <string.h>

#define SKIN_EXPORT __attribute__((visibility("default")))

enum { kCrcTableSize = 256 };
/* The reflected polynomial of the zip and PNG checksum. */
static const uint32_t kCrcPolynomial = 0xEDB88320u;
static const int kDegreesInCircle = 360;
/* The colour circle in six sectors of 60 degrees, one per pair of primaries. */
static const double kDegreesPerSector = 60.0;
enum { kSectors = 6 };
/* Brightness comes in percent. */
static const double kPercent = 100.0;
/* A full brightness shift moves a surface half way to white or to black:
   text on it stays readable at either end. */
static const double kBrightnessReach = 0.5;
static const double kChannelMax = 255.0;

static uint32_t crcTable[kCrcTableSize];
static int crcTableBuilt;

static uint32_t skinColours[kSkinRoleCount];
static unsigned char skinKinds[kSkinRoleCount];
static int skinAttached;
static int currentHue;
static int currentBrightness;

/* Built when the library is brought up, so that no attach waits for it; a
   library whose initialisers never ran refuses every skin. */
__attribute__((constructor)) static void buildCrcTable(void)
{
    for (uint32_t n = 0; n < kCrcTableSize; ++n) {
        uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? kCrcPolynomial ^ (c >> 1) : c >> 1;
        crcTable[n] = c;
    }
    crcTableBuilt = 1;
}

static uint32_t checksum(const unsigned char* bytes, uint32_t length)
{
    uint32_t c = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < length; ++i)
        c = crcTable[(c ^ bytes[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

static uint32_t read16(const unsigned char* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8;
}

static uint32_t read32(const unsigned char* p)
{
    return read16(p) | read16(p + 2) << 16;
}

/* Hue in degrees 0..360, saturation and value 0..1. */
typedef struct {
    double hue;
    double saturation;
    double value;
} Hsv;

static Hsv toHsv(uint32_t rgb)
{
    const double r = ((rgb >> 16) & 0xFFu) / kChannelMax;
    const double g = ((rgb >> 8) & 0xFFu) / kChannelMax;
    const double b = (rgb & 0xFFu) / kChannelMax;
    const double high = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const double low = r < g ? (r < b ? r : b) : (g < b ? g : b);
    const double spread = high - low;
    Hsv hsv = {0.0, high > 0.0 ? spread / high : 0.0, high};
    if (spread > 0.0) {
        if (high == r)
            hsv.hue = kDegreesPerSector * ((g - b) / spread);
        else if (high == g)
            hsv.hue = kDegreesPerSector * ((b - r) / spread + 2.0);
        else
            hsv.hue = kDegreesPerSector * ((r - g) / spread + 4.0);
        if (hsv.hue < 0.0)
            hsv.hue += kDegreesInCircle;
    }
    return hsv;
}

static uint32_t channel(double fraction)
{
    if (fraction <= 0.0)
        return 0;
    if (fraction >= 1.0)
        return 0xFFu;
    return (uint32_t)(fraction * kChannelMax + 0.5);
}

static uint32_t fromHsv(Hsv hsv)
{
    const double sector = hsv.hue / kDegreesPerSector;
    const int whole = (int)sector % kSectors;
    const double part = sector - (int)sector;
    const double v = hsv.value;
    const double p = v * (1.0 - hsv.saturation);
    const double q = v * (1.0 - hsv.saturation * part);
    const double t = v * (1.0 - hsv.saturation * (1.0 - part));
    double r = v, g = t, b = p;
    switch (whole) {
    case 1: r = q; g = v; b = p; break;
    case 2: r = p; g = v; b = t; break;
    case 3: r = p; g = q; b = v; break;
    case 4: r = t; g = p; b = v; break;
    case 5: r = v; g = p; b = q; break;
    default: break;
    }
    return channel(r) << 16 | channel(g) << 8 | channel(b);
}

static Hsv turnHue(Hsv hsv, int hue)
{
    hsv.hue += hue % kDegreesInCircle;
    if (hsv.hue < 0.0)
        hsv.hue += kDegreesInCircle;
    if (hsv.hue >= kDegreesInCircle)
        hsv.hue -= kDegreesInCircle;
    return hsv;
}

typedef uint32_t ShiftRule(uint32_t rgb, int hue, int brightness);

static uint32_t keepColour(uint32_t rgb, int hue, int brightness)
{
    (void)hue;
    (void)brightness;
    return rgb;
}

static uint32_t shiftSurface(uint32_t rgb, int hue, int brightness)
{
    Hsv hsv = turnHue(toHsv(rgb), hue);
    const double reach = brightness / kPercent * kBrightnessReach;
    hsv.value += reach > 0.0 ? (1.0 - hsv.value) * reach : hsv.value * reach;
    if (hsv.value < 0.0)
        hsv.value = 0.0;
    if (hsv.value > 1.0)
        hsv.value = 1.0;
    return fromHsv(hsv);
}

static uint32_t shiftInk(uint32_t rgb, int hue, int brightness)
{
    (void)brightness;
    return fromHsv(turnHue(toHsv(rgb), hue));
}

/* By colour kind, as the skin file numbers them. */
static ShiftRule* const shiftRules[] = {keepColour, shiftSurface, shiftInk};

/* Checks the whole file before anything of it is taken. */
static int readSkin(const unsigned char* data, uint32_t length, uint32_t* colours, unsigned char* kinds)
{
    if (data == 0 || length < kSkinHeaderSize || !crcTableBuilt)
        return 0;
    if (memcmp(data, SKIN_MAGIC, kSkinMagicSize) != 0 || read16(data + 6) != kSkinFormatVersion)
        return 0;
    const uint32_t count = read16(data + 16);
    if (read32(data + 8) != length || count != kSkinRoleCount || read16(data + 18) != kSkinEntrySize)
        return 0;
    if (length != kSkinHeaderSize + count * kSkinEntrySize)
        return 0;
    if (checksum(data + kSkinChecksumStart, length - kSkinChecksumStart) != read32(data + 12))
        return 0;
    /* The name ends inside its field. */
    if (memchr(data + kSkinNameOffset, 0, kSkinNameSize) == 0)
        return 0;
    unsigned char seen[kSkinRoleCount] = {0};
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* entry = data + kSkinHeaderSize + i * kSkinEntrySize;
        const unsigned role = entry[0];
        const unsigned kind = entry[1];
        if (role >= kSkinRoleCount || seen[role] || kind > kSkinInk || (entry[5] | entry[6] | entry[7]) != 0)
            return 0;
        seen[role] = 1;
        kinds[role] = (unsigned char)kind;
        colours[role] = (uint32_t)entry[2] << 16 | (uint32_t)entry[3] << 8 | entry[4];
    }
    return 1;
}

static void paintProgram(void)
{
    uint32_t shifted[kSkinRoleCount];
    for (int role = 0; role < kSkinRoleCount; ++role)
        shifted[role] = shiftRules[skinKinds[role]](skinColours[role], currentHue, currentBrightness);
    qingheSkinPaint(shifted, kSkinRoleCount);
}

/* Our skins are open: a password is neither needed nor checked. A new skin
   starts unshifted. */
SKIN_EXPORT int skin_attach_res(const unsigned char* data, uint32_t length, const char* password)
{
    (void)password;
    uint32_t colours[kSkinRoleCount];
    unsigned char kinds[kSkinRoleCount];
    if (!readSkin(data, length, colours, kinds))
        return 0;
    memcpy(skinColours, colours, sizeof colours);
    memcpy(skinKinds, kinds, sizeof kinds);
    skinAttached = 1;
    currentHue = 0;
    currentBrightness = 0;
    paintProgram();
    return 1;
}

/* The shift is taken as given, whatever its size: the program keeps it in range. */
SKIN_EXPORT int skin_adjust_hsv(int hue, int brightness)
{
    if (!skinAttached)
        return 0;
    currentHue = hue;
    currentBrightness = brightness;
    paintProgram();
    return 1;
}
