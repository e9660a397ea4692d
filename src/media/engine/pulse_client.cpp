#include "pulse_client.h"

#include <pulse/context.h>
#include <pulse/proplist.h>

namespace qinghe {

pa_context* connectPulseClient(pa_mainloop_api* api, const std::string& clientName)
{
    pa_context* context = pa_context_new(api, clientName.c_str());
    if (!context)
        return nullptr;
    // Starting a server is the desktop's business, not a sound board's.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        pa_context_unref(context);
        return nullptr;
    }
    return context;
}

PulseClientState pulseClientState(pa_context* context)
{
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY)
        return PulseClientState::Ready;
    return PA_CONTEXT_IS_GOOD(state) ? PulseClientState::Connecting : PulseClientState::Failed;
}

pa_proplist* roleProperties(const std::string& role)
{
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, kRoleProperty, role.c_str());
    pa_proplist_sets(properties, "module-stream-restore.id", ("sink-input-by-qinghe-role:" + role).c_str());
    return properties;
}

}  // namespace qinghe
