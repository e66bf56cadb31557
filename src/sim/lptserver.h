#pragma once
// Puts a simulated parallel port behind the remote register protocol: one TCP client at a time
// on the loopback interface, one ASCII line per access ("W aaaa vv", "R aaaa" answered "vv").
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class TLptChipset;

class TLptServer {
public:
    explicit TLptServer(std::shared_ptr<TLptChipset> chipset);
    ~TLptServer();
    TLptServer(const TLptServer&) = delete;
    TLptServer& operator=(const TLptServer&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port). False with Error() set on failure.
    bool Listen(uint16_t port);
    uint16_t Port() const { return port_; }
    const std::string& Error() const { return error_; }

    // Serves clients in this thread until Stop().
    void Serve();
    // Serves on a thread of its own.
    void Start();
    void Stop();

    uint64_t LinesServed() const { return lines_; }
    uint64_t BadLines() const { return badLines_; }

private:
    void ServeClient(int fd);
    bool HandleLine(const std::string& line, std::string& reply);

    std::shared_ptr<TLptChipset> chipset_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    uint16_t port_ = 0;
    std::string error_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> lines_{0};
    std::atomic<uint64_t> badLines_{0};
    std::thread thread_;
};
