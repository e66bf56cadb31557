#pragma once
// The operation runner: one device operation at a time, bracketed by StartOp/EndOp or FailOp,
// with the status line, lamp, progress, abort request and the single exception handler. It
// drives an IOperationView, which the GUI implements with widgets and the CLI with text.
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TISPProgrammer;

// What a status line reports; the status bar's lamp and the CLI's colours and JSON kinds follow it.
enum TStatusKind : uint8_t { sk_none = 0, sk_completed = 1, sk_started = 2, sk_failed = 4 };

// How a command ended, for whoever must act on it (an exit status, the plug-and-prog loop, a
// gang summary) without reading status texts.
enum class TOutcome : uint8_t {
    Completed,
    Failed,          // a failure line ended it
    VerifyFailed,    // the device differs from the image
    Cancelled,       // the user aborted or cancelled a dialog
    FirmwareUpdate,  // the box needs a firmware update
    Refused,         // another command was still running; nothing was done
};

class IOperationView {
public:
    virtual ~IOperationView() = default;
    // The status bar's line and what it reports.
    virtual void ShowStatus(TStatusKind kind, const std::string& text)
    {
        (void)kind;
        (void)text;
    }
    virtual void AppendLog(const std::string& line) { (void)line; }
    virtual void SetHourglass(bool on) { (void)on; }
    virtual void Beep() {}
    virtual void SetBlinkTimer(bool running) { (void)running; }
    virtual void ShowProgress(int32_t position, int32_t maximum, const std::string& caption)
    {
        (void)position;
        (void)maximum;
        (void)caption;
    }
    // Device selector, programmer selector and the Setup button.
    virtual void SetSelectorsEnabled(bool enabled) { (void)enabled; }
    virtual void SetResetCaption(const std::string& caption) { (void)caption; }
    virtual void PumpMessages() {}
    virtual void RepaintStatusBar() {}
    // The information box of "Pop Up Warnings".
    virtual void PopUp(const std::string& message) { (void)message; }
    // The platform's standard error box for an unexpected exception.
    virtual void ShowErrorBox(const std::string& message) { (void)message; }
    // "Firmware Update Required" question; true for OK.
    virtual bool OfferFirmwareUpdate() { return false; }
    virtual void ShowFirmwareUpdateFailed() {}
    // Every exception the handler receives, before anything else happens to it (the desktop
    // application's "Enable LogFile").
    virtual void RecordException(const std::string& message) { (void)message; }
};

class TOperationRunner {
public:
    static constexpr const char* kFirmwareQuestion =
        "Your ISP requires a firmware update to continue, please click OK to start the update wizard";
    static constexpr const char* kFirmwareFailed =
        "Firmware update failed.  Due to a software version mismatch.  Please re-install the ISP "
        "software or contact Tarvo Support for advice.";

    explicit TOperationRunner(IOperationView& view);

    void SetStatusMessage(const std::string& message, TStatusKind kind);
    void StartOp(const std::string& message);
    void StartProgressOp(const std::string& message);
    void EndOp(const std::string& message);
    void FailOp(const std::string& message);
    // The programmer's progress callback. Raises EAbortOp once an abort was confirmed.
    void OperationProgress(int32_t position, int32_t total);
    bool CanOperate() const { return !busy_ && Programmer() != nullptr; }
    // The single exception handler: maps the exception to a failure line and tells the outcome.
    TOutcome AppException(std::exception_ptr error);
    // Runs `command`; whatever escapes it goes to AppException. Completed when nothing escaped
    // and no failure line was written meanwhile.
    TOutcome Run(const std::function<void()>& command);

    void AppendLog(const std::string& line);  // a raw line: no kind, prefix or time
    void RequestAbort() { abortRequest_ = true; }  // the user confirmed "Abort"
    void BlinkTick();                             // the 500 ms blink timer

    // The runner never owns the programmer: once its owner frees it, Programmer() is null.
    void SetProgrammer(TISPProgrammer* programmer);
    TISPProgrammer* Programmer() const { return lifetime_.expired() ? nullptr : programmer_; }
    void SetFirmwareUpdate(std::function<void()> command) { firmwareUpdate_ = std::move(command); }
    // The lines that explain a port that could not be opened (serial, or parallel when true),
    // written after the failure line.
    void SetPortDiagnosis(std::function<std::vector<std::string>(bool parallel)> diagnose)
    {
        portDiagnosis_ = std::move(diagnose);
    }

    bool Busy() const { return busy_; }
    void SetBusy(bool busy) { busy_ = busy; }
    bool AbortRequested() const { return abortRequest_; }
    bool AutoRunMark() const { return autoRunMark_; }
    void SetAutoRunMark(bool on) { autoRunMark_ = on; }
    uint32_t ElapsedSeconds() const { return elapsedSeconds_; }
    bool PopUpWarnings() const { return popUpWarnings_; }
    void SetPopUpWarnings(bool on) { popUpWarnings_ = on; }
    // The status line as shown (up to the first '!') and its kind; sk_none before the first.
    const std::string& StatusText() const { return statusText_; }
    TStatusKind StatusKind() const { return statusKind_; }
    const std::vector<std::string>& Log() const { return log_; }
    void ClearLog() { log_.clear(); }
    int32_t ProgressPosition() const { return progressPosition_; }
    int32_t ProgressMaximum() const { return progressMaximum_; }
    const std::string& ProgressCaption() const { return progressCaption_; }
    bool BlinkPhase() const { return blinkPhase_; }

    // "MM:SS" of a number of seconds.
    static std::string FormatElapsed(uint32_t seconds);

private:
    void ShowProgress();
    void HandleFirmwareMismatch();
    void ExplainOpenFailure(bool parallel);

    IOperationView& view_;
    TISPProgrammer* programmer_ = nullptr;
    std::weak_ptr<const void> lifetime_;
    std::function<void()> firmwareUpdate_;
    std::function<std::vector<std::string>(bool)> portDiagnosis_;
    // Read by the window's thread while the session's worker runs the operation.
    std::atomic<bool> busy_{false};
    std::atomic<bool> abortRequest_{false};
    uint32_t failureLines_ = 0;
    int64_t startTick_ = 0;  // 64-bit milliseconds: no wrap after 49.7 days of uptime
    bool timed_ = false;  // a start tick was recorded (the tick itself may be 0)
    uint32_t elapsedSeconds_ = 0;
    bool autoRunMark_ = false;
    bool popUpWarnings_ = false;
    std::string statusText_;
    TStatusKind statusKind_ = sk_none;
    std::vector<std::string> log_;
    int32_t progressPosition_ = 0;
    int32_t progressMaximum_ = 1;
    std::string progressCaption_ = "Ready...";
    bool blinkPhase_ = false;
    uint32_t blinkCounter_ = 0;
};
