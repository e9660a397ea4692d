#include "sound_file_library.h"

#include <dlfcn.h>

#include <mutex>
#include <optional>

namespace qinghe {

namespace {

// The name the run-time package installs (on Debian, libsndfile1).
constexpr const char* kSoundFileLibraryName = "libsndfile.so.1";

template <typename Entry>
bool resolve(void* library, const char* name, Entry& entry)
{
    entry = reinterpret_cast<Entry>(dlsym(library, name));
    return entry != nullptr;
}

std::optional<SoundFileLibrary> load()
{
    void* library = dlopen(kSoundFileLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return std::nullopt;
    SoundFileLibrary l{};
    const bool complete = resolve(library, "sf_open", l.open)
                          && resolve(library, "sf_readf_float", l.readFloatFrames)
                          && resolve(library, "sf_seek", l.seek)
                          && resolve(library, "sf_close", l.close);
    if (!complete) {
        dlclose(library);
        return std::nullopt;
    }
    return l;
}

}  // namespace

const SoundFileLibrary* soundFileLibrary()
{
    // Never destroyed: a measurement may still run while the process exits.
    static auto* const lock = new std::mutex;
    static auto* const loaded = new std::optional<SoundFileLibrary>;
    std::lock_guard guard(*lock);
    if (!*loaded)
        *loaded = load();
    return *loaded ? &**loaded : nullptr;
}

}  // namespace qinghe
