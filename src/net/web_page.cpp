#include "http.h"

#include "curl_transfer.h"

namespace qinghe {

Text readWebPage(std::string_view url, const std::atomic<bool>* cancelled)
{
    net::EasyHandle handle = net::openEasyHandle();
    if (!handle)
        return {};
    CURL* h = handle.get();
    const Text address(url);
    curl_easy_setopt(h, CURLOPT_URL, address.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, net::kMaxRedirections);
    // No proxy option: libcurl then takes the proxy settings of the environment.

    net::HeaderList requestLines;
    net::HeaderList proxyLines;
    if (!net::appendHeader(requestLines, "Accept: */*") || !net::setRequestHeaders(h, requestLines, proxyLines))
        return {};

    net::Reply reply;
    reply.cancelled = cancelled;
    net::collectReply(h, reply);
    net::runTransfer(h, false);
    if (reply.abandoned())
        return {};
    return std::move(reply.body);
}

}  // namespace qinghe
