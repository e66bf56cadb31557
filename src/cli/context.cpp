// The context a command runs in: settings, the runner with the text view, and the hardware,
// device, option byte and clock row resolved as the application resolves them at start-up.
#include <ostream>

#include "cli.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "link/portidentity.h"
#include "devices/devices.h"
#include "image/hexfile.h"
#include "image/hexlist.h"
#include "base/hextext.h"
#include "gang.h"
#include "interrupt.h"
#include "link/hardware.h"
#include "store/atomicfile.h"

namespace {

std::string HardwareFromOption(const std::string& text)
{
    if (hex::SameText(text, "lpt")) return kHardwareLpt;
    if (hex::SameText(text, "com")) return kHardwareCom;
    const int index = ::HardwareIndex(text);
    if (index < 0) throw TUsageError{"Unknown hardware \"" + text + "\" (\"" + kHardwareLpt + "\", \"" + kHardwareCom + "\", lpt or com)"};
    return GetHardware(index).Name;
}

}  // namespace

TCliContext::TCliContext(TCliOptions options, ISettingsBackend* backend, std::ostream& out, std::ostream& err)
    : options_(std::move(options)), out_(out), view_(err), session_(view_, backend)
{
    // A gang's box writes to the gang's pipes: it colours its lines when the gang's terminal does,
    // names its port in the log file the boxes share, and hands every status line to the table.
    const int gangFd = GangStatusFd();
    const bool colour = gangFd >= 0 ? std::getenv(kGangColourVariable) != nullptr : TTextView::ColourWanted(2);
    view_.Configure({options_.progressJson, options_.quiet, options_.port, options_.logFile,
                     !options_.progressJson && colour});
    if (gangFd >= 0) view_.JoinGang(gangFd, options_.port);
    // -v: the trace's gathered bytes come out before the next status line, not after it.
    view_.SetBeforeLine([this] { session_.LinkContext().Trace().Flush(); });
    session_.Commands().StrictChecksums = options_.strictChecksums;
    view_.SetOnPump([this] {
        if (InterruptSignal() != 0) session_.Runner().RequestAbort();
    });
}

// The session goes first: whatever it logs on its way out must not reach for its link's trace.
TCliContext::~TCliContext() { view_.SetBeforeLine(nullptr); }

void TCliContext::ResolvePort()
{
    const std::string& port = options_.port;
    if (port.empty()) return;
    const bool parallel = hardwareName_ == kHardwareLpt;
    const std::string up = hex::ToUpper(port);
    const std::string parallelForms = "LPT1..LPT3 or /dev/parport0../dev/parport2";
    auto refuse = [&](const std::string& why) { throw TUsageError{"Port \"" + PrintableText(port) + "\" " + why}; };
    if (up.size() == 4 && up.compare(0, 3, "COM") == 0) {
        if (parallel) refuse("is a serial port; " + hardwareName_ + " takes " + parallelForms);
        portNumber_ = up[3] - '0';
    } else if (up.size() == 4 && up.compare(0, 3, "LPT") == 0) {
        if (!parallel) refuse("is a parallel port; " + hardwareName_ + " takes COM1..COM8 or a serial device path");
        portNumber_ = up[3] - '0';
    } else if (port.rfind("/dev/parport", 0) == 0) {
        if (!parallel) refuse("is a parallel port; " + hardwareName_ + " takes COM1..COM8 or a serial device path");
        const std::string digits = port.substr(12);
        if (digits.size() != 1 || digits[0] < '0' || digits[0] > '2')
            refuse("is not a parallel port this program can use (" + parallelForms + ")");
        portNumber_ = digits[0] - '0' + 1;
    } else if (IsUsbSelector(port)) {
        if (parallel) refuse("is a USB serial adapter; " + hardwareName_ + " takes " + parallelForms);
        std::vector<TSerialPortIdentity> matches;
        const char* rootVariable = std::getenv("ZEMPRIX_SYSTEM_ROOT");
        const std::string root = rootVariable ? rootVariable : "";
        try {
            matches = MatchUsbSelector(port, root);
        } catch (const std::invalid_argument&) {
            refuse("is not a USB selector (usb:VID:PID[:SERIAL], four hex digits each)");
        }
        if (matches.size() != 1) {
            std::string found;
            for (const auto& p : ListSerialPortIdentities(root)) found += "\n  " + PrintableText(DescribeSerialPort(p));
            if (matches.empty()) refuse("names no connected adapter; the serial ports are:" + (found.empty() ? std::string(" none") : found));
            std::string which;
            for (const auto& p : matches) which += "\n  " + PrintableText(DescribeSerialPort(p));
            refuse("names " + std::to_string(matches.size()) + " adapters; add :SERIAL to choose one:" + which);
        }
        portPath_ = matches[0].Device;
    } else if (parallel) {
        refuse("is not a parallel port (" + parallelForms + ")");
    } else {
        portPath_ = port;
    }
}

int TCliContext::ExitCode(TOutcome outcome) const
{
    switch (outcome) {
    case TOutcome::Completed: return kExitOk;
    case TOutcome::VerifyFailed: return kExitVerifyFailed;
    case TOutcome::Cancelled: return InterruptSignal() != 0 ? kExitSignalBase + InterruptSignal() : kExitFailed;
    default: return kExitFailed;
    }
}

void TCliContext::Resolve(bool settingsOptional)
{
    // The log must hold every line of the run, the first included: a file that cannot be
    // written is refused before anything happens.
    if (const std::string& log = options_.logFile; !log.empty()) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) throw TUsageError{"--log-file: cannot open " + log + ": " + std::strerror(errno)};
        ::close(fd);
    }
    try {
        session_.LoadEnvironment();
    } catch (const std::exception& e) {
        if (!settingsOptional) throw;
        view_.AppendLog(std::string("zemprix-cli: warning: ") + e.what() + " (running on defaults)");
    }
    TISPSettings& settings = session_.Settings();

    hardwareName_ = session_.StartupHardware(options_.hardware.empty() ? std::string() : HardwareFromOption(options_.hardware));
    hardwareIndex_ = ::HardwareIndex(hardwareName_);
    const TByteSet set = HardwareDeviceSet(hardwareIndex_);

    if (!options_.device.empty()) {
        device_ = DeviceList().FindDevice(options_.device, set);
        if (device_ == nullptr)
            throw TUsageError{"Unknown device or not programmable with " + hardwareName_ + ": " + options_.device};
    } else {
        // A remembered name that is no longer offered falls back to the first device, as at start-up.
        device_ = DeviceList().FindDevice(session_.StartupDevice(hardwareName_), set);
        if (device_ == nullptr) device_ = DeviceList().FirstForHardware(set);
        if (device_ == nullptr) throw TUsageError{"No device can be programmed with " + hardwareName_};
    }
    optionByte_ = options_.optionByte >= 0 ? static_cast<uint8_t>(options_.optionByte) : session_.StoredOptionByte();
    clockRow_ = options_.clockRow >= 0 ? options_.clockRow : session_.StoredClockRow();
    ResolvePort();

    // What the options choose goes into the session's copy of the settings, where the device
    // switch and the link read it. The CLI never saves that copy: its options are for one run
    // and leave what the desktop application remembers alone.
    settings.Put("TimeSelected", "Time", kGlobalGroup, clockRow_);
    // The option byte is a project's value (never a global one), so that `project save` keeps it.
    settings.Put("CONFIG", "OPTIONS", kProjectGroup, optionByte_);
    if (portNumber_ > 0) settings.Put(hardwareName_, "BASEPORT", kGlobalGroup, portNumber_ - 1);

    // Commands that never connect still work on the device's image with the option byte.
    session_.Project().SetDevice(device_);
    session_.Options().SelectPGMTIM(clockRow_);
    session_.Options().PGMTIMChange();
    session_.Options().SetOptions(optionByte_);

    result_.Set("hardware", hardwareName_);
    result_.Set("device", device_->Name());
}

void TCliContext::Data(const std::string& line)
{
    if (!options_.json) out_ << PrintableText(line) << '\n';
}

bool TCliContext::LoadFlashFile(const std::string& fileName)
{
    result_.Set("file", fileName);
    const TAppSession::TLoadResult loaded = session_.LoadFlashFile(fileName);
    if (loaded.format > 0) {
        result_.Set("format", TFileLoader::FormatName(loaded.format));
        result_.Set("formatId", loaded.format);
    }
    if (loaded.checksums.Wrong > 0) {
        result_.Set("checksumErrors", loaded.checksums.Wrong);
        result_.Set("firstChecksumErrorLine", loaded.checksums.FirstLine);
        result_.Set("warning", loaded.checksums.Text());
    }
    if (!loaded.ok) {
        result_.Set("error", loaded.error);
        return false;
    }
    result_.Set("optionByte", hex::Hex2(optionByte_));
    return true;
}

bool TCliContext::SaveFlashFile(const std::string& fileName)
{
    TOperationRunner& runner = session_.Runner();
    runner.StartOp("Flash: Saving File");
    std::string error;
    if (TFileLoader::SaveFile(fileName, Image(), options_.format, error) != 0) {
        // The status names the file; the log line adds the system's reason.
        runner.FailOp("Flash: Save Failed (" + fileName + ")!" + error);
        result_.Set("error", error);
        return false;
    }
    runner.EndOp("Flash: File Saved (" + fileName + ")");
    return true;
}

bool TCliContext::CheckInputFile(const std::string& fileName)
{
    // Opened, not only looked at: a file the user may not read fails here as well.
    std::string why;
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (fd < 0)
        why = std::strerror(errno);
    else if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode))
        why = std::strerror(EISDIR);
    if (fd >= 0) close(fd);
    if (why.empty()) return true;
    const std::string error = "Cannot read " + fileName + ": " + why;
    result_.Set("file", fileName);
    result_.Set("error", error);
    session_.Runner().FailOp("Flash File Load: File load failed!" + error);
    return false;
}

bool TCliContext::CheckOutputFile(const std::string& fileName)
{
    try {
        atomicfile::CheckReplaceable(fileName);
        return true;
    } catch (const std::exception& e) {
        const std::string error = "Could not save " + fileName + ": " + e.what();
        result_.Set("file", fileName);
        result_.Set("error", error);
        session_.Runner().FailOp("Flash: Save Failed (" + fileName + ")!" + error);
        return false;
    }
}
