#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/autoprogram.h"
#include "app/productionrecord.h"
#include "fakeprogrammer.h"
#include "image/serialnum.h"
#include "store/settings.h"

using Lines = std::vector<std::string>;

namespace {
struct AutoProgram : CommandFixture {
    TISPSettings settings;
    TSerialNum serial;
    TAutoProgram autoProgram{ctx, serial, settings};
    int dialogShown = 0;

    void SetUp() override
    {
        CommandFixture::SetUp();
        serial.rgSerialNumMode = TSerialNum::smStoreInFlash;
        serial.heSerialLocation = 0x100;
        serial.heCurrentSerial = 0x41;
        serial.Button2Click(project.Flash);  // the user's OK in the dialog
        project.Flash.SetValue(0, 0x02);
        autoProgram.ShowOptionsDialog = [this](TAutoProgramSteps&) { ++dialogShown; };
        hooks.clear();
    }
    void Steps(std::initializer_list<int> on)
    {
        for (int i = 0; i < TAutoProgramSteps::kCount; ++i)
            settings.Put(TAutoProgramSteps::kSection, std::to_string(i), kGlobalGroup, false);
        for (int i : on) settings.Put(TAutoProgramSteps::kSection, std::to_string(i), kGlobalGroup, true);
    }
    bool RunOnce()
    {
        return runner.Run([this] { autoProgram.AutoProgramExecute(); }) == TOutcome::Completed;
    }
    uint16_t SerialInImage() const
    {
        return static_cast<uint16_t>(project.Flash.GetValue(0x100) << 8 | project.Flash.GetValue(0x101));
    }
    std::string WriteFile(const std::string& name, const std::string& text)
    {
        const std::string path = ::testing::TempDir() + "/autoprogram_" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
};
}  // namespace

TEST(AutoProgramSteps, LoadsAndStoresUnderAutoprogram)
{
    TISPSettings store;
    TAutoProgramSteps steps;
    steps.Load(store);
    EXPECT_FALSE(steps.AnyChecked());  // nothing stored yet
    store.Put("AUTOPROGRAM", "3", kGlobalGroup, "True");
    steps.Load(store);
    EXPECT_TRUE(steps.Checked(3));
    EXPECT_FALSE(steps.Checked(2));
    steps.SetChecked(6, true);
    steps.SetChecked(3, false);
    steps.Store();
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(store.Get("AUTOPROGRAM", std::to_string(i), true).AsBoolean(true), i == 6) << i;
    for (const TSetting& s : store.Settings()) EXPECT_EQ(s.Group, kGlobalGroup) << s.Ident;
    EXPECT_STREQ(TAutoProgramSteps::Caption(0), "Reload Files");
    EXPECT_STREQ(TAutoProgramSteps::Caption(5), "Increment Serial Number");
}

TEST_F(AutoProgram, AllDeviceStepsRunInOrderAndTheSerialAdvancesAfterProgramming)
{
    Steps({1, 2, 3, 4, 5, 6});
    EXPECT_TRUE(RunOnce());
    EXPECT_EQ(programmer.calls,
              (Lines{"Disconnect", "Connect", "EraseDevice", "WriteTiming 0111FCFF", "ProgramFlash",
                     "WriteTiming 0111FCFF", "ReadOptions", "VerifyFlash", "WriteTiming 0111FCFF",
                     "ProgramOptions 06", "ProgramOptions 07", "RunTarget"}));
    EXPECT_EQ(runner.Log(),
              (Lines{"Auto Programming Device", "Erase: Erasing Device", "Erase: Complete - 00:00",
                     "Flash: Programming", "Flash: Programming Complete - 00:00", "Flash: Verifying",
                     "Flash: Verify Complete - 00:00", "Programming: OPTIONS", "OPTIONS: Programmed  - 00:00",
                     "Putting target in run mode", "Run Mode: Operation Complete - 00:00",
                     "Auto Program: Complete (1 devices programmed this session) - 00:00"}));
    // The device got the serial current when the run began; the image keeps the next one.
    EXPECT_EQ(programmer.programmed[0x100], 0x00);
    EXPECT_EQ(programmer.programmed[0x101], 0x41);
    EXPECT_EQ(SerialInImage(), 0x42);
    EXPECT_EQ(dialogShown, 0);
    EXPECT_FALSE(runner.AutoRunMark());
    EXPECT_FALSE(runner.Busy());
}

TEST_F(AutoProgram, CounterCountsEveryRunFailedOnesToo)
{
    Steps({1});
    EXPECT_TRUE(RunOnce());
    programmer.failOn = "EraseDevice";
    EXPECT_FALSE(RunOnce());
    programmer.failOn.clear();
    EXPECT_TRUE(RunOnce());
    EXPECT_EQ(runner.Log().back(), "Auto Program: Complete (3 devices programmed this session) - 00:00");
    EXPECT_EQ(autoProgram.DevicesProgrammed(), 3u);
}

TEST_F(AutoProgram, OnlyTheSerialStepAdvancesTheNumberAndProgramsNothing)
{
    Steps({5});
    for (int run = 1; run <= 3; ++run) {
        EXPECT_TRUE(RunOnce());
        EXPECT_EQ(SerialInImage(), 0x41 + run);
    }
    EXPECT_EQ(serial.heCurrentSerial, 0x44u);
    EXPECT_EQ(programmer.calls, (Lines{"Disconnect", "Connect", "Disconnect", "Connect", "Disconnect", "Connect"}));
    EXPECT_EQ(hooks, (Lines{"image changed", "flash page", "image changed", "flash page", "image changed", "flash page"}));
}

TEST_F(AutoProgram, FailingVerifyStopsBeforeSerialAndRun)
{
    Steps({2, 3, 4, 5, 6});
    programmer.failOn = "VerifyFlash";
    EXPECT_FALSE(RunOnce());
    EXPECT_EQ(programmer.calls.back(), "VerifyFlash");
    EXPECT_EQ(serial.heCurrentSerial, 0x41u);
    EXPECT_EQ(SerialInImage(), 0x41);
    EXPECT_EQ(runner.Log().back(), "Verify Failed");
    EXPECT_EQ(runner.StatusKind(), sk_failed);
    EXPECT_EQ(runner.StatusText(), "Verify Failed");
    EXPECT_FALSE(runner.AutoRunMark());
    EXPECT_EQ(autoProgram.DevicesProgrammed(), 1u);
}

TEST_F(AutoProgram, RunLineSumsTheStepsWholeSeconds)
{
    Steps({1, 4});
    programmer.msPerCall = 1600;  // Erase 1.6 s, Program Options 3.2 s, the reconnect 3.2 s
    EXPECT_TRUE(RunOnce());
    // 1 + 3 whole seconds; neither the reconnect, the waits nor the fractions count.
    EXPECT_EQ(runner.Log().back(), "Auto Program: Complete (1 devices programmed this session) - 00:04");
    EXPECT_EQ(runner.ElapsedSeconds(), 0u);
}

TEST_F(AutoProgram, AfterAFailedRunTheNextCommandShowsOnlyItsOwnTime)
{
    Steps({1, 4});
    programmer.msPerCall = 1600;
    programmer.failOn = "ProgramOptions";
    EXPECT_FALSE(RunOnce());
    programmer.failOn.clear();
    EXPECT_EQ(Shell(commands::Erase), TOutcome::Completed);
    EXPECT_EQ(runner.Log().back(), "Erase: Complete - 00:01");
}

TEST_F(AutoProgram, NoStepOnOpensTheDialogFirst)
{
    autoProgram.ShowOptionsDialog = [this](TAutoProgramSteps& steps) {
        ++dialogShown;
        steps.SetChecked(TAutoProgramSteps::stErase, true);
    };
    EXPECT_TRUE(RunOnce());
    EXPECT_EQ(dialogShown, 1);
    EXPECT_EQ(programmer.calls, (Lines{"Disconnect", "Connect", "EraseDevice"}));
    EXPECT_TRUE(settings.Get("AUTOPROGRAM", "1", false).AsBoolean());
    EXPECT_FALSE(settings.Get("AUTOPROGRAM", "0", true).AsBoolean(true));

    EXPECT_TRUE(RunOnce());  // now stored: no dialog
    EXPECT_EQ(dialogShown, 1);
}

TEST_F(AutoProgram, ConfirmingNothingOnlyReconnectsAndCompletes)
{
    EXPECT_TRUE(RunOnce());
    EXPECT_EQ(dialogShown, 1);
    EXPECT_EQ(programmer.calls, (Lines{"Disconnect", "Connect"}));
    EXPECT_EQ(runner.Log(), (Lines{"Auto Programming Device",
                                   "Auto Program: Complete (1 devices programmed this session) - 00:00"}));
    for (int i = 0; i < 7; ++i) EXPECT_FALSE(settings.Get("AUTOPROGRAM", std::to_string(i), true).AsBoolean(true));
}

TEST_F(AutoProgram, ReloadPrefersTheCommandLineFile)
{
    const std::string own = WriteFile("own.hex", ":01000000AA55\r\n:00000001FF\r\n");
    const std::string given = WriteFile("given.hex", ":0400000001020304F2\r\n:00000001FF\r\n");
    project.Flash.SetFileName(own);
    ctx.CommandLineFile = given;
    Steps({0});
    EXPECT_TRUE(RunOnce());
    EXPECT_EQ(project.Flash.GetValue(0), 0x01);
    EXPECT_EQ(project.Flash.GetValue(3), 0x04);
    EXPECT_EQ(runner.Log(), (Lines{"Auto Programming Device", "Reloading: Flash Intel Hex File",
                                   "Flash: File Reloaded - 00:00",
                                   "Auto Program: Complete (1 devices programmed this session) - 00:00"}));

    ctx.CommandLineFile.clear();
    project.Flash.SetFileName(own);  // the load above recorded the other name
    EXPECT_TRUE(RunOnce());
    EXPECT_EQ(project.Flash.GetValue(0), 0xAA);
}

TEST_F(AutoProgram, ReloadWarnsAboutDataBeyondTheDevice)
{
    const std::string big = WriteFile("big.hex", ":01100000AA45\r\n:00000001FF\r\n");  // at 1000h of 800h
    project.Flash.SetFileName(big);
    Steps({0});
    EXPECT_TRUE(RunOnce());
    EXPECT_EQ(runner.Log()[2], "Flash: File Reloaded - Warning: Bad data or file larger than device  - 00:00");
}

TEST_F(AutoProgram, UnreadableReloadFileEndsTheRunBeforeAnyDeviceOperation)
{
    project.Flash.SetFileName(::testing::TempDir() + "/autoprogram_missing.hex");
    Steps({0, 1, 2});
    EXPECT_FALSE(RunOnce());
    EXPECT_EQ(programmer.calls, (Lines{"Disconnect", "Connect"}));
    EXPECT_FALSE(runner.AutoRunMark());
    EXPECT_NE(runner.Log().back().find("Error: "), std::string::npos);
}

TEST_F(AutoProgram, WithoutAProgrammerNothingHappens)
{
    runner.SetProgrammer(nullptr);
    Steps({1});
    EXPECT_TRUE(RunOnce());
    EXPECT_TRUE(runner.Log().empty());
    EXPECT_EQ(autoProgram.DevicesProgrammed(), 0u);
}

namespace {

// The plug-and-program window as a script: Cancel is pressed after `cancelAfterPumps` pumps.
struct ScriptedPlugWindow final : IPlugWindow {
    std::vector<std::string> messages;
    bool visible = false;
    bool cancelled = false;
    int pumps = 0;
    int cancelAfterPumps = -1;
    std::function<void()> onPump;
    void Show() override { visible = true; }
    void Hide() override { visible = false; }
    void SetMessage(const std::string& text) override
    {
        if (messages.empty() || messages.back() != text) messages.push_back(text);
    }
    bool Cancelled() const override { return cancelled; }
    void SetCancelled(bool c) override { cancelled = c; }
    void Pump() override
    {
        if (onPump) onPump();
        if (++pumps == cancelAfterPumps) cancelled = true;
    }
};

}  // namespace

TEST_F(AutoProgram, PlugAndProgramProgramsEachAttachmentOnceAndEndsOnCancel)
{
    Steps({2});
    // Attached at start, removed, attached (programmed), kept attached, removed, attached again.
    programmer.presence = {1, 1, 0, 0, 1, 1, 1, 0, 1, 1, 0};
    ScriptedPlugWindow window;
    window.cancelAfterPumps = 12;
    runner.Run([&] { autoProgram.PlugAndProgram(window); });
    EXPECT_EQ(std::count(programmer.calls.begin(), programmer.calls.end(), "ProgramFlash"), 2);
    EXPECT_EQ(autoProgram.DevicesProgrammed(), 2u);
    EXPECT_EQ(window.messages.front(), "Unplug ISP cable to program a target");
    EXPECT_NE(std::find(window.messages.begin(), window.messages.end(), "Programming in progress"), window.messages.end());
    EXPECT_EQ(runner.StatusKind(), sk_completed);
    EXPECT_EQ(runner.StatusText(), "Plug and Prog: Aborted");
    EXPECT_EQ(runner.Log().back(), "Plug and Prog: Aborted -  - 00:00");  // the time is the detail after "!"
    EXPECT_FALSE(window.visible);
    EXPECT_FALSE(runner.AutoRunMark());
}

TEST_F(AutoProgram, PlugAndProgramEndsAfterAFailingBoardWithoutItsOwnMessage)
{
    Steps({2, 3, 5});
    programmer.presence = {0, 1};
    programmer.failOn = "VerifyFlash";
    ScriptedPlugWindow window;
    const uint16_t serialBefore = SerialInImage();
    EXPECT_EQ(runner.Run([&] { autoProgram.PlugAndProgram(window); }), TOutcome::Failed);
    EXPECT_EQ(runner.StatusKind(), sk_failed);
    EXPECT_EQ(runner.StatusText(), "Plug and Prog: Aborted due to error");
    EXPECT_EQ(std::count_if(runner.Log().begin(), runner.Log().end(),
                            [](const std::string& l) { return l.find("Verify Failed") != std::string::npos; }),
              0);
    EXPECT_EQ(SerialInImage(), serialBefore);  // a failed verify does not advance the number
    EXPECT_EQ(autoProgram.DevicesProgrammed(), 1u);
    EXPECT_FALSE(window.visible);
    EXPECT_TRUE(window.cancelled);
}

TEST_F(AutoProgram, EveryBoardLeavesOneRecordLine)
{
    const std::string file = WriteFile("record.csv", "");
    std::remove(file.c_str());
    TProductionRecord record(file);
    std::vector<TAutoProgram::TBoard> boards;
    TSubscription recording = autoProgram.OnBoardDone.Subscribe([&](const TAutoProgram::TBoard& b) {
        boards.push_back(b);
        record.Append({"2026-12-10T01:00:00", "COM1", "COP8TAB9", "in.hex", "1234ABCD", b.SerialPlaced, b.Steps, b.Ok,
                       b.VerifyFailed, b.Failure});
    });
    Steps({1, 2, 3, 5});
    EXPECT_TRUE(RunOnce());
    programmer.failOn = "VerifyFlash";
    programmer.failure = [] { throw EVerifyError("Flash: Verification Failed, \"3\" bytes"); };
    EXPECT_FALSE(RunOnce());
    ASSERT_EQ(boards.size(), 2u);
    EXPECT_EQ(boards[0].Steps, "erase+program+verify+serial");
    EXPECT_EQ(boards[0].SerialPlaced, "0041");  // the number the programmed image carried
    EXPECT_EQ(boards[1].SerialPlaced, "0042");
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, std::string(TProductionRecord::kHeader) +
                        "\n2026-12-10T01:00:00,COM1,COP8TAB9,in.hex,1234ABCD,0041,erase+program+verify+serial,ok,\n"
                        "2026-12-10T01:00:00,COM1,COP8TAB9,in.hex,1234ABCD,0042,erase+program+verify+serial,verify failed,"
                        "\"Flash: Verification Failed, \"\"3\"\" bytes\"\n");
    EXPECT_THROW(TProductionRecord(::testing::TempDir() + "/no/such/dir/r.csv").Append({}), EISPException);
}

// The reload brings back the file without a number: each board must still be programmed with its
// own, and its record names the number the programmed image carried.
TEST_F(AutoProgram, WithReloadEveryBoardIsProgrammedWithItsOwnNumber)
{
    const std::string file = WriteFile("reload_serial.hex", ":01000000AA55\r\n:00000001FF\r\n");
    project.Flash.SetFileName(file);
    std::vector<TAutoProgram::TBoard> boards;
    TSubscription listening =
        autoProgram.OnBoardDone.Subscribe([&](const TAutoProgram::TBoard& b) { boards.push_back(b); });
    Steps({0, 1, 2, 5});
    for (int run = 0; run < 3; ++run) {
        EXPECT_TRUE(RunOnce());
        EXPECT_EQ(programmer.programmed[0x100], 0x00) << run;
        EXPECT_EQ(programmer.programmed[0x101], 0x41 + run) << run;
        EXPECT_EQ(programmer.programmed[0], 0xAA);  // the reloaded file's own bytes
    }
    ASSERT_EQ(boards.size(), 3u);
    EXPECT_EQ(boards[0].SerialPlaced, "0041");
    EXPECT_EQ(boards[2].SerialPlaced, "0043");
    EXPECT_TRUE(boards[0].FlashWritten);
    EXPECT_EQ(serial.heCurrentSerial, 0x44u);

    // A number the reloaded image cannot take ends the board before the box is touched.
    serial.heCurrentSerial = 0x10000;
    programmer.calls.clear();
    EXPECT_FALSE(RunOnce());
    EXPECT_EQ(programmer.calls, (Lines{"Disconnect", "Connect"}));
    EXPECT_FALSE(boards.back().Ok);
    EXPECT_FALSE(boards.back().FlashWritten);
}

// The store settles a board's number by how far it got: a failure before the Flash program step
// leaves no number in the device.
TEST_F(AutoProgram, ABoardTellsWhetherItsFlashWasWritten)
{
    std::vector<TAutoProgram::TBoard> boards;
    TSubscription listening =
        autoProgram.OnBoardDone.Subscribe([&](const TAutoProgram::TBoard& b) { boards.push_back(b); });
    Steps({1, 2, 3});
    programmer.failOn = "EraseDevice";
    programmer.failure = [] { throw EISPException("Erase failed"); };
    EXPECT_FALSE(RunOnce());
    programmer.failOn = "VerifyFlash";
    programmer.failure = [] { throw EVerifyError("Flash: Verification Failed"); };
    EXPECT_FALSE(RunOnce());
    ASSERT_EQ(boards.size(), 2u);
    EXPECT_FALSE(boards[0].FlashWritten);
    EXPECT_TRUE(boards[1].FlashWritten);
}

TEST_F(AutoProgram, ASerialPastItsSizeIsNeverProgrammedTwice)
{
    serial.heCurrentSerial = 0xFFFF;
    ASSERT_TRUE(serial.Button2Click(project.Flash));
    Steps({2, 5});
    EXPECT_TRUE(RunOnce());
    EXPECT_EQ(programmer.programmed[0x100], 0xFF);
    EXPECT_EQ(programmer.programmed[0x101], 0xFF);
    // 10000h does not fit in two bytes: the image still holds FFFFh, so the next board is refused
    // before anything is programmed instead of getting FFFFh (or 1000h) again.
    EXPECT_EQ(SerialInImage(), 0xFFFF);
    EXPECT_FALSE(RunOnce());
    EXPECT_EQ(std::count(programmer.calls.begin(), programmer.calls.end(), "ProgramFlash"), 1);
    EXPECT_EQ(runner.Log().back(), "Serial Number: 10000h does not fit in 2 bytes - choose a larger size");
    // A larger size places 10000h and production goes on.
    serial.rgSerialNumSize = TSerialNum::ssThreeBytes;
    ASSERT_TRUE(serial.Button2Click(project.Flash));
    EXPECT_TRUE(RunOnce());
    EXPECT_EQ(std::count(programmer.calls.begin(), programmer.calls.end(), "ProgramFlash"), 2);
}

// What a board's record says is what the screen said: the runner's status line for its
// exception, and "verify failed" where the gang's table says it.
TEST_F(AutoProgram, ARecordTellsTheFailureInTheScreensWords)
{
    std::vector<TAutoProgram::TBoard> boards;
    TSubscription recording =
        autoProgram.OnBoardDone.Subscribe([&](const TAutoProgram::TBoard& b) { boards.push_back(b); });
    Steps({2, 3, 5});
    programmer.failOn = "ProgramFlash";
    programmer.failure = [] { throw EAbortOp(); };
    EXPECT_FALSE(RunOnce());
    programmer.failure = [] { throw EVerifyError("Verify Failed at 0200h"); };
    EXPECT_FALSE(RunOnce());
    programmer.failOn.clear();
    serial.heCurrentSerial = 0x10000;  // past two bytes
    EXPECT_FALSE(RunOnce());
    ASSERT_EQ(boards.size(), 3u);
    EXPECT_EQ(boards[0].Failure, "Operation Cancelled by user");
    EXPECT_FALSE(boards[0].VerifyFailed);
    EXPECT_EQ(boards[1].Failure, "Verify Failed at 0200h");
    EXPECT_TRUE(boards[1].VerifyFailed);
    EXPECT_EQ(boards[2].Failure, "Serial Number: 10000h does not fit in 2 bytes - choose a larger size");
    // Each is the last line the screen showed for its board.
    EXPECT_EQ(runner.Log().back(), boards[2].Failure);
    const std::string line = TProductionRecord::CsvLine({"t", "p", "d", "f", "c", "", "s", false, true, "Verify Failed at 0200h"});
    EXPECT_EQ(line, "t,p,d,f,c,,s,verify failed,Verify Failed at 0200h");
}

TEST(ProductionRecord, CellsThatLookLikeFormulasAreWrittenAsText)
{
    TBoardRecord r{"2026-12-10T01:00:00", "=cmd|'/c calc'!A1", "COP8SBR9", "+in.hex", "1234ABCD", "", "-steps", false,
                   false, "@SUM(1,2)"};
    EXPECT_EQ(TProductionRecord::CsvLine(r),
              "2026-12-10T01:00:00,'=cmd|'/c calc'!A1,COP8SBR9,'+in.hex,1234ABCD,,'-steps,failed,\"'@SUM(1,2)\"");
    // Signs inside a cell are left alone.
    r.Port = "COM1=x";
    r.ImageFile = "a-b.hex";
    EXPECT_EQ(TProductionRecord::CsvLine(r).substr(0, 40), "2026-12-10T01:00:00,COM1=x,COP8SBR9,a-b.");
}

// A full disk: the line that does not fit is taken back whole, and the next one starts a line
// of its own.
TEST(ProductionRecord, ALineThatCannotBeWrittenWholeLeavesTheFileAsItWas)
{
    const std::string path = ::testing::TempDir() + "/record_full.csv";
    std::remove(path.c_str());
    const TBoardRecord r{"2026-12-10T01:00:00", "COM1", "COP8SBR9", "in.hex", "1234ABCD", "0041", "program", true, false, ""};
    TProductionRecord(path).Append(r);
    std::ifstream before(path);
    const std::string first((std::istreambuf_iterator<char>(before)), std::istreambuf_iterator<char>());
    const pid_t child = fork();
    if (child == 0) {
        // The file may grow by ten bytes only: the next line is cut short.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(first.size() + 10), static_cast<rlim_t>(first.size() + 10)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
        try {
            TProductionRecord(path).Append(r);
        } catch (const EISPException&) {
            _exit(0);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the short write must be reported";
    std::ifstream after(path);
    const std::string text((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, first);
    TProductionRecord(path).Append(r);
    std::ifstream again(path);
    const std::string two((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
    EXPECT_EQ(two, first + TProductionRecord::CsvLine(r) + "\n");
}

TEST(ProductionRecord, ProgramsAppendingAtOnceWriteOneHeaderAndWholeLines)
{
    const std::string path = ::testing::TempDir() + "/record_shared.csv";
    std::remove(path.c_str());
    std::vector<pid_t> children;
    for (int p = 0; p < 4; ++p) {
        const pid_t child = fork();
        if (child == 0) {
            const TBoardRecord r{"2026-12-10T01:00:00", "COM" + std::to_string(p + 1), "COP8SBR9", "in.hex",
                                 "1234ABCD", "", "program", true, false, ""};
            for (int i = 0; i < 40; ++i) TProductionRecord(path).Append(r);
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t c : children) waitpid(c, nullptr, 0);
    std::ifstream in(path);
    std::string line;
    int headers = 0, records = 0;
    bool headerFirst = false;
    while (std::getline(in, line)) {
        if (line == TProductionRecord::kHeader) {
            headerFirst = headers == 0 && records == 0;
            ++headers;
        } else {
            EXPECT_EQ(line.rfind("2026-12-10T01:00:00,COM", 0), 0u) << line;
            EXPECT_EQ(line.size(), std::string("2026-12-10T01:00:00,COM1,COP8SBR9,in.hex,1234ABCD,,program,ok,").size());
            ++records;
        }
    }
    EXPECT_EQ(headers, 1);
    EXPECT_TRUE(headerFirst);
    EXPECT_EQ(records, 160);
}

TEST_F(AutoProgram, PlugAndProgramClearsTheRunMarkOnEveryWayOut)
{
    // A reload that fails: the application's handler reports it, and later commands time themselves.
    project.Flash.SetFileName(::testing::TempDir() + "/autoprogram_gone.hex");
    Steps({0, 2});
    programmer.presence = {0, 1};
    ScriptedPlugWindow window;
    EXPECT_EQ(runner.Run([&] { autoProgram.PlugAndProgram(window); }), TOutcome::Failed);
    EXPECT_FALSE(runner.AutoRunMark());
    EXPECT_FALSE(window.visible);
    EXPECT_EQ(std::count(programmer.calls.begin(), programmer.calls.end(), "ProgramFlash"), 0);

    // The box goes away while the loop waits: its own failure line, then the mode's.
    ScriptedPlugWindow waiting;
    programmer.presence = {0};
    programmer.presencePolls = 0;
    waiting.onPump = [&] {
        if (waiting.pumps == 3)
            programmer.presenceFailure = [] { throw ESerialError("the port /dev/ttyUSB0 went away (unplugged?)"); };
    };
    EXPECT_EQ(runner.Run([&] { autoProgram.PlugAndProgram(waiting); }), TOutcome::Failed);
    ASSERT_GE(runner.Log().size(), 2u);
    EXPECT_EQ(runner.Log().back(), "Plug and Prog: Aborted due to error");
    EXPECT_NE(runner.Log()[runner.Log().size() - 2].find("/dev/ttyUSB0 went away"), std::string::npos)
        << runner.Log()[runner.Log().size() - 2];
    EXPECT_FALSE(waiting.visible);
    EXPECT_FALSE(runner.AutoRunMark());
}
