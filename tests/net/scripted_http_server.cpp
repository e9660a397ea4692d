#include "scripted_http_server.h"

#include "loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace {

// How often a waiting server looks whether it is being stopped.
constexpr int kStopCheckMs = 20;
// How long the server waits for a client before giving up on it; reached
// only when something is broken.
constexpr int kPatienceMs = 30000;
constexpr std::size_t kReadChunk = 4096;
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

}  // namespace

ScriptedHttpServer::ScriptedHttpServer(Script script) : script_(std::move(script))
{
    listener_ = qinghe::test_support::listenOnLoopback(port_);
    thread_ = std::thread([this] { serve(); });
}

ScriptedHttpServer::~ScriptedHttpServer()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    thread_.join();
    close(listener_);
}

std::string ScriptedHttpServer::address(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> ScriptedHttpServer::requests()
{
    std::lock_guard lock(mutex_);
    return requests_;
}

bool ScriptedHttpServer::stopping()
{
    std::lock_guard lock(mutex_);
    return stopping_;
}

void ScriptedHttpServer::serve()
{
    std::size_t served = 0;
    while (!stopping()) {
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, kStopCheckMs) <= 0)
            continue;
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        answer(connection, served++);
        close(connection);
    }
}

void ScriptedHttpServer::answer(int connection, std::size_t number)
{
    std::string request;
    for (int waited = 0; request.find(kHeaderEnd) == std::string::npos && waited < kPatienceMs;) {
        if (stopping())
            return;
        pollfd readable{connection, POLLIN, 0};
        if (poll(&readable, 1, kStopCheckMs) <= 0) {
            waited += kStopCheckMs;
            continue;
        }
        char buffer[kReadChunk];
        const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    const Reply reply = script_(request, number);
    const std::size_t end = std::min(reply.cutAfter, reply.bytes.size());
    for (std::size_t sent = 0; sent < end;) {
        const std::size_t piece = std::min(reply.pieceSize, end - sent);
        const ssize_t count = send(connection, reply.bytes.data() + sent, piece, MSG_NOSIGNAL);
        if (count <= 0 || stopping())
            return;
        sent += static_cast<std::size_t>(count);
        if (reply.pause.count() > 0)
            std::this_thread::sleep_for(reply.pause);
    }
    if (!reply.holdOpen)
        shutdown(connection, SHUT_WR);
    // Wait for the client to hang up (a held answer: or for the end of the test).
    for (int waited = 0; waited < kPatienceMs && !stopping();) {
        pollfd readable{connection, POLLIN, 0};
        if (poll(&readable, 1, kStopCheckMs) <= 0) {
            waited += reply.holdOpen ? 0 : kStopCheckMs;
            continue;
        }
        char buffer[kReadChunk];
        if (recv(connection, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}

std::string replyHeader(const std::string& statusLine, const std::vector<std::string>& lines)
{
    std::string header = "HTTP/1.1 " + statusLine + "\r\n";
    for (const std::string& line : lines)
        header += line + "\r\n";
    return header + "\r\n";
}

std::size_t requestedOffset(const std::string& request)
{
    const std::string name = "\r\nRange: bytes=";
    const std::size_t at = request.find(name);
    if (at == std::string::npos)
        return 0;
    return std::strtoul(request.c_str() + at + name.size(), nullptr, 10);
}

ScriptedHttpServer::Reply fileReply(const std::string& file, const std::string& request)
{
    const std::size_t offset = std::min(requestedOffset(request), file.size());
    const bool ranged = request.find("\r\nRange: ") != std::string::npos;
    const std::string rest = file.substr(offset);
    std::string header;
    if (!ranged) {
        header = replyHeader("200 OK", {"Content-Length: " + std::to_string(file.size())});
    } else {
        header = replyHeader("206 Partial Content",
                             {"Content-Length: " + std::to_string(rest.size()),
                              "Content-Range: bytes " + std::to_string(offset) + "-" +
                                  std::to_string(file.size() - 1) + "/" + std::to_string(file.size())});
    }
    return {header + rest};
}
