#pragma once

// The reading of addresses.ini, on its bytes alone (no file, no Qt), so that
// any bytes can be thrown at it. The file is UTF-8 text in INI form:
//
//   [addresses]
//   site = www.example.org:8080
//   lyrics = https://lyrics.example.org
//
// Section and key names are matched ignoring ASCII case; blank lines and
// lines starting with ";" or "#" are comments. Within [addresses], a line
// that is not "key = value", names no key we know, or holds a value that is
// not an acceptable address is passed over; every other line still counts.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qinghe {

// The keys of [addresses], one per site the program talks to.
inline constexpr std::array<std::string_view, 7> kAddressKeys = {
    "site", "partner", "download", "music", "video", "lyrics", "contact",
};

struct AddressSetting {
    std::size_t key = 0;  // index into kAddressKeys
    std::string base;     // as baseAddressOf gives it
};

// Every accepted line of [addresses], in file order (a later line for the
// same key wins when they are applied in order).
std::vector<AddressSetting> readAddressFile(std::string_view bytes);

// The base address a value stands for: "http://" and a host[:port] for a bare
// host[:port]; an "http://" or "https://" address with its scheme in small
// letters and no "/" at its end. Empty when the value is none of these: the
// host is 1 to 253 letters, digits, ".", "-" or "_", the port one that
// portNumber takes (1 to 65535, at most five digits), and a path after the
// host is visible ASCII without "?" or "#" (page paths and queries are
// added to it).
std::string baseAddressOf(std::string_view value);

}  // namespace qinghe
