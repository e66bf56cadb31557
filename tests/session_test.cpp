// The application session: the device switch's order and lines, the programmer's single owner,
// outcomes, re-entrancy, the Flash file load and the environment save, on a scripted programmer.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <unistd.h>

#include "app/session.h"
#include "fakeprogrammer.h"
#include "link/linkcontext.h"
#include "link/hardware.h"

using Lines = std::vector<std::string>;

namespace {

constexpr const char* kFake = "TEST (FAKE)";

// The programmers the fake hardware row created, newest last; each reports its destruction.
struct TCreated {
    std::vector<TFakeProgrammer*> live;
    int destroyed = 0;
    std::string failNextOn;  // the next programmer fails this call with ESerialOpenError
};
TCreated& Created()
{
    static TCreated created;
    return created;
}

class TCountedFake final : public TFakeProgrammer {
public:
    ~TCountedFake() override
    {
        auto& live = Created().live;
        live.erase(std::remove(live.begin(), live.end(), this), live.end());
        ++Created().destroyed;
    }
};

struct RecordingShell : TNullShellView {
    Lines events;
    void ShowFileName(const std::string& name) override { events.push_back("title " + name); }
    bool acceptSetup = false;
    bool RunSetupDialog(const Lines& ports, int& index) override
    {
        events.push_back("setup dialog " + std::to_string(ports.size()) + " ports at " + std::to_string(index));
        index = 0;
        return acceptSetup;
    }
    void ClearAdvancedPortList() override { events.push_back("advanced cleared"); }
    void AddAdvancedPort(const std::string& name) override { events.push_back("advanced " + name); }
    void ShowProgrammerInformation(const std::string& version, const std::string& firmware, const Lines& lines) override
    {
        events.push_back("information " + version + " " + firmware + " " + lines.at(0));
    }
    void ShowTextReport(const Lines& lines) override { events.push_back("text report " + lines.at(0)); }
};

struct Session : ::testing::Test {
    VirtualClock clock;
    ScopedClock scoped{clock};
    TMemorySettingsBackend backend;
    RecordingShell shell;
    TFakeHardware hardware{kFake, [](TLinkContext&) {
        auto p = std::make_unique<TCountedFake>();
        p->failOn = Created().failNextOn;
        p->failure = [] { throw ESerialOpenError("no port"); };
        Created().live.push_back(p.get());
        return std::unique_ptr<TISPProgrammer>(std::move(p));
    }};
    TAppSession session{shell, &backend};
    TSubscription switched = session.DeviceSwitched.Subscribe([this] { shell.events.push_back("switched"); });
    TSubscription changed = session.Project().Flash.Changed.Subscribe([this] { shell.events.push_back("image changed"); });
    QTemporaryDir dir;

    void SetUp() override
    {
        Created() = {};
        session.SetHardwareTable(hardware.table);
    }
    TFakeProgrammer& Fake() { return *Created().live.back(); }
    std::string Path(const char* name) const { return dir.path().toStdString() + "/" + name; }
};

}  // namespace

TEST_F(Session, SwitchDeviceBuildsBindsAndConnectsInOrder)
{
    session.Settings().Put("TimeSelected", "Time", kGlobalGroup, -1);
    session.Settings().Put("CONFIG", "OPTIONS", kGlobalGroup, 0x2D);
    session.SwitchDevice("cop8sbr9", kFake);

    TFakeProgrammer& p = Fake();
    EXPECT_EQ(p.calls, (Lines{"PrepareBlankImage blank", "Connect", "WriteTiming " + session.Options().Label4(),
                              "AfterConnect", "ReadOptions"}));
    EXPECT_EQ(session.Runner().Programmer(), &p);
    EXPECT_EQ(session.Device()->Name(), "COP8SBR9");
    EXPECT_EQ(session.Project().Flash.Size(), 0x8000u);
    EXPECT_EQ(session.Options().PGMTIM(), 23);  // -1 stored means the last range
    EXPECT_EQ(session.LinkContext().Wide().PGMTIME, 0x7B);           // the range's timing reaches the link
    // The device's option byte replaces the stored one and is mirrored into the image.
    EXPECT_EQ(session.Options().GetOptions(), 0x06);
    EXPECT_EQ(session.Project().Flash.GetValue(0x7FFF), 0x06);
    const Lines& log = session.Runner().Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.front(), "Version: v" ZEMPRIX_FILE_VERSION " Loaded");
    EXPECT_EQ(log[1], std::string("Attempting to switch to Device:cop8sbr9 Hardware:") + kFake);
    EXPECT_EQ(log.back(), "Device Selected=COP8SBR9");
    EXPECT_TRUE(session.Runner().Busy());  // the caller ends the operation
    EXPECT_EQ(shell.events.front(), "switched");

    // A second switch disconnects and frees the first programmer before building the next; an
    // unknown device becomes the hardware's first one; the stored option byte can be kept.
    session.SwitchDevice("NO SUCH DEVICE", kFake, false);
    EXPECT_EQ(Created().destroyed, 1);
    ASSERT_EQ(Created().live.size(), 1u);
    EXPECT_EQ(session.Runner().Programmer(), Created().live.back());
    EXPECT_EQ(session.Device(), DeviceList().FirstForHardware(hardware.table.ByName(kFake).DeviceSet));
    EXPECT_EQ(session.Options().GetOptions(), 0x2D);
    EXPECT_EQ(Fake().calls.back(), "AfterConnect");
}

TEST_F(Session, AFailingConnectIsReportedWhileItsProgrammerLives)
{
    Created().failNextOn = "Connect";
    const TOutcome outcome = session.Run([&] { session.SwitchDevice("COP8SBR9", kFake); });
    // The programmer failed while connecting; it is still the runner's and names the line.
    EXPECT_EQ(outcome, TOutcome::Failed);
    EXPECT_EQ(session.Runner().StatusKind(), sk_failed);
    EXPECT_EQ(session.Runner().StatusText(), std::string(kFake) + ": Could not open communications port");
    EXPECT_EQ(session.Device()->Name(), "COP8SBR9");
    EXPECT_FALSE(session.Runner().Busy());
}

TEST_F(Session, OutcomesAndRefusedReentry)
{
    session.SwitchDevice("COP8SBR9", kFake, false);
    session.Runner().EndOp("");
    struct Case {
        std::function<void()> command;
        TOutcome outcome;
    };
    const Case cases[] = {
        {[] {}, TOutcome::Completed},
        {[&] { session.Runner().FailOp("Flash Buffer is Empty"); }, TOutcome::Failed},
        {[] { throw EVerifyError("Flash: Verification Failed"); }, TOutcome::VerifyFailed},
        {[] { throw EAbortOp("Operation Aborted"); }, TOutcome::Cancelled},
        {[] { throw EAbort(); }, TOutcome::Cancelled},
        {[] { throw EFirmwareMisMatch("Your ISP needs a firmware update"); }, TOutcome::FirmwareUpdate},
        {[] { throw EISPException("ISP timed out during operation"); }, TOutcome::Failed},
        {[] { throw 42; }, TOutcome::Failed},
    };
    for (const Case& c : cases) EXPECT_EQ(session.Run(c.command), c.outcome);

    // Between the steps of a run the busy flag is clear, yet a second command must not start.
    bool innerRan = false;
    TOutcome inner = TOutcome::Completed;
    bool couldClose = true;
    const TOutcome outer = session.Run([&] {
        session.Runner().SetBusy(false);
        inner = session.Run([&] { innerRan = true; });
        couldClose = session.CanClose();
    });
    EXPECT_EQ(outer, TOutcome::Completed);
    EXPECT_EQ(inner, TOutcome::Refused);
    EXPECT_FALSE(innerRan);
    EXPECT_FALSE(couldClose);
    EXPECT_TRUE(session.CanClose());
    // The count comes back down when the command fails too.
    EXPECT_EQ(session.Run([] { throw EVerifyError("x"); }), TOutcome::VerifyFailed);
    EXPECT_FALSE(session.CommandRunning());
}

TEST_F(Session, LoadFlashFileUsesTheApplicationsTexts)
{
    session.Project().SetDevice(DeviceList().FindDevice("COP8SBR9", 0x04));
    session.Options().SetOptions(0x2D);

    TAppSession::TLoadResult r = session.LoadFlashFile(Path("missing.hex"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(session.Runner().StatusKind(), sk_failed);
    EXPECT_EQ(session.Runner().StatusText(), "Flash File Load: File load failed");

    std::ofstream(Path("text.txt")) << "just some text\n";
    r = session.LoadFlashFile(Path("text.txt"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(session.Runner().StatusKind(), sk_failed);
    EXPECT_EQ(session.Runner().StatusText(), "Flash File Load: File not accessable or a supported file type");

    std::ofstream(Path("good.hex")) << ":0400100001020304E2\n:00000001FF\n";
    shell.events.clear();
    r = session.LoadFlashFile(Path("good.hex"));
    EXPECT_TRUE(r.ok);
    EXPECT_GT(r.format, 0);
    EXPECT_EQ(session.Runner().StatusKind(), sk_completed);
    EXPECT_EQ(session.Runner().StatusText().rfind("Flash File Load: File loaded (", 0), 0u);
    EXPECT_EQ(session.Project().Flash.GetValue(0x11), 0x02);
    EXPECT_EQ(session.Project().Flash.GetValue(0x7FFF), 0x2D);  // the option byte follows every load
    EXPECT_EQ(shell.events, (Lines{"title " + Path("good.hex"), "image changed"}));

    std::ofstream(Path("big.hex")) << ":02FFFE000102FE\n:00000001FF\n";
    session.Project().SetDevice(DeviceList().FindDevice("COP8SBE9", 0x04));  // 8 KiB
    r = session.LoadFlashFile(Path("big.hex"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(session.Runner().StatusKind(), sk_failed);
    EXPECT_EQ(session.Runner().StatusText(), "Flash File Load - Warning: bad data or file larger than device");
}

TEST_F(Session, SaveEnvironmentStoresTheChoicesAndTheLinksSettings)
{
    session.SwitchDevice("COP8SBR9", kFake, false);
    session.Options().SelectPGMTIM(5);
    session.SaveEnvironment();
    EXPECT_EQ(Fake().calls.back(), "Disconnect");

    TISPSettings reread(&backend);
    reread.Load(TISPSettings::kGlobalKey, kGlobalGroup);
    EXPECT_EQ(reread.Get("ENVIRONMENT", "LASTDEVICE", "").AsString(), "COP8SBR9");
    EXPECT_EQ(reread.Get("ENVIRONMENT", "LASTHARDWARE", "").AsString(), kFake);
    EXPECT_EQ(reread.Get("TimeSelected", "Time", -7).AsInteger(-7), 5);

    TAppSession fresh(shell, &backend);
    fresh.SetHardwareTable(hardware.table);
    fresh.LoadEnvironment();
    EXPECT_EQ(fresh.StartupHardware(), kFake);
    EXPECT_EQ(fresh.StartupHardware("no such hardware"), std::string(GetHardware(0).Name));
    EXPECT_EQ(fresh.StartupDevice(kFake), "COP8SBR9");
    EXPECT_EQ(fresh.StoredClockRow(), 5);
}

TEST(StartupSwitches, LetterIsTheSecondCharacterAndValuesStartAtTheFourth)
{
    const TStartupSwitches s =
        ParseStartupSwitches({"/a", "xA", "A", "-L:/tmp/Mixed", "/L", "-l=Case.hex", "/M:ZEMPRIX (lpt)", "/Q", ""});
    EXPECT_TRUE(s.Auto);
    EXPECT_TRUE(s.Load);
    EXPECT_EQ(s.LoadFile, "/tmp/MixedCase.hex");  // a second L extends the first, "/L" adds nothing
    EXPECT_TRUE(s.Hardware);
    EXPECT_EQ(s.HardwareName, "ZEMPRIX (lpt)");
    EXPECT_EQ(s.Invalid, 3);  // "A" alone, "/Q" and the empty parameter
    EXPECT_FALSE(s.Operator);
    EXPECT_FALSE(ParseStartupSwitches({}).Auto);
    const TStartupSwitches o = ParseStartupSwitches({"/o", "/P"});
    EXPECT_TRUE(o.Operator);
    EXPECT_EQ(o.Invalid, 1);  // every letter but A, L, M and O stays an invalid switch
}

TEST_F(Session, InitialiseIspReportsBadSwitchesAndEndsWithTheCompletionLine)
{
    session.Settings().Put("ENVIRONMENT", "LASTHARDWARE", kGlobalGroup, kFake);
    session.Settings().Put("ENVIRONMENT", "LASTDEVICE", kGlobalGroup, "COP8SBE9");
    session.Settings().Save(TISPSettings::kGlobalKey, kGlobalGroup);
    std::ofstream(Path("in.hex")) << ":0400100001020304E2\n:00000001FF\n";
    TStartupSwitches switches = ParseStartupSwitches({"/X", "/L:" + Path("in.hex")});

    // The bad switch's failure line makes the start-up's outcome a failure, though it goes on.
    EXPECT_EQ(session.Run([&] { session.InitialiseIsp(switches); }), TOutcome::Failed);
    const Lines& log = session.Runner().Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().rfind("Invalid Commandline Parameter - !", 0), 0u) << log.front();
    EXPECT_EQ(session.Device()->Name(), "COP8SBE9");
    EXPECT_EQ(Fake().calls.back(), "LoadSettings");
    EXPECT_EQ(session.Project().Flash.GetValue(0x11), 0x02);  // the command line's file, loaded quietly
    EXPECT_EQ(session.Commands().CommandLineFile, Path("in.hex"));
    EXPECT_EQ(session.Runner().StatusKind(), sk_completed);
    EXPECT_EQ(session.Runner().StatusText().rfind("ISP Initialized; Detected Device: ", 0), 0u);
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.find("File loaded") != std::string::npos; }), 0);

    // The hardware switch names the table's row without regard to case.
    session.Settings().Put("ENVIRONMENT", "LASTHARDWARE", kGlobalGroup, kHardwareCom);
    session.Settings().Save(TISPSettings::kGlobalKey, kGlobalGroup);
    switches = ParseStartupSwitches({"/M:test (fake)"});
    EXPECT_EQ(session.Run([&] { session.InitialiseIsp(switches); }), TOutcome::Completed);
    EXPECT_EQ(session.Programmer()->HardwareName(), kFake);
}

// A command line file that does not load is always reported; Auto Program does not run on
// whatever the image held before, and a failed connection does not keep the file from loading.
TEST_F(Session, StartupFileFailureIsReportedAndStopsAutoProgram)
{
    session.Settings().Put("ENVIRONMENT", "LASTHARDWARE", kGlobalGroup, kFake);
    session.Settings().Put("ENVIRONMENT", "LASTDEVICE", kGlobalGroup, "COP8SBE9");
    session.Settings().Save(TISPSettings::kGlobalKey, kGlobalGroup);
    auto autoRan = [&] {
        const Lines& log = session.Runner().Log();
        return std::find(log.begin(), log.end(), "Auto Programming Device") != log.end();
    };

    TStartupSwitches switches = ParseStartupSwitches({"/A", "/L:" + Path("missing.hex")});
    EXPECT_EQ(session.Run([&] { session.InitialiseIsp(switches); }), TOutcome::Failed);
    EXPECT_FALSE(autoRan());
    EXPECT_EQ(session.Runner().StatusKind(), sk_failed);
    EXPECT_EQ(session.Runner().StatusText(), "Flash File Load: File load failed");
    EXPECT_FALSE(session.Runner().Busy());

    // No box: the file still loads, its failure line comes before the connection's.
    std::ofstream(Path("in.hex")) << ":0400100001020304E2\n:00000001FF\n";
    session.Runner().ClearLog();
    Created().failNextOn = "Connect";
    switches = ParseStartupSwitches({"/L:" + Path("in.hex")});
    EXPECT_EQ(session.Run([&] { session.InitialiseIsp(switches); }), TOutcome::Failed);
    EXPECT_EQ(session.Project().Flash.GetValue(0x11), 0x02);
    EXPECT_EQ(session.Runner().StatusText(), std::string(kFake) + ": Could not open communications port");

    session.Runner().ClearLog();
    switches = ParseStartupSwitches({"/L:" + Path("missing.hex")});
    EXPECT_EQ(session.Run([&] { session.InitialiseIsp(switches); }), TOutcome::Failed);
    const Lines& log = session.Runner().Log();
    EXPECT_NE(std::find(log.begin(), log.end(), "Flash File Load: File load failed"), log.end());
    EXPECT_EQ(session.Runner().StatusText(), std::string(kFake) + ": Could not open communications port");
    EXPECT_FALSE(session.Runner().Busy());
}

// The programmer's setup and report reach the user only through the session's view: the link
// hands over the ports and the report, the view shows them, the choice goes back to the link.
TEST_F(Session, SetupAndInformationGoThroughTheView)
{
    session.SwitchDevice("cop8sbr9", kFake);
    session.Runner().EndOp("switched");
    Fake().SetHasSetup(true);
    Fake().SetHasInformation(true);
    auto run = [&](void (*command)(TCommandContext&)) {
        shell.events.clear();
        Fake().calls.clear();
        EXPECT_EQ(session.Run([&] { command(session.Commands()); }), TOutcome::Completed);
    };

    run(commands::Setup);
    EXPECT_EQ(shell.events, (Lines{"advanced cleared", "advanced LPT1", "advanced LPT2", "setup dialog 2 ports at 1"}));
    EXPECT_EQ(Fake().calls, (Lines{"SetupChoice", "ApplySetup cancelled"}));
    shell.acceptSetup = true;
    Fake().setupChoice.ReplacesAdvancedList = false;
    run(commands::Setup);
    EXPECT_EQ(shell.events, (Lines{"advanced LPT1", "advanced LPT2", "setup dialog 2 ports at 1"}));
    EXPECT_EQ(Fake().calls, (Lines{"SetupChoice", "ApplySetup 0"}));

    run(commands::Information);
    EXPECT_EQ(shell.events, (Lines{"text report report line"}));
    Fake().report = {TReportForm::InformationDialog, "0009", {"Printer Port: LPT1 Port Address:378"}};
    run(commands::Information);
    EXPECT_EQ(shell.events,
              (Lines{std::string("information ") + ZEMPRIX_FILE_VERSION + " 0009 Printer Port: LPT1 Port Address:378"}));
}

// A gang box and the window must see that they share a box whatever name each was given.
TEST(SessionSerialDevice, AComNameAndALinkStandForTheDeviceTheyLeadTo)
{
    QTemporaryDir dir;
    const std::string device = dir.filePath("ttyUSB3").toStdString();
    const std::string byId = dir.filePath("usb-FTDI_box-if00-port0").toStdString();
    std::ofstream(device).put('\n');
    ASSERT_EQ(symlink(device.c_str(), byId.c_str()), 0);
    setenv("ZEMPRIX_COM7", byId.c_str(), 1);
    EXPECT_EQ(TAppSession::SerialDeviceOf("COM7"), device);
    EXPECT_EQ(TAppSession::SerialDeviceOf(byId), device);
    EXPECT_EQ(TAppSession::SerialDeviceOf(device), device);
    unsetenv("ZEMPRIX_COM7");
    // A name that leads nowhere stays itself: two such names match only when they are the same.
    EXPECT_EQ(TAppSession::SerialDeviceOf(dir.filePath("gone").toStdString()), dir.filePath("gone").toStdString());
}
