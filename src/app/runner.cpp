#include "app/runner.h"

#include "base/isperrors.h"
#include "link/programmer.h"
#include "base/clock.h"

TOperationRunner::TOperationRunner(IOperationView& view) : view_(view) {}

void TOperationRunner::SetProgrammer(TISPProgrammer* programmer)
{
    programmer_ = programmer;
    lifetime_ = programmer ? programmer->Lifetime() : std::weak_ptr<const void>();
}

std::string TOperationRunner::FormatElapsed(uint32_t seconds)
{
    auto two = [](uint32_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    return two(seconds / 60) + ":" + two(seconds % 60);
}

void TOperationRunner::SetStatusMessage(const std::string& message, TStatusKind kind)
{
    std::string text = message.substr(0, message.find('\r'));
    std::string head = text, detail;
    if (auto bang = text.find('!'); bang != std::string::npos) {
        head = text.substr(0, bang);
        detail = text.substr(bang + 1);
    }
    if (kind == sk_failed) {
        view_.Beep();
        blinkCounter_ = 0;
        blinkPhase_ = true;  // a failure shows red first, then alternates
        view_.SetBlinkTimer(true);
    }
    view_.SetHourglass(kind == sk_started);
    statusText_ = head;
    statusKind_ = kind;
    view_.ShowStatus(statusKind_, statusText_);
    if (!head.empty()) AppendLog(detail.empty() ? head : head + " - " + detail);
    if (kind != sk_failed) view_.PumpMessages();
}

void TOperationRunner::StartOp(const std::string& message)
{
    busy_ = true;
    SetStatusMessage(message, sk_started);
    view_.SetSelectorsEnabled(false);
    view_.PumpMessages();
    abortRequest_ = false;
    view_.SetResetCaption("Abort");
    view_.SetBlinkTimer(false);
    startTick_ = Clock().Milliseconds();
    timed_ = true;
    view_.PumpMessages();
    view_.RepaintStatusBar();
}

void TOperationRunner::StartProgressOp(const std::string& message)
{
    StartOp(message);
    progressPosition_ = 0;
    progressCaption_.clear();
    progressMaximum_ = 1;
    ShowProgress();
    view_.PumpMessages();
}

void TOperationRunner::EndOp(const std::string& message)
{
    view_.SetResetCaption("Reset");
    abortRequest_ = false;
    progressPosition_ = 0;
    progressCaption_ = "Ready...";
    ShowProgress();
    view_.SetSelectorsEnabled(true);
    busy_ = false;
    if (timed_) {
        elapsedSeconds_ += static_cast<uint32_t>((Clock().Milliseconds() - startTick_) / 1000);
        startTick_ = 0;
        timed_ = false;
    }
    if (!message.empty()) SetStatusMessage(message + " - " + FormatElapsed(elapsedSeconds_), sk_completed);
    view_.SetBlinkTimer(true);
    view_.RepaintStatusBar();
    if (!autoRunMark_) elapsedSeconds_ = 0;
}

void TOperationRunner::FailOp(const std::string& message)
{
    EndOp("");
    ++failureLines_;
    SetStatusMessage(message, sk_failed);
    if (popUpWarnings_) view_.PopUp(message);
}

void TOperationRunner::OperationProgress(int32_t position, int32_t total)
{
    // A call with -1 in either place brings no figures, only a chance to pump and abort.
    if (position != -1 && total != -1) {
        if (progressMaximum_ == 1) progressMaximum_ = total;
        progressPosition_ = position;
        ShowProgress();
    }
    view_.PumpMessages();
    if (abortRequest_) throw EAbortOp("Operation Aborted");
}

void TOperationRunner::ShowProgress() { view_.ShowProgress(progressPosition_, progressMaximum_, progressCaption_); }

void TOperationRunner::AppendLog(const std::string& line)
{
    log_.push_back(line);
    view_.AppendLog(line);
}

void TOperationRunner::BlinkTick()
{
    ++blinkCounter_;
    if (statusKind_ == sk_failed) {
        blinkPhase_ = !blinkPhase_;
        view_.RepaintStatusBar();
    }
}

TOutcome TOperationRunner::Run(const std::function<void()>& command)
{
    const uint32_t failuresBefore = failureLines_;
    try {
        command();
        return failureLines_ != failuresBefore ? TOutcome::Failed : TOutcome::Completed;
    } catch (...) {
        return AppException(std::current_exception());
    }
}

TOutcome TOperationRunner::AppException(std::exception_ptr error)
{
    view_.SetSelectorsEnabled(true);
    busy_ = false;
    const TISPProgrammer* programmer = Programmer();
    const std::string hw = programmer ? programmer->HardwareName() : std::string();
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        // a cancelled dialog is not an error worth a log entry
    } catch (const std::exception& e) {
        view_.RecordException(e.what());
    } catch (...) {
        view_.RecordException("Unknown exception");
    }
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        // The silent abort of a cancelled dialog is never reported.
        return TOutcome::Cancelled;
    } catch (const ESerialOpenError& e) {
        // The reason (the port missing, held by another program, no permission) is the line's
        // detail: the status bar keeps its short text, the log and the command line show why.
        const std::string why = e.what();
        FailOp(hw + ": Could not open communications port" + (why.empty() ? "" : "!" + why));
        ExplainOpenFailure(false);
    } catch (const ESerialError& e) {
        FailOp(hw + ":" + "Communications Error (" + e.what() + ")");
    } catch (const EISPException& e) {
        FailOp(e.HardwareName().empty() ? std::string(e.what()) : e.HardwareName() + ": " + e.what());
        if (dynamic_cast<const ELptOpenError*>(&e)) ExplainOpenFailure(true);
    } catch (const EAbortOp&) {
        FailOp("Operation Cancelled by user");
        return TOutcome::Cancelled;
    } catch (const EVerifyError& e) {
        FailOp(e.what());
        return TOutcome::VerifyFailed;
    } catch (const ETargetNotFound& e) {
        FailOp(e.what());
    } catch (const EFirmwareMisMatch&) {
        HandleFirmwareMismatch();
        return TOutcome::FirmwareUpdate;
    } catch (const std::exception& e) {
        view_.ShowErrorBox(e.what());
        FailOp(std::string("Error: ") + e.what());
    } catch (...) {
        view_.ShowErrorBox("Unknown exception");
        FailOp("Error: Unknown exception");
    }
    return TOutcome::Failed;
}

void TOperationRunner::ExplainOpenFailure(bool parallel)
{
    if (!portDiagnosis_) return;
    std::vector<std::string> lines;
    try {
        lines = portDiagnosis_(parallel);
    } catch (const std::exception& e) {
        // The checks only explain: one that cannot read the system must not hide the failure.
        lines = {std::string("Port checks failed: ") + e.what()};
    }
    for (const std::string& line : lines) AppendLog(line);
}

void TOperationRunner::HandleFirmwareMismatch()
{
    FailOp("Firmware Update Required");
    if (!view_.OfferFirmwareUpdate() || !firmwareUpdate_) return;
    try {
        firmwareUpdate_();
    } catch (const EFirmwareMisMatch&) {
        view_.ShowFirmwareUpdateFailed();
        // The update's reconnection never ended its operation: the window goes idle on the
        // failure, not on the orange "Attempting to switch" line and "Abort".
        FailOp("Firmware Update Required");
    } catch (const EISPException&) {
        AppException(std::current_exception());
    }
}
