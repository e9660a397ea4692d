/* The limiter on the virtual microphone's mix: a LADSPA plugin of ours that
 * the sound server loads (module-ladspa-sink) in front of the null sink a
 * chat program records from. The host's voice and the effects are added in
 * the server, in floating point, and this keeps the sum below full scale.
 *
 * Stereo-linked, no look-ahead (so it adds no delay): the gain falls at
 * once to what the loudest sample of the pair needs, is held for a few
 * milliseconds so a low note's cycle does not drag it up and down, then
 * comes back over a short release. Below the ceiling nothing is touched, so
 * speech at normal levels passes as it is. It runs inside the server's
 * real-time thread: run() allocates nothing and takes no lock. */

#include <ladspa.h>

#include <math.h>
#include <stdlib.h>

/* The unique id a LADSPA plugin carries; from the range left for private use. */
#define QINGHE_LIMITER_ID 4916
/* -1 dBFS: room for the chat program's own conversion to whole samples. */
static const float kCeiling = 0.891251f;
/* Long enough to cover a cycle of a 50 Hz voice, short enough not to be heard. */
static const float kHoldSeconds = 0.02f;
/* The gain comes back with this time constant: quick enough that a loud
 * effect does not leave the voice low behind it, slow enough not to pump. */
static const float kReleaseSeconds = 0.08f;

enum { kInLeft, kInRight, kOutLeft, kOutRight, kPortCount };

typedef struct {
    LADSPA_Data* ports[kPortCount];
    float gain;
    unsigned long hold;
    unsigned long holdSamples;
    float release;
} Limiter;

static LADSPA_Handle instantiate(const LADSPA_Descriptor* descriptor, unsigned long rate)
{
    (void)descriptor;
    Limiter* limiter = calloc(1, sizeof *limiter);
    if (!limiter)
        return NULL;
    limiter->gain = 1.0f;
    limiter->holdSamples = (unsigned long)(kHoldSeconds * (float)rate);
    limiter->release = 1.0f - expf(-1.0f / (kReleaseSeconds * (float)rate));
    return limiter;
}

static void connectPort(LADSPA_Handle handle, unsigned long port, LADSPA_Data* data)
{
    if (port < kPortCount)
        ((Limiter*)handle)->ports[port] = data;
}

static void activate(LADSPA_Handle handle)
{
    Limiter* limiter = handle;
    limiter->gain = 1.0f;
    limiter->hold = 0;
}

static void run(LADSPA_Handle handle, unsigned long frames)
{
    Limiter* limiter = handle;
    const LADSPA_Data* inLeft = limiter->ports[kInLeft];
    const LADSPA_Data* inRight = limiter->ports[kInRight];
    LADSPA_Data* outLeft = limiter->ports[kOutLeft];
    LADSPA_Data* outRight = limiter->ports[kOutRight];
    float gain = limiter->gain;
    unsigned long hold = limiter->hold;
    for (unsigned long i = 0; i < frames; ++i) {
        const float left = inLeft[i];
        const float right = inRight[i];
        const float peak = fmaxf(fabsf(left), fabsf(right));
        const float needed = peak > kCeiling ? kCeiling / peak : 1.0f;
        if (needed <= gain) {
            gain = needed;
            hold = limiter->holdSamples;
        } else if (hold > 0) {
            --hold;
        } else {
            gain += (needed - gain) * limiter->release;
            /* Coming back never lets this sample past the ceiling. */
            if (gain > needed)
                gain = needed;
        }
        outLeft[i] = left * gain;
        outRight[i] = right * gain;
    }
    limiter->gain = gain;
    limiter->hold = hold;
}

static void cleanup(LADSPA_Handle handle)
{
    free(handle);
}

static const LADSPA_PortDescriptor kPortKinds[kPortCount] = {
    LADSPA_PORT_INPUT | LADSPA_PORT_AUDIO,
    LADSPA_PORT_INPUT | LADSPA_PORT_AUDIO,
    LADSPA_PORT_OUTPUT | LADSPA_PORT_AUDIO,
    LADSPA_PORT_OUTPUT | LADSPA_PORT_AUDIO,
};
static const char* const kPortNames[kPortCount] = {"In L", "In R", "Out L", "Out R"};
static const LADSPA_PortRangeHint kPortHints[kPortCount] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};

static const LADSPA_Descriptor kDescriptor = {
    .UniqueID = QINGHE_LIMITER_ID,
    .Label = "qinghe_limiter",
    .Properties = LADSPA_PROPERTY_HARD_RT_CAPABLE,
    .Name = "Qinghe virtual microphone limiter",
    .Maker = "Qinghe",
    .Copyright = "None",
    .PortCount = kPortCount,
    .PortDescriptors = kPortKinds,
    .PortNames = kPortNames,
    .PortRangeHints = kPortHints,
    .instantiate = instantiate,
    .connect_port = connectPort,
    .activate = activate,
    .run = run,
    .cleanup = cleanup,
};

__attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(unsigned long index)
{
    return index == 0 ? &kDescriptor : NULL;
}
