// The remote register client on arbitrary server answers: a bad or missing answer reads as a
// floating bus, never as a crash, a hang or an unbounded buffer.
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
#include <string>

#include "lpt/portio.h"

namespace {

// Harness failures say what failed, so that they are not taken for findings in the code.
[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "harness: %s failed: %s\n", what, std::strerror(errno));
    std::abort();
}

struct Listener {
    int fd = -1;
    uint16_t port = 0;
};

const Listener& Listening()
{
    static const Listener l = [] {
        Listener r;
        r.fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (r.fd < 0 || bind(r.fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(r.fd, 4) != 0 ||
            getsockname(r.fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            std::abort();
        r.port = ntohs(a.sin_port);
        return r;
    }();
    return l;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Larger answers only fill the socket buffer; the client gives up past a few kilobytes.
    if (size > 16384) return 0;
    const Listener& l = Listening();
    auto io = CreateRemotePortIo("127.0.0.1:" + std::to_string(l.port));
    if (!io->Open()) {
        // libFuzzer's own timer may interrupt the connect; that is no finding. A connection it
        // left half made is taken off the queue so that the next run accepts its own.
        if (errno != EINTR) Fail("connecting the client");
        pollfd p{l.fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) close(accept(l.fd, nullptr, nullptr));
        return 0;
    }
    int peer = accept(l.fd, nullptr, nullptr);
    while (peer < 0 && errno == EINTR) peer = accept(l.fd, nullptr, nullptr);
    if (peer < 0) Fail("accept");
    // The whole answer stream, then end of stream, so that no read waits for the timeout.
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = send(peer, data + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail("send");
        sent += static_cast<size_t>(n);
    }
    shutdown(peer, SHUT_WR);
    if (!io->GrantRange(0x378, 0x37A)) std::abort();
    for (int i = 0; i < 64; ++i) {
        io->Write(static_cast<uint16_t>(0x378 + i % 3), static_cast<uint8_t>(i));
        (void)io->Read(static_cast<uint16_t>(0x379 + i % 2));
    }
    // A reset instead of a close keeps tens of thousands of runs from using up the local ports
    // in TIME_WAIT; the client then finds its connection gone, which it must take calmly too.
    const linger abortive{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    close(peer);
    io->Close();
    return 0;
}
