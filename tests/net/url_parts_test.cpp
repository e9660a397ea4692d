#include "net/url_parts.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using qinghe::urlHost;
using qinghe::urlPath;
using qinghe::urlPort;

namespace {

struct Split {
    std::string url;
    std::string host;
    int port;
    std::string path;
};

// Each row: how one address is cut into host, port and path.
const Split kAddresses[] = {
    // Scheme and host in capitals, a port and a query.
    {"HTTP://WWW.Example.COM:8080/tongji/online.asp?a=1&B=2", "www.example.com", 8080,
     "/tongji/online.asp?a=1&B=2"},
    // No path: the root, and the default port.
    {"http://www.example.com", "www.example.com", 80, "/"},
    {"www.example.com", "www.example.com", 80, "/"},
    // Without the scheme the host runs up to the first "/".
    {"127.0.0.1:81/updata.html", "127.0.0.1", 81, "/updata.html"},
    // Only "http://" is a scheme: for https the scheme's name is the host.
    {"https://www.example.com/a", "https", 0, "//www.example.com/a"},
    // A port without digits is 0; digits stop at the first other byte.
    {"http://h.example:/x", "h.example", 0, "/x"},
    {"http://h.example:12ab/x", "h.example", 12, "/x"},
    // The host is looked for from the start: one that also stands in
    // "http://" is found there, and the path begins in the scheme.
    {"http://p/x", "p", 80, "//p/x"},
    // A double-byte character keeps its bytes; only single-byte letters fold.
    // "\xD6\x41" is one character whose second byte is an "A".
    {"http://\xD6\x41Host/x", "\xD6\x41host", 80, "/x"},
    // A "/" that is the second byte of a character does not end the host.
    {"http://a\x81/b.example/c", "a\x81/b.example", 80, "/c"},
    // A port too long for a number stays the largest one.
    {"h:99999999999999999999", "h", INT_MAX, "/"},
    {"", "", 80, "/"},
};

TEST(UrlParts, SplitsEveryAddressOfTheTable)
{
    for (const Split& row : kAddresses) {
        SCOPED_TRACE(row.url);
        EXPECT_EQ(urlHost(row.url), row.host);
        EXPECT_EQ(urlPort(row.url), row.port);
        EXPECT_EQ(urlPath(row.url), row.path);
    }
}

}  // namespace
