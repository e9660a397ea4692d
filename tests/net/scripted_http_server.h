#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An HTTP peer on 127.0.0.1 whose every answer the test writes from the
// request it got, on a thread of its own, one connection at a time. An
// answer can be cut short, sent slowly, or held open without an end, as a
// faulty or slow server would.
class ScriptedHttpServer {
public:
    struct Reply {
        std::string bytes;                    // header and body as sent
        std::size_t cutAfter = std::string::npos;  // close after this many bytes
        std::chrono::milliseconds pause{0};   // between pieces of pieceSize bytes
        std::size_t pieceSize = 4096;
        bool holdOpen = false;                // after the bytes, neither send nor close
    };
    // The answer to connection number `connection` (from 0), given its request.
    using Script = std::function<Reply(const std::string& request, std::size_t connection)>;

    explicit ScriptedHttpServer(Script script);
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" and path.
    std::string address(const std::string& path) const;
    // The request header of every connection so far.
    std::vector<std::string> requests();

private:
    void serve();
    void answer(int connection, std::size_t number);
    bool stopping();

    Script script_;
    int listener_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    bool stopping_ = false;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A reply header with status line and lines, ending in the blank line.
std::string replyHeader(const std::string& statusLine, const std::vector<std::string>& lines);

// The start offset of a request's "Range: bytes=N-" line; 0 without one.
std::size_t requestedOffset(const std::string& request);

// "200 OK" with Content-Length, or "206" with Content-Range from the
// request's offset, and the body from there.
ScriptedHttpServer::Reply fileReply(const std::string& file, const std::string& request);
