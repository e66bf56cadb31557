#include <gtest/gtest.h>

#include "fakeprogrammer.h"

using Lines = std::vector<std::string>;

namespace {
struct CommandCase {
    const char* name;
    void (*command)(TCommandContext&);
    Lines log;
    Lines calls;
    Lines hooks;
};

const CommandCase kCommandCases[] = {
    {"Erase", commands::Erase, {"Erase: Erasing Device", "Erase: Complete - 00:00"}, {"EraseDevice"}, {}},
    {"ProgramFlash",
     commands::ProgramFlash,
     {"Flash: Programming", "Flash: Programming Complete - 00:00"},
     {"WriteTiming 0111FCFF", "ProgramFlash"},
     {"image changed", "flash page"}},
    {"ReadFlash",
     commands::ReadFlash,
     {"Flash: Reading", "Flash: Read Complete - 00:00"},
     {"PrepareBlankImage blank", "WriteTiming 0111FCFF", "ReadFlash"},
     {"image changed", "flash page"}},
    {"VerifyFlash",
     commands::VerifyFlash,
     {"Flash: Verifying", "Flash: Verify Complete - 00:00"},
     {"WriteTiming 0111FCFF", "ReadOptions", "VerifyFlash"},
     {"image changed", "flash page"}},
    {"ProgramOptions",
     commands::ProgramOptions,
     {"Programming: OPTIONS", "OPTIONS: Programmed  - 00:00"},
     {"WriteTiming 0111FCFF", "ProgramOptions 06"},
     {}},
    {"ReadOptions",
     commands::ReadOptions,
     {"OPTIONS: Reading", "OPTIONS: Read Complete - 00:00"},
     {"WriteTiming 0111FCFF", "ReadOptions"},
     {"options page"}},
    {"WriteDeviceTime",
     commands::WriteDeviceTime,
     {"TIMING: Programming", "TIMING: Programming Complete - 00:00"},
     {"WriteTiming 0111FCFF"},
     {}},
    {"ReadDeviceTime",
     commands::ReadDeviceTime,
     {"TIMING: Reading", "TIMING: Read Complete - 00:00"},
     {"ReadTiming"},
     {"options page"}},
    {"Run",
     commands::RunTarget,
     {"Putting target in run mode", "Run Mode: Operation Complete - 00:00"},
     {"ProgramOptions 07", "RunTarget"},
     {"image changed"}},  // the FLEX bit reaches the image's option byte
    {"Reset",
     commands::Reset,
     {"Reset: Resetting ISP", "Reset: Complete - Detected Device:  - 00:00"},
     {"Disconnect", "Connect", "WriteTiming 0111FCFF", "ReadOptions", "AfterConnect"},
     {}},
    {"Setup",
     commands::Setup,
     {"Changing ISP Options", "Options Set; Detected Device:  - 00:00"},
     {"SetupChoice", "ApplySetup 0"},
     {"setup dialog 1"}},
    {"Information",
     commands::Information,
     {"Status: Retrieving Status", "Status: Operation Complete - 00:00"},
     {"InformationReport"},
     {"report 1.4.0.13 report line"}},
};
}  // namespace

TEST_F(CommandFixture, EveryCommandWritesItsLinesAndCallsInOrder)
{
    programmer.SetHasSetup(true);
    programmer.SetHasInformation(true);
    for (const CommandCase& c : kCommandCases) {
        SCOPED_TRACE(c.name);
        runner.ClearLog();
        programmer.calls.clear();
        options.SelectPGMTIM(0);  // Read Device Time leaves the device's range and text behind
        options.PGMTIMChange();
        project.Flash.SetValue(0x10, 0x55);  // something to program
        hooks.clear();
        EXPECT_EQ(Shell(c.command), TOutcome::Completed);
        EXPECT_EQ(runner.Log(), c.log);
        EXPECT_EQ(programmer.calls, c.calls);
        EXPECT_EQ(hooks, c.hooks);
        EXPECT_FALSE(runner.Busy());
    }
}

TEST_F(CommandFixture, CommandsWithoutProgrammerDoNothingExceptRun)
{
    runner.SetProgrammer(nullptr);
    for (const CommandCase& c : kCommandCases) {
        SCOPED_TRACE(c.name);
        runner.ClearLog();
        EXPECT_EQ(Shell(c.command), TOutcome::Completed);
        if (c.command == commands::RunTarget)
            EXPECT_EQ(runner.Log(), c.log);
        else
            EXPECT_TRUE(runner.Log().empty());
    }
    EXPECT_TRUE(programmer.calls.empty());
}

TEST_F(CommandFixture, CancelledSetupEndsAsCancelledNotFailed)
{
    programmer.SetHasSetup(true);
    programmer.failOn = "ApplySetup";
    programmer.failure = [] { throw EAbort(); };
    EXPECT_EQ(Shell(commands::Setup), TOutcome::Completed);
    EXPECT_EQ(runner.Log(), (Lines{"Changing ISP Options", "Options Cancelled - 00:00"}));
    EXPECT_EQ(runner.StatusKind(), sk_completed);
    // A dialog that is closed without OK hands the link no choice.
    ctx.ChooseSetupPort = [](const TSetupChoice&, int& index) {
        index = 1;
        return false;
    };
    programmer.calls.clear();
    EXPECT_EQ(Shell(commands::Setup), TOutcome::Completed);
    EXPECT_EQ(programmer.calls, (Lines{"SetupChoice", "ApplySetup cancelled"}));
}

TEST_F(CommandFixture, FlashOperationsRefreshTheViewWhenTheyFail)
{
    const std::pair<void (*)(TCommandContext&), const char*> cases[] = {
        {commands::ProgramFlash, "ProgramFlash"},
        {commands::ReadFlash, "ReadFlash"},
        {commands::VerifyFlash, "VerifyFlash"},
    };
    programmer.failure = [] { throw EISPException("Device not responding", false, "ZEMPRIX (LPT)"); };
    project.Flash.SetValue(0, 0x01);
    for (const auto& [command, op] : cases) {
        SCOPED_TRACE(op);
        runner.ClearLog();
        hooks.clear();
        programmer.failOn = op;
        EXPECT_EQ(Shell(command), TOutcome::Failed);
        EXPECT_EQ(hooks, (Lines{"image changed", "flash page"}));
        EXPECT_EQ(runner.Log().back(), "ZEMPRIX (LPT): Device not responding");
        EXPECT_FALSE(runner.Busy());
    }
}

TEST_F(CommandFixture, ProgramFlashCopiesTheOptionByteFirst)
{
    // The image's last byte was overwritten behind the editor's back (a file load, say).
    project.Flash.SetValue(project.Flash.Size() - 1, 0xFF);
    project.Flash.SetValue(0, 0x02);
    options.Security = 1;  // 26h, not yet mirrored
    EXPECT_EQ(Shell(commands::ProgramFlash), TOutcome::Completed);
    ASSERT_EQ(programmer.programmed.size(), 0x800u);
    EXPECT_EQ(programmer.programmed.back(), 0x26);
}

TEST_F(CommandFixture, ImageHoldingOnlyTheOptionByteIsEmpty)
{
    // As after Clear Flash Buffer or a device switch: the mirrored option byte is the only non-FF byte.
    EXPECT_EQ(LastByte(), 0x06);
    EXPECT_EQ(Shell(commands::ProgramFlash), TOutcome::Failed);
    EXPECT_EQ(runner.Log(), (Lines{"Flash: Programming", "Flash Buffer is Empty"}));
    EXPECT_TRUE(programmer.calls.empty());
    EXPECT_TRUE(programmer.programmed.empty());

    // The byte just below the option byte is code, and one byte of code is enough.
    runner.ClearLog();
    project.Flash.SetValue(project.Flash.Size() - 2, 0x00);
    EXPECT_EQ(Shell(commands::ProgramFlash), TOutcome::Completed);
    EXPECT_EQ(runner.Log().back(), "Flash: Programming Complete - 00:00");
    EXPECT_EQ(programmer.calls.back(), "ProgramFlash");
}

TEST_F(CommandFixture, AllBlankImageFailsBeforeTalkingToTheBox)
{
    options.SetOptions(0xFF);  // the option byte alone cannot make the image non-blank
    hooks.clear();
    EXPECT_EQ(Shell(commands::ProgramFlash), TOutcome::Failed);
    EXPECT_EQ(runner.Log(), (Lines{"Flash: Programming", "Flash Buffer is Empty"}));
    EXPECT_EQ(runner.StatusKind(), sk_failed);
    EXPECT_EQ(runner.StatusText(), "Flash Buffer is Empty");
    EXPECT_TRUE(programmer.calls.empty());
    EXPECT_EQ(hooks, (Lines{"flash page"}));  // nothing in the image changed
    EXPECT_FALSE(runner.Busy());
}

TEST_F(CommandFixture, FailedReloadLeavesTheViewShowingTheClearedImage)
{
    project.Flash.SetFileName("/nonexistent/zemprix/gone.hex");
    project.Flash.SetValue(0x20, 0xAB);
    hooks.clear();
    EXPECT_EQ(Shell(commands::ReloadFlashFile), TOutcome::Failed);
    EXPECT_EQ(project.Flash.GetValue(0x20), 0xFF);  // the load cleared the image before it failed
    // The view hears of the change and drops its place (and any half-typed byte) as after a good reload.
    EXPECT_EQ(hooks, (Lines{"image changed", "home"}));
    EXPECT_EQ(runner.Log().front(), "Reloading: Flash Intel Hex File");
    EXPECT_EQ(runner.StatusKind(), sk_failed);
    EXPECT_FALSE(runner.Busy());
}

TEST_F(CommandFixture, DeviceWithoutFlashIsNeitherProgrammedNorVerified)
{
    const TDevice noFlash("NOFLASH", SetOf({2}), 0, 0, 64, {});
    project.SetDevice(&noFlash);
    project.Flash.SetValue(0, 0x11);
    hooks.clear();
    EXPECT_EQ(Shell(commands::ProgramFlash), TOutcome::Completed);
    EXPECT_EQ(Shell(commands::VerifyFlash), TOutcome::Completed);
    EXPECT_TRUE(runner.Log().empty());
    EXPECT_TRUE(programmer.calls.empty());
    EXPECT_TRUE(hooks.empty());
}

TEST_F(CommandFixture, VerifyComparesTheDevicesOwnOptionByte)
{
    options.BindImage(nullptr);  // the command's own copy, not the editor's mirror
    programmer.deviceOptions = 0x27;
    project.Flash.SetValue(0, 0x02);
    EXPECT_EQ(Shell(commands::VerifyFlash), TOutcome::Completed);
    EXPECT_EQ(programmer.verifiedLastByte, 0x27);
    EXPECT_EQ(options.GetOptions(), 0x27);
    EXPECT_EQ(options.Label5(), "27h - 00100111b");
}

TEST_F(CommandFixture, OptionCommandsLeaveTheEditorsByteInTheImage)
{
    const std::pair<void (*)(TCommandContext&), uint8_t> cases[] = {
        {commands::ReadOptions, 0x24},     // the device's byte
        {commands::ProgramOptions, 0x24},  // the editor's byte, now the device's
        {commands::RunTarget, 0x25},             // the same with FLEX set
    };
    options.BindImage(nullptr);  // the command's own copy, not the editor's mirror
    programmer.deviceOptions = 0x24;
    for (const auto& [command, expected] : cases) {
        project.Flash.Values().back() = 0x00;
        EXPECT_EQ(Shell(command), TOutcome::Completed);
        EXPECT_EQ(LastByte(), expected);
    }
}

TEST_F(CommandFixture, RunSetsTheFlexBitAndProgramsIt)
{
    EXPECT_EQ(Shell(commands::RunTarget), TOutcome::Completed);
    EXPECT_EQ(options.FlexBit, 1);
    EXPECT_EQ(options.GetOptions(), 0x07);
    EXPECT_EQ(options.Label5(), "07h - 00000111b");
    EXPECT_EQ(programmer.deviceOptions, 0x07);
    EXPECT_EQ(LastByte(), 0x07);
}

TEST_F(CommandFixture, ReadDeviceTimeSelectsTheRowButKeepsTheTimingInUse)
{
    int retimed = 0;
    options.OnTimingChange = [&](const TTiming&) { ++retimed; };
    programmer.deviceTiming = "54002800";
    EXPECT_EQ(Shell(commands::ReadDeviceTime), TOutcome::Completed);
    EXPECT_EQ(options.PGMTIM(), 19);
    EXPECT_EQ(options.Label4(), "54002800");
    EXPECT_EQ(retimed, 0);
}

TEST_F(CommandFixture, ReadFlashClearsTheImageBeforeReading)
{
    project.Flash.SetValue(0x100, 0xAA);
    project.Flash.SetStatus(0x100, ps_failed);
    EXPECT_EQ(Shell(commands::ReadFlash), TOutcome::Completed);
    EXPECT_EQ(programmer.calls.front(), "PrepareBlankImage blank");
    EXPECT_EQ(project.Flash.GetValue(0x100), 0xFF);
    EXPECT_EQ(project.Flash.GetStatus(0x100), TProgStatus(ps_normal));
    EXPECT_EQ(project.Flash.GetValue(0), 0x12);  // what the device sent
}
