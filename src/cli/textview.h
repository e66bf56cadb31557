#pragma once
// The CLI's shell view: the status log as lines on stderr, so the CLI prints the same status
// lines as the GUI's log; reports are kept for the command to print as data. Widgets (lamp,
// hourglass, selectors) have no counterpart, and no one answers a dialog.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/session.h"

class TTextView final : public IShellView {
public:
    explicit TTextView(std::ostream& err) : err_(err) {}

    // How the lines reach stderr: as text (all, or failures only) or as one JSON object per line
    // naming the port; and a file that gets every line with a timestamp.
    struct TOutput {
        bool Json = false;
        bool Quiet = false;
        std::string Port;
        std::string LogFile;
        bool Colour = false;  // failure lines red and completion lines green
    };
    // Colour on a terminal unless NO_COLOR is set (to anything but nothing) or the terminal is "dumb".
    static bool ColourWanted(int fd);
    void Configure(TOutput output) { output_ = std::move(output); }
    const TOutput& Output() const { return output_; }
    // In a gang's box: every status line also goes to `statusFd` for the gang's table, and each
    // log-file line names `port`, as the gang's boxes may share one log file.
    void JoinGang(int statusFd, std::string port)
    {
        gangFd_ = statusFd;
        logPort_ = std::move(port);
    }
    // A JSON object line on stderr (--progress json).
    void EmitJson(const std::string& objectText);
    void ShowProgress(int32_t position, int32_t maximum, const std::string& caption) override;

    void AppendLog(const std::string& line) override;
    // A line of the byte trace: shown like a status line but not one, so it takes no status kind,
    // never becomes the gang's last line and does not call the before-line hook.
    void AppendTrace(const std::string& line);
    // Called before each status line: the byte trace writes out what it gathered, so that its
    // lines stand in order with the status lines.
    void SetBeforeLine(std::function<void()> callback) { beforeLine_ = std::move(callback); }
    // The error box of an unexpected exception: the runner's failure line that follows says
    // the same, so it is only kept for the JSON result.
    void ShowErrorBox(const std::string& message) override { errors_.push_back(message); }
    void PopUp(const std::string& message) override { (void)message; }
    // Called wherever the desktop application would pump its messages: the CLI looks for the
    // user's interrupt there.
    void PumpMessages() override
    {
        if (onPump_) onPump_();
    }
    void SetOnPump(std::function<void()> callback) { onPump_ = std::move(callback); }

    bool RunSetupDialog(const std::vector<std::string>&, int&) override { return false; }
    void ClearAdvancedPortList() override {}
    void AddAdvancedPort(const std::string&) override {}
    void ShowProgrammerInformation(const std::string& softwareVersion, const std::string& firmware,
                                   const std::vector<std::string>& lines) override;
    void ShowTextReport(const std::vector<std::string>& lines) override { report_ = lines; }
    // --steps chooses the steps; a run never waits for a dialog.
    void ShowAutoProgramOptions(TAutoProgramSteps&) override {}
    void ShowMessage(const std::string& text) override { AppendLog(text); }
    // The last report a link showed.
    const std::vector<std::string>& Report() const { return report_; }

    // The status text as the status bar would show it, and its kind (sk_none before the first).
    void ShowStatus(TStatusKind kind, const std::string& text) override;
    const std::string& LastStatus() const { return lastStatus_; }
    TStatusKind LastKind() const { return lastKind_; }

    const std::vector<std::string>& Lines() const { return lines_; }
    const std::vector<std::string>& Errors() const { return errors_; }

private:
    void WriteLogFile(const std::string& line);
    void Write(const std::string& line, const char* kind);

    TOutput output_;
    TStatusKind pendingKind_ = sk_none;  // the kind of the status line the runner logs next
    int lastPercent_ = -1;
    std::function<void()> onPump_;
    std::function<void()> beforeLine_;
    int gangFd_ = -1;
    std::string logPort_;
    std::vector<std::string> report_;
    std::ostream& err_;
    std::vector<std::string> lines_;
    std::vector<std::string> errors_;
    std::string lastStatus_;
    TStatusKind lastKind_ = sk_none;
};

// A line as a terminal may show it: control characters (from the box or a file name) and bytes
// that are not UTF-8 become \xHH, so they cannot move the cursor or change the terminal.
std::string PrintableText(const std::string& text);
