#pragma once

// The addresses the download service takes, and where a redirection leads.

#include "text/text.h"

#include <optional>
#include <string_view>

namespace qinghe {

// An address split into its parts. The schemes known are http (port 80),
// ftp (21), mms and mmst (1755) and rtsp (554), each followed by "://" and
// matched ignoring case; only http is fetched.
struct DownloadAddress {
    Text scheme;    // in lower case
    Text user;      // "user:password@" before the host (FTP), else empty
    Text password;
    Text host;
    int port = 0;   // the scheme's own unless the address names one
    Text path;      // from the first "/" after the host, "/" when none; no "#" part
};

// The parts of address, cut by splitAddress; nothing when the scheme is not
// known, the host is empty or holds a space or a control byte, or the port
// is not one portNumber takes.
std::optional<DownloadAddress> parseDownloadAddress(std::string_view address);

inline bool isHttp(const DownloadAddress& address) { return address.scheme == "http"; }

// Where a redirection's Location leads from current (an http address):
// - an http address replaces everything;
// - "//host/path" is taken as an http address;
// - "/path" replaces the path on the same server;
// - anything else is taken relative to the folder of the current path.
// Nothing when it names another scheme (ftp among them: the service fetches
// only http) or an unusable host. The text of the new address comes with it.
struct Redirection {
    DownloadAddress address;
    Text addressText;
    bool absolute = false;  // an address of its own, which also becomes the default referrer
};
std::optional<Redirection> followLocation(const DownloadAddress& current, std::string_view location);

// The address as text: "http://host[:port]/path", the port only when it is
// not the scheme's own.
Text addressText(const DownloadAddress& address);

// The default Referer: the address up to, not including, its last "/"; the
// whole address when that "/" is part of the "://" after the scheme.
Text defaultReferrer(std::string_view address);

}  // namespace qinghe
