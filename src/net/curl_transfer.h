#pragma once

// What the HTTP routines share on libcurl: handles that free themselves, the
// settings both routines make, the collection of a reply and the transfer
// loop. Internal to the net module.

#include "text/text.h"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string_view>

namespace qinghe::net {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

// The user agent both routines send.
inline constexpr std::string_view kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// How long connecting, and any silence while sending or receiving, may last
// before the request gives up.
inline constexpr std::chrono::milliseconds kNetworkTimeout{18000};

// The longest a whole read may take, connecting included, whatever the
// server does: one that trickles a byte or two a second is never silent long
// enough for the limit above, and would hold its caller for as long as it likes.
inline constexpr std::chrono::milliseconds kWholeReadLimit{20000};

// The largest body a read takes in. No page the program reads comes near it;
// a longer one is no page of ours, so the read stops there and memory never
// holds more than this, however much the server sends.
inline constexpr std::size_t kLargestPage = 1024 * 1024;

// Redirections followed before giving up: the common value for web browsers.
inline constexpr long kMaxRedirections = 20;

// A fresh handle that sends our user agent, speaks only http and https,
// gives up after the time-outs above, takes the whole-read limit, and raises no signals (calls run on
// several threads at once). Null when libcurl cannot make one.
EasyHandle openEasyHandle();

// Appends one request header in libcurl's form; false when out of memory.
bool appendHeader(HeaderList& list, const char* line);

// Sets the lines of the request, and the lines only a proxy sees (a tunnel
// request carries those alone). libcurl's own additions are taken out of
// both, so only our lines and what HTTP needs reach the other side. False
// when out of memory; the lists must outlive the transfer.
bool setRequestHeaders(CURL* handle, HeaderList& requestLines, HeaderList& proxyLines);

// What a transfer brings back.
struct Reply {
    Text body;         // every body byte received, also when the transfer broke off
    Text headerBlock;  // raw header block of the last response, CRLF line ends
    bool headerBlockEnded = false;
    bool tooLarge = false;  // the body went past kLargestPage and was read no further
    // The caller's flag: once it is true the transfer is broken off. May be null.
    const std::atomic<bool>* cancelled = nullptr;

    // A body too large, or a read its caller gave up on, counts as no page at all.
    bool abandoned() const { return tooLarge || (cancelled != nullptr && cancelled->load()); }
};

// Makes the handle collect into reply, and stop once the body grows too
// large or reply.cancelled turns true; reply must outlive the transfer.
void collectReply(CURL* handle, Reply& reply);

// Runs the transfer to its end. With serviceWindow set and the call on the
// application's thread, pending window events are processed while waiting.
void runTransfer(CURL* handle, bool serviceWindow);

}  // namespace qinghe::net
