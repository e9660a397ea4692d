#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted HTTP peer on 127.0.0.1 for the net tests, on a thread of its
// own (the window thread of a test may be busy in a request). One connection
// at a time: it reads a request (the header block, then as many body bytes
// as a Content-Length line announces), waits if told, sends its canned bytes
// as they are, closes its sending side and records every byte the client
// sent until the client hangs up. It also serves as a proxy: it answers
// whatever address the request line carries.
class RawHttpServer {
public:
    struct Answer {
        std::string bytes;
        std::chrono::milliseconds delay{0};  // between reading the request and answering
    };

    // Connection i gets answers[i], the last one again once they run out.
    explicit RawHttpServer(std::vector<Answer> answers);
    explicit RawHttpServer(std::string answer) : RawHttpServer(std::vector<Answer>{{std::move(answer)}}) {}
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    int port() const { return port_; }
    std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }

    // What clients sent, one entry per finished connection; waits until
    // count connections have finished (or a generous guard runs out).
    std::vector<std::string> requests(std::size_t count);
    // The single request of a test that makes one.
    std::string onlyRequest();
    std::size_t finishedConnections();

    // A port on 127.0.0.1 where nothing listens.
    static int closedPort();

private:
    void serve();
    void handle(int connection, const Answer& answer);

    std::vector<Answer> answers_;
    int listener_ = -1;
    int port_ = 0;
    bool stopping_ = false;
    std::mutex mutex_;
    std::condition_variable finished_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A whole HTTP/1.1 answer with the given body and extra header lines.
std::string httpAnswer(const std::string& body, const std::string& extraHeaders = {});
