#pragma once

// The program's one way of cutting a web address into scheme, host, port and
// path, which every reader of addresses builds on, and its one port rule.
// GBK bytes throughout: a mark that is the second byte of a character is
// no mark.
//
// On it, the address splitting of the HTTP routine: an address is "http://"
// (in any case) or nothing, then a host, an optional ":" and port, then any
// path and query. Only "http://" counts as a scheme: for any other the
// scheme's name is taken for the host.

#include "text/text.h"

#include <optional>
#include <span>
#include <string_view>

namespace qinghe {

// The port a request goes to when the address names none.
inline constexpr int kDefaultHttpPort = 80;

// Ports are 16-bit numbers; port 0 cannot be connected to.
inline constexpr int kHighestPort = 65535;

// A port a connection can be made to: 1 to kHighestPort.
inline bool isUsablePort(long long port) { return port >= 1 && port <= kHighestPort; }

// The usable port that digits name: one to five decimal digits and nothing
// else; nothing otherwise.
std::optional<int> portNumber(std::string_view digits);

// How a reader of addresses wants them cut.
struct AddressForm {
    // The scheme names an address may start with, each before "://" and
    // matched ignoring case; an address that starts with none has no scheme.
    std::span<const std::string_view> schemes;
    // The bytes that end the host part (all ASCII).
    std::string_view hostEnds = "/";
    // Whether "user:password@" may stand before the host; without it an "@"
    // is part of the host.
    bool login = false;
};

// An address cut at its marks, each part a view into it; nothing is checked.
struct AddressParts {
    std::string_view scheme;  // as written; empty when the address starts with none of the form's
    std::string_view login;   // before the host part's last "@", without it
    std::string_view host;
    std::optional<std::string_view> port;  // after the first ":" that follows the login
    std::string_view rest;    // from the byte that ended the host part: path, query, fragment
};

AddressParts splitAddress(std::string_view address, const AddressForm& form);

// The host, ASCII letters in lower case, without the port.
Text urlHost(std::string_view url);

// The leading decimal number after the host's ":" (0 when no digit follows,
// capped at INT_MAX), else kDefaultHttpPort.
int urlPort(std::string_view url);

// Every byte from the first "/" found from where the host stands, query
// included; "/" when there is none.
Text urlPath(std::string_view url);

}  // namespace qinghe
