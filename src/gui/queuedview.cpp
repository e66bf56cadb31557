#include "gui/queuedview.h"

template <typename F>
void TQueuedShellView::Tell(F&& call)
{
    if (q_.OnOwner())
        call();
    else
        q_.Post(std::forward<F>(call));
}

template <typename F>
void TQueuedShellView::Ask(F&& call)
{
    // A closed queue (the window is going) answers nothing: the defaults stand.
    q_.Call(std::forward<F>(call));
}

void TQueuedShellView::ShowStatus(TStatusKind kind, const std::string& text)
{
    Tell([this, kind, text] { w_.ShowStatus(kind, text); });
}

void TQueuedShellView::AppendLog(const std::string& line)
{
    Tell([this, line] { w_.AppendLog(line); });
}

void TQueuedShellView::SetHourglass(bool on)
{
    Tell([this, on] { w_.SetHourglass(on); });
}

void TQueuedShellView::Beep()
{
    Tell([this] { w_.Beep(); });
}

void TQueuedShellView::SetBlinkTimer(bool running)
{
    Tell([this, running] { w_.SetBlinkTimer(running); });
}

void TFoldedProgress::Report(TCallQueue& queue, int32_t position, int32_t maximum, const std::string& caption)
{
    std::lock_guard<std::mutex> lock(mutex_);
    position_ = position;
    maximum_ = maximum;
    caption_ = caption;
    if (queued_) return;
    queued_ = true;
    queue.Post([this] {
        int32_t p = 0, m = 1;
        std::string c;
        {
            std::lock_guard<std::mutex> shown(mutex_);
            p = position_;
            m = maximum_;
            c = caption_;
            queued_ = false;
        }
        show_(p, m, c);
    });
}

void TQueuedShellView::ShowProgress(int32_t position, int32_t maximum, const std::string& caption)
{
    if (q_.OnOwner()) return w_.ShowProgress(position, maximum, caption);
    progress_.Report(q_, position, maximum, caption);
}

void TQueuedShellView::SetSelectorsEnabled(bool enabled)
{
    Tell([this, enabled] { w_.SetSelectorsEnabled(enabled); });
}

void TQueuedShellView::SetResetCaption(const std::string& caption)
{
    Tell([this, caption] { w_.SetResetCaption(caption); });
}

void TQueuedShellView::PumpMessages()
{
    if (q_.OnOwner()) w_.PumpMessages();
}

void TQueuedShellView::RepaintStatusBar()
{
    Tell([this] { w_.RepaintStatusBar(); });
}

void TQueuedShellView::PopUp(const std::string& message)
{
    Ask([this, &message] { w_.PopUp(message); });
}

void TQueuedShellView::ShowErrorBox(const std::string& message)
{
    Ask([this, &message] { w_.ShowErrorBox(message); });
}

bool TQueuedShellView::OfferFirmwareUpdate()
{
    bool ok = false;
    Ask([this, &ok] { ok = w_.OfferFirmwareUpdate(); });
    return ok;
}

void TQueuedShellView::ShowFirmwareUpdateFailed()
{
    Ask([this] { w_.ShowFirmwareUpdateFailed(); });
}

void TQueuedShellView::RecordException(const std::string& message)
{
    Tell([this, message] { w_.RecordException(message); });
}

bool TQueuedShellView::RunSetupDialog(const std::vector<std::string>& ports, int& index)
{
    bool ok = false;
    Ask([&] { ok = w_.RunSetupDialog(ports, index); });
    return ok;
}

void TQueuedShellView::ClearAdvancedPortList()
{
    Tell([this] { w_.ClearAdvancedPortList(); });
}

void TQueuedShellView::AddAdvancedPort(const std::string& name)
{
    Tell([this, name] { w_.AddAdvancedPort(name); });
}

void TQueuedShellView::ShowProgrammerInformation(const std::string& softwareVersion, const std::string& firmware,
                                                 const std::vector<std::string>& lines)
{
    Ask([&] { w_.ShowProgrammerInformation(softwareVersion, firmware, lines); });
}

void TQueuedShellView::ShowTextReport(const std::vector<std::string>& lines)
{
    Ask([&] { w_.ShowTextReport(lines); });
}

void TQueuedShellView::ShowAutoProgramOptions(TAutoProgramSteps& steps)
{
    Ask([&] { w_.ShowAutoProgramOptions(steps); });
}

void TQueuedShellView::ShowMessage(const std::string& text)
{
    Ask([&] { w_.ShowMessage(text); });
}

void TQueuedShellView::ScrollViewHome()
{
    Tell([this] { w_.ScrollViewHome(); });
}

void TQueuedShellView::ShowOptionsPage()
{
    Tell([this] { w_.ShowOptionsPage(); });
}

void TQueuedShellView::ShowFlashPage()
{
    Tell([this] { w_.ShowFlashPage(); });
}

void TQueuedShellView::ShowFileName(const std::string& name)
{
    Tell([this, name] { w_.ShowFileName(name); });
}

void TQueuedPlugWindow::Show()
{
    q_.Post([this] { w_.Show(); });
}

void TQueuedPlugWindow::Hide()
{
    q_.Post([this] { w_.Hide(); });
}

void TQueuedPlugWindow::SetMessage(const std::string& text)
{
    q_.Post([this, text] { w_.SetMessage(text); });
}

void TQueuedPlugWindow::Pump()
{
    s_.AllowCommandsBetweenPolls(true);
    s_.Worker().RunPendingFor(kPollMs);
    s_.AllowCommandsBetweenPolls(false);
}
