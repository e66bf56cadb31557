// The serial byte layer and the shared framing against a scripted port, in virtual time.
#include "test_support.h"
#include <gtest/gtest.h>

#include <deque>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include "devices/devices.h"
#include "image/hexlist.h"
#include "store/settings.h"
#include "base/isperrors.h"
#include "link/linkcontext.h"
#include "link/linkhost.h"
#include "link/linkwide.h"
#include "link/serialport.h"
#include "link/smartserial.h"
#include "base/clock.h"

namespace {

// A port whose answers come from a script: `reply` sees every byte the link writes and queues
// what the box would answer.
class ScriptedPort final : public ISerialPort {
public:
    std::function<void(ScriptedPort&, uint8_t)> reply;
    std::deque<uint8_t> in;
    std::string written;
    bool open = false;
    int inputFlushes = 0;
    int lowLatencyRequests = 0;

    void Queue(const std::string& s) { in.insert(in.end(), s.begin(), s.end()); }
    void Open(const std::string&, int32_t) override { open = true; }
    bool RequestLowLatency() override
    {
        ++lowLatencyRequests;
        return false;
    }
    void Close() override { open = false; }
    bool IsOpen() const override { return open; }
    void SetDtr(bool) override {}
    void SetRts(bool) override {}
    void SetParitySpace() override {}
    void SetBufferSizes(size_t, size_t) override {}
    void FlushInput() override
    {
        in.clear();
        ++inputFlushes;
    }
    void FlushOutput() override {}
    size_t BytesWaiting() override { return in.size(); }
    size_t WaitForBytes(size_t, int) override { return in.size(); }
    uint8_t TakeByte() override
    {
        uint8_t b = in.front();
        in.pop_front();
        return b;
    }
    std::string Take(size_t n) override
    {
        std::string s;
        while (n-- && !in.empty()) s += static_cast<char>(TakeByte());
        return s;
    }
    void WriteByte(uint8_t v) override
    {
        written += static_cast<char>(v);
        if (reply) reply(*this, v);
    }
};

struct RecordingHost : ILinkHost {
    std::vector<std::string> log;
    void AppendLog(const std::string& l) override { log.push_back(l); }
};

struct SerialFraming : ::testing::Test {
    VirtualClock clock;
    ScopedClock scoped{clock};
    ScriptedPort* port = nullptr;
    TSmartSerial link;
    RecordingHost host;
    TISPSettings settings;

    void SetUp() override
    {
        link.Context().SetSerialFactory([this] {
            auto p = std::make_unique<ScriptedPort>();
            port = p.get();
            return p;
        });
        link.SetHardwareName("ZEMPRIX (COM)");
        link.SetHost(&host);
        link.SetSettingsStore(&settings);
        link.SetDevice(DeviceList().FindDevice("COP8SBR9", 0x04));
        link.Transport().CreatePort();
        port->open = true;
    }

};

}  // namespace

TEST_F(SerialFraming, BlockReadErrorMarkRaisesItsCodeAndFlushes)
{
    port->reply = [](ScriptedPort& p, uint8_t b) {
        if (p.written.size() == 9) p.Queue("?T");  // "R" + 8 argument characters
        (void)b;
    };
    uint8_t buffer[16] = {};
    int flushes = port->inputFlushes;
    EXPECT_EQ(ErrorOf([&] { link.Protocol().ReadBlock(buffer, 'R', 0, 16); }), "Program/erase BUSY timed out");
    EXPECT_EQ(port->written, "R00000010");
    EXPECT_TRUE(port->in.empty());
    EXPECT_GT(port->inputFlushes, flushes + 1);
    EXPECT_FALSE(link.Protocol().Synced);
}

TEST_F(SerialFraming, CompleteBlockNeedsNoCarriageReturnAndTakesBothCases)
{
    port->reply = [](ScriptedPort& p, uint8_t) {
        if (p.written.size() == 9) p.Queue("0aFF7cX");
    };
    uint8_t buffer[8] = {};
    link.Protocol().ReadBlock(buffer, 'R', 5, 3);
    EXPECT_EQ(buffer[5], 0x0A);
    EXPECT_EQ(buffer[6], 0xFF);
    EXPECT_EQ(buffer[7], 0x7C);
    EXPECT_EQ(buffer[4], 0);
}

TEST_F(SerialFraming, BrokenBlockAnswerFailsAtTheLimitWithoutHanging)
{
    port->reply = [](ScriptedPort& p, uint8_t) {
        if (p.written.size() == 9) p.Queue("0102");  // half a block, then silence
    };
    uint8_t buffer[16] = {};
    const int64_t before = clock.NowNs();
    EXPECT_EQ(ErrorOf([&] { link.Protocol().ReadBlock(buffer, 'R', 0, 16); }),
              "Communications with ISP failed during this operation");
    const double waited = static_cast<double>(clock.NowNs() - before) / 1e9;
    EXPECT_GE(waited, 2.0);
    EXPECT_LT(waited, 2.2);
    EXPECT_TRUE(port->in.empty());
}

TEST_F(SerialFraming, TwoDataCharactersAreACutShortBlockNotASuccess)
{
    port->reply = [](ScriptedPort& p, uint8_t) {
        if (p.written.size() == 9) p.Queue("5A");  // one byte of sixteen, then silence
    };
    uint8_t buffer[16] = {};
    EXPECT_EQ(ErrorOf([&] { link.Protocol().ReadBlock(buffer, 'R', 0, 16); }),
              "Communications with ISP failed during this operation");
    EXPECT_EQ(buffer[0], 0);  // nothing of the broken answer is taken as data
    EXPECT_TRUE(port->in.empty());
}

TEST_F(SerialFraming, ReadAndVerifyEndOnADeviceTooSmallForSixteenChunks)
{
    // The box answers the ping, the synchronising read and any block read with blank bytes.
    port->reply = [](ScriptedPort& p, uint8_t b) {
        const std::string& w = p.written;
        if (b == 'I') p.Queue("\r");
        if (w.size() >= 5 && w.compare(w.size() - 5, 5, "rFFFF") == 0) p.Queue("FF\r");
        if (w.size() >= 9 && w[w.size() - 9] == 'R') {
            const unsigned count = std::stoul(w.substr(w.size() - 4), nullptr, 16);
            p.Queue(std::string(2 * count, 'F') + "\r");
        }
    };
    for (int size : {0, 8}) {
        TDevice tiny("TINY", 0x04, size, 0, 64, {});
        link.SetDevice(&tiny);
        THexList image;
        image.SetSize(static_cast<uint32_t>(size));
        port->written.clear();
        link.ReadFlash(image);
        EXPECT_EQ(std::count(port->written.begin(), port->written.end(), 'R'), size == 0 ? 0 : 7) << size;
        image.Clear();
        link.VerifyFlash(image);
        EXPECT_TRUE(host.log.empty()) << size;
    }
}

TEST_F(SerialFraming, SilentBoxEndsReadByteAfterTwoSecondsAndWaitReadyAfterFive)
{
    int64_t t0 = clock.NowNs();
    EXPECT_EQ(ErrorOf([&] { link.Protocol().ReadByte(); }), "Communications with ISP failed during this operation");
    EXPECT_NEAR(static_cast<double>(clock.NowNs() - t0) / 1e9, 2.0, 0.1);
    t0 = clock.NowNs();
    EXPECT_EQ(ErrorOf([&] { link.Protocol().WaitReady(); }), "ISP timed out during operation");
    EXPECT_NEAR(static_cast<double>(clock.NowNs() - t0) / 1e9, 5.0, 0.1);
    try {
        link.Protocol().ReadByte();
    } catch (const EISPException& e) {
        EXPECT_EQ(e.HardwareName(), "ZEMPRIX (COM)");
    }
}

TEST_F(SerialFraming, ReadByteWithProgressKeepsTheShellAlive)
{
    int keepAlive = 0;
    link.SetOnProgress([&](int32_t a, int32_t b) {
        EXPECT_EQ(a, -1);
        EXPECT_EQ(b, -1);
        if (++keepAlive == 50) throw EAbortOp();
    });
    EXPECT_THROW(link.Protocol().ReadByte(true), EAbortOp);
    EXPECT_EQ(keepAlive, 50);
}

TEST_F(SerialFraming, ResponseMarksAndErrorCodes)
{
    struct Case {
        std::string answer;
        std::string error;
    } cases[] = {
        {"\r", "(no exception)"},
        {"?!", "Command not known here"},
        {"?#", "Invalid number sent"},
        {"?%", "BlankCheck Failed"},
        {"?M", "illegal attempt to use microwire"},
        {"?T", "Program/erase BUSY timed out"},
        {"?V", "Your target device failed verification"},
        {"?m", "Microwire exchange out of sync"},
        {"?A", "Communications with ISP failed during this operation"},
        {"x", "Communications with ISP failed during this operation"},
    };
    for (const auto& c : cases) {
        port->in.clear();
        port->Queue(c.answer);
        link.Protocol().Synced = true;
        EXPECT_EQ(ErrorOf([&] { link.Protocol().CheckResponse(); }), c.error) << c.answer;
        if (c.answer[0] == '?') {
            EXPECT_FALSE(link.Protocol().Synced);
        }
    }
    port->Queue("?V");
    EXPECT_THROW(link.Protocol().CheckResponse(), EVerifyError);
}

TEST_F(SerialFraming, PingTakesAnyByteButQuestionMark)
{
    port->reply = [](ScriptedPort& p, uint8_t b) {
        if (b == 'I') p.Queue("Z");
    };
    link.Protocol().Ping();
    EXPECT_TRUE(link.Protocol().Synced);
    EXPECT_TRUE(port->in.empty());  // no further mark is read
    port->reply = [](ScriptedPort& p, uint8_t b) {
        if (b == 'I') p.Queue("?!");
    };
    EXPECT_EQ(ErrorOf([&] { link.Protocol().Ping(); }), "ISP Failed to connect");
    EXPECT_FALSE(link.Protocol().Synced);
    EXPECT_TRUE(port->in.empty());
}

TEST_F(SerialFraming, SynchroniseConsumesTheErrorCodeOfItsRead)
{
    port->reply = [](ScriptedPort& p, uint8_t b) {
        if (b == 'I') p.Queue("\r");
        if (p.written.size() >= 5 && p.written.substr(p.written.size() - 5) == "rFFFF") p.Queue("?T");
    };
    EXPECT_EQ(ErrorOf([&] { link.Protocol().Synchronise(); }), "ISP timed out during operation");
    EXPECT_TRUE(port->in.empty());
    EXPECT_FALSE(link.Protocol().Synced);
}

TEST_F(SerialFraming, ConnectReportsASilentOrRefusingBoxAsNotResponding)
{
    link.Transport().DestroyPort();
    link.Context().Wide().PortIndex = 0;
    // The box answers "*", then refuses or ignores the identification or the firmware query; a
    // "V" code there is no failed verification either.
    const struct {
        std::string identification, firmware;
    } cases[] = {{"?!", "0009\r"}, {"?V", "0009\r"}, {"", "0009\r"}, {"ZEMPRIX01\r", "?V"}, {"ZEMPRIX01\r", "?#"}};
    for (const auto& c : cases) {
        link.Context().SetSerialFactory([this, c] {
            auto p = std::make_unique<ScriptedPort>();
            p->reply = [c](ScriptedPort& q, uint8_t b) {
                if (b == '*') q.Queue("\r");
                if (b == 'S') q.Queue(c.identification);
                if (b == 'v') q.Queue(c.firmware);
            };
            port = p.get();
            return p;
        });
        try {
            link.Connect();
            ADD_FAILURE() << c.identification << " " << c.firmware;
        } catch (const EISPException& e) {
            EXPECT_STREQ(e.what(), "ISP is not responding, check your communications settings") << c.identification;
            EXPECT_TRUE(e.HardwareName().empty());
        } catch (const std::exception& e) {
            ADD_FAILURE() << c.identification << " " << c.firmware << " gave " << e.what();
        }
        link.Disconnect();
    }
}

TEST_F(SerialFraming, ConnectRejectsAnotherIdentificationOrFirmware)
{
    link.Transport().DestroyPort();
    for (const auto& [id, fw] : {std::pair<std::string, std::string>{"ZEMPRIX02", "0009"}, {"ZEMPRIX01", "0010"}}) {
        link.Context().SetSerialFactory([this, id = id, fw = fw] {
            auto p = std::make_unique<ScriptedPort>();
            p->reply = [id, fw](ScriptedPort& q, uint8_t b) {
                if (b == '*') q.Queue("\r");
                if (b == 'S') q.Queue(id + "\r");
                if (b == 'v') q.Queue(fw + "\r");
                if (b == 'I') q.Queue("\r");
            };
            port = p.get();
            return p;
        });
        EXPECT_THROW(link.Connect(), EFirmwareMisMatch) << id << " " << fw;
        link.Disconnect();
    }
}

TEST_F(SerialFraming, SetupCancelledKeepsThePortAndRaisesNothing)
{
    link.Context().Wide().PortIndex = 2;
    const TSetupChoice choice = link.SetupChoice();
    EXPECT_EQ(choice.Index, 2);
    EXPECT_EQ(choice.Ports.size(), 8u);
    EXPECT_EQ(choice.Ports.front(), "COM1");
    EXPECT_EQ(choice.Ports.back(), "COM8");
    EXPECT_FALSE(choice.ReplacesAdvancedList);
    EXPECT_NO_THROW(link.ApplySetup(std::nullopt));
    EXPECT_NO_THROW(link.ApplySetup(-1));  // OK with nothing selected
    EXPECT_EQ(link.Context().Wide().PortIndex, 2);
    EXPECT_TRUE(port->open);
}

TEST_F(SerialFraming, ReportBeforeTheFirstConnection)
{
    link.Transport().DestroyPort();
    link.Context().SetSerialFactory(nullptr);  // reconnecting fails: no port can be made
    link.Context().Wide().PortIndex = 0;
    EXPECT_THROW(link.InformationReport(), ESerialOpenError);
}

TEST_F(SerialFraming, ReportWithASilentBox)
{
    port->open = false;
    const TProgrammerReport shown = link.InformationReport();
    EXPECT_EQ(shown.Form, TReportForm::TextReport);
    const std::vector<std::string>& report = shown.Lines;
    ASSERT_GE(report.size(), 9u);
    EXPECT_EQ(report[0], "======== Programmer Connection =======");
    EXPECT_EQ(report[1], "Hardware Selected: ZEMPRIX (COM)");
    EXPECT_EQ(report[2], "Connection Method: Serial Port");
    EXPECT_EQ(report[4], "*Driver Status: Not Connected");
    EXPECT_EQ(report[5], "Max Read Timeout: 50000");
    EXPECT_EQ(report[7], "*Communications to Programmer Failed");
    EXPECT_EQ(report[8], "======== General Information =======");
    EXPECT_EQ(report.size(), 9u);
}

TEST(ComPortNames, Resolution)
{
    auto lister = [] { return std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyS0"}; };
    EXPECT_EQ(ResolveComPortName("/dev/pts/7", lister), "/dev/pts/7");
    EXPECT_EQ(ResolveComPortName("COM1", lister), "/dev/ttyUSB0");
    EXPECT_EQ(ResolveComPortName("com2", lister), "/dev/ttyS0");
    EXPECT_EQ(ResolveComPortName("COM3", lister), "COM3");  // not there: the open fails clearly
    setenv("ZEMPRIX_COM3", "/dev/pts/9", 1);
    EXPECT_EQ(ResolveComPortName("COM3", lister), "/dev/pts/9");
    unsetenv("ZEMPRIX_COM3");
    EXPECT_EQ(ResolveComPortName("COMX", lister), "COMX");
}

TEST_F(SerialFraming, OpeningAsksTheDriverForLowLatencyAndGoesOnWithoutIt)
{
    // The scripted port has no such setting, as a pseudo-terminal has none: the open still works.
    link.Transport().Open(0);
    EXPECT_TRUE(port->open);
    EXPECT_EQ(port->lowLatencyRequests, 1);
}

TEST(LowLatencyFlag, DescriptorsWithoutASerialDriverAreRefusedQuietly)
{
    EXPECT_FALSE(RequestLowLatency(-1));
    const int null = open("/dev/null", O_RDWR);
    ASSERT_GE(null, 0);
    EXPECT_FALSE(RequestLowLatency(null));
    close(null);
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    EXPECT_FALSE(RequestLowLatency(slave));
    close(master);
    close(slave);
}
