// The commands that talk to the programmer box. They run the application's own command
// sequences (app/commands, app/autoprogram) through the operation runner with the text view, so
// the CLI prints the same status lines as the GUI's log.
#include <memory>
#include <sstream>

#include "app/autoprogram.h"
#include "app/commands.h"
#include "cli.h"
#include "devices/devices.h"
#include "devices/options.h"
#include "image/hexfile.h"
#include "image/hexlist.h"
#include "image/hextext.h"
#include "image/serialnum.h"
#include "interrupt.h"
#include "link/hardware.h"
#include "link/isperrors.h"
#include "link/linkhost.h"
#include "link/programmer.h"
#include "link/qtserialport.h"
#include "link/serialport.h"
#include "lpt/tiraltimer.h"
#include "sim/lptchipset.h"

namespace {

// What the link opens: its reports become command data, its raw lines go to the status log,
// and there is no one to answer a setup dialog.
class TCliHost final : public ILinkHost {
public:
    explicit TCliHost(TCliContext& c) : c_(c) {}
    void AppendLog(const std::string& line) override { c_.Runner().AppendLog(line); }
    void ShowProgrammerInformation(const std::string& softwareVersion, const std::string& firmware,
                                   const std::vector<std::string>& lines) override
    {
        Report({"ZEMPRIX Version: " + softwareVersion, "COP8 Firmware Revision: " + firmware}, lines);
    }
    void ShowTextReport(const std::vector<std::string>& lines) override { Report({}, lines); }
    // The report reached the box when it could ask for the programmer's id.
    bool ReportReachedBox() const { return reached_; }

private:
    void Report(const std::vector<std::string>& head, const std::vector<std::string>& lines)
    {
        for (const auto& l : lines) reached_ = reached_ || l.rfind("Programmer ID: ", 0) == 0;
        std::vector<std::string> all = head;
        all.insert(all.end(), lines.begin(), lines.end());
        for (const auto& l : all) c_.Data(l);
        c_.Result().SetRaw("report", JsonStringArray(all));
    }
    TCliContext& c_;
    bool reached_ = false;
};

// One programmer session: the project image, the option editor's model and the programmer, set
// up as the application's device switch sets them up.
class TSession {
public:
    explicit TSession(TCliContext& c)
        : c_(c), host_(c), ctx_(c.Runner(), project_, options_), autoProgram_(ctx_, serial_, c.Settings())
    {
        ctx_.SoftwareVersion = ZEMPRIX_FILE_VERSION;
        project_.SetDevice(&c.Device());
        options_.BindImage(&project_.Flash);
        options_.SelectPGMTIM(c.ClockRow());
        options_.PGMTIMChange();
        options_.SetOptions(c.OptionByte());
    }
    ~TSession()
    {
        // Store what the application stores at exit: the link's settings (through Disconnect),
        // the device, the hardware and the clock range.
        if (!programmer_) return;
        try {
            programmer_->Disconnect();
            TISPSettings& s = c_.Settings();
            s.Put("ENVIRONMENT", "LASTDEVICE", kGlobalGroup, c_.Device().Name());
            s.Put("ENVIRONMENT", "LASTHARDWARE", kGlobalGroup, c_.HardwareName());
            s.Put("TimeSelected", "Time", kGlobalGroup, c_.ClockRow());
            s.Save(TISPSettings::kGlobalKey, kGlobalGroup);
        } catch (const std::exception& e) {
            c_.View().AppendLog(std::string("Settings not saved: ") + e.what());
        }
    }

    // Builds the programmer for the hardware and connects ("ISP Initializing" ... as at start-up).
    void Open()
    {
        // The parallel link logs the timer figures after connecting: measure them meanwhile.
        if (c_.HardwareName() == kHardwareLpt) StartTiralTimer();
        InstallQtSerialPort();
        RegisterSimPortBackends();
        ApplyPortOption();
        programmer_ = CreateProgrammer(c_.HardwareIndex());
        programmer_->SetSettingsStore(&c_.Settings());
        programmer_->SetHost(&host_);
        programmer_->SetDevice(&c_.Device());
        programmer_->SetOnProgress([this](int32_t p, int32_t t) { c_.Runner().OperationProgress(p, t); });
        c_.Runner().SetProgrammer(programmer_.get());
        c_.Runner().StartProgressOp("ISP Initializing");
        programmer_->LoadSettings();
        programmer_->Connect();
        c_.Runner().EndOp("ISP Initialized; Detected Device: ");
    }

    TCommandContext& Commands() { return ctx_; }
    TTarvoProject& Project() { return project_; }
    TBaseFuseForm& Options() { return options_; }
    TAutoProgram& AutoProgram() { return autoProgram_; }
    const TCliHost& Host() const { return host_; }

private:
    // --port (checked against the hardware when the context was resolved): a number chooses the
    // link's port, a device path is opened as it is.
    void ApplyPortOption()
    {
        SetSerialPortOverride(c_.PortPath());
        if (c_.PortNumber() > 0) c_.Settings().Put(c_.HardwareName(), "BASEPORT", kGlobalGroup, c_.PortNumber() - 1);
    }

    TCliContext& c_;
    TCliHost host_;
    TTarvoProject project_;
    TBaseFuseForm options_;
    TSerialNum serial_;
    TCommandContext ctx_;
    TAutoProgram autoProgram_;
    std::unique_ptr<TISPProgrammer> programmer_;
};

// Runs `body` in a connected session. A failure is reported before the session (and with it
// the programmer the failure line names) goes away.
template <typename F>
int WithSession(TCliContext& c, F body)
{
    InstallInterruptHandlers();
    TSession session(c);
    try {
        session.Open();
        return body(session);
    } catch (...) {
        return c.ReportFailure(std::current_exception());
    }
}

int LoadInto(TCliContext& c, TSession& s, const std::string& file)
{
    if (!c.LoadFlashFile(file, s.Project().Flash)) return kExitFailed;
    s.Project().Flash.SetFileName(file);
    return kExitOk;
}

int Info(TCliContext& c)
{
    return WithSession(c, [&](TSession& s) -> int {
        commands::Information(s.Commands());
        if (s.Host().ReportReachedBox()) return kExitOk;
        // The report itself ends "complete" with what it could gather; a script must still see
        // that the box was not reached.
        const std::string why = "The programmer box did not answer the information report";
        c.View().AppendLog(why);
        c.Result().Set("error", why);
        return kExitFailed;
    });
}

int Erase(TCliContext& c)
{
    return WithSession(c, [&](TSession& s) -> int {
        commands::Erase(s.Commands());
        return kExitOk;
    });
}

int Program(TCliContext& c)
{
    return WithSession(c, [&](TSession& s) -> int {
        if (int code = LoadInto(c, s, c.Options().args[0])) return code;
        commands::ProgramFlash(s.Commands());
        return c.View().LastKind() == "2" ? kExitFailed : kExitOk;  // "Flash Buffer is Empty"
    });
}

int Verify(TCliContext& c)
{
    return WithSession(c, [&](TSession& s) -> int {
        if (int code = LoadInto(c, s, c.Options().args[0])) return code;
        commands::VerifyFlash(s.Commands());
        return kExitOk;
    });
}

int Read(TCliContext& c)
{
    return WithSession(c, [&](TSession& s) -> int {
        commands::ReadFlash(s.Commands());
        const std::string& file = c.Options().args[0];
        c.Runner().StartOp("Flash: Saving File");
        if (TFileLoader::SaveFile(file, s.Project().Flash, c.Options().format) != 0) {
            c.Runner().FailOp("Flash: File not saved (" + file + ")");
            return kExitFailed;
        }
        c.Runner().EndOp("Flash: File Saved (" + file + ")");
        c.Result().Set("file", file);
        return kExitOk;
    });
}

int ReadOptions(TCliContext& c)
{
    return WithSession(c, [&](TSession& s) -> int {
        commands::ReadOptions(s.Commands());
        const uint8_t value = s.Options().GetOptions();
        c.Data("Option byte: " + s.Options().Label5());
        c.Result().Set("optionByte", hex::Hex2(value));
        return kExitOk;
    });
}

int WriteOptions(TCliContext& c)
{
    const std::string& text = c.Options().args[0];
    if (text.empty() || text.size() > 2 || !hex::IsHexDigit(text[0]) || !hex::IsHexDigit(text.back()))
        throw TUsageError{"write-options takes a byte in hex (00 .. FF), not \"" + text + "\""};
    const uint8_t value = static_cast<uint8_t>(hex::DWord(hex::ToUpper(text)));
    return WithSession(c, [&](TSession& s) -> int {
        s.Options().SetOptions(value);
        commands::ProgramOptions(s.Commands());
        c.Result().Set("optionByte", hex::Hex2(value));
        return kExitOk;
    });
}

int ReadTiming(TCliContext& c)
{
    return WithSession(c, [&](TSession& s) -> int {
        commands::ReadDeviceTime(s.Commands());
        const std::string& text = s.Options().Label4();
        const int row = s.Options().PGMTIM();
        c.Data("Timing: " + text);
        if (row >= 0) c.Data("Clock range: " + std::to_string(row) + " (" + kClockRanges[row].Text + ")");
        c.Result().Set("timing", text);
        c.Result().Set("clockRow", row);
        return kExitOk;
    });
}

int WriteTiming(TCliContext& c)
{
    return WithSession(c, [&](TSession& s) -> int {
        commands::WriteDeviceTime(s.Commands());
        c.Result().Set("timing", s.Options().Label4());
        return kExitOk;
    });
}

int RunTarget(TCliContext& c)
{
    return WithSession(c, [&](TSession& s) -> int {
        commands::Run(s.Commands());
        return kExitOk;
    });
}

int Auto(TCliContext& c)
{
    if (!c.Options().stepsGiven) throw TUsageError{"auto needs --steps (" + [] {
        std::string all;
        for (const auto& s : kAutoSteps) all += (all.empty() ? "" : ",") + s;
        return all;
    }() + ")"};
    return WithSession(c, [&](TSession& s) -> int {
        const std::string& file = c.Options().args[0];
        if (int code = LoadInto(c, s, file)) return code;
        s.Commands().CommandLineFile = file;
        // The steps become the application's Auto Program selection.
        for (int i = 0; i < TAutoProgramSteps::kCount; ++i) {
            bool on = false;
            for (const auto& name : c.Options().steps) on = on || name == kAutoSteps[static_cast<size_t>(i)];
            c.Settings().Put(TAutoProgramSteps::kSection, std::to_string(i), kGlobalGroup, on);
        }
        s.AutoProgram().AutoProgramExecute();
        return c.View().LastKind() == "0" ? kExitOk : kExitFailed;
    });
}

}  // namespace

void RegisterDeviceCommands()
{
    struct Row {
        const char* name;
        const char* arguments;
        const char* summary;
        size_t count;
        int (*run)(TCliContext&);
    };
    static const Row kRows[] = {
        {"info", "", "show the programmer's information report", 0, Info},
        {"erase", "", "erase the device's Flash", 0, Erase},
        {"program", "FILE", "load FILE and program it with the option byte", 1, Program},
        {"verify", "FILE", "load FILE and verify the device against it (exit 3 on a mismatch)", 1, Verify},
        {"read", "FILE", "read the device's Flash and save it to FILE in --format", 1, Read},
        {"read-options", "", "read the option byte", 0, ReadOptions},
        {"write-options", "HH", "write the option byte HH", 1, WriteOptions},
        {"read-timing", "", "read the programming timing", 0, ReadTiming},
        {"write-timing", "", "write the timing of the --clock row", 0, WriteTiming},
        {"run", "", "set the FLEX bit and release the target to run", 0, RunTarget},
        {"auto", "FILE", "auto-program FILE with the --steps given", 1, Auto},
    };
    for (const Row& r : kRows) RegisterCommand({r.name, r.arguments, r.summary, r.count, r.run});
}
