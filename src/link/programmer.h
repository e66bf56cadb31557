#pragma once
// The abstract programmer. The shell holds exactly one and calls these operations; every
// failure is reported by raising one of the exceptions of base/isperrors.h.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices/devices.h"

class THexList;
class TISPSettings;
class ILinkHost;
class TLinkContext;

// Progress and keep-alive callback: (position, total), or (-1, -1) to only keep alive.
// Whatever it raises (the user's abort) leaves the running operation.
using TProgressEvent = std::function<void(int32_t position, int32_t total)>;

// What the port setup offers: the ports to pick from and the entry chosen now.
struct TSetupChoice {
    std::vector<std::string> Ports;
    int Index = 0;
    // The advanced port dialog lists the same ports: its list starts afresh with them (true) or
    // has them added to what it lists already (false).
    bool ReplacesAdvancedList = false;
};

// The display an information report is made for: the programmer information dialog (with the
// firmware text beside the lines) or the plain text report.
enum class TReportForm { InformationDialog, TextReport };

struct TProgrammerReport {
    TReportForm Form = TReportForm::TextReport;
    std::string Firmware;
    std::vector<std::string> Lines;
};

class TISPProgrammer {
public:
    TISPProgrammer();
    virtual ~TISPProgrammer();
    TISPProgrammer(const TISPProgrammer&) = delete;
    TISPProgrammer& operator=(const TISPProgrammer&) = delete;

    // Operations in slot order; reserved slots have no counterpart.
    virtual void SetDevice(const TDevice* device) { device_ = device; }
    virtual void ProgramFlash(THexList& image);
    virtual void VerifyFlash(THexList& image);
    virtual void ReadFlash(THexList& image);
    virtual void EraseDevice();
    virtual uint8_t ReadOptions();
    virtual void ProgramOptions(uint8_t value);
    virtual void AfterConnect(THexList& image) { (void)image; }
    virtual void WriteTiming(const std::string& text);
    virtual std::string ReadTiming();
    virtual std::string ProgrammerId();
    // The port setup: the choice to offer, then the user's answer (the chosen entry on OK,
    // nothing when cancelled). A link that treats a cancel as an abort raises EAbort.
    virtual TSetupChoice SetupChoice();
    virtual void ApplySetup(std::optional<int> chosen);
    virtual void RunTarget();
    virtual bool Connect();
    virtual void Disconnect();
    virtual std::string ReadProgrammerId();
    // The "Information" report; the caller shows it. Never opens anything itself.
    virtual TProgrammerReport InformationReport();
    virtual void CheckFirmware();
    virtual void LoadSettings() {}
    virtual void SaveSettings() {}
    virtual void PrepareBlankImage(THexList& image);
    // 0 when no target board is connected, 1 when one is.
    virtual uint8_t TargetPresent() { return 0; }
    virtual void Synchronise() {}

    void DoProgress(int32_t position, int32_t total);
    TByteSet DeviceSetOf() const;

    const TDevice* Device() const { return device_; }
    const std::string& HardwareName() const { return hardwareName_; }
    void SetHardwareName(const std::string& name) { hardwareName_ = name; }
    void SetOnProgress(TProgressEvent callback) { onProgress_ = std::move(callback); }
    const TProgressEvent& OnProgress() const { return onProgress_; }
    TISPSettings* SettingsStore() const { return settings_; }
    void SetSettingsStore(TISPSettings* store) { settings_ = store; }
    bool HasSetup() const { return hasSetup_; }
    void SetHasSetup(bool v) { hasSetup_ = v; }
    bool HasInformation() const { return hasInformation_; }
    void SetHasInformation(bool v) { hasInformation_ = v; }
    // Pump and status log; never null (a do-nothing host by default).
    ILinkHost& Host() const { return *host_; }
    void SetHost(ILinkHost* host);
    // The session's link context (link values, port unit, serial factory, trace); a programmer
    // built outside a session makes one of its own on first use.
    TLinkContext& Context() const;
    void SetContext(TLinkContext* context) { context_ = context; }
    // The devices its hardware row offers; rows outside the built-in table set it here.
    void SetDeviceSet(TByteSet set)
    {
        deviceSet_ = set;
        deviceSetGiven_ = true;
    }
    // Expires when this programmer is destroyed, so that whoever keeps a plain pointer to it
    // (the operation runner) can tell a live programmer from a freed one.
    std::weak_ptr<const void> Lifetime() const { return lifetime_; }

protected:
    [[noreturn]] void NotSupported(const char* operation) const;

private:
    const TDevice* device_ = nullptr;
    TProgressEvent onProgress_;
    std::string hardwareName_;
    bool hasSetup_ = false;
    bool hasInformation_ = false;
    TISPSettings* settings_ = nullptr;
    ILinkHost* host_;
    TLinkContext* context_ = nullptr;
    mutable std::unique_ptr<TLinkContext> ownContext_;
    TByteSet deviceSet_ = 0;
    bool deviceSetGiven_ = false;
    std::shared_ptr<const void> lifetime_ = std::make_shared<char>(0);
};
