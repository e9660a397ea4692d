// Throughput and CPU cost of the file download service next to the curl
// command-line tool, both fetching the same 1 GiB file from the same server
// on 127.0.0.1 in the same run. The file is made on the fly (nothing is read
// from disk) and downloaded into a tmpfs, checked byte for byte, and deleted.
//
//   download_bench [rounds] [folder]   rounds of service then curl (default 3),
//                                       into folder (default /dev/shm)
//   download_bench --fetch URL PATH     one download through the service
//   download_bench --serve              serve the file; prints its address
//
// Each download is a child process measured from outside: wall time from
// start to reap, and its user + system seconds (wait4), start-up included.

#include "net/download_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The file: 1 GiB, the same 1 MiB block of noise over and over, so any byte
// can be made from its offset and a Range can be served.
constexpr std::size_t kBlockSize = 1 << 20;
constexpr std::int64_t kFileSize = std::int64_t{1} << 30;
constexpr double kBytesPerGiB = 1024.0 * 1024.0 * 1024.0;
// Bytes the server hands the socket per send.
constexpr std::size_t kSendPiece = 256 * 1024;
constexpr int kDefaultRounds = 3;
constexpr const char* kDefaultFolder = "/dev/shm";
constexpr const char* kCurl = "/usr/bin/curl";
// The server looks this often whether the bench is over.
constexpr int kStopCheckMs = 50;
constexpr std::size_t kRequestLimit = 16384;

const std::vector<char>& block()
{
    static const std::vector<char> bytes = [] {
        std::vector<char> made(kBlockSize);
        std::mt19937 generator(2024);
        for (char& byte : made)
            byte = static_cast<char>(generator() & 0xFF);
        return made;
    }();
    return bytes;
}

// A plain HTTP server of the one file on its own thread, one connection at a
// time; honours "Range: bytes=N-".
class FileServer {
public:
    FileServer()
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, SOMAXCONN);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        block();
        thread_ = std::thread([this] { serve(); });
    }
    ~FileServer()
    {
        stopping_ = true;
        thread_.join();
        close(listener_);
    }
    std::string address() const { return "http://127.0.0.1:" + std::to_string(port_) + "/big.bin"; }

private:
    void serve()
    {
        while (!stopping_) {
            pollfd waiting{listener_, POLLIN, 0};
            if (poll(&waiting, 1, kStopCheckMs) <= 0)
                continue;
            const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            answer(connection);
            close(connection);
        }
    }

    void answer(int connection)
    {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < kRequestLimit) {
            const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0)
                return;
            request.append(buffer, static_cast<std::size_t>(got));
        }
        std::int64_t offset = 0;
        constexpr std::string_view kRangeLine = "\r\nRange: bytes=";
        const std::size_t range = request.find(kRangeLine);
        if (range != std::string::npos)
            offset = std::strtoll(request.c_str() + range + kRangeLine.size(), nullptr, 10);
        offset = std::clamp<std::int64_t>(offset, 0, kFileSize);
        std::string header;
        if (range == std::string::npos) {
            header = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kFileSize) + "\r\n";
        } else {
            header = "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(kFileSize - offset) +
                     "\r\nContent-Range: bytes " + std::to_string(offset) + "-" + std::to_string(kFileSize - 1) +
                     "/" + std::to_string(kFileSize) + "\r\n";
        }
        header += "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
        if (send(connection, header.data(), header.size(), MSG_NOSIGNAL) < 0)
            return;
        const std::vector<char>& bytes = block();
        for (std::int64_t at = offset; at < kFileSize && !stopping_;) {
            const std::size_t inBlock = static_cast<std::size_t>(at % kBlockSize);
            const std::size_t piece = std::min<std::size_t>(
                {kSendPiece, kBlockSize - inBlock, static_cast<std::size_t>(kFileSize - at)});
            const ssize_t sent = send(connection, bytes.data() + inBlock, piece, MSG_NOSIGNAL);
            if (sent <= 0)
                return;
            at += sent;
        }
        shutdown(connection, SHUT_WR);
        // Let the client read to the end before the connection goes.
        while (recv(connection, buffer, sizeof buffer, 0) > 0) {
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// One download through the service, as the updater starts it.
int fetch(const std::string& address, const std::string& path)
{
    qinghe::DownloadService service;
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
    std::int64_t endValue = -1;
    qinghe::DownloadTask task;
    task.kind = qinghe::kDownloadTaskKind;
    task.address = address;
    task.savePath = path;
    task.eventHandler = [&](int event, std::int64_t, std::int64_t b, std::int64_t, qinghe::DownloadTask&) {
        if (event == qinghe::kDownloadEndedEvent) {
            std::lock_guard lock(mutex);
            ended = true;
            endValue = b;
            changed.notify_all();
        }
        return 0;
    };
    if (!service.start(task))
        return 2;
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return ended; });
    return endValue == kFileSize && access(path.c_str(), F_OK) == 0 ? 0 : 1;
}

struct Run {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    int status = -1;
};

Run runChild(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    Run run;
    const Clock::time_point start = Clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return run;
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    run.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                     usage.ru_stime.tv_usec / 1e6;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Whether the file holds the 1 GiB exactly.
bool complete(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> piece(kBlockSize);
    std::int64_t total = 0;
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
        const auto got = static_cast<std::size_t>(in.gcount());
        if (std::memcmp(piece.data(), block().data(), got) != 0)
            return false;
        total += static_cast<std::int64_t>(got);
    }
    return total == kFileSize;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int compare(const std::string& self, int rounds, const std::string& folder)
{
    FileServer server;
    const std::string target = folder + "/qinghe-download-bench.bin";
    std::vector<double> serviceWall, serviceCpu, curlWall, curlCpu, ratios;
    std::printf("1 GiB from %s into %s, %d rounds\n", server.address().c_str(), folder.c_str(), rounds);
    std::printf("%-8s %-8s %10s %10s %12s %s\n", "round", "client", "wall s", "cpu s", "MiB/s", "file");
    for (int round = 1; round <= rounds; ++round) {
        unlink(target.c_str());
        const Run ours = runChild({self, "--fetch", server.address(), target});
        const bool oursWhole = ours.status == 0 && complete(target);
        unlink(target.c_str());
        const Run curl = runChild({kCurl, "-s", "-o", target, server.address()});
        const bool curlWhole = curl.status == 0 && complete(target);
        unlink(target.c_str());
        for (const auto& [name, run, whole] : {std::tuple{"service", ours, oursWhole}, std::tuple{"curl", curl, curlWhole}})
            std::printf("%-8d %-8s %10.3f %10.3f %12.1f %s\n", round, name, run.wallSeconds, run.cpuSeconds,
                        kFileSize / (1024.0 * 1024.0) / run.wallSeconds, whole ? "whole" : "BROKEN");
        if (!oursWhole || !curlWhole)
            return 1;
        serviceWall.push_back(ours.wallSeconds);
        serviceCpu.push_back(ours.cpuSeconds);
        curlWall.push_back(curl.wallSeconds);
        curlCpu.push_back(curl.cpuSeconds);
        // Throughput of the service over curl's, pair by pair.
        ratios.push_back(curl.wallSeconds / ours.wallSeconds);
    }
    const double gib = kFileSize / kBytesPerGiB;
    std::printf("median throughput: service %.1f MiB/s, curl %.1f MiB/s; service/curl %.3f\n",
                kFileSize / (1024.0 * 1024.0) / median(serviceWall), kFileSize / (1024.0 * 1024.0) / median(curlWall),
                median(ratios));
    std::printf("median CPU seconds per GiB: service %.3f, curl %.3f\n", median(serviceCpu) / gib,
                median(curlCpu) / gib);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--fetch") == 0)
        return fetch(argv[2], argv[3]);
    if (argc == 2 && std::strcmp(argv[1], "--serve") == 0) {
        FileServer server;
        std::printf("%s\n", server.address().c_str());
        std::fflush(stdout);
        pause();
        return 0;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRounds;
    const std::string folder = argc > 2 ? argv[2] : kDefaultFolder;
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 1;
    return compare(self, rounds, folder);
}
