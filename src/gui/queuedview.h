#pragma once
// The session's view as its worker thread sees it: every call is handed to the window's thread
// through the window's call queue, in order. Questions (dialogs, the firmware offer) wait for the
// answer; everything else is posted and the worker goes on. Progress is folded: a worker that
// reports each byte posts one call until the window has shown the last figures.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "app/autoprogram.h"
#include "app/session.h"
#include "app/worker.h"

// Progress reported for every byte is folded: one call at a time waits in the window's queue, and
// it shows the latest figures when the window gets to it.
class TFoldedProgress {
public:
    using TShow = std::function<void(int32_t position, int32_t maximum, const std::string& caption)>;
    explicit TFoldedProgress(TShow show) : show_(std::move(show)) {}
    void Report(TCallQueue& queue, int32_t position, int32_t maximum, const std::string& caption);

private:
    TShow show_;
    std::mutex mutex_;
    bool queued_ = false;
    int32_t position_ = 0, maximum_ = 1;
    std::string caption_;
};

class TQueuedShellView final : public IShellView {
public:
    TQueuedShellView(IShellView& window, TCallQueue& windowQueue)
        : w_(window), q_(windowQueue), progress_([this](int32_t p, int32_t m, const std::string& c) { w_.ShowProgress(p, m, c); })
    {
    }

    void ShowStatus(TStatusKind kind, const std::string& text) override;
    void AppendLog(const std::string& line) override;
    void SetHourglass(bool on) override;
    void Beep() override;
    void SetBlinkTimer(bool running) override;
    void ShowProgress(int32_t position, int32_t maximum, const std::string& caption) override;
    void SetSelectorsEnabled(bool enabled) override;
    void SetResetCaption(const std::string& caption) override;
    // The worker has no events to pump: the window's thread turns its own loop.
    void PumpMessages() override;
    void RepaintStatusBar() override;
    void PopUp(const std::string& message) override;
    void ShowErrorBox(const std::string& message) override;
    bool OfferFirmwareUpdate() override;
    void ShowFirmwareUpdateFailed() override;
    void RecordException(const std::string& message) override;

    bool RunSetupDialog(const std::vector<std::string>& ports, int& index) override;
    void ClearAdvancedPortList() override;
    void AddAdvancedPort(const std::string& name) override;
    void ShowProgrammerInformation(const std::string& softwareVersion, const std::string& firmware,
                                   const std::vector<std::string>& lines) override;
    void ShowTextReport(const std::vector<std::string>& lines) override;
    void ShowAutoProgramOptions(TAutoProgramSteps& steps) override;
    void ShowMessage(const std::string& text) override;
    void ScrollViewHome() override;
    void ShowOptionsPage() override;
    void ShowFlashPage() override;
    void ShowFileName(const std::string& name) override;

private:
    // On the window's thread: at once; elsewhere queued (Post) or waited for (Ask).
    template <typename F>
    void Tell(F&& call);
    template <typename F>
    void Ask(F&& call);

    IShellView& w_;
    TCallQueue& q_;
    TFoldedProgress progress_;
};

// The plug-and-program window as the loop on the worker sees it: its messages and showing are
// queued to the window, Cancel is a flag, and a poll's pause runs the commands the window posted
// meanwhile (the window's commands stay available while the loop waits for a board).
class TQueuedPlugWindow final : public IPlugWindow {
public:
    TQueuedPlugWindow(IPlugWindow& window, TCallQueue& windowQueue, TAppSession& session)
        : w_(window), q_(windowQueue), s_(session)
    {
    }
    void Show() override;
    void Hide() override;
    void SetMessage(const std::string& text) override;
    bool Cancelled() const override { return w_.Cancelled(); }
    void SetCancelled(bool cancelled) override { w_.SetCancelled(cancelled); }
    void Pump() override;

private:
    IPlugWindow& w_;
    TCallQueue& q_;
    TAppSession& s_;
};
