#include "download_address.h"

#include "url_parts.h"

#include <array>
#include <string>

namespace qinghe {

namespace {

constexpr std::string_view kSchemeMark = "://";

struct KnownScheme {
    std::string_view name;
    int defaultPort;
};

// The well-known port of each scheme.
constexpr std::array<KnownScheme, 5> kKnownSchemes{{
    {"http", 80},
    {"ftp", 21},
    {"mms", 1755},
    {"mmst", 1755},
    {"rtsp", 554},
}};
constexpr auto kSchemeNames = [] {
    std::array<std::string_view, kKnownSchemes.size()> names{};
    for (std::size_t i = 0; i < names.size(); ++i)
        names[i] = kKnownSchemes[i].name;
    return names;
}();

// A download address names one of the schemes; its host part ends at the
// path, the query or the fragment, and may carry an FTP login.
constexpr AddressForm kDownloadForm{kSchemeNames, "/?#", true};

const KnownScheme* knownScheme(std::string_view name)
{
    for (const KnownScheme& known : kKnownSchemes) {
        if (name == known.name)
            return &known;
    }
    return nullptr;
}

// The path part of what follows the host: from its "/" (a "?" right after
// the host gets a "/" before it), without any "#" part.
Text pathPart(std::string_view rest)
{
    const std::size_t hash = rest.find('#');
    if (hash != std::string_view::npos)
        rest = rest.substr(0, hash);
    if (rest.empty())
        return "/";
    Text path;
    if (rest.front() != '/')
        path = "/";
    path.append(rest);
    return path;
}

// A host goes into the Host line as it is: no space or control byte.
bool plainHost(std::string_view host)
{
    constexpr unsigned char kSpace = 0x20;
    constexpr unsigned char kDelete = 0x7F;
    for (const char ch : host) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= kSpace || c == kDelete)
            return false;
    }
    return true;
}

}  // namespace

std::optional<DownloadAddress> parseDownloadAddress(std::string_view address)
{
    const AddressParts split = splitAddress(address, kDownloadForm);
    if (split.scheme.empty() || split.host.empty() || !plainHost(split.host))
        return std::nullopt;
    DownloadAddress parts;
    parts.scheme = toLowerAsciiText(split.scheme);
    const std::size_t colon = split.login.find(':');
    parts.user = Text(split.login.substr(0, colon));
    if (colon != std::string_view::npos)
        parts.password = Text(split.login.substr(colon + 1));
    parts.port = knownScheme(parts.scheme)->defaultPort;
    if (split.port) {
        const std::optional<int> port = portNumber(*split.port);
        if (!port)
            return std::nullopt;
        parts.port = *port;
    }
    parts.host = toLowerAsciiText(split.host);
    parts.path = pathPart(split.rest);
    return parts;
}

std::optional<Redirection> followLocation(const DownloadAddress& current, std::string_view location)
{
    const std::size_t mark = location.find(kSchemeMark);
    const std::size_t firstSlash = location.find('/');
    if (mark != std::string_view::npos && mark < firstSlash) {
        // An address of its own: only http is fetched.
        std::optional<DownloadAddress> next = parseDownloadAddress(location);
        if (!next || !isHttp(*next))
            return std::nullopt;
        return Redirection{*next, Text(location), true};
    }
    if (location.substr(0, 2) == "//") {
        const Text withScheme = "http:" + Text(location);
        std::optional<DownloadAddress> next = parseDownloadAddress(withScheme);
        if (!next)
            return std::nullopt;
        return Redirection{*next, withScheme, true};
    }
    DownloadAddress next = current;
    if (!location.empty() && location.front() == '/') {
        next.path = pathPart(location);
    } else {
        // The folder of the current path, query left out.
        const std::string_view path = std::string_view(current.path).substr(0, current.path.find('?'));
        const std::size_t lastSlash = path.rfind('/');
        const std::string_view folder = path.substr(0, lastSlash == std::string_view::npos ? 0 : lastSlash + 1);
        next.path = pathPart(Text(folder) + Text(location));
    }
    return Redirection{next, addressText(next), false};
}

Text addressText(const DownloadAddress& address)
{
    Text text = address.scheme + "://" + address.host;
    const KnownScheme* scheme = knownScheme(address.scheme);
    if (!scheme || scheme->defaultPort != address.port)
        text.append(":").append(std::to_string(address.port));
    text.append(address.path);
    return text;
}

Text defaultReferrer(std::string_view address)
{
    const std::size_t lastSlash = address.rfind('/');
    const std::size_t mark = address.find(kSchemeMark);
    if (lastSlash == std::string_view::npos ||
        (mark != std::string_view::npos && lastSlash < mark + kSchemeMark.size()))
        return Text(address);
    return Text(address.substr(0, lastSlash));
}

}  // namespace qinghe
