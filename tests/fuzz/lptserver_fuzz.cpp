// The simulator's register server on arbitrary client text: it answers what it understands,
// counts the rest, and ends the client when the connection ends, whatever came before.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "devices/devices.h"
#include "sim/lptchipset.h"
#include "sim/lptserver.h"

namespace {

// Harness failures say what failed, so that they are not taken for findings in the code.
[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "harness: %s failed: %s\n", what, std::strerror(errno));
    std::abort();
}

TLptServer& Server()
{
    static TLptServer* server = [] {
        const TDevice* device = DeviceList().FindDevice("COP8TAB9", 0xFF);
        if (!device) std::abort();
        auto* s = new TLptServer(std::make_shared<TLptChipset>(*device));
        if (!s->Listen(0)) std::abort();
        s->Start();
        return s;
    }();
    return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TLptServer& server = Server();
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) Fail("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(server.Port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        // libFuzzer's own timer may interrupt it; the connection then completes on its own.
        if (errno != EINTR) Fail("connect");
        pollfd w{fd, POLLOUT, 0};
        while (poll(&w, 1, 10000) < 0 && errno == EINTR) {
        }
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) Fail("connect");
    }
    // Send and drain together so that neither side can block on a full buffer.
    size_t sent = 0;
    bool closed = false;
    char buf[4096];
    for (;;) {
        if (sent == size && !closed) {
            shutdown(fd, SHUT_WR);
            closed = true;
        }
        pollfd p{fd, static_cast<short>(POLLIN | (sent < size ? POLLOUT : 0)), 0};
        // The server must end the client soon after the input ends.
        const int ready = poll(&p, 1, 10000);
        if (ready < 0 && errno == EINTR) continue;  // libFuzzer's own timer
        if (ready <= 0) Fail("waiting for the server to end the client");
        if (p.revents & POLLOUT) {
            const ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
        }
    }
    // A reset instead of a close keeps tens of thousands of runs from using up the local ports
    // in TIME_WAIT.
    const linger abortive{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    close(fd);
    return 0;
}
