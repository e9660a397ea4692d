#include "url_parts.h"

#include <climits>
#include <cstddef>

namespace qinghe {
namespace {

constexpr std::string_view kScheme = "http://";

// Position (1-based) of the first byte after the scheme.
constexpr int kAfterScheme = static_cast<int>(kScheme.size()) + 1;

// The host with its port: after the scheme (when there is one) up to the
// first "/" that follows.
std::string_view hostAndPort(std::string_view url)
{
    if (url.size() >= kScheme.size() && sameTextIgnoringCase(url.substr(0, kScheme.size()), kScheme)) {
        const int slash = findInText(url, "/", kAfterScheme);
        const std::size_t from = kScheme.size();
        if (slash < 0)
            return url.substr(from);
        return url.substr(from, static_cast<std::size_t>(slash - kAfterScheme));
    }
    const int slash = findInText(url, "/", 1);
    if (slash > 0)
        return url.substr(0, static_cast<std::size_t>(slash - 1));
    return url;
}

int leadingNumber(std::string_view digits)
{
    constexpr int kBase = 10;
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            break;
        const int digit = c - '0';
        if (value > (INT_MAX - digit) / kBase)
            return INT_MAX;
        value = value * kBase + digit;
    }
    return value;
}

}  // namespace

Text urlHost(std::string_view url)
{
    std::string_view host = hostAndPort(url);
    const int colon = findInText(host, ":", 1, true);
    if (colon > 0)
        host = host.substr(0, static_cast<std::size_t>(colon - 1));
    Text lower(host);
    // Only single-byte letters fold; a double-byte character stays whole.
    for (std::size_t i = 0; i < lower.size(); i += characterLength(lower, i))
        lower[i] = toLowerAscii(lower[i]);
    return lower;
}

int urlPort(std::string_view url)
{
    const std::string_view host = hostAndPort(url);
    const int colon = findInText(host, ":", 1, true);
    if (colon < 0)
        return kDefaultHttpPort;
    return leadingNumber(host.substr(static_cast<std::size_t>(colon)));
}

Text urlPath(std::string_view url)
{
    // The host is looked for from the very start, so a host that also
    // occurs in "http://" is found there and the path begins in the scheme.
    const int hostAt = findInText(url, urlHost(url), 1, true);
    const int slash = findInText(url, "/", hostAt, true);
    if (slash < 0)
        return "/";
    return Text(url.substr(static_cast<std::size_t>(slash - 1)));
}

}  // namespace qinghe
