#include "download_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

namespace qinghe {

namespace {

using Clock = std::chrono::steady_clock;

// A wait without end in poll's terms.
constexpr int kWaitForever = -1;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

StopSignal::StopSignal() : descriptor_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopSignal::~StopSignal()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

void StopSignal::raise()
{
    raised_.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(descriptor_, &one, sizeof one);
}

bool StopSignal::sleepFor(int ms) const
{
    pollfd watched{descriptor_, POLLIN, 0};
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const int ready = poll(&watched, 1, remainingMs(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

std::vector<Endpoint> resolveHost(const Text& host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return {};
    std::vector<Endpoint> endpoints;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        Endpoint endpoint;
        std::memcpy(&endpoint.address, entry->ai_addr, entry->ai_addrlen);
        endpoint.length = entry->ai_addrlen;
        endpoints.push_back(endpoint);
    }
    freeaddrinfo(found);
    return endpoints;
}

TcpConnection::~TcpConnection()
{
    close();
}

void TcpConnection::close()
{
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
}

NetResult TcpConnection::waitFor(short events, int timeoutMs)
{
    const bool forever = timeoutMs <= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    pollfd watched[2] = {{socket_, events, 0}, {stop_.descriptor(), POLLIN, 0}};
    for (;;) {
        const int ready = poll(watched, 2, forever ? kWaitForever : remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return NetResult::failed;
        if (watched[1].revents)
            return NetResult::stopped;
        if (ready == 0)
            return NetResult::timedOut;
        return NetResult::done;
    }
}

NetResult TcpConnection::connectTo(const std::vector<Endpoint>& endpoints, int timeoutMs)
{
    const bool forever = timeoutMs <= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    NetResult result = NetResult::failed;
    for (const Endpoint& endpoint : endpoints) {
        close();
        if (stop_.raised())
            return NetResult::stopped;
        socket_ = socket(endpoint.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket_ < 0)
            continue;
        if (connect(socket_, reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length) == 0)
            return NetResult::done;
        if (errno != EINPROGRESS)
            continue;
        const int left = forever ? 0 : remainingMs(deadline);
        if (!forever && left == 0)
            return NetResult::timedOut;
        const NetResult waited = waitFor(POLLOUT, forever ? 0 : left);
        if (waited == NetResult::stopped || waited == NetResult::timedOut) {
            close();
            return waited;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (waited == NetResult::done && getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
            error == 0)
            return NetResult::done;
        result = NetResult::failed;
    }
    close();
    return result;
}

NetResult TcpConnection::sendAll(std::string_view bytes, int timeoutMs)
{
    while (!bytes.empty()) {
        const ssize_t sent = send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const NetResult waited = waitFor(POLLOUT, timeoutMs);
            if (waited != NetResult::done)
                return waited;
            continue;
        }
        return NetResult::failed;
    }
    return NetResult::done;
}

NetResult TcpConnection::receive(char* buffer, std::size_t size, int timeoutMs, std::size_t& got)
{
    got = 0;
    for (;;) {
        if (stop_.raised())
            return NetResult::stopped;
        const ssize_t count = recv(socket_, buffer, size, 0);
        if (count > 0) {
            got = static_cast<std::size_t>(count);
            return NetResult::done;
        }
        if (count == 0)
            return NetResult::closed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return NetResult::failed;
        const NetResult waited = waitFor(POLLIN, timeoutMs);
        if (waited != NetResult::done)
            return waited;
    }
}

}  // namespace qinghe
