#pragma once

// The download service's own TCP connection on POSIX sockets. Every wait
// also watches the task's stop signal, so a stop is noticed at once, however
// long the time-out.

#include "text/text.h"

#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <string_view>
#include <vector>

namespace qinghe {

// Raised once when a task is asked to stop; wakes every wait of the task.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void raise();
    bool raised() const { return raised_.load(std::memory_order_acquire); }
    int descriptor() const { return descriptor_; }
    // Sleeps for ms milliseconds or until raised; true when raised.
    bool sleepFor(int ms) const;

private:
    int descriptor_ = -1;
    std::atomic<bool> raised_{false};
};

enum class NetResult { done, closed, timedOut, failed, stopped };

// One resolved address of a host.
struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
};

// The addresses of host (a name or a numeric address) with port; empty when
// it cannot be resolved.
std::vector<Endpoint> resolveHost(const Text& host, int port);

// A time-out of 0 or less waits without end (a stop still ends the wait).
class TcpConnection {
public:
    explicit TcpConnection(const StopSignal& stop) : stop_(stop) {}
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Tries the endpoints in order within the time-out as a whole: done,
    // timedOut (none answered in time), failed (every one refused) or stopped.
    NetResult connectTo(const std::vector<Endpoint>& endpoints, int timeoutMs);
    // Every byte, each wait for room within the time-out.
    NetResult sendAll(std::string_view bytes, int timeoutMs);
    // Up to size bytes into buffer; got says how many. closed when the peer
    // has closed its side and nothing is left.
    NetResult receive(char* buffer, std::size_t size, int timeoutMs, std::size_t& got);
    void close();

private:
    NetResult waitFor(short events, int timeoutMs);

    const StopSignal& stop_;
    int socket_ = -1;
};

}  // namespace qinghe
