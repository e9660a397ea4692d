// The HTTP download of one task over one connection, on the connection's
// own thread: request, reply header, redirections, the existing-file
// question, the body into the partial file, and the retries.

#include "net/chunked_body.h"
#include "net/download_file.h"
#include "net/download_log.h"
#include "net/download_request.h"
#include "net/download_run.h"
#include "net/file_name.h"
#include "net/reply_header.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace qinghe {

namespace {

using Clock = std::chrono::steady_clock;
using Level = DownloadLogLevel;
namespace status = downloadStatus;

// Redirections followed in a row before the task gives up, the common value
// for web browsers; a loop of them would otherwise never end.
constexpr int kMostRedirectsInRow = 20;
// The longest cookie carried to the next request.
constexpr std::size_t kLongestCookie = 4086;
// A save path holds at most 259 bytes, so it fits 260 with its end mark.
constexpr std::size_t kLongestSavePath = 259;
// Free names tried for an existing file before giving up.
constexpr int kMostRenameTries = 99;
// The receive buffer; a larger read size is read in pieces of this.
constexpr std::size_t kReceiveBufferSize = 20480;
// With a speed limit each read takes at least this long.
constexpr std::chrono::milliseconds kSpeedLimitPeriod{1000};
// The port of a proxy named without one.
constexpr int kDefaultProxyPort = 80;
constexpr int kMillisecondsPerSecond = 1000;

// HTTP status codes the service acts on.
constexpr int kOk = 200;
constexpr int kPartialContent = 206;
constexpr int kMovedPermanently = 301;
constexpr int kFound = 302;
constexpr int kBadRequest = 400;
constexpr int kForbidden = 403;
constexpr int kNotFound = 404;

Text number(std::int64_t value)
{
    return std::to_string(value);
}

bool hasControlByte(std::string_view text)
{
    constexpr unsigned char kSpace = 0x20;
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < kSpace; });
}

class HttpDownload {
public:
    explicit HttpDownload(DownloadRun& run)
        : run_(run), task_(run.task), current_(run.address), currentText_(run.task.address),
          referrerBase_(run.task.address), buffer_(kReceiveBufferSize)
    {
    }

    void run();

private:
    enum class Attempt { complete, redirected, broken, ended };

    Attempt attempt();
    Attempt readHeader(TcpConnection& connection, std::string& received, std::size_t& headerLength);
    Attempt redirect(const ReplyHeader& reply);
    Attempt acceptReply(const ReplyHeader& reply);
    Attempt prepareFile(const ReplyHeader& reply);
    bool freeName(Text& savePath);
    Attempt receiveBody(TcpConnection& connection, std::string_view alreadyReceived);
    Attempt store(std::string_view bytes);
    Attempt finish();
    // The attempt is over and the task ends as outcome says.
    Attempt endAs(DownloadOutcome outcome, int httpStatus = 0);
    // A file step failed: a full disk or some other reason it cannot be written.
    Attempt fileFailed();

    void log(Level level, const Text& line);
    int askFileExists(std::int64_t existing);

    DownloadRun& run_;
    DownloadTask task_;  // this thread's own copy; the existing-file answer may rename
    DownloadAddress current_;
    Text currentText_;
    Text referrerBase_;
    Text cookieLine_;
    bool continuation_ = false;
    int redirectsInRow_ = 0;
    std::int64_t offset_ = 0;  // bytes in the partial file
    std::optional<std::int64_t> total_;
    bool sizeAnnounced_ = false;
    Text savePath_;
    bool replaceExisting_ = false;
    PartialFile file_;
    // How the task ends if it ends now: no server has answered yet.
    DownloadOutcome outcome_ = DownloadOutcome::cannotConnect;
    int httpStatus_ = 0;
    bool chunked_ = false;
    ChunkedBody chunks_;
    std::string decoded_;
    std::vector<char> buffer_;
};

void HttpDownload::log(Level level, const Text& line)
{
    if (!task_.logHandler)
        return;
    try {
        task_.logHandler(line, level);
    } catch (...) {
        // The caller's handler; its failure is no reason to drop the download.
    }
}

int HttpDownload::askFileExists(std::int64_t existing)
{
    if (!task_.eventHandler)
        return kSaveUnderFreeName;
    try {
        return task_.eventHandler(kDownloadFileExistsEvent, existing, total_.value_or(0), 0, task_);
    } catch (...) {
        return kAbandonDownload;
    }
}

void HttpDownload::run()
{
    bool completed = false;
    if (!isHttp(current_)) {
        // Other schemes are recognised but not fetched.
        log(Level::error, status::fill(status::kBadRedirect));
    } else {
        int retries = 0;
        for (;;) {
            const Attempt result = attempt();
            if (result == Attempt::redirected)
                continue;
            if (result == Attempt::complete) {
                completed = true;
                break;
            }
            if (result == Attempt::ended || run_.stop.raised() || retries >= run_.settings.retryLimit)
                break;
            ++retries;
            continuation_ = true;
            const auto wait = run_.settings.retryWait;
            log(Level::information,
                status::fill(status::kRetrying, {number(wait.count() / kMillisecondsPerSecond)}));
            const auto waitMs = std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, INT_MAX);
            if (run_.stop.sleepFor(static_cast<int>(waitMs)))
                break;
        }
    }
    if (!completed)
        file_.discard();
    const bool stopped = !completed && run_.stop.raised();
    DownloadEnd end;
    end.value = stopped ? run_.downloaded.load() : total_.value_or(0);
    end.outcome = completed ? DownloadOutcome::complete : stopped ? DownloadOutcome::stopped : outcome_;
    end.httpStatus = end.outcome == DownloadOutcome::serverError ? httpStatus_ : 0;
    end.savedPath = savePath_;
    run_.postConnectionEnded(std::move(end));
}

HttpDownload::Attempt HttpDownload::endAs(DownloadOutcome outcome, int httpStatus)
{
    outcome_ = outcome;
    httpStatus_ = httpStatus;
    return Attempt::ended;
}

HttpDownload::Attempt HttpDownload::fileFailed()
{
    const int error = file_.lastError();
    return endAs(error == ENOSPC || error == EDQUOT || error == EFBIG ? DownloadOutcome::diskFull
                                                                      : DownloadOutcome::cannotWrite);
}

HttpDownload::Attempt HttpDownload::attempt()
{
    const bool viaProxy = task_.proxy && !task_.proxy->empty();
    Text host = current_.host;
    int port = current_.port;
    if (viaProxy) {
        const std::size_t colon = task_.proxy->rfind(':');
        host = task_.proxy->substr(0, colon);
        port = kDefaultProxyPort;
        if (colon != Text::npos)
            port = std::atoi(task_.proxy->c_str() + colon + 1);
    }
    log(Level::information, status::fill(viaProxy ? status::kResolvingProxy : status::kResolving, {host}));
    const std::vector<Endpoint> endpoints = resolveHost(host, port);
    if (endpoints.empty()) {
        log(Level::error, status::fill(viaProxy ? status::kResolveProxyFailed : status::kResolveFailed, {host}));
        return Attempt::broken;
    }
    const Text portText = number(port);
    log(Level::information, status::fill(viaProxy ? status::kConnectingProxy : status::kConnecting, {host, portText}));
    TcpConnection connection(run_.stop);
    switch (connection.connectTo(endpoints, task_.connectTimeoutMs)) {
    case NetResult::done:
        break;
    case NetResult::timedOut:
        log(Level::error, status::fill(status::kConnectTimedOut, {host, portText}));
        return Attempt::broken;
    case NetResult::stopped:
        return Attempt::ended;
    default:
        log(Level::error, status::fill(status::kConnectFailed, {host, portText}));
        return Attempt::broken;
    }
    log(Level::information, status::fill(continuation_ ? status::kReconnected : status::kConnected, {host, portText}));

    Text extraLines;
    if (continuation_)
        extraLines += rangeLine(offset_);
    extraLines += cookieLine_;
    const Text referrer = task_.referrer ? *task_.referrer : defaultReferrer(referrerBase_);
    const Text request = viaProxy ? proxyRequest(currentText_, current_.host)
                                  : directRequest(current_.path, current_.host, referrer, extraLines);
    log(Level::requestSent, request);
    const NetResult sent = connection.sendAll(request, task_.sendTimeoutMs);
    if (sent == NetResult::stopped)
        return Attempt::ended;
    if (sent != NetResult::done) {
        log(Level::error, status::fill(status::kSendFailed));
        return Attempt::broken;
    }

    std::string received;
    std::size_t headerLength = 0;
    const Attempt header = readHeader(connection, received, headerLength);
    if (header != Attempt::complete)
        return header;
    const std::string_view headerText = std::string_view(received).substr(0, headerLength);
    log(Level::headerReceived, Text(headerText));
    const ReplyHeader reply = parseReplyHeader(headerText);
    // The server has answered: a later break is an interruption.
    outcome_ = DownloadOutcome::interrupted;

    switch (reply.status) {
    case kMovedPermanently:
    case kFound:
        return redirect(reply);
    case kOk:
    case kPartialContent:
        break;
    case kBadRequest:
    case kForbidden:
    case kNotFound:
        log(Level::error, status::fill(status::kClientError));
        return endAs(DownloadOutcome::serverError, reply.status);
    default:
        log(Level::error, status::fill(status::kUnsupportedReply, {number(reply.status)}));
        return endAs(DownloadOutcome::serverError, reply.status);
    }
    const Attempt accepted = acceptReply(reply);
    if (accepted != Attempt::complete)
        return accepted;
    return receiveBody(connection, std::string_view(received).substr(headerLength));
}

HttpDownload::Attempt HttpDownload::readHeader(TcpConnection& connection, std::string& received,
                                               std::size_t& headerLength)
{
    for (;;) {
        std::size_t got = 0;
        const NetResult result = connection.receive(buffer_.data(), kReplyHeaderPiece, task_.receiveTimeoutMs, got);
        if (result == NetResult::stopped)
            return Attempt::ended;
        if (result != NetResult::done)
            return Attempt::broken;
        received.append(buffer_.data(), got);
        headerLength = replyHeaderLength(std::string_view(received).substr(0, kReplyHeaderLimit));
        if (headerLength > 0)
            return Attempt::complete;
        if (received.size() >= kReplyHeaderLimit) {
            log(Level::error, status::fill(status::kHeaderTooLong));
            return endAs(DownloadOutcome::interrupted);
        }
    }
}

HttpDownload::Attempt HttpDownload::redirect(const ReplyHeader& reply)
{
    const std::string_view location = trimSpaces(reply.location, Blanks::FieldBlanks);
    if (location.empty()) {
        log(Level::error, status::fill(status::kNoLocation));
        return endAs(DownloadOutcome::serverError, reply.status);
    }
    if (++redirectsInRow_ > kMostRedirectsInRow) {
        log(Level::error, status::fill(status::kTooManyRedirects));
        return endAs(DownloadOutcome::serverError, reply.status);
    }
    if (!reply.setCookie.empty()) {
        const std::string_view cookie = cookieValue(reply.setCookie);
        if (cookie.size() > kLongestCookie || hasControlByte(cookie)) {
            log(Level::error, status::fill(status::kBadRedirect));
            return endAs(DownloadOutcome::serverError, reply.status);
        }
        cookieLine_ = cookieLine(reply.setCookie);
    }
    const std::optional<Redirection> next = followLocation(current_, location);
    if (!next) {
        log(Level::error, status::fill(status::kBadRedirect));
        return endAs(DownloadOutcome::serverError, reply.status);
    }
    current_ = next->address;
    currentText_ = next->addressText;
    if (next->absolute)
        referrerBase_ = next->addressText;
    log(Level::error, status::fill(status::kRedirected, {currentText_}));
    return Attempt::redirected;
}

// A 200 or 206 reply: check it fits what the file holds, and create the file
// on the first one.
HttpDownload::Attempt HttpDownload::acceptReply(const ReplyHeader& reply)
{
    redirectsInRow_ = 0;
    chunked_ = reply.chunked();
    const bool chunked = chunked_;
    if (reply.status == kPartialContent && reply.contentRange && reply.contentRange->first != offset_) {
        // Bytes from elsewhere than where the file stands cannot be placed.
        log(Level::error, status::fill(status::kUnsupportedReply, {number(reply.status)}));
        return endAs(DownloadOutcome::serverError, reply.status);
    }
    if (reply.status == kOk && offset_ > 0) {
        // The server sends the whole file again: start the file over rather
        // than write its first bytes at the resume offset.
        if (!file_.restart()) {
            log(Level::error, status::fill(status::kCreateFailed));
            return fileFailed();
        }
        offset_ = 0;
        run_.restartDownloaded();
    }
    chunks_ = ChunkedBody();

    std::optional<std::int64_t> size;
    if (!chunked && reply.status == kOk)
        size = reply.contentLength;
    else if (!chunked && reply.contentRange && reply.contentRange->total)
        size = reply.contentRange->total;
    else if (!chunked && reply.contentLength)
        size = offset_ + *reply.contentLength;
    if (size)
        total_ = size;
    else if (!file_.isOpen() || reply.status == kOk)
        total_.reset();
    if (total_ && *total_ > kLargestDownload) {
        log(Level::error, status::fill(status::kCreateFailed));
        return endAs(DownloadOutcome::diskFull);
    }
    if (total_ && !sizeAnnounced_) {
        sizeAnnounced_ = true;
        run_.postSizeKnown(*total_);
    }
    if (file_.isOpen())
        return Attempt::complete;
    return prepareFile(reply);
}

// The file's name, the existing-file question and the partial file.
HttpDownload::Attempt HttpDownload::prepareFile(const ReplyHeader& reply)
{
    Text savePath = task_.savePath;
    if (endsInSeparator(savePath)) {
        Text name = plainFileName(dispositionFileName(reply.contentDisposition));
        if (name.empty()) {
            const std::string_view path = std::string_view(current_.path).substr(0, current_.path.find('?'));
            name = plainFileName(path.substr(path.rfind('/') + 1));
        }
        if (name.empty()) {
            log(Level::error, status::fill(status::kOpenFailed, {savePath}));
            return endAs(DownloadOutcome::cannotWrite);
        }
        savePath += name;
    }
    if (savePath.empty() || savePath.size() > kLongestSavePath) {
        log(Level::error, status::fill(status::kOpenFailed, {savePath}));
        return endAs(DownloadOutcome::cannotWrite);
    }

    if (const std::optional<std::int64_t> existing = existingSize(nativePath(savePath))) {
        task_.savePath = savePath;
        const int answer = askFileExists(*existing);
        if (run_.stop.raised())
            return Attempt::ended;
        if (answer == kAbandonDownload) {
            log(Level::information, status::fill(status::kAbandoned));
            return endAs(DownloadOutcome::abandoned);
        }
        if (answer == kReplaceWhenComplete) {
            replaceExisting_ = true;
        } else if (answer == kUseNameFromHandler) {
            savePath = task_.savePath;
            log(Level::information, status::fill(status::kRenamedByUser, {savePath}));
            if (savePath.empty() || savePath.size() > kLongestSavePath || existingSize(nativePath(savePath))) {
                log(Level::error, status::fill(status::kOpenFailed, {savePath}));
                return endAs(DownloadOutcome::cannotWrite);
            }
        } else {
            if (!freeName(savePath)) {
                log(Level::error, status::fill(status::kNoFreeName));
                return endAs(DownloadOutcome::cannotWrite);
            }
            log(Level::information, status::fill(status::kRenamedBySystem, {savePath}));
        }
    }
    task_.savePath = savePath;
    savePath_ = savePath;
    if (!file_.create(nativePath(savePath))) {
        log(Level::error, status::fill(status::kOpenFailed, {savePath}));
        return fileFailed();
    }
    // A size that cannot fit is refused before any room is claimed.
    if (total_ && !file_.fits(*total_)) {
        log(Level::error, status::fill(status::kCreateFailed));
        return endAs(DownloadOutcome::diskFull);
    }
    if (total_ && !file_.reserve(*total_)) {
        log(Level::error, status::fill(status::kCreateFailed));
        return fileFailed();
    }
    return Attempt::complete;
}

// The first free numbered name beside savePath: "a(1).exe", "a(2).exe" ...
bool HttpDownload::freeName(Text& savePath)
{
    const std::size_t folder = folderLength(savePath);
    const NumberedName numbered = numberedName(std::string_view(savePath).substr(folder));
    for (int tries = 0; tries < kMostRenameTries; ++tries) {
        const Text candidate = savePath.substr(0, folder) + numbered.withCounter(numbered.firstCounter + tries);
        if (candidate.size() > kLongestSavePath)
            return false;
        if (!existingSize(nativePath(candidate))) {
            savePath = candidate;
            return true;
        }
    }
    return false;
}

HttpDownload::Attempt HttpDownload::receiveBody(TcpConnection& connection, std::string_view alreadyReceived)
{
    const bool chunked = chunked_;
    const Attempt first = store(alreadyReceived);
    if (first != Attempt::complete)
        return first;
    std::size_t readSize = kReceiveBufferSize;
    if (task_.readSize > 0)
        readSize = std::min<std::size_t>(readSize, static_cast<std::size_t>(task_.readSize));
    if (task_.speedLimit > 0)
        readSize = std::min<std::size_t>(readSize, static_cast<std::size_t>(task_.speedLimit));
    for (;;) {
        if (chunked ? chunks_.finished() : total_ && offset_ >= *total_)
            return finish();
        std::size_t asked = readSize;
        if (!chunked && total_)
            asked = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(asked), *total_ - offset_));
        const Clock::time_point readStart = Clock::now();
        std::size_t got = 0;
        switch (connection.receive(buffer_.data(), asked, task_.receiveTimeoutMs, got)) {
        case NetResult::done:
            break;
        case NetResult::closed:
            // Without a size the peer's close ends the body.
            return chunked || total_ ? Attempt::broken : finish();
        case NetResult::stopped:
            return Attempt::ended;
        default:
            return Attempt::broken;
        }
        const Attempt stored = store(std::string_view(buffer_.data(), got));
        if (stored != Attempt::complete)
            return stored;
        if (task_.speedLimit > 0) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - readStart);
            if (spent < kSpeedLimitPeriod && run_.stop.sleepFor(static_cast<int>((kSpeedLimitPeriod - spent).count())))
                return Attempt::ended;
        }
    }
}

// Bytes of the body into the file; complete means "go on".
HttpDownload::Attempt HttpDownload::store(std::string_view bytes)
{
    if (chunked_) {
        decoded_.clear();
        if (!chunks_.take(bytes, decoded_))
            return Attempt::broken;
        bytes = decoded_;
    } else if (total_) {
        // Whatever a server sends beyond the size it announced is not the file's.
        bytes = bytes.substr(0, static_cast<std::size_t>(std::max<std::int64_t>(0, *total_ - offset_)));
    }
    if (bytes.empty())
        return Attempt::complete;
    // A reply without a size may not grow the file past what the service takes.
    if (offset_ + static_cast<std::int64_t>(bytes.size()) > kLargestDownload) {
        log(Level::error, status::fill(status::kCreateFailed));
        return endAs(DownloadOutcome::diskFull);
    }
    if (!file_.append(bytes.data(), bytes.size())) {
        log(Level::error, status::fill(status::kCreateFailed));
        return fileFailed();
    }
    offset_ += static_cast<std::int64_t>(bytes.size());
    run_.addReceived(static_cast<std::int64_t>(bytes.size()));
    return Attempt::complete;
}

HttpDownload::Attempt HttpDownload::finish()
{
    if (total_ && offset_ < *total_)
        return Attempt::broken;
    if (!file_.finish(replaceExisting_)) {
        log(Level::error, status::fill(status::kOpenFailed, {savePath_}));
        return fileFailed();
    }
    return Attempt::complete;
}

}  // namespace

void runDownloadConnection(DownloadRun& run)
{
    try {
        HttpDownload(run).run();
    } catch (...) {
        // Out of memory or the like: the task still ends, with its event.
        DownloadEnd end;
        end.outcome = DownloadOutcome::cannotWrite;
        run.postConnectionEnded(std::move(end));
    }
}

}  // namespace qinghe
