#pragma once

// What every libpulse client of the program does alike: the engine's
// streams and the routing's connection. Both mark what they make with the
// program's role property, and neither ever starts a server.

#include <string>

struct pa_context;
struct pa_mainloop_api;
struct pa_proplist;

namespace qinghe {

// The property the program marks everything it makes on the server with;
// its value says which part of the board or the virtual microphone it is.
inline constexpr const char* kRoleProperty = "qinghe.role";

// A new context on the loop, connecting to the server the environment
// names (PULSE_SERVER) or the user's own; nullptr when it cannot even begin.
pa_context* connectPulseClient(pa_mainloop_api* api, const std::string& clientName);

// Where a context stands, as a wait for it needs to know.
enum class PulseClientState { Connecting, Ready, Failed };
PulseClientState pulseClientState(pa_context* context);

// Properties for a stream of the program's: its role mark, and a memory of
// its own on the server so no two roles are restored to each other's place
// or volume. The caller frees them.
pa_proplist* roleProperties(const std::string& role);

}  // namespace qinghe
