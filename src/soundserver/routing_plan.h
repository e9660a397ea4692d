#pragma once

// What the program wants on the sound server for a set of settings: the
// modules of the virtual microphone, in loading order, and where the board's
// sound output plays. Worked out from the server's devices alone, so it is
// the same wherever the settings and the devices are the same.
//
// The virtual microphone, module by module:
//   limited     a null sink that takes the mix once it is limited
//   mix         where the effects and the host's voice meet: a LADSPA sink
//               running the program's limiter into "limited", so what the
//               chat hears stays below full scale whatever is added together
//               (without the limiter's plugin, a plain null sink)
//   microphone  "青禾虚拟麦克风", the limited mix's monitor as a source of
//               its own: what a chat program records
//   passthrough loopback: the host's microphone -> mix (switchable)
// Every one carries kRoleProperty in its properties, so the program knows
// its own modules again after a crash. The board's effects need no module:
// the output plays them as two streams of its own, straight into the mix
// and to the listening device.

#include "pulse_connection.h"
#include "sound_settings.h"
#include "media/engine/output_target.h"

#include <string>
#include <vector>

namespace qinghe {

inline constexpr const char* kMixSinkName = "qinghe_mix";
inline constexpr const char* kMixSinkDescription = "青禾虚拟麦克风混音";
inline constexpr const char* kLimitedSinkName = "qinghe_limited";
inline constexpr const char* kLimitedSinkDescription = "青禾虚拟麦克风限幅";
inline constexpr const char* kMicrophoneName = "qinghe_microphone";
inline constexpr const char* kMicrophoneDescription = "青禾虚拟麦克风";

// Where the board's sound output opens; an empty driver is the audio
// layer's own choice, an empty device that driver's default.
using OutputTarget = MediaOutputDevice;
// Where the output goes while the server it played on is away: nowhere.
inline const OutputTarget kNoOutput{kNoAudioDriver, {}, {}};

// Why part of what the settings ask for is not there.
enum class RoutingProblem {
    None,
    NoServer,                // no sound server answers
    ServerRefused,           // the server would not load a module of the virtual microphone
    ListeningDeviceMissing,  // the chosen listening device is gone: the default plays
    NoMicrophone,            // pass-through asked, but the server has no such microphone
    HeldByOtherCopy,         // another running copy of the program serves the virtual microphone
};

struct PlannedModule {
    std::string role;
    std::string name;
    std::string argument;

    bool operator==(const PlannedModule&) const = default;
};

// What the server has, as far as the plan needs it.
struct ServerPicture {
    std::vector<ServerDevice> sinks;
    std::vector<ServerDevice> sources;
    ServerDefaults defaults;
};

struct RoutingPlan {
    std::vector<PlannedModule> modules;  // loading order; unloading goes backwards
    OutputTarget output;
    bool microphone = false;
    bool passThrough = false;
    RoutingProblem problem = RoutingProblem::None;
};

// limiterPlugin: the limiter's plugin by its full path; empty when there is none.
RoutingPlan planRouting(const SoundSettings& settings, const ServerPicture& server,
                        const std::string& limiterPlugin = {});

// The roles whose sound each level of the settings scales: the board's
// streams into the mix (chat) and to the host's ears (listening), and the
// host's microphone.
inline constexpr const char* kChatRole = kChatStreamRole;
inline constexpr const char* kListeningRole = kListeningStreamRole;
inline constexpr const char* kMicrophoneRole = "passthrough";

// Where the limiter's plugin is: beside the program, or where it is
// installed; empty when neither has it.
std::string findLimiterPlugin();

// The role a loaded module's argument marks it with; empty for modules not the program's.
std::string roleOfModule(const ServerModule& module);
// Devices the program made: people choose among the others.
bool isOwnDevice(const ServerDevice& device);
// The host's microphone: the source named, or with none named the server's
// default; never one of the program's own devices nor a monitor, whose
// sound would come round again. With none named and the default unfit, the
// first fit source; null when there is none.
const ServerDevice* hostMicrophone(const std::string& named, const ServerPicture& server);
// The device of that name in the list; null when it is not there.
const ServerDevice* findDevice(const std::vector<ServerDevice>& devices, const std::string& name);

}  // namespace qinghe
