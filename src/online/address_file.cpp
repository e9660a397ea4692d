#include "address_file.h"

#include "net/url_parts.h"
#include "text/text.h"

namespace qinghe {
namespace {

constexpr std::string_view kSection = "addresses";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A value is a bare host[:port] or a web address; "/" alone ends its host,
// and an "@" is no login but a byte no host may hold.
constexpr std::string_view kWebSchemes[] = {"http", "https"};
constexpr AddressForm kBaseForm{kWebSchemes, "/", false};
constexpr std::string_view kPlainScheme = "http";

// The longest host name DNS can carry.
constexpr std::size_t kLongestHost = 253;

bool isHostCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

bool isHost(std::string_view host)
{
    if (host.empty() || host.size() > kLongestHost)
        return false;
    for (const char c : host)
        if (!isHostCharacter(c))
            return false;
    return true;
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
    const AddressParts parts = splitAddress(value, kBaseForm);
    // A bare host carries no path: anything else with a "/" is no address of ours.
    if (parts.scheme.empty() && !parts.rest.empty())
        return {};
    if (!isHost(parts.host) || (parts.port && !portNumber(*parts.port)) || !isPathPrefix(parts.rest))
        return {};
    std::string_view path = parts.rest;
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    std::string base = parts.scheme.empty() ? std::string(kPlainScheme) : toLowerAsciiText(parts.scheme);
    base += "://";
    base += parts.host;
    if (parts.port)
        base.append(":").append(*parts.port);
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
        const std::string_view line = trimSpaces(bytes.substr(0, end), Blanks::FieldBlanks);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);

        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            // A broken section line is passed over like any malformed line.
            if (line.back() == ']')
                inSection = sameTextIgnoringCase(
                    trimSpaces(line.substr(1, line.size() - 2), Blanks::FieldBlanks), kSection);
            continue;
        }
        if (!inSection)
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::size_t key = keyIndex(trimSpaces(line.substr(0, equals), Blanks::FieldBlanks));
        std::string base = baseAddressOf(trimSpaces(line.substr(equals + 1), Blanks::FieldBlanks));
        if (key < kAddressKeys.size() && !base.empty())
            settings.push_back({key, std::move(base)});
    }
    return settings;
}

}  // namespace qinghe
