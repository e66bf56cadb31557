// The box's front ends: the in-process serial port and the zemprix-boxsim executable on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "devices/devices.h"
#include "image/hexlist.h"
#include "store/settings.h"
#include "base/isperrors.h"
#include "link/linkcontext.h"
#include "link/linkhost.h"
#include "link/qtserialport.h"
#include "link/smartserial.h"
#include "base/clock.h"
#include "sim/boxmodel.h"
#include "sim/simserial.h"

extern char** environ;

namespace {

const TDevice& Sbr9() { return *DeviceList().FindDevice("COP8SBR9", 0xFF); }

// ---- in-process serial port ----

TEST(SimSerialPort, DtrRtsPulseResetsTheBox)
{
    TBoxModel box(Sbr9());
    TSimSerialPort port(box);
    port.SetDtr(false);
    port.SetRts(false);
    port.SetDtr(true);
    EXPECT_EQ(port.Resets(), 0);  // lines moved while closed reach nobody
    port.Open("COM1", 115200);
    port.SetDtr(true);
    port.SetRts(true);
    EXPECT_EQ(port.Resets(), 0);  // raising lines without a low phase is no pulse

    port.WriteByte('=');
    port.WriteByte('%');
    ASSERT_EQ(port.Take(2), "\r\r");
    ASSERT_TRUE(box.ProgrammingMode());
    port.SetDtr(false);
    EXPECT_EQ(port.Resets(), 0);  // only one line low
    port.SetRts(false);
    port.SetDtr(true);
    port.SetRts(true);
    EXPECT_EQ(port.Resets(), 1);
    EXPECT_FALSE(box.ProgrammingMode());
    EXPECT_EQ(port.BytesWaiting(), 9u);
    EXPECT_EQ(port.Take(100), "ZEMPRIX01");
}

TEST(SimSerialPort, BytesFlowBothWaysAndFlushDropsAnswers)
{
    TBoxModel box(Sbr9());
    TSimSerialPort port(box);
    box.Reset();  // said while nobody listened
    port.Open("/dev/fake", 115200);
    EXPECT_EQ(port.BytesWaiting(), 0u);
    for (char c : std::string("rFFFF")) port.WriteByte(static_cast<uint8_t>(c));
    EXPECT_EQ(port.WaitForBytes(10, 2000), 3u);  // never waits for more than there is
    EXPECT_EQ(port.TakeByte(), 'F');
    port.FlushInput();
    EXPECT_EQ(port.BytesWaiting(), 0u);
    EXPECT_THROW(port.TakeByte(), ESerialError);
    port.SetParitySpace();
    EXPECT_TRUE(port.ParitySpace());
    EXPECT_EQ(port.OpenedName(), "/dev/fake");
    EXPECT_EQ(port.Baud(), 115200);

    EXPECT_THROW(port.Open("/dev/fake", 115200), ESerialOpenError);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_THROW(port.WriteByte('S'), ESerialError);
    EXPECT_EQ(port.BytesWaiting(), 0u);
}

TEST(SimSerialPort, InstalledFactoryHandsOutPortsOnOneBox)
{
    TBoxModel box(Sbr9());
    TLinkContext context;
    {
        TSimSerialInstall install(context, box);
        EXPECT_EQ(install.Last(), nullptr);
        {
            std::unique_ptr<ISerialPort> port = context.NewSerialPort();
            ASSERT_EQ(install.Last(), port.get());
            EXPECT_EQ(&install.Last()->Box(), &box);
            port->Open("COM1", 115200);
            port->WriteByte('Z');
            EXPECT_EQ(port->Take(1), "\r");
        }
        EXPECT_EQ(install.Last(), nullptr);  // the link freed it
        install.SetOpenFails(true);
        std::unique_ptr<ISerialPort> port = context.NewSerialPort();
        EXPECT_THROW(port->Open("COM1", 115200), ESerialOpenError);
        EXPECT_EQ(install.Created(), 2);
    }
    EXPECT_THROW(context.NewSerialPort(), ESerialOpenError);  // removed again
}

// ---- zemprix-boxsim on a pseudo-terminal ----

constexpr int kWaitMs = 5000;

int64_t NowMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

// A zemprix-boxsim child with its stdout and stderr on pipes.
class TBoxsimProcess {
public:
    explicit TBoxsimProcess(std::vector<std::string> args)
    {
        int out[2];
        int err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        const std::string exe = std::string(ZEMPRIX_BIN_DIR) + "/zemprix-boxsim";
        args.insert(args.begin(), exe);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~TBoxsimProcess()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }

    bool Started() const { return pid_ > 0; }

    // The first line of stdout.
    std::string FirstLine()
    {
        std::string line;
        const int64_t end = NowMs() + kWaitMs;
        char c = 0;
        while (NowMs() < end) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            if (read(out_, &c, 1) != 1) break;
            if (c == '\n') return line;
            line += c;
        }
        return {};
    }

    // Waits for the exit and returns the status (-1 when it did not end in time).
    int Wait()
    {
        const int64_t end = NowMs() + kWaitMs;
        int status = 0;
        while (NowMs() < end) {
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            poll(nullptr, 0, 10);
        }
        return -1;
    }
    int Stop()
    {
        kill(pid_, SIGTERM);
        return Wait();
    }
    std::string Stderr()
    {
        std::string text;
        char buffer[512];
        fcntl(err_, F_SETFL, O_NONBLOCK);
        ssize_t n = 0;
        while ((n = read(err_, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
        return text;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool exited_ = false;
};

// The host side of the pseudo-terminal, opened raw as the serial link would.
class TTerminal {
public:
    explicit TTerminal(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY))
    {
        if (fd_ < 0) return;
        termios tio {};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~TTerminal()
    {
        if (fd_ >= 0) close(fd_);
    }
    bool IsOpen() const { return fd_ >= 0; }

    // Sends the bytes and reads until `expected` bytes came (or the wait ends).
    std::string Exchange(const std::string& bytes, size_t expected)
    {
        if (!bytes.empty() && write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            return "<write failed>";
        std::string answer;
        const int64_t end = NowMs() + kWaitMs;
        while (answer.size() < expected && NowMs() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[4096];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;
            answer.append(buffer, static_cast<size_t>(n));
        }
        return answer;
    }

private:
    int fd_;
};

class BoxsimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = ::testing::TempDir() + "boxsim_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::remove((dir_ + ".state").c_str());
        std::remove((dir_ + ".poke").c_str());
    }
    void TearDown() override
    {
        std::remove((dir_ + ".state").c_str());
        std::remove((dir_ + ".poke").c_str());
    }
    std::string StatePath() const { return dir_ + ".state"; }
    std::string PokePath() const { return dir_ + ".poke"; }

    std::string dir_;
};

TEST_F(BoxsimTest, ServesTheBoxOnAPseudoTerminal)
{
    TBoxsimProcess sim({"--device", "COP8SBE9"});
    ASSERT_TRUE(sim.Started());
    const std::string path = sim.FirstLine();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    TTerminal term(path);
    ASSERT_TRUE(term.IsOpen());
    EXPECT_EQ(term.Exchange("S", 10), "ZEMPRIX01\r");
    EXPECT_EQ(term.Exchange("v", 5), "0009\r");
    EXPECT_EQ(term.Exchange("*I", 2), "\r\r");
    // CR and LF pass untranslated, and the device size is the one asked for.
    EXPECT_EQ(term.Exchange("W1FFE01\x30\x44", 1), "\r");
    EXPECT_EQ(term.Exchange("R1FFE0003", 7), "0DFFFF\r");
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(BoxsimTest, FaultFlagsReachTheBox)
{
    TBoxsimProcess sim({"--ident", "ZEMPRIX00", "--firmware=0008", "--error-code", "T",
                        "--stuck-address", "10", "--silent-after", "30"});
    ASSERT_TRUE(sim.Started());
    TTerminal term(sim.FirstLine());
    ASSERT_TRUE(term.IsOpen());
    EXPECT_EQ(term.Exchange("S", 2), "?T");
    EXPECT_EQ(term.Exchange("S", 10), "ZEMPRIX00\r");
    EXPECT_EQ(term.Exchange("v", 5), "0008\r");
    EXPECT_EQ(term.Exchange("W00100100", 2), "?V");
    EXPECT_EQ(term.Exchange("R00000008", 11), "FFFFFFFFFFF");  // 30 bytes sent in all
    EXPECT_EQ(sim.Stop(), 0);

    TBoxsimProcess absent({"--no-target"});
    TTerminal term2(absent.FirstLine());
    EXPECT_EQ(term2.Exchange("rFFFF", 3), "FF\r");
    EXPECT_EQ(term2.Exchange("Z", 2), "?m");

    TBoxsimProcess aimed({"--error-code", "#", "--error-command", "S"});
    TTerminal term3(aimed.FirstLine());
    EXPECT_EQ(term3.Exchange("ZS", 3), "\r?#");
}

TEST_F(BoxsimTest, StateSurvivesRunsAndPokesChangeFlash)
{
    {
        TBoxsimProcess sim({"--state", StatePath(), "--poke-file", PokePath()});
        TTerminal term(sim.FirstLine());
        ASSERT_TRUE(term.IsOpen());
        EXPECT_EQ(term.Exchange("W0100025AA5", 1), "\r");
        EXPECT_EQ(term.Exchange("w7FFF06", 1), "\r");
        EXPECT_EQ(term.Exchange("T0102030A", 1), "\r");
        {
            std::ofstream(PokePath() + ".tmp") << "0102 12 34\n";
        }
        ASSERT_EQ(std::rename((PokePath() + ".tmp").c_str(), PokePath().c_str()), 0);
        EXPECT_EQ(term.Exchange("R01000004", 9), "5AA51234\r");
        EXPECT_EQ(sim.Stop(), 0) << sim.Stderr();
    }
    TBoxsimProcess sim({"--state", StatePath()});
    TTerminal term(sim.FirstLine());
    ASSERT_TRUE(term.IsOpen());
    EXPECT_EQ(term.Exchange("R01000004", 9), "5AA51234\r");
    EXPECT_EQ(term.Exchange("r7FFF", 3), "06\r");
    EXPECT_EQ(term.Exchange("t", 9), "0102030A\r");
    EXPECT_EQ(sim.Stop(), 0) << sim.Stderr();

    // A state of another device is refused, not overwritten.
    TBoxsimProcess other({"--state", StatePath(), "--device", "COP8SBE9"});
    EXPECT_EQ(other.Wait(), 1);
    TBoxModel check(Sbr9());
    EXPECT_TRUE(check.LoadState(StatePath()));
}

TEST_F(BoxsimTest, StrictModeStopsAtTheFirstViolation)
{
    TBoxsimProcess sim({"--strict", "--log"});
    TTerminal term(sim.FirstLine());
    ASSERT_TRUE(term.IsOpen());
    EXPECT_EQ(term.Exchange("r0000", 3), "FF\r");
    term.Exchange("z0001", 0);
    EXPECT_EQ(sim.Wait(), 3);
    const std::string err = sim.Stderr();
    EXPECT_NE(err.find("> r0000"), std::string::npos) << err;
    EXPECT_NE(err.find("protocol violation: page erase at 0001"), std::string::npos) << err;
}

TEST_F(BoxsimTest, PacedAnswersTakeWireTime)
{
    TBoxsimProcess sim({"--pace"});
    TTerminal term(sim.FirstLine());
    ASSERT_TRUE(term.IsOpen());
    const int64_t start = NowMs();
    // 1025 characters at 11 bits and 115200 baud are 97.9 ms on the wire.
    EXPECT_EQ(term.Exchange("R00000200", 1025).size(), 1025u);
    EXPECT_GE(NowMs() - start, 95);
    EXPECT_EQ(sim.Stop(), 0);
}

struct TQuietHost : ILinkHost {
    std::vector<std::string> log;
    void AppendLog(const std::string& line) override { log.push_back(line); }
};

// The whole serial link through QSerialPort and a real pseudo-terminal: modem lines and parity
// that a terminal cannot set, raw bytes such as FFh and 0Dh both ways, and a strict box that
// would stop at the first protocol violation. Only the link's own waits run in virtual time.
TEST_F(BoxsimTest, SerialLinkThroughQSerialPortProgramsAndVerifies)
{
    // The stuck byte makes the link re-read a block with raw "r" reads, whose FFh answers must
    // arrive as one byte each (no parity marking on the terminal).
    TBoxsimProcess sim({"--strict", "--device", "COP8SBE9", "--state", StatePath(), "--stuck-address", "0100"});
    const std::string path = sim.FirstLine();
    ASSERT_FALSE(path.empty());

    VirtualClock clock;
    ScopedClock scoped(clock);
    TLinkContext context;
    InstallQtSerialPort(context);
    context.SetSerialPortName(path);
    const TDevice& device = *DeviceList().FindDevice("COP8SBE9", 0x04);
    TISPSettings settings;
    TQuietHost host;
    {
        TSmartSerial link;
        link.SetContext(&context);
        link.SetHardwareName("ZEMPRIX (COM)");
        link.SetSettingsStore(&settings);
        link.SetHost(&host);
        link.SetDevice(&device);
        ASSERT_NO_THROW(link.Connect());

        THexList image;
        image.SetSize(static_cast<uint32_t>(device.FlashSize()));
        for (uint32_t a = 0; a < image.Size(); ++a) {
            image.SetValue(a, static_cast<uint8_t>(a * 13 + 0x0D));  // every byte value occurs
        }
        link.EraseDevice();
        const std::string failure = "Verify Failed at 0100h: Read FFh - Should have been 0Dh";
        EXPECT_THROW(link.ProgramFlash(image), EVerifyError);
        EXPECT_EQ(host.log, std::vector<std::string>{failure});
        EXPECT_THROW(link.VerifyFlash(image), EVerifyError);
        EXPECT_EQ(host.log, (std::vector<std::string>{failure, failure}));
        EXPECT_EQ(image.GetStatus(0x0101), TProgStatus(ps_verified));
        link.ProgramOptions(0x44);
        EXPECT_EQ(link.ReadOptions(), 0x44);
        link.Disconnect();
    }
    EXPECT_EQ(sim.Stop(), 0) << sim.Stderr();

    TBoxModel saved(device);
    ASSERT_TRUE(saved.LoadState(StatePath()));
    EXPECT_EQ(saved.Flash()[0x1FFF], 0x44);
    EXPECT_EQ(saved.Flash()[0x1FFE], static_cast<uint8_t>(0x1FFE * 13 + 0x0D));
    EXPECT_EQ(saved.Flash()[0x0100], 0xFF);
}

TEST_F(BoxsimTest, BadUsageExitsWithTwo)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--bogus"}, {"--device", "NOSUCH"}, {"--silent-after", "x"},
          {"--error-code", "TT"}, {"--stuck-address"}, {"--pace=1"}}) {
        TBoxsimProcess sim(args);
        EXPECT_EQ(sim.Wait(), 2) << args[0];
    }
}

}  // namespace
