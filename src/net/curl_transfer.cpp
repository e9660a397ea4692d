#include "curl_transfer.h"

#include <QCoreApplication>
#include <QThread>

#include <mutex>

namespace qinghe::net {
namespace {

// How long the window thread waits on the network before it looks at its
// own events again: short enough that the window never seems to hang.
constexpr int kWindowServiceIntervalMs = 20;

// Below this many bytes a second for the whole time-out the transfer counts
// as silent: one byte is enough to show the other side is still there.
constexpr long kLowestLiveSpeed = 1;

constexpr std::string_view kStatusLineStart = "HTTP/";

// libcurl's own headers that we take out: its Accept (ours or none goes),
// the 100-continue wait before larger bodies, the form type and length it
// adds for a body (ours are in the header text when there is a body), and
// the keep-alive request to a proxy (which goes in the lines only a proxy
// sees).
constexpr const char* kSuppressedHeaders[] = {"Accept:", "Expect:", "Content-Type:", "Content-Length:"};
constexpr const char* kSuppressedProxyHeader = "Proxy-Connection:";

void initialiseLibcurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool onApplicationThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

size_t collectBody(char* data, size_t size, size_t count, void* userdata)
{
    auto* reply = static_cast<Reply*>(userdata);
    const size_t length = size * count;
    if (length > kLargestPage - reply->body.size()) {
        // Any count short of length makes libcurl end the transfer here.
        reply->tooLarge = true;
        return 0;
    }
    reply->body.append(data, length);
    return length;
}

// libcurl asks often while bytes flow and about once a second while the
// line is quiet; a non-zero answer breaks the transfer off.
int stopWhenCancelled(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* reply = static_cast<const Reply*>(userdata);
    return reply->cancelled != nullptr && reply->cancelled->load() ? 1 : 0;
}

// libcurl hands over one header line at a time, for every response it
// reads (interim 1xx answers, redirections, a proxy's tunnel answer): a
// status line after a finished block starts the block anew.
size_t collectHeaderLine(char* data, size_t size, size_t count, void* userdata)
{
    auto* reply = static_cast<Reply*>(userdata);
    std::string_view line(data, size * count);
    if (reply->headerBlockEnded) {
        // Trailer lines after a chunked body are no part of the block.
        if (line.substr(0, kStatusLineStart.size()) != kStatusLineStart)
            return size * count;
        reply->headerBlock.clear();
        reply->headerBlockEnded = false;
    }
    // Every line ends in CR LF in the block, whatever the server sent.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    reply->headerBlock.append(line);
    reply->headerBlock.append("\r\n");
    if (line.empty())
        reply->headerBlockEnded = true;
    return size * count;
}

}  // namespace

EasyHandle openEasyHandle()
{
    initialiseLibcurlOnce();
    EasyHandle handle(curl_easy_init());
    if (!handle)
        return handle;
    CURL* h = handle.get();
    const Text userAgent(kUserAgent);
    curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kNetworkTimeout.count()));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, kLowestLiveSpeed);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(kNetworkTimeout).count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(kWholeReadLimit.count()));
    return handle;
}

bool appendHeader(HeaderList& list, const char* line)
{
    curl_slist* longer = curl_slist_append(list.get(), line);
    if (longer == nullptr)
        return false;
    list.release();
    list.reset(longer);
    return true;
}

bool setRequestHeaders(CURL* handle, HeaderList& requestLines, HeaderList& proxyLines)
{
    // The removals go after every real line: libcurl decides by the first
    // line of a name it finds.
    for (const char* line : kSuppressedHeaders) {
        if (!appendHeader(requestLines, line))
            return false;
    }
    if (!appendHeader(proxyLines, kSuppressedProxyHeader))
        return false;
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, requestLines.get());
    curl_easy_setopt(handle, CURLOPT_PROXYHEADER, proxyLines.get());
    return true;
}

void collectReply(CURL* handle, Reply& reply)
{
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, collectHeaderLine);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &reply);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, stopWhenCancelled);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &reply);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
}

void runTransfer(CURL* handle, bool serviceWindow)
{
    if (!serviceWindow || !onApplicationThread()) {
        curl_easy_perform(handle);
        return;
    }
    CURLM* multi = curl_multi_init();
    if (multi == nullptr)
        return;
    if (curl_multi_add_handle(multi, handle) == CURLM_OK) {
        int running = 1;
        while (running > 0) {
            // As each pass of the read loop does: the window first, then the network.
            QCoreApplication::processEvents();
            if (curl_multi_perform(multi, &running) != CURLM_OK)
                break;
            if (running > 0 && curl_multi_poll(multi, nullptr, 0, kWindowServiceIntervalMs, nullptr) != CURLM_OK)
                break;
        }
        curl_multi_remove_handle(multi, handle);
    }
    curl_multi_cleanup(multi);
}

}  // namespace qinghe::net
