#pragma once

// The address splitting of the HTTP routine. An address is "http://" (in any
// case) or nothing, then a host, an optional ":" and port, then any path and
// query. Only "http://" counts as a scheme: for any other the scheme's name is
// taken for the host. GBK bytes throughout, searched with the text core.

#include "text/text.h"

#include <string_view>

namespace qinghe {

// The port a request goes to when the address names none.
inline constexpr int kDefaultHttpPort = 80;

// The host, ASCII letters in lower case, without the port.
Text urlHost(std::string_view url);

// The leading decimal number after the host's ":" (0 when no digit follows,
// capped at INT_MAX), else kDefaultHttpPort.
int urlPort(std::string_view url);

// Every byte from the first "/" found from where the host stands, query
// included; "/" when there is none.
Text urlPath(std::string_view url);

}  // namespace qinghe
