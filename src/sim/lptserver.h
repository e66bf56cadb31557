#pragma once
// Puts a simulated parallel port behind the remote register protocol: one TCP client at a time
// on the loopback interface (an idle one gives way to the next), one ASCII line per access ("W aaaa vv", "R aaaa" answered "vv").
#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
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

    // A client that has sent nothing for this long is dropped when another one is waiting.
    void SetIdleLimitMs(int ms) { idleMs_ = ms; }

    // Called (on the serving thread) whenever a client has gone.
    void SetOnClientDone(std::function<void()> callback) { onClientDone_ = std::move(callback); }

    uint64_t LinesServed() const { return lines_; }
    uint64_t BadLines() const { return badLines_; }

private:
    void ServeClient(int fd);
    bool SendAll(int fd, const std::string& data);
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
    std::function<void()> onClientDone_;
    std::atomic<int> idleMs_{2000};
};

// zemprix-boxsim's parallel mode: serves `chipset` on 127.0.0.1:port until `wakeFd` becomes
// readable. The first line on `out` is "127.0.0.1:PORT" (the port bound, also when 0 was asked).
// With a state path the target is saved after each client and at the end. Returns the exit
// status: 0 stopped, 1 failure.
int RunLptServer(std::shared_ptr<TLptChipset> chipset, uint16_t port, int wakeFd, const std::string& statePath,
                 std::ostream& out, std::ostream& err);
