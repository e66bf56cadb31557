#include "sim/lptserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <ostream>

#include "base/hextext.h"
#include "sim/lptchipset.h"

TLptServer::TLptServer(std::shared_ptr<TLptChipset> chipset) : chipset_(std::move(chipset))
{
    int fds[2];
    if (pipe(fds) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
    }
}

TLptServer::~TLptServer()
{
    Stop();
    if (wakeRead_ >= 0) close(wakeRead_);
    if (wakeWrite_ >= 0) close(wakeWrite_);
}

bool TLptServer::Listen(uint16_t port)
{
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd_ < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never reachable from outside this machine
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listenFd_, 1) != 0) {
        error_ = std::strerror(errno);
        close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    return true;
}

void TLptServer::Start()
{
    thread_ = std::thread([this] { Serve(); });
}

void TLptServer::Stop()
{
    stop_ = true;
    if (wakeWrite_ >= 0) {
        const char c = 1;
        (void)!write(wakeWrite_, &c, 1);
    }
    if (thread_.joinable()) thread_.join();
    // Stop taking connections too; a kept listening socket would still complete handshakes.
    if (listenFd_ >= 0) {
        close(listenFd_);
        listenFd_ = -1;
    }
}

void TLptServer::Serve()
{
    while (!stop_ && listenFd_ >= 0) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;
        if (!(p[0].revents & POLLIN)) continue;
        const int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ServeClient(fd);
        close(fd);
        if (onClientDone_) onClientDone_();
    }
}

void TLptServer::ServeClient(int fd)
{
    using Steady = std::chrono::steady_clock;
    std::string input;
    std::string output;
    char buf[4096];
    Steady::time_point lastActive = Steady::now();
    while (!stop_) {
        // The listener is watched too: a client that has gone quiet gives way to one waiting.
        pollfd p[3] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
        const int n = poll(p, 3, 100);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;
        if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            if ((p[2].revents & POLLIN) && Steady::now() - lastActive >= std::chrono::milliseconds(idleMs_)) return;
            continue;
        }
        const ssize_t got = recv(fd, buf, sizeof buf, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        lastActive = Steady::now();
        input.append(buf, static_cast<size_t>(got));
        size_t start = 0;
        for (size_t lf; (lf = input.find('\n', start)) != std::string::npos; start = lf + 1) {
            std::string line = input.substr(start, lf - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string reply;
            if (HandleLine(line, reply)) output += reply;
        }
        input.erase(0, start);
        // A client that never ends its line must not make the buffer grow without bound.
        if (input.size() > 64) {
            ++badLines_;
            input.clear();
        }
        if (!SendAll(fd, output)) return;
        output.clear();
    }
}

// Sends without blocking on a client that does not read, so that Stop (and SIGTERM in
// zemprix-boxsim) still ends the server.
bool TLptServer::SendAll(int fd, const std::string& data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t m = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (m > 0) {
            sent += static_cast<size_t>(m);
            continue;
        }
        if (m < 0 && errno == EINTR) continue;
        if (m < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p[2] = {{fd, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
            if (poll(p, 2, -1) < 0 && errno != EINTR) return false;
            if (p[1].revents) return false;
            continue;
        }
        return false;
    }
    return true;
}

bool TLptServer::HandleLine(const std::string& line, std::string& reply)
{
    ++lines_;
    auto hexField = [&](size_t from, size_t digits, uint32_t& value) {
        if (line.size() < from + digits) return false;
        for (size_t i = from; i < from + digits; ++i)
            if (!hex::IsHexDigit(line[i])) return false;
        value = hex::DWord(hex::ToUpper(line.substr(from, digits)));
        return true;
    };
    uint32_t address = 0;
    uint32_t value = 0;
    std::lock_guard<std::mutex> lock(chipset_->Mutex());
    if (line.size() == 6 && line[0] == 'R' && line[1] == ' ' && hexField(2, 4, address)) {
        reply = hex::Hex2(chipset_->Read(static_cast<uint16_t>(address))) + "\n";
        return true;
    }
    if (line.size() == 9 && line[0] == 'W' && line[1] == ' ' && line[6] == ' ' && hexField(2, 4, address) &&
        hexField(7, 2, value)) {
        chipset_->Write(static_cast<uint16_t>(address), static_cast<uint8_t>(value));
        return false;
    }
    // A malformed read still gets an answer, so the client does not wait for ever.
    ++badLines_;
    if (!line.empty() && line[0] == 'R') {
        reply = "FF\n";
        return true;
    }
    return false;
}

int RunLptServer(std::shared_ptr<TLptChipset> chipset, uint16_t port, int wakeFd, const std::string& statePath,
                 std::ostream& out, std::ostream& err)
{
    TLptServer server(chipset);
    if (!server.Listen(port)) {
        err << "zemprix-boxsim: cannot listen on 127.0.0.1:" << port << ": " << server.Error() << std::endl;
        return 1;
    }
    uint64_t saved = chipset->Box().Changes();
    auto save = [&] {
        std::lock_guard<std::mutex> lock(chipset->Mutex());
        if (statePath.empty() || chipset->Box().Changes() == saved) return;
        if (chipset->Box().SaveState(statePath))
            saved = chipset->Box().Changes();
        else
            err << "zemprix-boxsim: cannot save " << statePath << std::endl;
    };
    server.SetOnClientDone(save);
    out << "127.0.0.1:" << server.Port() << std::endl;  // endl flushes: the caller waits for this line
    server.Start();
    pollfd p{wakeFd, POLLIN, 0};
    while (poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    server.Stop();
    save();
    return 0;
}
