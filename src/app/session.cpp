#include "app/session.h"

#include <filesystem>
#include <sstream>
#include <system_error>

#include "base/isperrors.h"
#include "devices/devices.h"
#include "image/hexfile.h"
#include "link/hardware.h"
#include "link/linkhost.h"
#include "link/portidentity.h"
#include "link/programmer.h"
#include "link/serialport.h"

// The link's host is the shell's view: the link pumps and logs through it.
class TAppSession::THost final : public ILinkHost {
public:
    explicit THost(TAppSession& s) : s_(s) {}
    void PumpMessages() override { s_.view_.PumpMessages(); }
    void AppendLog(const std::string& line) override { s_.runner_.AppendLog(line); }

private:
    TAppSession& s_;
};

TAppSession::TAppSession(IShellView& view, ISettingsBackend* backend)
    : view_(view),
      settings_(backend),
      runner_(view),
      commands_(runner_, project_, options_),
      autoProgram_(commands_, serial_, settings_),
      portSetup_(link_, options_, [this](const std::string& line) { view_.AppendLog(line); }),
      host_(std::make_unique<THost>(*this))
{
    commands_.SoftwareVersion = ZEMPRIX_FILE_VERSION;
    commands_.ScrollViewHome = [this] { view_.ScrollViewHome(); };
    commands_.ShowOptionsPage = [this] { view_.ShowOptionsPage(); };
    commands_.ShowFlashPage = [this] { view_.ShowFlashPage(); };
    commands_.ShowFileName = [this](const std::string& name) { view_.ShowFileName(name); };
    commands_.ChooseSetupPort = [this](const TSetupChoice& choice, int& index) { return ChooseSetupPort(choice, index); };
    commands_.ShowReport = [this](const std::string& version, const TProgrammerReport& report) {
        ShowReport(version, report);
    };
    autoProgram_.ShowOptionsDialog = [this](TAutoProgramSteps& steps) { view_.ShowAutoProgramOptions(steps); };
    serial_.OnMessage = [this](const std::string& text) { view_.ShowMessage(text); };
    options_.OnTimingChange = [this](const TTiming& t) {
        TLinkWide& w = link_.Wide();
        w.PGMTIME = t.PGMTIME;
        w.TENCYC = t.TENCYC;
        w.BusyTime = t.BusyTime;
    };
    options_.BindImage(&project_.Flash);
    runner_.SetPortDiagnosis([this](bool parallel) { return DiagnosePortFailure(parallel); });
}

std::vector<std::string> TAppSession::DiagnosePortFailure(bool parallel) const
{
    const TSystemView system = systemView_ ? *systemView_ : TSystemView::FromEnvironment();
    // The name the link opened: the override, else the numbered port (the parallel link uses
    // only LPT1 to LPT3).
    const uint16_t index = link_.Wide().PortIndex;
    std::string name = parallel ? "LPT" + std::to_string(index > 2 ? 1 : index + 1) : link_.SerialPortName();
    if (name.empty()) name = "COM" + std::to_string(index + 1);
    const TPortInUse port = FindPortInUse(system, parallel ? TCheckLink::Parallel : TCheckLink::Serial, name);
    std::vector<std::string> lines;
    std::istringstream text(ChecksText(DiagnosePortOpenFailure(system, port)));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

TAppSession::~TAppSession()
{
    // The worker ends its job first: it may be using the programmer.
    worker_.Stop();
    ReleaseProgrammer();
}

std::string TAppSession::SerialDeviceOf(const std::string& portName)
{
    const std::string resolved = ResolveComPortName(portName, [] { return SerialPortsInComOrder(); });
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(resolved, error);
    return error ? resolved : device.string();
}

std::string TAppSession::SerialDevice() const
{
    if (!programmer_ || programmer_->HardwareName() != kHardwareCom) return {};
    const std::string& named = link_.SerialPortName();
    return SerialDeviceOf(named.empty() ? "COM" + std::to_string(link_.Wide().PortIndex + 1) : named);
}

void TAppSession::LetGoOfPort() noexcept
{
    try {
        if (programmer_) programmer_->Disconnect();
    } catch (...) {
    }
}

void TAppSession::ReleaseProgrammer()
{
    // The runner must never hold a programmer that is gone.
    runner_.SetProgrammer(nullptr);
    programmer_.reset();
}

bool TAppSession::ChooseSetupPort(const TSetupChoice& choice, int& index)
{
    // The advanced port dialog offers the same ports as the setup dialog.
    if (choice.ReplacesAdvancedList) view_.ClearAdvancedPortList();
    for (const std::string& port : choice.Ports) view_.AddAdvancedPort(port);
    return view_.RunSetupDialog(choice.Ports, index);
}

void TAppSession::ShowReport(const std::string& softwareVersion, const TProgrammerReport& report)
{
    if (report.Form == TReportForm::InformationDialog)
        view_.ShowProgrammerInformation(softwareVersion, report.Firmware, report.Lines);
    else
        view_.ShowTextReport(report.Lines);
}

void TAppSession::LoadEnvironment() { settings_.Load(TISPSettings::kGlobalKey, kGlobalGroup); }

std::string TAppSession::StartupHardware(const std::string& given) const
{
    const std::string name =
        given.empty() ? settings_.Get("ENVIRONMENT", "LASTHARDWARE", std::string(hardware_->Get(0).Name)).AsString() : given;
    return hardware_->Canonical(name);
}

std::string TAppSession::StartupDevice(const std::string& hardware) const
{
    const TDevice* first = DeviceList().FirstForHardware(hardware_->Get(hardware_->Index(hardware_->Canonical(hardware))).DeviceSet);
    return settings_.Get("ENVIRONMENT", "LASTDEVICE", first ? first->Name() : std::string()).AsString();
}

int TAppSession::StoredClockRow() const
{
    // -1 is what a session without a selected range stores; it means the last row.
    const int64_t stored = settings_.Get("TimeSelected", "Time", kClockRows - 1).AsInteger(kClockRows - 1);
    return static_cast<int>(stored >= 0 && stored < kClockRows ? stored : kClockRows - 1);
}

uint8_t TAppSession::StoredOptionByte() const
{
    const int64_t stored = settings_.Get("CONFIG", "OPTIONS", kDefaultOptionByte).AsInteger(kDefaultOptionByte);
    return static_cast<uint8_t>(stored >= 0 && stored <= 0xFF ? stored : kDefaultOptionByte);
}

void TAppSession::BindDevice(const std::string& device, const std::string& hardware)
{
    runner_.AppendLog(std::string("Version: v") + ZEMPRIX_FILE_VERSION + " Loaded");
    runner_.StartOp("Attempting to switch to Device:" + device + " Hardware:" + hardware);

    if (programmer_) programmer_->Disconnect();
    ReleaseProgrammer();
    const int index = hardware_->Index(hardware_->Canonical(hardware));
    programmer_ = hardware_->Create(index, link_);
    programmer_->SetSettingsStore(&settings_);
    programmer_->SetHost(host_.get());

    const TByteSet set = programmer_->DeviceSetOf();
    const TDevice* chosen = DeviceList().FindDevice(device, set);
    if (chosen == nullptr) chosen = DeviceList().FirstForHardware(set);
    {
        // The new size, the blank image and the option byte reach the views as one change.
        THexList::TBulkChange bulk(project_.Flash);
        project_.SetDevice(chosen);
        programmer_->SetDevice(chosen);
        programmer_->SetOnProgress([this](int32_t p, int32_t t) { runner_.OperationProgress(p, t); });
        runner_.SetProgrammer(programmer_.get());
        DeviceSwitched.Notify();

        programmer_->PrepareBlankImage(project_.Flash);

        options_.SelectPGMTIM(kClockRows - 1);
        options_.SelectPGMTIM(StoredClockRow());
        options_.PGMTIMChange();
        options_.SetOptions(StoredOptionByte());
        commands::CopyOptionByte(commands_);
    }
}

void TAppSession::SwitchDevice(const std::string& device, const std::string& hardware, bool readOptionByte)
{
    BindDevice(device, hardware);
    programmer_->Connect();
    programmer_->WriteTiming(options_.Label4());
    programmer_->AfterConnect(project_.Flash);
    if (readOptionByte) options_.SetOptions(programmer_->ReadOptions());
    const TDevice* chosen = project_.Device();
    runner_.AppendLog("Device Selected=" + (chosen ? chosen->Name() : std::string()));
}

void TAppSession::SwitchDeviceAwaitingBoard(const std::string& device, const std::string& hardware)
{
    BindDevice(device, hardware);
    programmer_->Connect();
    try {
        programmer_->WriteTiming(options_.Label4());
        programmer_->AfterConnect(project_.Flash);
    } catch (const EISPException&) {
        // A box may refuse the timing without a target on its cable; every board's own steps
        // write it again, so only a refusal with a target present is a failure.
        bool absent = false;
        try {
            absent = programmer_->TargetPresent() == 0;
        } catch (const EISPException&) {
            absent = false;
        }
        if (!absent) throw;
    }
    const TDevice* chosen = project_.Device();
    runner_.AppendLog("Device Selected=" + (chosen ? chosen->Name() : std::string()));
}

void TAppSession::InitialiseIsp(const TStartupSwitches& switches)
{
    for (int i = 0; i < switches.Invalid; ++i) runner_.FailOp("Invalid Commandline Parameter!!");
    commands_.CommandLineFile = switches.Load ? switches.LoadFile : std::string();
    try {
        LoadEnvironment();
    } catch (const ESettingsCorrupt& e) {
        // The window still starts, on defaults; the file is kept before anything saves over it.
        const std::string kept = settings_.Backend() ? settings_.Backend()->KeepCorruptCopy() : std::string();
        runner_.FailOp(std::string("Settings: started on defaults!") + e.Problem() + "; repair or remove the file" +
                       (kept.empty() ? std::string() : "; the file is kept as " + kept));
    }
    const std::string hardware =
        switches.Hardware ? hardware_->Canonical(switches.HardwareName) : StartupHardware();
    // Loading needs no box: the file is loaded (and its failure told) also when connecting fails.
    auto load = [&] {
        if (!switches.Load) return true;
        const bool ok = LoadFlashFile(switches.LoadFile, true).ok;
        view_.ShowFlashPage();
        return ok;
    };
    try {
        SwitchDevice(StartupDevice(hardware), hardware);
    } catch (...) {
        if (project_.Device()) (void)load();
        throw;
    }
    runner_.StartProgressOp("ISP Initializing");
    programmer_->LoadSettings();
    commands::CopyOptionByte(commands_);
    // Auto Program on a file that did not load would program whatever the image held before.
    if (!load()) return;
    if (switches.Auto)
        autoProgram_.AutoProgramExecute();
    else
        runner_.EndOp("ISP Initialized; Detected Device: ");
}

TAppSession::TLoadResult TAppSession::LoadFlashFile(const std::string& path, bool quiet)
{
    THexList& image = project_.Flash;
    // Whatever the load did to the image, the views hear of it once, when it is over.
    THexList::TBulkChange bulk(image);
    TLoadResult result;
    auto fail = [&](const std::string& message, const std::string& why) {
        runner_.FailOp(message);
        result.error = why;
        return result;
    };
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) return fail("Flash File Load: File load failed", "No such file: " + path);
    int loaded = 0;
    try {
        commands_.LoadedFile = TFileStamp::Of(path);
        result.format = TFileLoader::DetectAndLoad(path, image, loaded, &result.checksums);
    } catch (const EFileLoader& e) {
        // The text after "!" is the detail the log shows after the status text.
        return fail(std::string("Flash File Load: File not accessable or a supported file type!") + e.what(), e.what());
    }
    if (result.format <= 0)
        return fail("Flash File Load: File not accessable or a supported file type", TFileLoader::FormatName(result.format));
    const std::string suspect = result.checksums.Text();
    commands_.LoadedChecksumWarning = suspect;
    if (commands_.StrictChecksums && !suspect.empty()) {
        // Nothing of a refused file stays in the image.
        image.Clear();
        return fail("Flash File Load: File load failed (strict checksums)!" + suspect, suspect);
    }
    if (loaded != 0) {
        image.MarkAllFailed();
        fail("Flash File Load - Warning: bad data or file larger than device" + (suspect.empty() ? "" : "; " + suspect),
             "bad data or file larger than device");
    } else {
        result.ok = true;
        const std::string warning = suspect.empty() ? "" : " - Warning: " + suspect;
        if (!quiet) runner_.EndOp("Flash File Load: File loaded (" + TFileLoader::FormatName(result.format) + ")" + warning);
        else if (!suspect.empty()) runner_.AppendLog("Flash File Load - Warning: " + suspect);
    }
    view_.ShowFileName(path);
    view_.ShowFlashPage();
    view_.ScrollViewHome();
    commands::CopyOptionByte(commands_);
    return result;
}

void TAppSession::SaveEnvironment()
{
    settings_.Put("TimeSelected", "Time", kGlobalGroup, options_.PGMTIM());
    if (const TDevice* device = project_.Device()) settings_.Put("ENVIRONMENT", "LASTDEVICE", kGlobalGroup, device->Name());
    if (programmer_) {
        settings_.Put("ENVIRONMENT", "LASTHARDWARE", kGlobalGroup, programmer_->HardwareName());
        programmer_->Disconnect();
    }
    settings_.Save(TISPSettings::kGlobalKey, kGlobalGroup);
}

TOutcome TAppSession::Run(const std::function<void()>& command)
{
    if (running_ > 0 && !(betweenPolls_ && worker_.OnWorker())) return TOutcome::Refused;
    struct TCount {
        std::atomic<int>& n;
        explicit TCount(std::atomic<int>& count) : n(count) { ++n; }
        ~TCount() { --n; }
    } count(running_);
    return runner_.Run(command);
}

void TAppSession::Start(std::function<void()> command, std::function<void(TOutcome)> done)
{
    worker_.Post([this, command = std::move(command), done = std::move(done)] {
        TOutcome outcome = TOutcome::Failed;
        try {
            outcome = Run(command);
        } catch (...) {
            // Run hands everything to the handler; this keeps the worker alive whatever happens.
            outcome = runner_.AppException(std::current_exception());
        }
        if (done) done(outcome);
    });
}
