// The parallel link's bit layer and connection against the simulated chipset and box, in
// virtual time.
#include "test_support.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/devices.h"
#include "image/hexlist.h"
#include "store/settings.h"
#include "base/isperrors.h"
#include "link/linkcontext.h"
#include "link/linkhost.h"
#include "link/linkwide.h"
#include "link/smartparallel.h"
#include "lpt/portunit.h"
#include "base/clock.h"
#include "lpt/tiraltimer.h"
#include "lpt_fakeports.h"
#include "sim/lptchipset.h"

namespace {

const char* kLpt = "ZEMPRIX (LPT)";

struct RecordingHost : ILinkHost {
    std::vector<std::string> log;

    void AppendLog(const std::string& line) override { log.push_back(line); }
    bool Logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
};


class ParallelLink : public ::testing::Test {
protected:
    // Coarse steps keep the 30-second waits to a few hundred thousand polls.
    VirtualClock clock{100'000};
    ScopedClock scoped{clock};
    TISPSettings settings;
    RecordingHost host;
    const TDevice* device = DeviceList().FindDevice("COP8SBR9", 0xFF);
    std::shared_ptr<TLptChipset> chipset;
    TSmartParallel link;

    void SetUp() override
    {
        settings.Put(kLpt, "BASEPORT", kGlobalGroup, 0);
        InstallChipset(TLptChipsetConfig{});
        link.SetHardwareName(kLpt);
        link.SetSettingsStore(&settings);
        link.SetHost(&host);
        link.SetDevice(device);
    }
    void TearDown() override
    {
        if (chipset) {
            EXPECT_TRUE(chipset->Violations().empty()) << chipset->Violations().front();
            EXPECT_TRUE(chipset->Box().Violations().empty()) << chipset->Box().Violations().front();
        }
        link.Context().ReleaseLpt();
    }
    void InstallChipset(TLptChipsetConfig config)
    {
        chipset = std::make_shared<TLptChipset>(*device, config);
        link.Context().ReplaceLpt(std::make_unique<TVicLPT>(CreateSimPortIo(chipset)));
    }
    TBoxModel& Box() { return chipset->Box(); }
};

}  // namespace

TEST_F(ParallelLink, ConnectResetsTheBoxReadsItsAnnouncementAndLogsThePort)
{
    link.Context().Timer();  // measured once per context, in whatever time is current
    const double t0 = clock.NowSeconds();
    EXPECT_TRUE(link.Connect());
    EXPECT_GE(clock.NowSeconds() - t0, 1.3);  // 300 ms and two 500 ms waits
    EXPECT_LT(clock.NowSeconds() - t0, 2.0);
    EXPECT_EQ(chipset->Resets(), 1);
    EXPECT_EQ(link.Context().Wide().LinkKind, 2);
    EXPECT_EQ(Box().Commands(), "v");  // the identification came unasked
    EXPECT_EQ(link.Context().Lpt().DriverInstance(), 1);
    EXPECT_EQ(link.Context().Lpt().LptMode(), 1);
    EXPECT_TRUE(host.Logged("Current selected LPT details"));
    EXPECT_TRUE(host.Logged("BasePortAddress=0378h"));
    EXPECT_TRUE(host.Logged("ECP Mode"));
    EXPECT_EQ(link.ReadProgrammerId(), "ZEMPRIX01");
    EXPECT_EQ(chipset->Resets(), 1);

    link.Disconnect();
    EXPECT_FALSE(chipset->ResetLevel());
    EXPECT_FALSE(chipset->SelectLevel());
    EXPECT_FALSE(link.Protocol().Synced);
    // Reconnecting pulses reset again.
    EXPECT_TRUE(link.Connect());
    EXPECT_EQ(chipset->Resets(), 2);
}

TEST_F(ParallelLink, ConnectWorksOnEveryKindOfChipset)
{
    for (TLptChipKind kind : {TLptChipKind::ecp, TLptChipKind::spp, TLptChipKind::ps2, TLptChipKind::epp}) {
        InstallChipset(TLptChipsetConfig{0x378, kind});
        host.log.clear();
        EXPECT_TRUE(link.Connect()) << static_cast<int>(kind);
        // Detection after connecting may leave the reset line low; the box must not reset for that.
        if (kind == TLptChipKind::spp || kind == TLptChipKind::ps2) {
            EXPECT_FALSE(chipset->ResetLevel()) << static_cast<int>(kind);
        }
        EXPECT_EQ(link.ReadProgrammerId(), "ZEMPRIX01");
        EXPECT_EQ(chipset->Resets(), 1);
        EXPECT_TRUE(chipset->Violations().empty()) << static_cast<int>(kind) << chipset->Violations().front();
    }
    EXPECT_TRUE(host.Logged("EPP Mode"));
    EXPECT_FALSE(host.Logged("ECP Mode"));
}

TEST_F(ParallelLink, AWrongEchoFailsTheByteEvenWhenEveryBitWasTaken)
{
    ASSERT_TRUE(link.Connect());
    chipset->PinFaults().Echo = 0x2B;
    EXPECT_EQ(ErrorOf([&] { link.Protocol().WriteByte('I'); }), TBoxProtocol::kCommFailed);
    chipset->PinFaults().Echo = 0x2A;
    EXPECT_EQ(Box().Commands(), "vI");  // the box did receive the byte
}

TEST_F(ParallelLink, ASilentBoxTimesOutAfterThirtySeconds)
{
    ASSERT_TRUE(link.Connect());
    chipset->PinFaults().Hung = true;
    const double t0 = clock.NowSeconds();
    EXPECT_EQ(ErrorOf([&] { link.Protocol().Ping(); }), TBoxProtocol::kTimedOut);
    EXPECT_GE(clock.NowSeconds() - t0, 30.0);
    EXPECT_LT(clock.NowSeconds() - t0, 30.5);
    EXPECT_EQ(ErrorOf([&] { link.Protocol().ReadByte(); }), TBoxProtocol::kTimedOut);
}

TEST_F(ParallelLink, WritingWhileTheBoxWantsToSendTimesOut)
{
    ASSERT_TRUE(link.Connect());
    Box().Reset();  // queues the announcement again
    EXPECT_EQ(ErrorOf([&] { link.Protocol().WriteByte('I'); }), TBoxProtocol::kTimedOut);
    for (int i = 0; i < 9; ++i) link.Protocol().ReadByte();
    // Reading when the box waits for a byte is a communication failure, not a wait.
    EXPECT_EQ(ErrorOf([&] { link.Protocol().ReadByte(); }), TBoxProtocol::kCommFailed);
}

TEST_F(ParallelLink, TheReadPollLimitCountsTheLastPollAsAFailure)
{
    ASSERT_TRUE(link.Connect());
    link.Protocol().WriteByte('I');
    link.Transport().MaxReadTimeout = 1;  // the very first poll reaches the limit, though AckPin is high
    EXPECT_EQ(ErrorOf([&] { link.Protocol().ReadByte(); }), TBoxProtocol::kCommFailed);
    link.Transport().MaxReadTimeout = 2;
    EXPECT_NE(link.Protocol().ReadByte(), '?');
}

TEST_F(ParallelLink, ABoxThatNeverPresentsItsBitFailsInsteadOfHanging)
{
    // AckPin high and DataInPin low for ever: ready to send, but it never lowers AckPin.
    auto io = std::make_unique<FakeRegisterFile>();
    io->ports[0x378].kind = FakeKind::spp;
    io->ports[0x378].status = 0xC0;
    link.Context().ReplaceLpt(std::make_unique<TVicLPT>(std::move(io)));
    chipset.reset();
    ASSERT_TRUE(link.Context().Lpt().OpenDriver(1));
    EXPECT_EQ(ErrorOf([&] { link.Protocol().ReadByte(); }), TBoxProtocol::kCommFailed);
}

TEST_F(ParallelLink, AnUnopenablePortIsReportedAsMissing)
{
    auto io = std::make_unique<FakeRegisterFile>();
    io->openOk = false;
    link.Context().ReplaceLpt(std::make_unique<TVicLPT>(std::move(io)));
    chipset.reset();
    try {
        link.Connect();
        FAIL() << "connected";
    } catch (const EISPException& e) {
        EXPECT_STREQ(e.what(), "LPT port not found or in use by another program");
        EXPECT_EQ(e.HardwareName(), kLpt);
    }
}

TEST_F(ParallelLink, AWrongAnnouncementNeedsAFirmwareUpdate)
{
    Box().Faults().identification = "ZEMPRIX1X";
    EXPECT_THROW(link.Connect(), EFirmwareMisMatch);
    EXPECT_EQ(Box().Commands(), "");  // nothing was sent to a box that announced itself wrongly
}

TEST_F(ParallelLink, ASavedPortIndexAboveLpt3ConnectsLpt1AndIsStoredAsZero)
{
    settings.Put(kLpt, "BASEPORT", kGlobalGroup, 3);
    ASSERT_TRUE(link.Connect());
    EXPECT_EQ(link.Context().Lpt().CurrentPort(), 1);
    link.Disconnect();
    EXPECT_EQ(settings.Get(kLpt, "BASEPORT", -1).AsInteger(), 0);
}

TEST_F(ParallelLink, APortIndexWithoutAPortStaysOnTheConfiguredOne)
{
    settings.Put(kLpt, "BASEPORT", kGlobalGroup, 2);  // LPT3, which this machine does not have
    ASSERT_TRUE(link.Connect());
    EXPECT_EQ(link.Context().Lpt().CurrentPort(), 1);
    EXPECT_EQ(link.Context().Lpt().BaseAddress(), 0x378);
}

TEST_F(ParallelLink, InformationReportWithAndWithoutTheBox)
{
    ASSERT_TRUE(link.Connect());
    TProgrammerReport report = link.InformationReport();
    EXPECT_EQ(report.Form, TReportForm::InformationDialog);
    EXPECT_EQ(report.Firmware, "0009");
    const std::vector<std::string> expected = {"Printer Port: LPT1 Port Address:378",
                                               "Printer Port Driver: OK",
                                               "======== General Information =======",
                                               "Programmer ID: ZEMPRIX01",
                                               "Hardware Version: 0001",
                                               "Device Selected: COP8SBR9"};
    EXPECT_EQ(report.Lines, expected);

    chipset->PinFaults().Hung = true;  // unplugged
    report = link.InformationReport();
    EXPECT_EQ(report.Firmware, "Unknown Hardware not available");
    const std::vector<std::string> unplugged = {"Printer Port: LPT1 Port Address:378", "Printer Port Driver: OK",
                                                "*Communications to Programmer Failed",
                                                "======== General Information ======="};
    EXPECT_EQ(report.Lines, unplugged);
}

TEST_F(ParallelLink, SetupCancelledChangesNothingAndOkReconnects)
{
    ASSERT_TRUE(link.Connect());
    const TSetupChoice choice = link.SetupChoice();
    EXPECT_EQ(choice.Ports, std::vector<std::string>{"LPT1"});
    EXPECT_EQ(choice.Index, 0);
    EXPECT_TRUE(choice.ReplacesAdvancedList);
    try {
        link.ApplySetup(std::nullopt);
        FAIL() << "no abort";
    } catch (const EAbort& e) {
        EXPECT_STREQ(e.what(), "Cancelled");
    }
    EXPECT_EQ(chipset->Resets(), 1);

    link.ApplySetup(0);
    EXPECT_EQ(chipset->Resets(), 2);
    EXPECT_EQ(settings.Get(kLpt, "BASEPORT", -1).AsInteger(), 0);
}

TEST_F(ParallelLink, ProgramsAndVerifiesOverTheSimulatedPort)
{
    ASSERT_TRUE(link.Connect());
    THexList img;
    img.SetSize(static_cast<uint32_t>(device->FlashSize()));
    for (uint32_t a = 0; a < 0x200; ++a) img.SetValue(a, static_cast<uint8_t>(a * 7 + 1));
    link.EraseDevice();
    link.ProgramFlash(img);
    EXPECT_TRUE(std::equal(img.Values().begin(), img.Values().begin() + 0x200, Box().Flash().begin()));
    link.VerifyFlash(img);
    link.ProgramOptions(0x5A);
    EXPECT_EQ(link.ReadOptions(), 0x5A);
    Box().Faults().errorCode = '%';
    EXPECT_EQ(ErrorOf([&] { link.Protocol().SendCommand('Z'); }), "BlankCheck Failed");
    EXPECT_FALSE(link.Protocol().Synced);
}

namespace {

// A box on 378h that waits for a byte and then misbehaves on the first bit it is clocked:
// either it never takes the bit (AckPin stays high) or it takes it and never becomes ready
// again (AckPin stays low).
class MisbehavingBox final : public IPortIo {
public:
    enum Fault { never_takes, never_ready };
    explicit MisbehavingBox(Fault fault) : fault_(fault) {}
    int statusReads = 0;
    bool grant = true;  // false: the port's node cannot be opened or claimed

    bool Open() override { return true; }
    void Close() override {}
    bool GrantRange(uint16_t, uint16_t) override { return grant; }
    uint8_t Read(uint16_t a) override
    {
        if (a == 0x37A) return control_;
        if (a != 0x379) return 0xFF;
        ++statusReads;
        // DataInPin (status 80h, inverted) stays high: the box waits for a byte.
        return took_ ? 0x00 : 0x40;
    }
    void Write(uint16_t a, uint8_t v) override
    {
        if (a != 0x37A) return;
        const bool clockRose = (control_ & 0x02) && !(v & 0x02);
        control_ = v;
        if (clockRose && fault_ == never_ready) took_ = true;
    }
    std::array<uint16_t, 3> BiosTable() override { return {0x378, 0, 0}; }
    bool UsesSystemDiscovery() const override { return false; }

private:
    Fault fault_;
    uint8_t control_ = 0x0F;
    bool took_ = false;
};

}  // namespace

TEST_F(ParallelLink, AWrittenBitMustBeTakenWithin255PollsAndAnsweredWithin30Seconds)
{
    chipset.reset();
    auto never = std::make_unique<MisbehavingBox>(MisbehavingBox::never_takes);
    MisbehavingBox* box = never.get();
    link.Context().ReplaceLpt(std::make_unique<TVicLPT>(std::move(never)));
    ASSERT_TRUE(link.Context().Lpt().OpenDriver(1));
    box->statusReads = 0;
    EXPECT_EQ(ErrorOf([&] { link.Protocol().WriteByte('I'); }), TBoxProtocol::kTimedOut);
    EXPECT_EQ(box->statusReads, 2 + 255);  // WaitReady's two reads, then the 255 polls

    link.Context().ReplaceLpt(std::make_unique<TVicLPT>(std::make_unique<MisbehavingBox>(MisbehavingBox::never_ready)));
    ASSERT_TRUE(link.Context().Lpt().OpenDriver(1));
    const double t0 = clock.NowSeconds();
    EXPECT_EQ(ErrorOf([&] { link.Protocol().WriteByte('I'); }), TBoxProtocol::kTimedOut);
    EXPECT_GE(clock.NowSeconds() - t0, 30.0);
    EXPECT_LT(clock.NowSeconds() - t0, 30.5);
}

TEST_F(ParallelLink, ConnectWithoutABaseForTheChosenPortFailsAtOnceAndTouchesNoLowPort)
{
    // The configuration lists only LPT2, so LPT1 (index 0) has no base address.
    chipset.reset();
    auto io = std::make_unique<FakeRegisterFile>();
    FakeRegisterFile* raw = io.get();
    io->ports[0x278].kind = FakeKind::spp;
    auto config = std::make_unique<FakeConfigSource>();
    config->ports["LPT2"] = PortAt(0x278);
    link.Context().ReplaceLpt(std::make_unique<TVicLPT>(std::move(io), std::move(config)));
    const double t0 = clock.NowSeconds();
    EXPECT_EQ(ErrorOf([&] { link.Connect(); }), "LPT port not found or in use by another program");
    EXPECT_LT(clock.NowSeconds() - t0, 1.0);
    EXPECT_TRUE(raw->stray.empty()) << std::hex << raw->stray.front();
}

TEST_F(ParallelLink, RegistersTheBackendRefusesFailConnectAtOnceAsAPortThatCannotBeOpened)
{
    // ppdev without access to /dev/parport0: the port is listed, its registers are not ours.
    chipset.reset();
    auto refused = std::make_unique<MisbehavingBox>(MisbehavingBox::never_takes);
    refused->grant = false;
    link.Context().ReplaceLpt(std::make_unique<TVicLPT>(std::move(refused)));
    const double t0 = clock.NowSeconds();
    try {
        link.Connect();
        ADD_FAILURE() << "connected";
    } catch (const ELptOpenError& e) {
        // The same line as before; the class lets the session add the port checks after it.
        EXPECT_STREQ(e.what(), "LPT port not found or in use by another program");
    }
    EXPECT_LT(clock.NowSeconds() - t0, 1.0);
}

namespace {

// A link whose synchronisation first succeeds and then raises what the test asks for.
class ReportingLink final : public TSmartParallel {
public:
    std::function<void()> afterSync;
    void Synchronise() override
    {
        TSmartParallel::Synchronise();
        if (afterSync) afterSync();
    }
};

}  // namespace

TEST_F(ParallelLink, InformationReportWithASilentTargetOrAFailedReconnection)
{
    ReportingLink report;
    report.SetContext(&link.Context());  // the same port unit as the fixture's link
    report.SetHardwareName(kLpt);
    report.SetSettingsStore(&settings);
    report.SetHost(&host);
    report.SetDevice(device);
    ASSERT_TRUE(report.Connect());

    report.afterSync = [] { throw ETargetNotFound("Target not found"); };
    const TProgrammerReport shown = report.InformationReport();
    EXPECT_EQ(shown.Firmware, "0009");
    ASSERT_FALSE(shown.Lines.empty());
    EXPECT_EQ(shown.Lines[2], "======== General Information =======");
    EXPECT_EQ(shown.Lines.back(), "*Target device not responding");

    // Anything else ends the report: there is nothing to show.
    report.afterSync = [] { throw EFirmwareMisMatch("Your ISP needs a firmware update"); };
    EXPECT_THROW(report.InformationReport(), EFirmwareMisMatch);
}

// A wrong echo in the middle of any operation fails it as a broken exchange (or, when the ping
// fails and the reconnection's firmware query breaks, as a box that is not responding); with the
// line healthy again the same link goes on.
TEST_F(ParallelLink, AWrongEchoFailsEachOperationAndTheNextOneWorks)
{
    ASSERT_TRUE(link.Connect());
    THexList img;
    img.SetSize(static_cast<uint32_t>(device->FlashSize()));
    img.SetValue(0x40, 0x12);
    const std::vector<std::pair<const char*, std::function<void()>>> ops = {
        {"erase", [&] { link.EraseDevice(); }},
        {"program", [&] { link.ProgramFlash(img); }},
        {"read options", [&] { (void)link.ReadOptions(); }},
        {"write timing", [&] { link.WriteTiming("7B000CFF"); }},
    };
    for (const auto& [name, run] : ops) {
        chipset->PinFaults().Echo = 0x2B;
        const std::string error = ErrorOf(run);
        EXPECT_TRUE(error == TBoxProtocol::kCommFailed || error == TBoxProtocol::kTimedOut ||
                    error == "ISP Failed to connect" || error == TBoxProtocol::kNotResponding)
            << name << ": " << error;
        chipset->PinFaults().Echo = 0x2A;
        EXPECT_NO_THROW(run()) << name;
    }
    EXPECT_EQ(Box().Flash()[0x40], 0x12);
}
