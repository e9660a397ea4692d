#include "address_file.h"

#include "text/text.h"

namespace qinghe {
namespace {

constexpr std::string_view kSection = "addresses";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\r";
constexpr std::string_view kPlainScheme = "http://";
constexpr std::string_view kSecureScheme = "https://";

// The longest host name DNS can carry.
constexpr std::size_t kLongestHost = 253;
// The highest number a TCP port can have.
constexpr long kHighestPort = 65535;
// Five digits reach past the highest port.
constexpr std::size_t kLongestPort = 5;

std::string_view trimmed(std::string_view s)
{
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool startsWithIgnoringCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && sameTextIgnoringCase(s.substr(0, prefix.size()), prefix);
}

bool isHostCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

bool isPort(std::string_view digits)
{
    if (digits.empty() || digits.size() > kLongestPort)
        return false;
    long port = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= kHighestPort;
}

// host, or host ":" port.
bool isHostAndPort(std::string_view s)
{
    const std::size_t colon = s.find(':');
    const std::string_view host = s.substr(0, colon);
    if (host.empty() || host.size() > kLongestHost)
        return false;
    for (const char c : host)
        if (!isHostCharacter(c))
            return false;
    return colon == std::string_view::npos || isPort(s.substr(colon + 1));
}

// Visible ASCII that can stand before a page's own path.
bool isPathPrefix(std::string_view path)
{
    for (const char c : path)
        if (c <= ' ' || c > '~' || c == '?' || c == '#')
            return false;
    return true;
}

// The index of a known key, or kAddressKeys.size().
std::size_t keyIndex(std::string_view name)
{
    std::size_t i = 0;
    while (i < kAddressKeys.size() && !sameTextIgnoringCase(name, kAddressKeys[i]))
        ++i;
    return i;
}

}  // namespace

std::string baseAddressOf(std::string_view value)
{
    std::string_view scheme = kPlainScheme;
    std::string_view rest = value;
    if (startsWithIgnoringCase(value, kSecureScheme)) {
        scheme = kSecureScheme;
        rest = value.substr(kSecureScheme.size());
    } else if (startsWithIgnoringCase(value, kPlainScheme)) {
        rest = value.substr(kPlainScheme.size());
    } else if (value.find('/') != std::string_view::npos) {
        // A bare host carries no path: anything else with a "/" is no address of ours.
        return {};
    }
    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    std::string_view path = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);
    if (!isHostAndPort(authority) || !isPathPrefix(path))
        return {};
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    std::string base(scheme);
    base += authority;
    base += path;
    return base;
}

std::vector<AddressSetting> readAddressFile(std::string_view bytes)
{
    if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        bytes.remove_prefix(kByteOrderMark.size());
    std::vector<AddressSetting> settings;
    bool inSection = false;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view line = trimmed(bytes.substr(0, end));
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);

        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            // A broken section line is passed over like any malformed line.
            if (line.back() == ']')
                inSection = sameTextIgnoringCase(trimmed(line.substr(1, line.size() - 2)), kSection);
            continue;
        }
        if (!inSection)
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::size_t key = keyIndex(trimmed(line.substr(0, equals)));
        std::string base = baseAddressOf(trimmed(line.substr(equals + 1)));
        if (key < kAddressKeys.size() && !base.empty())
            settings.push_back({key, std::move(base)});
    }
    return settings;
}

}  // namespace qinghe
