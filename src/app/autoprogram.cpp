#include "app/autoprogram.h"

#include "base/hextext.h"

#include "app/commands.h"
#include "base/isperrors.h"
#include "image/checksum.h"
#include "image/hexlist.h"
#include "image/serialnum.h"
#include "store/settings.h"
#include "link/programmer.h"
#include "base/clock.h"

namespace {
// Lets the box settle between steps.
constexpr uint32_t kStepPauseMs = 100;

const char* const kCaptions[TAutoProgramSteps::kCount] = {
    "Reload Files",        "Erase Device",           "Program Flash Memory", "Flash Verification",
    "Program Options Byte", "Increment Serial Number", "Run",
};

// Clears the run mark however the steps end, before a failure is reported.
class TRunMark {
public:
    explicit TRunMark(TOperationRunner& runner) : runner_(runner) { runner_.SetAutoRunMark(true); }
    ~TRunMark() { runner_.SetAutoRunMark(false); }
    TRunMark(const TRunMark&) = delete;
    TRunMark& operator=(const TRunMark&) = delete;

private:
    TOperationRunner& runner_;
};
}  // namespace

const char* TAutoProgramSteps::Caption(int step) { return (step >= 0 && step < kCount) ? kCaptions[step] : ""; }

void TAutoProgramSteps::Load(TISPSettings& store)
{
    store_ = &store;
    for (int i = 0; i < kCount; ++i)
        checked_[static_cast<size_t>(i)] = store.Get(kSection, std::to_string(i), false).AsBoolean(false);
    recordFile_ = store.Get(kRecordSection, "FILE", std::string()).AsString();
    database_ = store.Get(kRecordSection, "DATABASE", std::string()).AsString();
}

void TAutoProgramSteps::Store()
{
    if (!store_) return;
    for (int i = 0; i < kCount; ++i)
        store_->Put(kSection, std::to_string(i), kGlobalGroup, checked_[static_cast<size_t>(i)]);
    store_->Put(kRecordSection, "FILE", kGlobalGroup, recordFile_);
    store_->Put(kRecordSection, "DATABASE", kGlobalGroup, database_);
}

void TAutoProgramSteps::Execute(TISPSettings& store, const std::function<void(TAutoProgramSteps&)>& showModal)
{
    Load(store);
    if (showModal) showModal(*this);
    Store();
}

bool TAutoProgramSteps::AnyChecked() const
{
    for (bool on : checked_)
        if (on) return true;
    return false;
}

TAutoProgramSteps TAutoProgram::LoadSteps()
{
    TAutoProgramSteps steps;
    steps.Load(settings_);
    return steps;
}

void TAutoProgram::AutoProgramOptionsExecute()
{
    TAutoProgramSteps steps;
    steps.Execute(settings_, ShowOptionsDialog);
}

std::string TAutoProgram::CompletionMessage() const
{
    return "Auto Program: Complete (" + std::to_string(devicesProgrammed_) + " devices programmed this session)";
}

void TAutoProgram::AutoProgramExecute()
{
    if (!commands_.Programmer()) return;
    if (BeforeBoard) BeforeBoard();
    TAutoProgramSteps steps = LoadSteps();
    CountDevice();
    if (!steps.AnyChecked()) steps.Execute(settings_, ShowOptionsDialog);
    TBoard board = BoardStart(steps);
    try {
        TRunMark mark(commands_.Runner);
        RunSteps(steps);
    } catch (...) {
        BoardFailed(board, std::current_exception());
        throw;
    }
    commands_.Runner.EndOp(CompletionMessage());
    BoardDone(board, true, {});
}

TAutoProgram::TBoard TAutoProgram::BoardStart(const TAutoProgramSteps& steps)
{
    boardStartMs_ = Clock().Milliseconds();
    flashWritten_ = false;
    static const char* const kNames[TAutoProgramSteps::kCount] = {"reload",  "erase",  "program", "verify",
                                                                  "options", "serial", "run"};
    TBoard board;
    for (int i = 0; i < TAutoProgramSteps::kCount; ++i)
        if (steps.Checked(i)) board.Steps += (board.Steps.empty() ? "" : "+") + std::string(kNames[i]);
    return board;
}

void TAutoProgram::BoardDone(TBoard board, bool ok, const std::string& failure)
{
    board.SerialPlaced = serialPlaced_;
    board.ImageCrc32 = imageCrc32_;
    board.FlashWritten = flashWritten_;
    board.DurationMs = Clock().Milliseconds() - boardStartMs_;
    serialPlaced_.clear();
    imageCrc32_.clear();
    flashWritten_ = false;
    if (OnBoardDone.Empty()) return;
    board.Ok = ok;
    board.Failure = failure;
    try {
        OnBoardDone.Notify(board);
    } catch (const std::exception& e) {
        // A record that cannot be written must not pass unnoticed, nor hide the board's result.
        commands_.Runner.AppendLog(e.what());
    }
}

namespace {

// The line the runner shows for a board's exception, so that a record says what the screen said.
std::string StatusLineOf(std::exception_ptr error, const std::string& hw, bool& verifyFailed)
{
    std::string message;
    try {
        std::rethrow_exception(error);
    } catch (const EAbortOp&) {
        message = "Operation Cancelled by user";
    } catch (const ESerialOpenError&) {
        message = hw + ": Could not open communications port";
    } catch (const ESerialError& e) {
        message = hw + ":Communications Error (" + e.what() + ")";
    } catch (const EISPException& e) {
        message = e.HardwareName().empty() ? std::string(e.what()) : e.HardwareName() + ": " + e.what();
    } catch (const EVerifyError& e) {
        verifyFailed = true;
        message = e.what();
    } catch (const ETargetNotFound& e) {
        message = e.what();
    } catch (const EFirmwareMisMatch&) {
        message = "Firmware Update Required";
    } catch (const std::exception& e) {
        message = std::string("Error: ") + e.what();
    } catch (...) {
        message = "Error: Unknown exception";
    }
    // A status line shows "head!detail" as "head - detail", and nothing after a carriage return.
    message = message.substr(0, message.find('\r'));
    if (const size_t bang = message.find('!'); bang != std::string::npos)
        message = message.substr(0, bang) + " - " + message.substr(bang + 1);
    return message;
}

}  // namespace

void TAutoProgram::BoardFailed(TBoard board, std::exception_ptr error)
{
    const TISPProgrammer* p = commands_.Programmer();
    const std::string line = StatusLineOf(error, p ? p->HardwareName() : std::string(), board.VerifyFailed);
    BoardDone(std::move(board), false, line);
}

void TAutoProgram::RunSteps(const TAutoProgramSteps& steps)
{
    if (!commands_.Programmer()) return;
    Reconnect();
    ReloadStep(steps);
    DeviceSteps(steps);
}

void TAutoProgram::Reconnect()
{
    TCommandContext& ctx = commands_;
    TISPProgrammer* p = ctx.Programmer();
    if (!p) return;
    // A fresh start of the box for every device.
    p->Disconnect();
    p->Connect();
    Clock().Sleep(kStepPauseMs);

    // The run's own start line; each step then sets and clears busy through its own lines.
    ctx.Runner.StartOp("Auto Programming Device");
    ctx.Runner.SetBusy(false);
}

void TAutoProgram::ReloadStep(const TAutoProgramSteps& steps)
{
    if (steps.Checked(TAutoProgramSteps::stReload)) commands::ReloadFlashFile(commands_);
}

void TAutoProgram::DeviceSteps(const TAutoProgramSteps& steps)
{
    TCommandContext& ctx = commands_;
    using S = TAutoProgramSteps;
    auto step = [&](int which, void (*command)(TCommandContext&)) {
        Clock().Sleep(kStepPauseMs);
        if (steps.Checked(which)) command(ctx);
    };
    if (BeforeDeviceSteps) BeforeDeviceSteps();
    // The last run's serial step could not place a number past the chosen size: the image still
    // holds the last board's number, and this board must not get it again.
    if (serial_.rgSerialNumMode == TSerialNum::smStoreInFlash && steps.Checked(S::stIncrementSerial) && !serial_.Fits())
        throw EISPException(serial_.RefusalLine(ctx.Project.Flash));
    if (serial_.rgSerialNumMode == TSerialNum::smStoreInFlash && steps.Checked(S::stReload)) {
        // The reload brought back the file as saved, without a number: this board's own goes
        // in again before it is programmed, or the board would carry none.
        if (const std::string refusal = serial_.RefusalLine(ctx.Project.Flash); !refusal.empty())
            throw EISPException(refusal);
        {
            THexList::TBulkChange bulk(ctx.Project.Flash);
            serial_.PlaceSerial(ctx.Project.Flash);
        }
        if (ctx.ShowFlashPage) ctx.ShowFlashPage();
    }
    if (serial_.rgSerialNumMode == TSerialNum::smStoreInFlash && serial_.LocationValid(ctx.Project.Flash)) {
        // The record names the number the programmed image carries, read back from it: upper-case
        // hex, two digits per byte, as the image holds it.
        serialPlaced_.clear();
        for (int i = 0; i < serial_.SizeInBytes(); ++i)
            serialPlaced_ += hex::Hex2(ctx.Project.Flash.GetValue(serial_.heSerialLocation + static_cast<uint32_t>(i)));
    }
    // The serial step changes the image afterwards for the next board: the record names this one's.
    imageCrc32_ = DigestText(ChecksumByName("CRC-32")->Compute(ctx.Project.Flash.Values()));
    step(S::stErase, commands::Erase);
    if (steps.Checked(S::stProgramFlash)) flashWritten_ = true;
    step(S::stProgramFlash, commands::ProgramFlash);
    step(S::stVerify, commands::VerifyFlash);
    step(S::stProgramOptions, commands::ProgramOptions);
    Clock().Sleep(kStepPauseMs);
    if (steps.Checked(S::stIncrementSerial)) {
        {
            THexList::TBulkChange bulk(ctx.Project.Flash);
            serial_.Increment();
            serial_.Button2Click(ctx.Project.Flash);
        }
        if (ctx.ShowFlashPage) ctx.ShowFlashPage();
    }
    step(S::stRun, commands::RunTarget);
    Clock().Sleep(kStepPauseMs);
}

void TAutoProgram::PlugAndProgram(IPlugWindow& window)
{
    TCommandContext& ctx = commands_;
    TOperationRunner& runner = ctx.Runner;
    // Whatever way the mode ends, later operations time themselves again.
    struct TClearMark {
        TOperationRunner& r;
        ~TClearMark() { r.SetAutoRunMark(false); }
    } clearMark{runner};
    auto present = [&]() -> uint8_t {
        TISPProgrammer* p = ctx.Programmer();
        return p ? p->TargetPresent() : 0;
    };
    window.Show();
    window.SetCancelled(false);
    bool boardError = false;
    while (!window.Cancelled()) {
        try {
            if (present() == 1 && !window.Cancelled()) {
                // A board left attached from before is never programmed twice.
                window.SetMessage("Unplug ISP cable to program a target");
                while (!window.Cancelled() && present() == 1) window.Pump();
            }
            window.SetMessage("Waiting for Target Board");
            while (!window.Cancelled() && present() == 0) window.Pump();
        } catch (...) {
            // The box went away while the loop waited: its own failure line, then the mode's.
            window.Hide();
            runner.AppException(std::current_exception());
            runner.FailOp("Plug and Prog: Aborted due to error!");
            return;
        }
        if (window.Cancelled()) {
            runner.EndOp("Plug and Prog: Aborted!");
            window.Hide();
            return;
        }
        if (BeforeBoard) {
            try {
                BeforeBoard();
            } catch (...) {
                window.Hide();
                throw;
            }
        }
        runner.SetAutoRunMark(true);
        runner.StartOp("Auto Programming Device");
        window.SetMessage("Programming in progress");
        window.Pump();
        TAutoProgramSteps steps = LoadSteps();
        if (!steps.AnyChecked()) steps.Execute(settings_, ShowOptionsDialog);
        TBoard board = BoardStart(steps);
        std::exception_ptr failure;
        // A failing board ends the mode after its line; its own exception is not reported.
        auto guarded = [&](const std::function<void()>& part) {
            if (boardError) return;
            try {
                part();
            } catch (...) {
                failure = std::current_exception();
                window.Hide();
                boardError = true;
                window.SetCancelled(true);
            }
        };
        guarded([&] { Reconnect(); });
        // The reload lies outside: its failure leaves the mode through the application's handler.
        if (!boardError) {
            try {
                ReloadStep(steps);
            } catch (...) {
                window.Hide();
                throw;
            }
        }
        guarded([&] { DeviceSteps(steps); });
        CountDevice();
        runner.SetAutoRunMark(false);
        if (boardError)
            runner.FailOp("Plug and Prog: Aborted due to error!");
        else
            runner.EndOp(CompletionMessage());
        if (failure)
            BoardFailed(board, failure);
        else
            BoardDone(board, true, {});
    }
    window.Hide();
}
