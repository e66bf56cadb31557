#pragma once
// The abstract programmer. The shell holds exactly one and calls these operations; every
// failure is reported by raising one of the exceptions of base/isperrors.h.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/devices.h"

class THexList;
class TISPSettings;
class ILinkHost;
class TLinkContext;

// Progress and keep-alive callback: (position, total), or (-1, -1) to only keep alive.
// Whatever it raises (the user's abort) leaves the running operation.
using TProgressEvent = std::function<void(int32_t position, int32_t total)>;

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
    virtual void Setup();
    virtual void RunTarget();
    virtual bool Connect();
    virtual void Disconnect();
    virtual std::string ReadProgrammerId();
    virtual void ShowInformation(const std::string& softwareVersion);
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
    // Pump, status log and dialogs; never null (a do-nothing host by default).
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
