#include "chunked_body.h"

#include <algorithm>

namespace qinghe {

namespace {

// A size line (hex digits and any extensions) or a trailer line longer than
// this is not framing any server sends.
constexpr std::size_t kLongestLine = 4096;
// Fifteen hex digits stay clear of overflow, and no chunk is that big.
constexpr std::size_t kMostSizeDigits = 15;
constexpr unsigned kHexBase = 16;
constexpr unsigned kDecimalDigits = 10;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + static_cast<int>(kDecimalDigits);
    if (c >= 'A' && c <= 'F')
        return c - 'A' + static_cast<int>(kDecimalDigits);
    return -1;
}

}  // namespace

bool ChunkedBody::take(std::string_view received, std::string& out)
{
    while (!received.empty()) {
        switch (state_) {
        case State::finished:
            // Whatever follows the body belongs to no file.
            return true;
        case State::broken:
            return false;
        case State::data: {
            const std::size_t count =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, received.size()));
            out.append(received.substr(0, count));
            received.remove_prefix(count);
            remaining_ -= count;
            if (remaining_ == 0)
                state_ = State::dataEnd;
            break;
        }
        case State::sizeLine:
        case State::dataEnd:
        case State::trailer: {
            const std::size_t newline = received.find('\n');
            line_.append(received.substr(0, newline));
            if (line_.size() > kLongestLine) {
                state_ = State::broken;
                return false;
            }
            if (newline == std::string_view::npos)
                return true;
            received.remove_prefix(newline + 1);
            if (!line_.empty() && line_.back() == '\r')
                line_.pop_back();
            const bool good = endOfLine(line_);
            line_.clear();
            if (!good) {
                state_ = State::broken;
                return false;
            }
            break;
        }
        }
    }
    return state_ != State::broken;
}

bool ChunkedBody::endOfLine(std::string_view line)
{
    if (state_ == State::dataEnd) {
        // The CR LF after a chunk's bytes.
        state_ = State::sizeLine;
        return line.empty();
    }
    if (state_ == State::trailer) {
        if (line.empty())
            state_ = State::finished;
        return true;
    }
    std::uint64_t size = 0;
    std::size_t digits = 0;
    for (; digits < line.size() && hexDigit(line[digits]) >= 0; ++digits) {
        if (digits == kMostSizeDigits)
            return false;
        size = size * kHexBase + static_cast<unsigned>(hexDigit(line[digits]));
    }
    if (digits == 0)
        return false;
    // After the digits only spaces or ";" and extensions may follow.
    const std::string_view rest = line.substr(digits);
    if (!rest.empty() && rest.front() != ';' && rest.front() != ' ' && rest.front() != '\t')
        return false;
    remaining_ = size;
    state_ = size == 0 ? State::trailer : State::data;
    return true;
}

}  // namespace qinghe
