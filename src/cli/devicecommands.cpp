// The commands that talk to the programmer box. They run the application's own command
// sequences (app/commands, app/autoprogram) through the operation runner with the text view, so
// the CLI prints the same status lines as the GUI's log.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include <cstdio>
#include <unistd.h>

#include "app/autoprogram.h"
#include "app/boardnumbers.h"
#include "app/commands.h"
#include "app/productionrecord.h"
#include "app/storestation.h"
#include "gang.h"
#include "store/serialpool.h"
#include "app/projects.h"
#include "cli.h"
#include "devices/devices.h"
#include "devices/optioneditor.h"
#include "image/hexfile.h"
#include "image/hexlist.h"
#include "base/hextext.h"
#include "image/serialnum.h"
#include "interrupt.h"
#include "link/hardware.h"
#include "base/clock.h"
#include "base/isperrors.h"
#include "link/linkhost.h"
#include "link/linkcontext.h"
#include "link/portidentity.h"
#include "link/programmer.h"
#include "link/qtserialport.h"
#include "link/serialport.h"
#include "lpt/portio.h"
#include "lpt/tiraltimer.h"

namespace {

// Connects the session's programmer as the application's start-up does, runs `body` and tells
// how it ended. A failure is reported while the programmer it names is still alive; the
// programmer is disconnected at the end and nothing is saved (the CLI's options are for one run).
// `awaitingBoard`: the body waits for its boards, so a box without a target is no failure.
template <typename F>
int WithSession(TCliContext& c, F body, bool awaitingBoard = false)
{
    InstallInterruptHandlers();
    TAppSession& s = c.Session();
    // -v: every byte to and from the box, timestamped, among the status lines.
    TLinkContext& link = s.LinkContext();
    struct TTraceScope {
        TLinkTrace& trace;
        TTraceScope(TLinkTrace& t, TCliContext* c) : trace(t)
        {
            if (c) trace.SetSink([c](const std::string& line) { c->View().AppendTrace("trace " + line); });
        }
        ~TTraceScope() { trace.SetSink(nullptr); }
    } trace(link.Trace(), c.Options().verbose ? &c : nullptr);
    // The parallel link logs the timer figures after connecting: measure them meanwhile.
    if (c.HardwareName() == kHardwareLpt) link.SetTimerMeasurement(MeasureTiralTimerAsync());
    InstallQtSerialPort(link);
    AddExtraPortBackends(link);
    link.SetSerialPortName(c.PortPath());
    if (c.HardwareName() == kHardwareLpt) {
        // A port backend this build does not carry would otherwise read as a missing port.
        const std::string selection = SelectedPortBackendName();
        const std::string name = selection.substr(0, selection.find(':'));
        if (!link.PortBackends().Has(name)) {
            const std::string why = name == "sim"
                ? "ZEMPRIX_PORTIO=sim: the simulated parallel port is in zemprix-cli-sim, not in zemprix-cli"
                : "ZEMPRIX_PORTIO=" + name + ": no such parallel port backend (ppdev, direct or remote)";
            s.Runner().FailOp(c.HardwareName() + ": " + why);
            c.Result().Set("error", why);
            return kExitFailed;
        }
    }

    int code = kExitOk;
    const TOutcome outcome = s.Run([&] {
        try {
            // The option byte is the one given or remembered, not the device's: a script
            // programs the same byte on every board.
            if (awaitingBoard)
                s.SwitchDeviceAwaitingBoard(c.Device().Name(), c.HardwareName());
            else
                s.SwitchDevice(c.Device().Name(), c.HardwareName(), false);
            s.Runner().StartProgressOp("ISP Initializing");
            s.Programmer()->LoadSettings();
            s.Runner().EndOp("ISP Initialized; Detected Device: ");
            code = body(s);
        } catch (const EFirmwareMisMatch& e) {
            // The application answers this with its firmware-update offer; here the reason is shown.
            c.View().AppendLog(c.HardwareName() + ": " + e.what());
            c.Result().Set("error", e.what());
            throw;
        }
    });
    if (TISPProgrammer* p = s.Programmer()) {
        try {
            p->Disconnect();
        } catch (const std::exception& e) {
            c.View().AppendLog(std::string("Disconnect failed: ") + e.what());
        }
    }
    // A failed verification's summary line is also the script's.
    for (const std::string& line : s.Runner().Log())
        if (line.rfind("Verify summary: ", 0) == 0) c.Result().Set("verifySummary", line);
    return outcome == TOutcome::Completed ? code : c.ExitCode(outcome);
}

// The plug-and-program window on a terminal: its messages as lines, Cancel as Ctrl+C or SIGTERM.
class TTextPlugWindow final : public IPlugWindow {
public:
    explicit TTextPlugWindow(TTextView& view) : view_(view) {}
    void Show() override {}
    void Hide() override {}
    void SetMessage(const std::string& text) override
    {
        if (text != shown_) view_.AppendLog("Plug and Program Mode: " + text);
        shown_ = text;
    }
    bool Cancelled() const override { return cancelled_ || InterruptSignal() != 0; }
    void SetCancelled(bool cancelled) override { cancelled_ = cancelled; }
    // Each poll asks the box; a short pause keeps an idle wait from spinning a core.
    void Pump() override { Clock().Sleep(kPollMs); }

private:
    TTextView& view_;
    std::string shown_;
    bool cancelled_ = false;
};

// Before each board: a Flash file written, replaced or removed since it was read is reported, and
// reloaded when --reload-on-change says so or the user at the terminal agrees; a script that did
// not ask keeps programming the image it read. Either way no board gets a mix of both.
void ReloadIfChanged(TCliContext& c, TAppSession& s)
{
    ::ReloadIfChanged(s.Commands(), [&c](const std::string& path) {
        c.View().AppendLog("Flash file changed on disk: " + path);
        bool reload = c.Options().reloadOnChange;
        if (!reload && isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
            std::fprintf(stderr, "Reload it before the next board? [y/N] ");
            std::fflush(stderr);
            char answer[16] = {};
            reload = std::fgets(answer, sizeof answer, stdin) && (answer[0] == 'y' || answer[0] == 'Y');
        }
        if (!reload) c.View().AppendLog("Flash file changed on disk: programming the image read before");
        return reload;
    });
}

int LoadInto(TCliContext& c, const std::string& file)
{
    return c.LoadFlashFile(file) ? kExitOk : kExitFailed;
}

// The store is reached, and its schema checked, before the first board: a line that cannot
// record its boards or hand out numbers stops here with the reason. False after its failure line.
bool OpenStore(TCliContext& c, std::unique_ptr<IProductionStore>& store)
{
    const std::string where = StoreLocation(c, !c.Options().pool.empty());
    if (where.empty()) return true;
    try {
        store = OpenProductionStore(where);
    } catch (const EStoreError& e) {
        c.Runner().FailOp(e.what());
        c.Result().Set("error", e.what());
        return false;
    }
    return true;
}

int Info(TCliContext& c)
{
    return WithSession(c, [&](TAppSession& s) -> int {
        commands::Information(s.Commands());
        const std::vector<std::string>& report = c.View().Report();
        for (const auto& line : report) c.Data(line);
        c.Result().SetRaw("report", JsonStringArray(report));
        // The report reached the box when it could ask for the programmer's id.
        for (const auto& line : report)
            if (line.rfind("Programmer ID: ", 0) == 0) return kExitOk;
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
    return WithSession(c, [&](TAppSession& s) -> int {
        commands::Erase(s.Commands());
        return kExitOk;
    });
}

int Program(TCliContext& c)
{
    if (!c.CheckInputFile(c.Options().args[0])) return kExitFailed;
    std::unique_ptr<IProductionStore> store;
    if (!OpenStore(c, store)) return kExitFailed;
    return WithSession(c, [&](TAppSession& s) -> int {
        if (int code = LoadInto(c, c.Options().args[0])) return code;
        commands::ProgramFlash(s.Commands());
        return kExitOk;
    });
}

int Verify(TCliContext& c)
{
    if (!c.CheckInputFile(c.Options().args[0])) return kExitFailed;
    std::unique_ptr<IProductionStore> store;
    if (!OpenStore(c, store)) return kExitFailed;
    return WithSession(c, [&](TAppSession& s) -> int {
        if (int code = LoadInto(c, c.Options().args[0])) return code;
        commands::VerifyFlash(s.Commands());
        return kExitOk;
    });
}

int Read(TCliContext& c)
{
    if (!c.CheckOutputFile(c.Options().args[0])) return kExitFailed;
    return WithSession(c, [&](TAppSession& s) -> int {
        commands::ReadFlash(s.Commands());
        const std::string& file = c.Options().args[0];
        c.Result().Set("file", file);
        return c.SaveFlashFile(file) ? kExitOk : kExitFailed;
    });
}

int ReadOptions(TCliContext& c)
{
    return WithSession(c, [&](TAppSession& s) -> int {
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
    return WithSession(c, [&](TAppSession& s) -> int {
        s.Options().SetOptions(value);
        commands::ProgramOptions(s.Commands());
        c.Result().Set("optionByte", hex::Hex2(value));
        return kExitOk;
    });
}

int ReadTiming(TCliContext& c)
{
    return WithSession(c, [&](TAppSession& s) -> int {
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
    return WithSession(c, [&](TAppSession& s) -> int {
        commands::WriteDeviceTime(s.Commands());
        c.Result().Set("timing", s.Options().Label4());
        return kExitOk;
    });
}

int RunTarget(TCliContext& c)
{
    return WithSession(c, [&](TAppSession& s) -> int {
        commands::RunTarget(s.Commands());
        return kExitOk;
    });
}

// The serial-number dialog's settings from the command line. Each board gets its number placed
// after the reload; in a gang the number comes from the pool the boxes share, and a board that
// failed gives it back for the next one.
// The returned subscription keeps the pool's bookkeeping listening to the boards.
TSubscription NumberBoards(TCliContext& c, TAppSession& s)
{
    const TCliOptions& o = c.Options();
    TSerialNum& serial = s.Serial();
    serial.rgSerialNumMode = TSerialNum::smStoreInFlash;
    serial.rgSerialNumSize = o.serialSize - 2;
    serial.heSerialLocation = static_cast<uint32_t>(o.serialAt);
    serial.heCurrentSerial = static_cast<uint64_t>(o.serialStart);
    std::shared_ptr<TSerialPool> pool;
    if (const char* path = std::getenv(kGangSerialPoolVariable); path && *path)
        pool = std::make_shared<TSerialPool>(path, static_cast<uint32_t>(o.serialStart));
    return ::NumberBoards(s, pool);
}

// What a board's record names its box by: the hardware, and the USB adapter's identity (vendor,
// product, serial number) when the port is one, which follows the box from port to port.
std::string BoxIdentity(TCliContext& c, const std::string& hardware)
{
    const char* rootVariable = std::getenv("ZEMPRIX_SYSTEM_ROOT");
    const std::string root = rootVariable ? rootVariable : "";
    std::error_code ec;
    const std::string path = c.PortPath().empty() ? std::string()
                                                  : std::filesystem::weakly_canonical(c.PortPath(), ec).string();
    for (const TSerialPortIdentity& id : ListSerialPortIdentities(root)) {
        const bool same = (!path.empty() && (id.Device == path || id.Device == c.PortPath() || id.ById == c.PortPath())) ||
                          (c.PortPath().empty() && c.PortNumber() > 0 && id.ComNumber == c.PortNumber());
        if (same && !id.VendorId.empty())
            return hardware + " usb:" + id.VendorId + ":" + id.ProductId + (id.Serial.empty() ? "" : ":" + id.Serial);
    }
    return hardware;
}

// --serial-at is checked against the device's image before the box is touched: a place where
// the number does not fit is a mistake on the command line, not a failed board.
void CheckSerialLocation(TCliContext& c)
{
    const TCliOptions& o = c.Options();
    if (o.serialAt < 0) return;
    TSerialNum serial;
    serial.rgSerialNumSize = o.serialSize - 2;
    serial.heSerialLocation = static_cast<uint32_t>(o.serialAt);
    const std::string problem = serial.LocationProblem(c.Image());
    if (!problem.empty())
        throw TUsageError{"--serial-at " + hex::Hex(serial.heSerialLocation, 4) + "h is not valid for " + c.Device().Name() +
                          ": " + problem};
}

int Auto(TCliContext& c)
{
    if (!c.Options().stepsGiven) throw TUsageError{"auto needs --steps (" + [] {
        std::string all;
        for (const auto& s : kAutoSteps) all += (all.empty() ? "" : ",") + s;
        return all;
    }() + ")"};
    CheckSerialLocation(c);
    // A record that cannot be written is refused before the first board, not after it.
    if (!c.Options().recordFile.empty()) {
        try {
            TProductionRecord(c.Options().recordFile).CheckWritable();
        } catch (const EISPException& e) {
            throw TUsageError{std::string("--record: ") + e.what()};
        }
    }
    if (!c.CheckInputFile(c.Options().args[0])) return kExitFailed;
    std::unique_ptr<IProductionStore> store;
    if (!OpenStore(c, store)) return kExitFailed;
    return WithSession(c, [&](TAppSession& s) -> int {
        const std::string& file = c.Options().args[0];
        if (int code = LoadInto(c, file)) return code;
        s.Commands().CommandLineFile = file;
        // The steps become the application's Auto Program selection.
        for (int i = 0; i < TAutoProgramSteps::kCount; ++i) {
            bool on = false;
            for (const auto& name : c.Options().steps) on = on || name == kAutoSteps[static_cast<size_t>(i)];
            c.Settings().Put(TAutoProgramSteps::kSection, std::to_string(i), kGlobalGroup, on);
        }
        TSubscription record;
        if (!c.Options().recordFile.empty())
            // Unattended, a board without its record line is a failed run, not a passed one.
            record = TProductionRecord(c.Options().recordFile)
                         .Attach(s, c.Options().port.empty() ? c.HardwareName() : c.Options().port,
                                 [&s](const std::string& why) { s.Runner().FailOp(why); });
        TSubscription numbering;
        if (c.Options().serialAt >= 0) numbering = NumberBoards(c, s);
        std::unique_ptr<TStoreStation> station;
        TSubscription stored;
        if (store) {
            TStoreStation::TIdentity id;
            id.Port = c.Options().port.empty() ? c.HardwareName() : c.Options().port;
            id.Box = BoxIdentity(c, s.Programmer() ? s.Programmer()->HardwareName() : c.HardwareName());
            station = std::make_unique<TStoreStation>(*store, id, c.Options().pool);
            station->PreparePool(s);
            // Unattended, a board without its record is a failed run, as with the CSV record.
            stored = station->Attach(s, [&s](const std::string& why) { s.Runner().FailOp(why); });
        }
        s.AutoProgram().BeforeBoard = [&c, &s] { ReloadIfChanged(c, s); };
        struct TReportNext {
            TCliContext& c;
            TAppSession& s;
            ~TReportNext()
            {
                // A gang's boxes share one sequence: the gang names the next number for all of them.
                if (c.Options().serialAt < 0 || std::getenv(kGangSerialPoolVariable)) return;
                c.Data("Next serial number: " + std::to_string(s.Serial().heCurrentSerial));
                c.Result().Set("nextSerial", static_cast<int64_t>(s.Serial().heCurrentSerial));
            }
        } reportNext{c, s};
        if (!c.Options().plugAndProg) {
            s.AutoProgram().AutoProgramExecute();
            return kExitOk;
        }
        // Ctrl+C is the window's Cancel here, not an abort: the board in progress is finished.
        c.View().SetOnPump(nullptr);
        TTextPlugWindow window(c.View());
        s.AutoProgram().PlugAndProgram(window);
        if (s.Runner().StatusKind() == sk_failed) return kExitFailed;
        return InterruptSignal() != 0 ? kExitSignalBase + InterruptSignal() : kExitOk;
    }, c.Options().plugAndProg);
}

// project list | delete NAME | save NAME [FILE] | load NAME: the window's project commands. Load
// also makes the project the remembered configuration, so that the following runs start from it.
int Project(TCliContext& c)
{
    const std::vector<std::string>& a = c.Options().args;
    const std::string& what = a[0];
    const std::string name = a.size() > 1 ? a[1] : std::string();
    const bool needsName = what == "save" || what == "load" || what == "delete";
    if (what != "list" && !needsName) throw TUsageError{"project takes list, save NAME [FILE], load NAME or delete NAME"};
    if (needsName != (a.size() >= 2) || (what != "save" && a.size() > 2))
        throw TUsageError{"project " + what + (needsName ? (what == "save" ? " takes NAME [FILE]" : " takes NAME") : " takes no name")};
    if (needsName && !projects::ValidName(name))
        throw TUsageError{"Invalid project name \"" + name + "\" (not empty, no / or \\)"};
    if (!c.Settings().Backend()) throw TUsageError{"project needs the stored settings (without --no-settings)"};

    TAppSession& session = c.Session();
    const std::vector<std::string> names = projects::Names(session);
    const bool exists = std::find(names.begin(), names.end(), name) != names.end();
    if (what == "list") {
        for (const std::string& n : names) c.Data(n);
        c.Result().SetRaw("projects", JsonStringArray(names));
        return kExitOk;
    }
    if (what == "delete") {
        if (!exists) {
            c.View().AppendLog("No project \"" + name + "\"");
            c.Result().Set("error", "No project \"" + name + "\"");
            return kExitFailed;
        }
        projects::Delete(session, name);
        c.View().AppendLog("Project deleted: " + name);
        return kExitOk;
    }
    if (what == "load" && !exists) {
        c.View().AppendLog("No project \"" + name + "\"");
        c.Result().Set("error", "No project \"" + name + "\"");
        return kExitFailed;
    }
    // Projects live in the settings alone: the programmer is bound for its hardware name and
    // link settings, and the box is never touched, so these work with none attached.
    int code = kExitOk;
    const TOutcome outcome = session.Run([&] {
        if (what == "save") {
            session.BindDevice(c.Device().Name(), c.HardwareName());
            session.Programmer()->LoadSettings();
            // The project keeps the file's full path, wherever the next run starts.
            if (a.size() > 2 && LoadInto(c, std::filesystem::absolute(a[2]).lexically_normal().string()) != kExitOk) {
                code = kExitFailed;
                return;
            }
            // The steps given become the project's Auto Program choices.
            if (c.Options().stepsGiven)
                for (int i = 0; i < TAutoProgramSteps::kCount; ++i) {
                    bool on = false;
                    for (const auto& step : c.Options().steps) on = on || step == kAutoSteps[static_cast<size_t>(i)];
                    c.Settings().Put(TAutoProgramSteps::kSection, std::to_string(i), kGlobalGroup, on);
                }
            projects::StoreProject(session, name);
            c.View().AppendLog("Project saved: " + name);
            return;
        }
        bool fileMissing = false;
        projects::RestoreProject(
            session, name,
            [&](const std::string& message) {
                c.View().AppendLog(message);
                fileMissing = true;
            },
            false);
        session.SaveEnvironment();
        if (fileMissing) code = kExitFailed;
    });
    return outcome == TOutcome::Completed ? code : c.ExitCode(outcome);
}

}  // namespace

const TCliCommand kDeviceCommands[12] = {
    {"info", "", "show the programmer's information report", 0, Info, true, 0},
    {"erase", "", "erase the device's Flash", 0, Erase, true, 0},
    {"program", "FILE", "load FILE and program it with the option byte", 1, Program, true, 0},
    {"verify", "FILE", "load FILE and verify the device against it (exit 3 on a mismatch)", 1, Verify, true, 0},
    {"read", "FILE", "read the device's Flash and save it to FILE in --format", 1, Read, true, 0},
    {"read-options", "", "read the option byte", 0, ReadOptions, true, 0},
    {"write-options", "HH", "write the option byte HH", 1, WriteOptions, true, 0},
    {"read-timing", "", "read the programming timing", 0, ReadTiming, true, 0},
    {"write-timing", "", "write the timing of the --clock row", 0, WriteTiming, true, 0},
    {"run", "", "set the FLEX bit and release the target to run", 0, RunTarget, true, 0},
    {"auto", "FILE", "auto-program FILE with the --steps given", 1, Auto, true, 0},
    {"project", "list | save NAME [FILE] | load NAME | delete NAME",
     "saved configurations: list, save, load (and remember), delete", 3, Project, true, 2},
};
