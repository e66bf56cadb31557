#pragma once
// zemprix-cli: the parsed options, the context a command runs in, and the command table.
// Commands are plain functions registered by name; each returns the process exit status.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/session.h"
#include "store/settings.h"
#include "json.h"
#include "textview.h"

class TDevice;
class THexList;

class TLinkContext;

// Adds the parallel-port backends beyond the core's to a session: none in zemprix-cli, the
// simulated chipset in the simulator's build of it (zemprix-cli-sim), so the production program
// carries no simulator.
void AddExtraPortBackends(TLinkContext& context);

// An operation the user interrupted with a signal ends with 128 + the signal's number.
enum TExitCode : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitVerifyFailed = 3, kExitSignalBase = 128 };

// Everything the command line says; "given" flags tell explicit values from defaults, which
// come from the remembered settings.
struct TCliOptions {
    std::string hardware;  // as typed; resolved by TCliContext
    std::string port;      // COMn, LPTn or a device path; empty when not given
    std::vector<std::string> ports;  // every --port given: more than one runs a gang, one box each
    std::string device;
    int clockRow = -1;    // 0..23, -1 when not given
    int optionByte = -1;  // 0..255, -1 when not given
    int format = 1;       // writer format id 1..10
    std::vector<std::string> steps;  // auto-program steps in the order given
    bool stepsGiven = false;
    bool plugAndProg = false;  // auto: board after board until Ctrl+C or a failing board
    bool reloadOnChange = false;  // auto: a Flash file changed on disk is reloaded before the next board
    bool json = false;
    bool progressJson = false;  // --progress json: one JSON object per line on stderr
    bool quiet = false;         // -q: failure lines only
    std::string logFile;        // --log-file: the status lines, timestamped, appended
    std::string recordFile;     // --record: one CSV line per board auto programs
    // auto: a serial number placed in every board (--serial-start N --serial-at ADDR [--serial-size n]).
    int64_t serialStart = -1;
    int64_t serialAt = -1;
    int serialSize = 2;
    // The production store: --db URL|PATH (else ZEMPRIX_DB, else the settings), and auto's --pool.
    std::string db;
    std::string pool;
    // records: --since, --until, --station, --serial, --csv.
    std::string since, until, station;
    int64_t recordSerial = -1;
    bool csv = false;
    // pool create: --start, --size, --at, --step.
    int64_t poolStart = -1;
    int poolSize = 2;
    int64_t poolAt = -1;
    int64_t poolStep = 1;
    bool verbose = false;
    bool probe = false;         // doctor: ask the box as well       // -v: a timestamped trace of every command and answer
    bool noSettings = false;
    bool strictChecksums = false;  // refuse a Flash file with a wrong record checksum
    bool help = false;
    bool version = false;
    std::string command;
    std::vector<std::string> args;
};

// A command-line mistake: exit status 2 with this text.
struct TUsageError {
    std::string message;
};

// Raises TUsageError. argv[0] is not included in `arguments`.
TCliOptions ParseCommandLine(const std::vector<std::string>& arguments);
std::string HelpText();
// Writer format ids by number or name ("intel", "motorola", "ext-tektronix", "tektronix",
// "atmel16", "atmel8"); -1 when unknown.
int ParseFormat(const std::string& text);
// COM1..COM8, LPT1..LPT3 in any case, or a device path.
bool IsValidPort(const std::string& port);
extern const std::vector<std::string> kAutoSteps;

class TCliContext {
public:
    TCliContext(TCliOptions options, ISettingsBackend* backend, std::ostream& out, std::ostream& err);
    ~TCliContext();
    TCliContext(const TCliContext&) = delete;
    TCliContext& operator=(const TCliContext&) = delete;

    // Hardware, device, option byte and clock row from the options, else the remembered
    // settings, else the defaults. Raises TUsageError for an unknown hardware or device, and for
    // a --port that the hardware cannot use. Settings that cannot be read fail it, unless
    // `settingsOptional`: then a warning is printed and the defaults apply.
    void Resolve(bool settingsOptional = false);
    // The exit status of a command's outcome.
    int ExitCode(TOutcome outcome) const;

    const TCliOptions& Options() const { return options_; }
    TAppSession& Session() { return session_; }
    TISPSettings& Settings() { return session_.Settings(); }
    TOperationRunner& Runner() { return session_.Runner(); }
    TTextView& View() { return view_; }
    TJsonObject& Result() { return result_; }
    // The project's Flash image, sized for the device.
    THexList& Image() { return session_.Project().Flash; }

    const std::string& HardwareName() const { return hardwareName_; }
    int HardwareIndex() const { return hardwareIndex_; }
    const TDevice& Device() const { return *device_; }
    uint8_t OptionByte() const { return optionByte_; }
    int ClockRow() const { return clockRow_; }
    // The --port the user named: a port number (COMn, LPTn, /dev/parportN as LPT N+1) or a
    // device path for the serial link; 0 and empty when none was named.
    int PortNumber() const { return portNumber_; }
    const std::string& PortPath() const { return portPath_; }

    // A line of command data: stdout, or nothing with --json (the data go into the result).
    void Data(const std::string& line);
    // Loads a hex file into the image as the application's Flash load does, reporting through
    // the runner, with the option byte in its last byte. False, with the failure line written,
    // when the load failed.
    bool LoadFlashFile(const std::string& fileName);
    // Saves the image to `fileName` in the --format, with the save's status lines.
    bool SaveFlashFile(const std::string& fileName);
    // Before the box is touched: false, with the failure line and the system's reason written,
    // when the file cannot be read, or when a save to it could not be written.
    bool CheckInputFile(const std::string& fileName);
    bool CheckOutputFile(const std::string& fileName);

private:
    void ResolvePort();

    TCliOptions options_;
    std::ostream& out_;
    TTextView view_;
    TAppSession session_;
    TJsonObject result_;
    std::string hardwareName_;
    int hardwareIndex_ = 0;
    const TDevice* device_ = nullptr;
    uint8_t optionByte_ = 0x06;
    int clockRow_ = 23;
    int portNumber_ = 0;
    std::string portPath_;
};

// One row of the command table. The table is constant: every command the program has is there.
struct TCliCommand {
    const char* name;
    const char* arguments;  // for the help text, e.g. "IN OUT"
    const char* summary;
    size_t argumentCount;
    int (*run)(TCliContext& context);
    // A command that only reads the remembered defaults still runs when the settings cannot be
    // read; one that talks to the box needs them (its port and link settings live there).
    bool needsSettings;
    // How many of the last arguments may be left out.
    size_t optionalArguments;
};

// The command table's parts, in help order (filecommands.cpp, devicecommands.cpp, doctor.cpp).
extern const TCliCommand kFileCommands[3];
extern const TCliCommand kDeviceCommands[12];
// ports, doctor
extern const TCliCommand kPortCommands[2];
// records, pool (storecommands.cpp)
extern const TCliCommand kStoreCommands[2];

class IProductionStore;
// The production store's location: --db, else ZEMPRIX_DB, else the Auto Program options' URL;
// else the default SQLite file when `orDefault`, else empty (no store).
std::string StoreLocation(TCliContext& context, bool orDefault);

const TCliCommand* FindCommand(const std::string& name);
// Every command in help order.
std::vector<const TCliCommand*> Commands();
