// The remote register backend against the simulated chipset behind TLptServer, and the "sim"
// backend of the registry.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "devices/devices.h"
#include "store/settings.h"
#include "base/isperrors.h"
#include "link/linkcontext.h"
#include "link/linkwide.h"
#include "link/smartparallel.h"
#include "lpt/portunit.h"
#include "base/clock.h"
#include "sim/boxmodel.h"
#include "sim/lptchipset.h"
#include "sim/lptserver.h"

namespace {

std::string ReadFileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const TDevice& Sbr9() { return *DeviceList().FindDevice("COP8SBR9", 0xFF); }

// Sends `request` on a fresh connection and reads `lines` answer lines.
std::string Exchange(uint16_t port, const std::string& request, int lines)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return "(no connection)";
    }
    timeval limit{5, 0};  // a server that does not answer fails the test instead of hanging it
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    send(fd, request.data(), request.size(), 0);
    std::string answer;
    char c;
    while (lines > 0 && recv(fd, &c, 1, 0) == 1) {
        answer += c;
        if (c == '\n') --lines;
    }
    close(fd);
    return answer;
}

}  // namespace

TEST(LptRemote, ServerSpeaksTheLineProtocol)
{
    auto chipset = std::make_shared<TLptChipset>(Sbr9());
    TLptServer server(chipset);
    ASSERT_TRUE(server.Listen(0)) << server.Error();
    server.Start();
    // Control 0Bh drives pins 1, 14 and 17 low and 16 low; a bad read still gets an answer.
    EXPECT_EQ(Exchange(server.Port(), "W 037A 0B\nR 037A\nr 037a\nR 037\nW 0378\nR 0378\n", 3), "0B\nFF\n00\n");
    EXPECT_GE(server.BadLines(), 2u);
    EXPECT_FALSE(chipset->ResetLevel());
    server.Stop();
}

TEST(LptRemote, TheParallelLinkWorksThroughTheServer)
{
    VirtualClock clock;
    ScopedClock scoped(clock);
    auto chipset = std::make_shared<TLptChipset>(Sbr9());
    TLptServer server(chipset);
    ASSERT_TRUE(server.Listen(0)) << server.Error();
    server.Start();

    TISPSettings settings;
    settings.Put("ZEMPRIX (LPT)", "BASEPORT", kGlobalGroup, 0);
    TSmartParallel link;
    link.SetHardwareName("ZEMPRIX (LPT)");
    link.SetSettingsStore(&settings);
    link.SetDevice(&Sbr9());
    auto backend = CreateBuiltInPortIo("remote:127.0.0.1:" + std::to_string(server.Port()));
    ASSERT_NE(backend, nullptr);
    link.Context().ReplaceLpt(std::make_unique<TVicLPT>(std::move(backend)));

    ASSERT_TRUE(link.Connect());
    EXPECT_EQ(link.Context().Lpt().BaseAddress(), 0x378);
    EXPECT_EQ(link.Context().Lpt().HardwareMode(), 5);
    EXPECT_EQ(link.ReadProgrammerId(), "ZEMPRIX01");
    link.ProgramOptions(0x33);
    EXPECT_EQ(link.ReadOptions(), 0x33);
    link.Disconnect();
    link.Context().ReleaseLpt();
    server.Stop();
    {
        std::lock_guard<std::mutex> lock(chipset->Mutex());
        EXPECT_EQ(chipset->Box().Flash().back(), 0x33);
        EXPECT_TRUE(chipset->Violations().empty()) << chipset->Violations().front();
        EXPECT_TRUE(chipset->Box().Violations().empty()) << chipset->Box().Violations().front();
    }
    EXPECT_GT(server.LinesServed(), 1000u);

    // Nobody listens any more: the port is missing.
    link.Context().ReplaceLpt(std::make_unique<TVicLPT>(CreateBuiltInPortIo("remote:127.0.0.1:" + std::to_string(server.Port()))));
    EXPECT_THROW(link.Connect(), EISPException);
    link.Context().ReleaseLpt();
}

TEST(LptSimBackend, RegisteredByNameAndKeepsTheTargetBetweenRuns)
{
    const std::filesystem::path state =
        std::filesystem::temp_directory_path() / ("zemprix_simlpt_" + std::to_string(::getpid()));
    setenv("ZEMPRIX_SIM_STATE", state.c_str(), 1);
    TLinkContext context;
    const auto slot = AddSimPortBackend(context);
    EXPECT_TRUE(context.PortBackends().Has("sim"));
    {
        auto io = context.PortBackends().Create("sim");
        ASSERT_NE(io, nullptr);
        ASSERT_TRUE(io->Open());
        EXPECT_FALSE(io->UsesSystemDiscovery());
        EXPECT_EQ(io->BiosTable()[0], 0x378);
        slot->Chipset()->Box().Flash()[0x10] = 0x12;
        io->Close();
    }
    unsetenv("ZEMPRIX_SIM_STATE");
    TBoxModel next(slot->Chipset()->Box().Device());
    ASSERT_TRUE(next.LoadState(state.string()));
    EXPECT_EQ(next.Flash()[0x10], 0x12);
    std::filesystem::remove(state);
}

// A file that is not this target's state is refused, never written over, and a state that could
// not be saved is an error before anything is programmed.
TEST(LptSimBackend, RefusesAForeignStateFileAndAnUnsavableOne)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zemprix_simstate_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    TLinkContext context;
    const auto slot = AddSimPortBackend(context);
    unsetenv("ZEMPRIX_SIM_DEVICE");
    auto refused = [&](const std::filesystem::path& path) {
        setenv("ZEMPRIX_SIM_STATE", path.c_str(), 1);
        slot->Forget();
        try {
            context.PortBackends().Create("sim");
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    const std::filesystem::path text = dir / "notes.txt";
    {
        std::ofstream(text) << "my notes\n";
    }
    EXPECT_NE(refused(text).find("is not a saved state of a COP8SBR9"), std::string::npos);
    EXPECT_EQ(ReadFileText(text), "my notes\n");

    const std::filesystem::path other = dir / "other.state";
    ASSERT_TRUE(TBoxModel(*DeviceList().FindDevice("COP8CBR9", 0xFF)).SaveState(other.string()));
    const std::string before = ReadFileText(other);
    EXPECT_NE(refused(other).find("is not a saved state"), std::string::npos);
    EXPECT_EQ(ReadFileText(other), before);

    EXPECT_NE(refused(dir / "no-folder" / "x.state").find("cannot be saved"), std::string::npos);

    const std::filesystem::path fresh = dir / "fresh.state";
    EXPECT_EQ(refused(fresh), "");
    EXPECT_TRUE(std::filesystem::exists(fresh));
    unsetenv("ZEMPRIX_SIM_STATE");
    std::filesystem::remove_all(dir);
}

#ifdef ZEMPRIX_BIN_DIR
#include <signal.h>
#include <sys/wait.h>

TEST(LptRemote, BoxsimServesTheParallelPort)
{
    const std::string exe = std::string(ZEMPRIX_BIN_DIR) + "/zemprix-boxsim";
    if (::access(exe.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << exe;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(exe.c_str(), exe.c_str(), "--lpt-server", "0", "--hardware", "0042", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string address;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') address += c;
    close(out[0]);
    ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;

    VirtualClock clock;
    ScopedClock scoped(clock);
    TISPSettings settings;
    TSmartParallel link;
    link.SetHardwareName("ZEMPRIX (LPT)");
    link.SetSettingsStore(&settings);
    link.SetDevice(&Sbr9());
    link.Context().ReplaceLpt(std::make_unique<TVicLPT>(CreateBuiltInPortIo("remote:" + address)));
    EXPECT_TRUE(link.Connect());
    EXPECT_EQ(link.Protocol().Query('V', 4), "0042");
    link.Context().ReleaseLpt();
    kill(pid, SIGTERM);
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif

TEST(LptRemote, AServerThatNeverEndsItsLineReadsAsAFloatingBus)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread server([listener] {
        const int fd = accept(listener, nullptr, nullptr);
        const std::string junk(64 * 1024, 'A');
        send(fd, junk.data(), junk.size(), MSG_NOSIGNAL);
        char c;
        while (recv(fd, &c, 1, 0) > 0) {
        }
        close(fd);
    });
    auto io = CreateBuiltInPortIo("remote:127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
    ASSERT_TRUE(io->Open());
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(io->Read(0x379), 0xFF);
    // Given up on the garbage rather than waiting out the answer time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(io->Read(0x379), 0xFF);  // dropped: the bus floats from then on
    io->Close();
    io.reset();
    server.join();
    close(listener);
}

// A server that trickles a byte now and then, never ending its line, cannot hold the program past
// the answer's one deadline (each byte used to restart the receive time-out).
TEST(LptRemote, ATricklingServerCannotHoldAnAnswerPastItsDeadline)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread server([listener] {
        const int fd = accept(listener, nullptr, nullptr);
        // 40 bytes, one every 20 ms: 800 ms in all, four times the client's 200 ms deadline.
        for (int i = 0; i < 40; ++i) {
            if (send(fd, "A", 1, MSG_NOSIGNAL) != 1) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        close(fd);
    });
    auto io = CreateRemotePortIo("127.0.0.1:" + std::to_string(ntohs(a.sin_port)), 200);
    ASSERT_TRUE(io->Open());
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(io->Read(0x379), 0xFF);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(180));
    EXPECT_LT(waited, std::chrono::milliseconds(600));
    io->Close();
    io.reset();
    server.join();
    close(listener);
}

namespace {

int ConnectTo(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

// An idle connection must not lock every other client out, and a client that sends without
// reading must not keep the server from stopping.
TEST(LptRemote, AnIdleClientGivesWayAndANonReadingOneCannotBlockStop)
{
    auto chipset = std::make_shared<TLptChipset>(Sbr9());
    TLptServer server(chipset);
    ASSERT_TRUE(server.Listen(0)) << server.Error();
    server.SetIdleLimitMs(100);
    server.Start();

    const int idle = ConnectTo(server.Port());
    ASSERT_GE(idle, 0);
    EXPECT_EQ(Exchange(server.Port(), "R 0378\n", 1).size(), 3u);  // served after the idle one was dropped
    close(idle);

    const int greedy = ConnectTo(server.Port());
    ASSERT_GE(greedy, 0);
    std::string requests;
    for (int i = 0; i < 100000; ++i) requests += "R 0378\n";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
        if (send(greedy, requests.data(), requests.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0 && errno != EAGAIN) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto t0 = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    close(greedy);
}
