#pragma once

// The listening socket every test server here starts from: 127.0.0.1, a
// port the system picks, so servers of parallel tests never collide.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace qinghe::test_support {

// A listening socket on 127.0.0.1; its port is written to port.
inline int listenOnLoopback(int& port)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, SOMAXCONN);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

}  // namespace qinghe::test_support
