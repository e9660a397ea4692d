#pragma once

// The body of a reply sent in chunks ("Transfer-Encoding: chunked"): each
// chunk is its size in hex on a line of its own, the bytes and CR LF; a
// chunk of size 0 and the trailer lines after it end the body. Our requests
// say HTTP/1.1, so a server that does not know the size may answer so.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qinghe {

class ChunkedBody {
public:
    // Takes the next bytes of the body as they came from the network and
    // appends the file's bytes among them to out. False when the framing is
    // broken; the decoder then takes nothing more.
    bool take(std::string_view received, std::string& out);
    // The last chunk and the trailer have come.
    bool finished() const { return state_ == State::finished; }

private:
    enum class State { sizeLine, data, dataEnd, trailer, finished, broken };
    bool endOfLine(std::string_view line);

    State state_ = State::sizeLine;
    std::string line_;
    std::uint64_t remaining_ = 0;
};

}  // namespace qinghe
