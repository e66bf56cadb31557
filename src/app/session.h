#pragma once
// One application session: the settings store, the project with its Flash image, the option
// editor's model, the serial-number model, the current programmer, the command context and the
// Auto Program state, with the start-up resolution, the device switch, the Flash file load and
// the environment save. The desktop window, zemprix-cli and every gang slot each run one, and
// each answers the session through one IShellView.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/autoprogram.h"
#include "app/commands.h"
#include "app/linkportsetup.h"
#include "app/runner.h"
#include "app/startup.h"
#include "app/worker.h"
#include "devices/optioneditor.h"
#include "image/hexfile.h"
#include "image/hexlist.h"
#include "image/serialnum.h"
#include "store/settings.h"
#include "link/hardware.h"
#include "link/linkcontext.h"
#include "link/portdiagnosis.h"

class TISPProgrammer;
class ILinkHost;
struct TSetupChoice;
struct TProgrammerReport;

// Everything a shell shows or answers for the session. The dialogs are pure: a shell that
// forgets one does not compile. The operation runner's status, lamp, progress, busy controls and
// pump come from IOperationView.
class IShellView : public IOperationView {
public:
    // The port setup dialog: true on OK with `index` set to the chosen entry.
    virtual bool RunSetupDialog(const std::vector<std::string>& ports, int& index) = 0;
    // The advanced port dialog's port list, which the setup dialog shares.
    virtual void ClearAdvancedPortList() = 0;
    virtual void AddAdvancedPort(const std::string& name) = 0;
    // The programmer information dialog and the text report a link's report is made for.
    virtual void ShowProgrammerInformation(const std::string& softwareVersion, const std::string& firmware,
                                           const std::vector<std::string>& lines) = 0;
    virtual void ShowTextReport(const std::vector<std::string>& lines) = 0;
    // The Auto Program options dialog, modal; OK is its only way out.
    virtual void ShowAutoProgramOptions(TAutoProgramSteps& steps) = 0;
    // An information box with an OK button (the serial-number dialog's messages).
    virtual void ShowMessage(const std::string& text) = 0;

    // Views of the session's models; a shell without the view ignores them. The views repaint
    // on their own when the image announces a change.
    virtual void ScrollViewHome() {}
    virtual void ShowOptionsPage() {}
    virtual void ShowFlashPage() {}
    virtual void ShowFileName(const std::string& name) { (void)name; }
};

// A shell that shows nothing and cancels every dialog: tests and headless runs.
class TNullShellView : public IShellView {
public:
    bool RunSetupDialog(const std::vector<std::string>&, int&) override { return false; }
    void ClearAdvancedPortList() override {}
    void AddAdvancedPort(const std::string&) override {}
    void ShowProgrammerInformation(const std::string&, const std::string&, const std::vector<std::string>&) override {}
    void ShowTextReport(const std::vector<std::string>&) override {}
    void ShowAutoProgramOptions(TAutoProgramSteps&) override {}
    void ShowMessage(const std::string&) override {}
};

class TAppSession {
public:
    static constexpr int kClockRows = kClockRangeCount;
    static constexpr uint8_t kDefaultOptionByte = 0x06;

    // `backend` may be null: the session then runs on defaults and saves nothing.
    TAppSession(IShellView& view, ISettingsBackend* backend);
    // Frees the programmer after detaching it from the runner; does not save anything.
    ~TAppSession();
    TAppSession(const TAppSession&) = delete;
    TAppSession& operator=(const TAppSession&) = delete;

    IShellView& View() { return view_; }
    TISPSettings& Settings() { return settings_; }
    TOperationRunner& Runner() { return runner_; }
    TTarvoProject& Project() { return project_; }
    TBaseFuseForm& Options() { return options_; }
    TSerialNum& Serial() { return serial_; }
    TCommandContext& Commands() { return commands_; }
    TAutoProgram& AutoProgram() { return autoProgram_; }
    TISPProgrammer* Programmer() const { return programmer_.get(); }
    // What this session's links share: link values, port unit, serial factory, trace.
    TLinkContext& LinkContext() { return link_; }
    // The hardware kinds this session offers (the built-in table unless given another, which
    // must outlive the session).
    const THardwareTable& Hardware() const { return *hardware_; }
    void SetHardwareTable(const THardwareTable& table) { hardware_ = &table; }
    const TDevice* Device() const { return project_.Device(); }
    // What the port dialogs show and the choices they ask for, applied to this session's link.
    IPortSetup& PortSetup() { return portSetup_; }
    // The machine whose ports explain a port that cannot be opened (tests give a prepared tree);
    // the machine itself by default.
    void SetSystemView(TSystemView view) { systemView_ = std::move(view); }
    // The lines (as `zemprix-cli doctor` writes them) that explain why the link's port could not
    // be opened; the runner writes them after the failure line.
    std::vector<std::string> DiagnosePortFailure(bool parallel) const;

    // Told when a device switch has replaced the programmer and the device (before it connects),
    // so that selectors, pages and editors follow.
    TObservers<> DeviceSwitched;

    // Start-up: loads the global settings group from the store.
    void LoadEnvironment();
    // The hardware to start with: `given` when not empty, else the remembered one; a name the
    // hardware table does not know becomes its first entry.
    std::string StartupHardware(const std::string& given = {}) const;
    // The remembered device, else the first device the hardware can program.
    std::string StartupDevice(const std::string& hardware) const;
    // The remembered clock range (the last one when none or -1 is stored) and option byte.
    int StoredClockRow() const;
    uint8_t StoredOptionByte() const;

    // Rebuilds the programmer for `hardware`, binds it and the project to `device` (an unknown
    // name becomes the hardware's first device), sets the clock range and option byte from the
    // store and connects. Starts an operation it does not end: the caller ends it. A failing
    // Connect raises after everything else is in place. `readOptionByte` false keeps the stored
    // option byte instead of the device's (a script programs the same byte on every board).
    void SwitchDevice(const std::string& device, const std::string& hardware, bool readOptionByte = true);
    // SwitchDevice for a loop that waits for its boards (the option byte stays the stored one):
    // with no target on the box, a refused timing write is no failure.
    void SwitchDeviceAwaitingBoard(const std::string& device, const std::string& hardware);
    // SwitchDevice without connecting: the programmer is built and bound, the port is left alone.
    // What needs only the settings (saving or loading a project) works with no box attached.
    void BindDevice(const std::string& device, const std::string& hardware);

    // The desktop start-up once the window is on screen: reports invalid switches, loads the
    // environment, switches to the remembered (or given) hardware and device, reloads the link's
    // settings, loads the command line's file and ends with Auto Program or the completion line.
    // Raises like SwitchDevice; run it through Run.
    void InitialiseIsp(const TStartupSwitches& switches);

    // Loads a Flash file into the image with the application's status lines (`quiet` leaves out
    // the success line, never a failure) and copies the option byte into its last byte.
    struct TLoadResult {
        bool ok = false;
        int format = 0;     // the detected format id, 0 or less when none
        std::string error;  // why it failed, for a script
        TChecksumReport checksums;  // records loaded although their checksum is wrong
    };
    // A file with wrong record checksums loads with a warning on its line, or with
    // Commands().StrictChecksums fails to load.
    TLoadResult LoadFlashFile(const std::string& path, bool quiet = false);

    // Stores the clock range, device and hardware, disconnects (the link stores its settings)
    // and saves the global group.
    void SaveEnvironment();

    // Runs one command through the runner's exception handler and tells how it ended. While a
    // command runs (also between the steps of an Auto Program run, when the busy flag is clear
    // by design) no second one starts: it is refused without running.
    TOutcome Run(const std::function<void()>& command);
    bool CommandRunning() const { return running_ > 0; }
    // The window may close only while nothing runs.
    bool CanClose() const { return running_ == 0 && !runner_.Busy(); }

    // Run on the session's worker thread: returns at once, and `done` is called on the worker
    // with the outcome once the command ended. The window's thread never waits on the link.
    void Start(std::function<void()> command, std::function<void(TOutcome)> done);
    TSessionWorker& Worker() { return worker_; }
    // While a long command waits (plug-and-program between two polls), commands posted to the
    // worker run between its polls instead of being refused.
    void AllowCommandsBetweenPolls(bool allow) { betweenPolls_ = allow; }
    bool CommandsBetweenPolls() const { return betweenPolls_; }

    // The device node the session's serial box is on ("COMn" resolved, links such as
    // /dev/serial/by-id followed); empty while it has no serial box.
    std::string SerialDevice() const;
    // The same for a port name as a user gives it.
    static std::string SerialDeviceOf(const std::string& portName);
    // Closes the box's port for another session to open; the next command connects again. A port
    // that will not close is reported by whoever opens it next.
    void LetGoOfPort() noexcept;

private:
    class THost;
    void ReleaseProgrammer();
    // The programmer's port setup and information report, shown through the view.
    bool ChooseSetupPort(const TSetupChoice& choice, int& index);
    void ShowReport(const std::string& softwareVersion, const TProgrammerReport& report);

    IShellView& view_;
    // Before the programmer, which uses it until it is freed.
    TLinkContext link_;
    const THardwareTable* hardware_ = &BuiltInHardware();
    TISPSettings settings_;
    TOperationRunner runner_;
    TTarvoProject project_;
    TBaseFuseForm options_;
    TSerialNum serial_;
    TCommandContext commands_;
    TAutoProgram autoProgram_;
    TLinkPortSetup portSetup_;
    std::unique_ptr<THost> host_;
    std::unique_ptr<TISPProgrammer> programmer_;
    std::atomic<int> running_{0};
    std::atomic<bool> betweenPolls_{false};
    std::optional<TSystemView> systemView_;
    // Last: its thread ends (after the job in progress) before anything it uses goes.
    TSessionWorker worker_;
};
