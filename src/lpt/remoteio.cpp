// Register access over TCP: one ASCII line per access, "W aaaa vv" (no answer) and "R aaaa"
// (answered by "vv"). Writes are queued and go out with the next read, so a run of pin writes
// costs one round trip instead of one each.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "base/hextext.h"
#include "lpt/portio.h"

namespace {

constexpr size_t kMaxPendingInput = 4096;

using Steady = std::chrono::steady_clock;

// Waits for `events` on `fd` until `deadline`; a signal does not end the wait early.
bool WaitFor(int fd, short events, Steady::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, static_cast<int>(left));
        if (n > 0) return true;
        if (n == 0 || errno != EINTR) return false;
    }
}

class TRemotePortIo final : public IPortIo {
public:
    TRemotePortIo(std::string hostAndPort, int answerMs) : target_(std::move(hostAndPort)), answerMs_(answerMs) {}
    ~TRemotePortIo() override { Close(); }

    bool Open() override
    {
        const size_t colon = target_.rfind(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == target_.size()) return false;
        const std::string host = target_.substr(0, colon);
        const std::string port = target_.substr(colon + 1);
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
        for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
            const int fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
            if (fd < 0) continue;
            if (Connect(fd, a->ai_addr, a->ai_addrlen)) {
                fd_ = fd;
            } else {
                close(fd);
            }
        }
        freeaddrinfo(found);
        if (fd_ < 0) return false;
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return true;
    }

    void Close() override
    {
        if (fd_ < 0) return;
        Flush();
        close(fd_);
        fd_ = -1;
        pending_.clear();
        input_.clear();
    }

    bool GrantRange(uint16_t, uint16_t) override { return fd_ >= 0; }

    uint8_t Read(uint16_t address) override
    {
        if (fd_ < 0) return 0xFF;
        pending_ += "R " + hex::Hex4(address) + "\n";
        if (!Flush()) return 0xFF;
        std::string line;
        if (!ReadLine(line) || line.size() != 2 || !hex::IsHexDigit(line[0]) || !hex::IsHexDigit(line[1])) {
            Drop();
            return 0xFF;
        }
        return hex::ByteFromChars(line[0], line[1]);
    }

    void Write(uint16_t address, uint8_t value) override
    {
        if (fd_ < 0) return;
        pending_ += "W " + hex::Hex4(address) + " " + hex::Hex2(value) + "\n";
        if (pending_.size() > 4096) Flush();
    }

    std::array<uint16_t, 3> BiosTable() override { return {0x378, 0, 0}; }
    bool UsesSystemDiscovery() const override { return false; }

private:
    // A connect interrupted by a signal goes on in the background: wait for its outcome.
    bool Connect(int fd, const sockaddr* address, socklen_t length) const
    {
        if (connect(fd, address, length) == 0) return true;
        if (errno != EINTR && errno != EINPROGRESS) return false;
        if (!WaitFor(fd, POLLOUT, Steady::now() + std::chrono::milliseconds(answerMs_))) return false;
        int error = 0;
        socklen_t size = sizeof error;
        return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }

    bool Flush()
    {
        size_t sent = 0;
        while (sent < pending_.size()) {
            const ssize_t n = send(fd_, pending_.data() + sent, pending_.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                Drop();
                return false;
            }
            sent += static_cast<size_t>(n);
        }
        pending_.clear();
        return true;
    }

    // One deadline for the whole answer: a server that trickles bytes without ending its line
    // reads as an unplugged port once it has passed, instead of holding the program.
    bool ReadLine(std::string& line)
    {
        const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(answerMs_);
        for (;;) {
            const size_t lf = input_.find('\n');
            if (lf != std::string::npos) {
                line = input_.substr(0, lf);
                input_.erase(0, lf + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return true;
            }
            // An answer is two digits; a server that streams without ending its line is broken,
            // and buffering it would only grow without bound.
            if (input_.size() > kMaxPendingInput) return false;
            if (!WaitFor(fd_, POLLIN, deadline)) return false;
            char buf[256];
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            input_.append(buf, static_cast<size_t>(n));
        }
    }

    // A broken connection reads as a floating bus from then on, like an unplugged port.
    void Drop()
    {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        pending_.clear();
        input_.clear();
    }

    std::string target_;
    int answerMs_;
    int fd_ = -1;
    std::string pending_;
    std::string input_;
};

}  // namespace

std::unique_ptr<IPortIo> CreateRemotePortIo(const std::string& hostAndPort, int answerMs)
{
    return std::make_unique<TRemotePortIo>(hostAndPort, answerMs);
}
