#include "raw_http_server.h"

#include "loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

// How often the server looks whether it is being stopped.
constexpr int kStopCheckMs = 50;
// How long a connection or a test waits on the other side before giving up;
// only reached when something is broken, never by a passing test.
constexpr int kPatienceMs = 30000;
constexpr std::size_t kReadChunk = 4096;
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The body length a request's header block announces, 0 without one.
std::size_t announcedLength(const std::string& headerBlock)
{
    const std::string lower = lowerCase(headerBlock);
    const std::string name = "\r\ncontent-length:";
    const std::size_t at = lower.find(name);
    if (at == std::string::npos)
        return 0;
    return std::strtoul(lower.c_str() + at + name.size(), nullptr, 10);
}

// Reads what arrives within the patience; false at the end of the stream.
bool readSome(int connection, std::string& into)
{
    pollfd waiting{connection, POLLIN, 0};
    if (poll(&waiting, 1, kPatienceMs) <= 0)
        return false;
    char buffer[kReadChunk];
    const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0)
        return false;
    into.append(buffer, static_cast<std::size_t>(got));
    return true;
}

}  // namespace

RawHttpServer::RawHttpServer(std::vector<Answer> answers) : answers_(std::move(answers))
{
    listener_ = qinghe::test_support::listenOnLoopback(port_);
    thread_ = std::thread([this] { serve(); });
}

RawHttpServer::~RawHttpServer()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    thread_.join();
    close(listener_);
}

void RawHttpServer::serve()
{
    std::size_t served = 0;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
        }
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, kStopCheckMs) <= 0)
            continue;
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        handle(connection, answers_[std::min(served, answers_.size() - 1)]);
        ++served;
        close(connection);
    }
}

void RawHttpServer::handle(int connection, const Answer& answer)
{
    std::string received;
    std::size_t headerEnd = std::string::npos;
    while ((headerEnd = received.find(kHeaderEnd)) == std::string::npos) {
        if (!readSome(connection, received))
            break;
    }
    if (headerEnd != std::string::npos) {
        const std::size_t requestEnd =
            headerEnd + kHeaderEnd.size() + announcedLength(received.substr(0, headerEnd + 2));
        while (received.size() < requestEnd && readSome(connection, received)) {
        }
        std::this_thread::sleep_for(answer.delay);
        send(connection, answer.bytes.data(), answer.bytes.size(), MSG_NOSIGNAL);
    }
    shutdown(connection, SHUT_WR);
    // Whatever else the client sends before it hangs up is part of its request.
    while (readSome(connection, received)) {
    }
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(received));
    finished_.notify_all();
}

std::vector<std::string> RawHttpServer::requests(std::size_t count)
{
    std::unique_lock lock(mutex_);
    finished_.wait_for(lock, std::chrono::milliseconds(kPatienceMs), [&] { return requests_.size() >= count; });
    return requests_;
}

std::string RawHttpServer::onlyRequest()
{
    const std::vector<std::string> all = requests(1);
    if (all.size() == 1)
        return all.front();
    std::string count = std::to_string(all.size());
    count += " requests";
    return count;
}

std::size_t RawHttpServer::finishedConnections()
{
    std::lock_guard lock(mutex_);
    return requests_.size();
}

int RawHttpServer::closedPort()
{
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

std::string httpAnswer(const std::string& body, const std::string& extraHeaders)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
}
