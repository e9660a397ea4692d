#include "http.h"

#include "curl_transfer.h"

#include <cstddef>
#include <string>

namespace qinghe {
namespace {

// The default request lines, each with the name it is looked for by.
constexpr std::string_view kAcceptName = "Accept: ";
constexpr std::string_view kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";
constexpr std::string_view kRefererName = "Referer: ";
constexpr std::string_view kLanguageName = "Accept-Language: ";
constexpr std::string_view kLanguageLine = "Accept-Language: zh-cn\r\n";
constexpr std::string_view kFormTypeLine = "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr std::string_view kLineEnd = "\r\n";

constexpr std::string_view kPost = "POST";
constexpr std::string_view kGet = "GET";

bool isPost(std::string_view method)
{
    return sameTextIgnoringCase(method, kPost);
}

// Our default lines, each unless the caller's text already names it.
void completeHeaders(Text& headers, std::string_view url)
{
    if (findInText(headers, kAcceptName, 1, true) < 0)
        headers += kAcceptLine;
    if (findInText(headers, kRefererName, 1, true) < 0) {
        headers += kRefererName;
        headers += url;
        headers += kLineEnd;
    }
    if (findInText(headers, kLanguageName, 1, true) < 0)
        headers += kLanguageLine;
}

// A header line as libcurl takes it. libcurl drops "Name:" with nothing
// after the colon, and sends "Name;" as exactly that empty header.
std::string curlHeaderLine(std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && colon > 0 &&
        line.find_first_not_of(" \t", colon + 1) == std::string_view::npos)
        return std::string(line.substr(0, colon)) + ";";
    return std::string(line);
}

// The header text cut into its lines.
bool buildHeaderList(std::string_view headers, net::HeaderList& list)
{
    std::size_t from = 0;
    while (from < headers.size()) {
        std::size_t end = headers.find(kLineEnd, from);
        if (end == std::string_view::npos)
            end = headers.size();
        const std::string_view line = headers.substr(from, end - from);
        if (!line.empty() && !net::appendHeader(list, curlHeaderLine(line).c_str()))
            return false;
        from = end + kLineEnd.size();
    }
    return true;
}

// Scheme, host, port and path as the request gives them to libcurl, so that
// libcurl neither cleans the path ("/../", "#" stay) nor reads the host out
// of it; only a space or a byte from 0x80 on goes percent-encoded, as a
// request line needs. Null for a host or port no connection can be made to.
net::UrlHandle targetOf(std::string_view url)
{
    net::UrlHandle target(curl_url());
    if (!target)
        return target;
    int port = urlPort(url);
    if (port == 0)
        port = kDefaultHttpPort;
    const Text host = urlHost(url);
    const Text path = urlPath(url);
    if (!isUsablePort(port) || host.empty() ||
        curl_url_set(target.get(), CURLUPART_SCHEME, "http", 0) != CURLUE_OK ||
        curl_url_set(target.get(), CURLUPART_HOST, host.c_str(), 0) != CURLUE_OK ||
        curl_url_set(target.get(), CURLUPART_PORT, std::to_string(port).c_str(), 0) != CURLUE_OK ||
        curl_url_set(target.get(), CURLUPART_PATH, path.c_str(), 0) != CURLUE_OK)
        target.reset();
    return target;
}

}  // namespace

Text httpRequest(std::string_view url, Text* method, const std::optional<Text>& proxy, Text* headers,
                 std::string_view postData, Text* responseHeaders, const std::atomic<bool>* cancelled)
{
    net::EasyHandle handle = net::openEasyHandle();
    const net::UrlHandle target = targetOf(url);
    if (!handle || !target)
        return {};
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_CURLU, target.get());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // A proxy only when the caller names one: without it the empty name keeps
    // the environment's proxies out; with it the empty bypass list sends
    // every host through it.
    curl_easy_setopt(h, CURLOPT_PROXY, proxy ? proxy->c_str() : "");
    curl_easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    curl_easy_setopt(h, CURLOPT_PROXYPORT, static_cast<long>(kDefaultHttpPort));
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");

    Text omittedMethod;
    Text& methodText = method != nullptr ? *method : omittedMethod;
    if (!isPost(methodText))
        methodText = kGet;
    Text omittedHeaders;
    Text& headerText = headers != nullptr ? *headers : omittedHeaders;
    completeHeaders(headerText, url);

    if (methodText == kGet) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, net::kMaxRedirections);
    } else {
        if (!postData.empty()) {
            headerText += kFormTypeLine;
            headerText += "Content-Length: " + std::to_string(postData.size()) + std::string(kLineEnd);
        }
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postData.size()));
        // Never a null body: libcurl would then read the body from elsewhere.
        static constexpr char kNoBody[] = "";
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, postData.empty() ? kNoBody : postData.data());
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, methodText.c_str());
    }

    net::HeaderList requestLines;
    net::HeaderList proxyLines;
    if (!buildHeaderList(headerText, requestLines) || !net::setRequestHeaders(h, requestLines, proxyLines))
        return {};

    net::Reply reply;
    reply.cancelled = cancelled;
    net::collectReply(h, reply);
    net::runTransfer(h, true);
    if (reply.abandoned()) {
        if (responseHeaders != nullptr)
            responseHeaders->clear();
        return {};
    }
    if (responseHeaders != nullptr)
        *responseHeaders = std::move(reply.headerBlock);
    return std::move(reply.body);
}

}  // namespace qinghe
