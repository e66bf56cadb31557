// The context a command runs in: settings, the runner with the text view, and the hardware,
// device, option byte and clock row resolved as the application resolves them at start-up.
#include <filesystem>
#include <ostream>

#include "cli.h"
#include "devices/devices.h"
#include "image/hexfile.h"
#include "image/hexlist.h"
#include "image/hextext.h"
#include "interrupt.h"
#include "link/hardware.h"
#include "link/isperrors.h"

namespace {

constexpr int kClockRows = 24;
constexpr int kDefaultOptionByte = 0x06;

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
    : options_(std::move(options)), settings_(backend), out_(out), err_(err), view_(err), runner_(view_)
{
    view_.SetOnPump([this] {
        if (InterruptSignal() != 0) runner_.RequestAbort();
    });
}

void TCliContext::ResolvePort()
{
    const std::string& port = options_.port;
    if (port.empty()) return;
    const bool parallel = hardwareName_ == kHardwareLpt;
    const std::string up = hex::ToUpper(port);
    const std::string parallelForms = "LPT1..LPT3 or /dev/parport0../dev/parport2";
    auto refuse = [&](const std::string& why) { throw TUsageError{"Port \"" + port + "\" " + why}; };
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
    } else if (parallel) {
        refuse("is not a parallel port (" + parallelForms + ")");
    } else {
        portPath_ = port;
    }
}

int TCliContext::ReportFailure(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TUsageError&) {
        throw;
    } catch (const EVerifyError&) {
        runner_.AppException(std::current_exception());
        return kExitVerifyFailed;
    } catch (const EFirmwareMisMatch& e) {
        // The application answers this with its firmware-update offer; here the reason is shown.
        err_ << hardwareName_ << ": " << e.what() << "\n";
        result_.Set("error", e.what());
        runner_.AppException(std::current_exception());
        return kExitFailed;
    } catch (const EAbortOp&) {
        runner_.AppException(std::current_exception());
        return InterruptSignal() != 0 ? kExitSignalBase + InterruptSignal() : kExitFailed;
    } catch (...) {
        runner_.AppException(std::current_exception());
        return kExitFailed;
    }
}

void TCliContext::Resolve()
{
    RegisterDefaultHardware();
    settings_.Load(TISPSettings::kGlobalKey, kGlobalGroup);

    if (!options_.hardware.empty()) hardwareName_ = HardwareFromOption(options_.hardware);
    else hardwareName_ = CanonicalHardwareName(settings_.Get("ENVIRONMENT", "LASTHARDWARE", GetHardware(0).Name).AsString());
    hardwareIndex_ = ::HardwareIndex(hardwareName_);
    hardwareName_ = GetHardware(hardwareIndex_).Name;
    const TByteSet set = HardwareDeviceSet(hardwareIndex_);

    if (!options_.device.empty()) {
        device_ = DeviceList().FindDevice(options_.device, set);
        if (device_ == nullptr)
            throw TUsageError{"Unknown device or not programmable with " + hardwareName_ + ": " + options_.device};
    } else {
        // A remembered name that is no longer offered falls back to the first device, as at start-up.
        device_ = DeviceList().FindDevice(settings_.Get("ENVIRONMENT", "LASTDEVICE", "").AsString(), set);
        if (device_ == nullptr) device_ = DeviceList().FirstForHardware(set);
        if (device_ == nullptr) throw TUsageError{"No device can be programmed with " + hardwareName_};
    }

    if (options_.optionByte >= 0) {
        optionByte_ = static_cast<uint8_t>(options_.optionByte);
    } else {
        const int64_t stored = settings_.Get("CONFIG", "OPTIONS", kDefaultOptionByte).AsInteger(kDefaultOptionByte);
        optionByte_ = static_cast<uint8_t>(stored >= 0 && stored <= 0xFF ? stored : kDefaultOptionByte);
    }

    if (options_.clockRow >= 0) {
        clockRow_ = options_.clockRow;
    } else {
        // -1 is what a session without a selected range stores; it means the last row.
        const int64_t stored = settings_.Get("TimeSelected", "Time", kClockRows - 1).AsInteger(kClockRows - 1);
        clockRow_ = static_cast<int>(stored >= 0 && stored < kClockRows ? stored : kClockRows - 1);
    }

    ResolvePort();
    result_.Set("hardware", hardwareName_);
    result_.Set("device", device_->Name());
}

void TCliContext::Data(const std::string& line)
{
    if (!options_.json) out_ << PrintableText(line) << '\n';
}

bool TCliContext::LoadFlashFile(const std::string& fileName, THexList& image)
{
    static const char* const kNotAccessible = "Flash File Load: File not accessable or a supported file type";
    image.SetSize(static_cast<uint32_t>(device_->FlashSize()));
    result_.Set("file", fileName);
    std::error_code ignored;
    if (!std::filesystem::exists(fileName, ignored)) {
        runner_.FailOp("Flash File Load: File load failed");
        result_.Set("error", "No such file: " + fileName);
        return false;
    }
    int format = 0;
    int loaded = 0;
    try {
        format = TFileLoader::DetectFormat(fileName);
        if (format > 0) loaded = TFileLoader::LoadFile(fileName, image);
    } catch (const EFileLoader& e) {
        // The text after "!" is the detail the log shows after the status text.
        runner_.FailOp(std::string(kNotAccessible) + "!" + e.what());
        result_.Set("error", e.what());
        return false;
    }
    if (format <= 0) {
        runner_.FailOp(kNotAccessible);
        result_.Set("error", TFileLoader::FormatName(format));
        return false;
    }
    result_.Set("format", TFileLoader::FormatName(format));
    result_.Set("formatId", format);
    if (loaded != 0) {
        runner_.FailOp("Flash File Load - Warning: bad data or file larger than device");
        image.MarkAllFailed();
        result_.Set("error", "bad data or file larger than device");
        return false;
    }
    runner_.EndOp("Flash File Load: File loaded (" + TFileLoader::FormatName(format) + ")");
    image.SetValue(device_->OptionAddress(), optionByte_);
    result_.Set("optionByte", hex::Hex2(optionByte_));
    return true;
}
