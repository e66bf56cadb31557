#include <gtest/gtest.h>

#include "app/runner.h"
#include "base/isperrors.h"
#include "link/smartparallel.h"
#include "base/clock.h"

namespace {
struct RecordingView : IOperationView {
    std::vector<std::pair<TStatusKind, std::string>> statuses;
    std::vector<std::string> popups, errorBoxes;
    int beeps = 0, pumps = 0;
    bool hourglass = false, blinking = false, selectorsEnabled = true, offerAnswer = false;
    int offers = 0;
    std::string resetCaption = "Reset";
    int32_t position = 0, maximum = 0;
    std::string caption;
    void ShowStatus(TStatusKind k, const std::string& t) override { statuses.emplace_back(k, t); }
    void SetHourglass(bool on) override { hourglass = on; }
    void Beep() override { ++beeps; }
    void SetBlinkTimer(bool r) override { blinking = r; }
    void ShowProgress(int32_t p, int32_t m, const std::string& c) override
    {
        position = p;
        maximum = m;
        caption = c;
    }
    void SetSelectorsEnabled(bool e) override { selectorsEnabled = e; }
    void SetResetCaption(const std::string& c) override { resetCaption = c; }
    void PumpMessages() override { ++pumps; }
    void PopUp(const std::string& m) override { popups.push_back(m); }
    void ShowErrorBox(const std::string& m) override { errorBoxes.push_back(m); }
    bool OfferFirmwareUpdate() override
    {
        ++offers;
        return offerAnswer;
    }
};

struct Runner : ::testing::Test {
    VirtualClock clock;
    ScopedClock scoped{clock};
    RecordingView view;
    TOperationRunner runner{view};
    TSmartParallel programmer;
    void SetUp() override
    {
        clock.Advance(5'000'000'000);  // a tick counter that is not 0
        programmer.SetHardwareName("ZEMPRIX (COM)");
        runner.SetProgrammer(&programmer);
    }
    void Wait(double seconds) { clock.Advance(static_cast<int64_t>(seconds * 1e9)); }
};
}  // namespace

TEST_F(Runner, StatusMessageSplitsAndCarriesItsKind)
{
    runner.SetStatusMessage("Invalid Commandline Parameter!!", sk_failed);
    EXPECT_EQ(runner.StatusKind(), sk_failed);
    EXPECT_EQ(runner.StatusText(), "Invalid Commandline Parameter");
    EXPECT_EQ(runner.Log().back(), "Invalid Commandline Parameter - !");
    EXPECT_EQ(view.beeps, 1);
    EXPECT_TRUE(view.blinking);

    int pumps = view.pumps;
    runner.SetStatusMessage("Line one\rLine two!x", sk_started);
    EXPECT_EQ(runner.StatusKind(), sk_started);
    EXPECT_EQ(runner.StatusText(), "Line one");
    EXPECT_EQ(runner.Log().back(), "Line one");
    EXPECT_TRUE(view.hourglass);
    EXPECT_GT(view.pumps, pumps);

    size_t logged = runner.Log().size();
    runner.SetStatusMessage("!only detail", sk_completed);
    EXPECT_EQ(runner.StatusKind(), sk_completed);
    EXPECT_EQ(runner.StatusText(), "");
    EXPECT_EQ(runner.Log().size(), logged);  // an empty head is not logged
    EXPECT_FALSE(view.hourglass);

    // The view gets each line with its kind, the text free of any marker.
    const std::vector<std::pair<TStatusKind, std::string>> shown = {
        {sk_failed, "Invalid Commandline Parameter"}, {sk_started, "Line one"}, {sk_completed, ""}};
    EXPECT_EQ(view.statuses, shown);
}

TEST_F(Runner, ElapsedTimeFormatting)
{
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {{59.9, "00:59"}, {61, "01:01"}, {600, "10:00"}, {6000, "100:00"},
                 // Past 49.7 days of uptime, and an operation longer than that: no wrap.
                 {0x100000000 / 1000.0 + 5, "71582:52"}};
    for (const auto& c : cases) {
        runner.StartOp("Flash: Programming");
        EXPECT_TRUE(runner.Busy());
        EXPECT_EQ(view.resetCaption, "Abort");
        EXPECT_FALSE(view.selectorsEnabled);
        Wait(c.seconds);
        runner.EndOp("Flash: Programming Complete");
        EXPECT_EQ(runner.Log().back(), std::string("Flash: Programming Complete - ") + c.text);
        EXPECT_FALSE(runner.Busy());
        EXPECT_EQ(view.resetCaption, "Reset");
        EXPECT_EQ(runner.ProgressCaption(), "Ready...");
    }
}

TEST_F(Runner, AutoRunMarkAddsWholeSecondsOfSteps)
{
    runner.SetAutoRunMark(true);
    for (int i = 0; i < 2; ++i) {
        runner.StartOp("step");
        Wait(1.6);
        runner.EndOp("");
    }
    runner.SetAutoRunMark(false);
    runner.EndOp("Auto Program: Complete (1 devices programmed this session)");
    EXPECT_EQ(runner.Log().back(), "Auto Program: Complete (1 devices programmed this session) - 00:02");
    runner.EndOp("Next");
    EXPECT_EQ(runner.Log().back(), "Next - 00:00");
}

TEST_F(Runner, TimePartGoesBehindTheBang)
{
    runner.StartOp("Waiting");
    Wait(3);
    runner.EndOp("Plug and Prog: Aborted!");
    EXPECT_EQ(runner.StatusKind(), sk_completed);
    EXPECT_EQ(runner.StatusText(), "Plug and Prog: Aborted");
    EXPECT_EQ(runner.Log().back(), "Plug and Prog: Aborted -  - 00:03");
}

TEST_F(Runner, EmptyEndOpLogsNothingButRestoresIdle)
{
    runner.StartOp("x");
    size_t n = runner.Log().size();
    runner.EndOp("");
    EXPECT_EQ(runner.Log().size(), n);
    EXPECT_FALSE(runner.Busy());
    EXPECT_TRUE(view.selectorsEnabled);
}

TEST_F(Runner, ProgressTakesTheFirstTotalAndHonoursAbort)
{
    runner.StartProgressOp("Flash: Reading");
    EXPECT_EQ(runner.ProgressMaximum(), 1);
    runner.OperationProgress(0, 32768);
    runner.OperationProgress(100, 16);
    EXPECT_EQ(runner.ProgressMaximum(), 32768);
    EXPECT_EQ(runner.ProgressPosition(), 100);
    int pumps = view.pumps;
    runner.OperationProgress(-1, -1);
    EXPECT_EQ(runner.ProgressPosition(), 100);
    EXPECT_GT(view.pumps, pumps);
    // Figures count only when both are given.
    runner.OperationProgress(-1, 50);
    runner.OperationProgress(200, -1);
    EXPECT_EQ(runner.ProgressPosition(), 100);
    EXPECT_EQ(runner.ProgressMaximum(), 32768);
    runner.StartProgressOp("Flash: Verifying");
    runner.OperationProgress(-1, 50);
    EXPECT_EQ(runner.ProgressMaximum(), 1);  // still waiting for its first real total
    runner.OperationProgress(0, 2048);
    EXPECT_EQ(runner.ProgressMaximum(), 2048);
    runner.RequestAbort();
    EXPECT_THROW(runner.OperationProgress(-1, -1), EAbortOp);
    runner.AppException(std::make_exception_ptr(EAbortOp()));
    EXPECT_EQ(runner.StatusKind(), sk_failed);
    EXPECT_EQ(runner.StatusText(), "Operation Cancelled by user");
    runner.StartOp("next");
    EXPECT_NO_THROW(runner.OperationProgress(1, 2));  // the request was cleared
}

TEST_F(Runner, ExceptionMapping)
{
    struct Case {
        std::exception_ptr error;
        std::string line;
    } cases[] = {
        {std::make_exception_ptr(ESerialOpenError("x")), "ZEMPRIX (COM): Could not open communications port"},
        {std::make_exception_ptr(ESerialError("Read failed")), "ZEMPRIX (COM):Communications Error (Read failed)"},
        {std::make_exception_ptr(EISPException("ISP timed out during operation", false, "ZEMPRIX (LPT)")),
         "ZEMPRIX (LPT): ISP timed out during operation"},
        {std::make_exception_ptr(EISPException("ISP is not responding, check your communications settings")),
         "ISP is not responding, check your communications settings"},
        {std::make_exception_ptr(EVerifyError("Flash: Verification Failed")), "Flash: Verification Failed"},
        {std::make_exception_ptr(ETargetNotFound("Target not found")), "Target not found"},
        {std::make_exception_ptr(std::runtime_error("boom")), "Error: boom"},
    };
    for (const auto& c : cases) {
        runner.StartOp("op");
        runner.AppException(c.error);
        EXPECT_EQ(runner.StatusKind(), sk_failed);
        EXPECT_EQ(runner.StatusText(), c.line);
        // Why a port could not be opened is the log line's detail.
        const bool openFailed = c.line.find("Could not open") != std::string::npos;
        EXPECT_EQ(runner.Log().back(), openFailed ? c.line + " - x" : c.line);
        EXPECT_FALSE(runner.Busy());
    }
    EXPECT_EQ(view.errorBoxes, std::vector<std::string>{"boom"});
    EXPECT_TRUE(view.popups.empty());
    runner.SetPopUpWarnings(true);
    runner.AppException(std::make_exception_ptr(EVerifyError("v")));
    EXPECT_EQ(view.popups, std::vector<std::string>{"v"});

    size_t n = runner.Log().size();
    runner.AppException(std::make_exception_ptr(EAbort()));  // silent
    EXPECT_EQ(runner.Log().size(), n);
}

TEST_F(Runner, FirmwareMismatchOffersTheUpdate)
{
    int updates = 0;
    runner.SetFirmwareUpdate([&] {
        ++updates;
        throw EFirmwareMisMatch("Your ISP needs a firmware update");
    });
    runner.AppException(std::make_exception_ptr(EFirmwareMisMatch("Your ISP needs a firmware update")));
    EXPECT_EQ(runner.StatusKind(), sk_failed);
    EXPECT_EQ(runner.StatusText(), "Firmware Update Required");
    EXPECT_EQ(view.offers, 1);
    EXPECT_EQ(updates, 0);
    view.offerAnswer = true;
    EXPECT_EQ(runner.Run([] { throw EFirmwareMisMatch("x"); }), TOutcome::FirmwareUpdate);
    EXPECT_EQ(updates, 1);

    // An update whose reconnection still finds the old firmware ends in the failure state.
    runner.SetFirmwareUpdate([&] {
        runner.StartOp("Attempting to switch to Device:X Hardware:Y");
        throw EFirmwareMisMatch("Your ISP needs a firmware update");
    });
    EXPECT_EQ(runner.Run([] { throw EFirmwareMisMatch("x"); }), TOutcome::FirmwareUpdate);
    EXPECT_EQ(runner.StatusKind(), sk_failed);
    EXPECT_EQ(runner.StatusText(), "Firmware Update Required");
    EXPECT_FALSE(runner.Busy());
}

TEST_F(Runner, CanOperateAndBlink)
{
    EXPECT_TRUE(runner.CanOperate());
    runner.StartOp("x");
    EXPECT_FALSE(runner.CanOperate());
    runner.FailOp("bad");
    EXPECT_TRUE(runner.CanOperate());
    bool phase = runner.BlinkPhase();
    runner.BlinkTick();
    EXPECT_NE(runner.BlinkPhase(), phase);
    runner.EndOp("done");  // only a failure line blinks
    phase = runner.BlinkPhase();
    runner.BlinkTick();
    EXPECT_EQ(runner.BlinkPhase(), phase);
    runner.SetProgrammer(nullptr);
    EXPECT_FALSE(runner.CanOperate());
}

// The owner may free the programmer while a failure is on its way to the handler (the CLI's
// session unwinds before the exception is reported): the runner must not read the freed object.
TEST_F(Runner, FreedProgrammerIsNeverRead)
{
    auto owned = std::make_unique<TSmartParallel>();
    owned->SetHardwareName("ZEMPRIX (LPT)");
    runner.SetProgrammer(owned.get());
    EXPECT_EQ(runner.Programmer(), owned.get());
    owned.reset();
    EXPECT_EQ(runner.Programmer(), nullptr);
    EXPECT_FALSE(runner.CanOperate());
    runner.AppException(std::make_exception_ptr(ESerialOpenError("gone")));
    EXPECT_EQ(runner.StatusKind(), sk_failed);
    EXPECT_EQ(runner.StatusText(), ": Could not open communications port");
}

TEST_F(Runner, APortThatCannotBeOpenedIsFollowedByItsDiagnosisAndNothingElseIs)
{
    std::vector<bool> asked;
    runner.SetPortDiagnosis([&](bool parallel) {
        asked.push_back(parallel);
        if (asked.size() == 3) throw std::runtime_error("/proc unreadable");
        return std::vector<std::string>{"FAIL why", "     fix: how"};
    });
    runner.StartOp("op");
    runner.AppException(std::make_exception_ptr(ESerialOpenError("no access")));
    ASSERT_GE(runner.Log().size(), 3u);
    const auto tail = std::vector<std::string>(runner.Log().end() - 3, runner.Log().end());
    EXPECT_EQ(tail, (std::vector<std::string>{"ZEMPRIX (COM): Could not open communications port - no access", "FAIL why",
                                              "     fix: how"}));
    // The parallel port's open failure keeps its line and gets the parallel checks.
    runner.StartOp("op");
    runner.AppException(std::make_exception_ptr(ELptOpenError("LPT port not found or in use by another program", false, "ZEMPRIX (LPT)")));
    EXPECT_EQ(runner.StatusText(), "ZEMPRIX (LPT): LPT port not found or in use by another program");
    EXPECT_EQ(runner.Log().back(), "     fix: how");
    // Checks that cannot run say so; the failure line stays.
    runner.StartOp("op");
    runner.AppException(std::make_exception_ptr(ESerialOpenError("")));
    EXPECT_EQ(runner.StatusText(), "ZEMPRIX (COM): Could not open communications port");
    EXPECT_EQ(runner.Log().back(), "Port checks failed: /proc unreadable");
    EXPECT_EQ(asked, (std::vector<bool>{false, true, false}));
    // Other failures, the parallel link's included, are not explained by the port checks.
    for (auto error : {std::make_exception_ptr(EISPException("ISP timed out during operation", false, "ZEMPRIX (LPT)")),
                       std::make_exception_ptr(ESerialError("Read failed"))}) {
        runner.StartOp("op");
        runner.AppException(error);
    }
    EXPECT_EQ(asked.size(), 3u);
}
