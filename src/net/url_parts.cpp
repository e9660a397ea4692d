#include "url_parts.h"

#include <climits>
#include <cstddef>

namespace qinghe {
namespace {

constexpr std::string_view kSchemeMark = "://";
constexpr int kDecimalBase = 10;
// Five digits reach past the highest port.
constexpr std::size_t kLongestPort = 5;

// The HTTP routine reads only "http://" as a scheme, and only "/" ends its host.
constexpr std::string_view kRequestSchemes[] = {"http"};
constexpr AddressForm kRequestForm{kRequestSchemes, "/", false};

// Index of the first character of text that is one of marks, or text.size().
std::size_t firstMark(std::string_view text, std::string_view marks)
{
    std::size_t i = 0;
    while (i < text.size() && marks.find(text[i]) == std::string_view::npos)
        i += characterLength(text, i);
    return i;
}

// The scheme the address starts with, of those the form knows, or empty.
std::string_view leadingScheme(std::string_view address, const AddressForm& form)
{
    for (const std::string_view name : form.schemes) {
        if (address.size() >= name.size() + kSchemeMark.size() &&
            sameTextIgnoringCase(address.substr(0, name.size()), name) &&
            address.substr(name.size(), kSchemeMark.size()) == kSchemeMark)
            return address.substr(0, name.size());
    }
    return {};
}

int leadingNumber(std::string_view digits)
{
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            break;
        const int digit = c - '0';
        if (value > (INT_MAX - digit) / kDecimalBase)
            return INT_MAX;
        value = value * kDecimalBase + digit;
    }
    return value;
}

}  // namespace

std::optional<int> portNumber(std::string_view digits)
{
    if (digits.empty() || digits.size() > kLongestPort ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const int port = leadingNumber(digits);
    if (!isUsablePort(port))
        return std::nullopt;
    return port;
}

AddressParts splitAddress(std::string_view address, const AddressForm& form)
{
    AddressParts parts;
    parts.scheme = leadingScheme(address, form);
    const std::string_view afterScheme =
        parts.scheme.empty() ? address : address.substr(parts.scheme.size() + kSchemeMark.size());
    const std::size_t hostEnd = firstMark(afterScheme, form.hostEnds);
    std::string_view hostPart = afterScheme.substr(0, hostEnd);
    parts.rest = afterScheme.substr(hostEnd);
    if (form.login) {
        std::size_t afterLogin = 0;
        for (std::size_t i = 0; i < hostPart.size(); i += characterLength(hostPart, i)) {
            if (hostPart[i] == '@')
                afterLogin = i + 1;
        }
        if (afterLogin > 0) {
            parts.login = hostPart.substr(0, afterLogin - 1);
            hostPart.remove_prefix(afterLogin);
        }
    }
    const std::size_t colon = firstMark(hostPart, ":");
    parts.host = hostPart.substr(0, colon);
    if (colon < hostPart.size())
        parts.port = hostPart.substr(colon + 1);
    return parts;
}

Text urlHost(std::string_view url)
{
    // Only single-byte letters fold; a double-byte character stays whole.
    return toLowerAsciiText(splitAddress(url, kRequestForm).host);
}

int urlPort(std::string_view url)
{
    const std::optional<std::string_view> port = splitAddress(url, kRequestForm).port;
    return port ? leadingNumber(*port) : kDefaultHttpPort;
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
