#pragma once

// libsndfile, the decoder the loudness meter reads files with (and the
// sound server's streams play them with), loaded on first use rather than
// when the program starts: it brings the
// FLAC, Vorbis, Opus and MPEG decoders' libraries along, which the program
// would otherwise map before its first window.

#include <sndfile.h>

namespace qinghe {

// The entry points, typed from the library's own declarations.
struct SoundFileLibrary {
    decltype(&::sf_open) open;
    decltype(&::sf_readf_float) readFloatFrames;
    decltype(&::sf_seek) seek;
    decltype(&::sf_close) close;
};

// Loads the library on the first call; nullptr when it cannot be loaded or
// lacks an entry point, which the meter takes as a file it cannot measure.
// Safe from any thread; once loaded the library stays for the process.
const SoundFileLibrary* soundFileLibrary();

}  // namespace qinghe
