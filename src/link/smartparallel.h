#pragma once
// The programmer box behind a PC parallel port: the box protocol over the parallel pins.
#include <cstdint>
#include <optional>
#include <string>

#include "link/boxprotocol.h"
#include "link/paralleltransport.h"
#include "link/programmer.h"

class TSmartParallel : public TISPProgrammer {
public:
    TSmartParallel();

    int32_t MaxWriteTimeout = 50000;  // set by every load; not used by this link
    uint8_t OptionsSetting = 20;      // stored and reloaded only

    // ---- connection, setup and report (smartparallel.cpp) ----
    bool Connect() override;
    void Disconnect() override;
    TSetupChoice SetupChoice() override;
    void ApplySetup(std::optional<int> chosen) override;
    TProgrammerReport InformationReport() override;
    // Programmer settings under the section named after the hardware kind (linksettings.cpp).
    void LoadSettings() override;
    void SaveSettings() override;

    // ---- the protocol's operations ----
    void Synchronise() override { protocol_.Synchronise(); }
    void CheckFirmware() override { protocol_.CheckFirmware(); }
    std::string ReadProgrammerId() override { return protocol_.ReadProgrammerId(); }
    std::string ProgrammerId() override { return TBoxProtocol::kExpectedId; }
    void EraseDevice() override { protocol_.EraseDevice(); }
    void ProgramFlash(THexList& image) override { protocol_.ProgramFlash(image); }
    void VerifyFlash(THexList& image) override { protocol_.VerifyFlash(image); }
    void ReadFlash(THexList& image) override { protocol_.ReadFlash(image); }
    uint8_t ReadOptions() override { return protocol_.ReadOptions(); }
    uint8_t TargetPresent() override { return protocol_.TargetPresent(); }
    void ProgramOptions(uint8_t value) override { protocol_.ProgramOptions(value); }
    void RunTarget() override { protocol_.RunTarget(); }
    void WriteTiming(const std::string& text) override { protocol_.WriteTiming(text); }
    std::string ReadTiming() override { return protocol_.ReadTiming(); }
    void PrepareBlankImage(THexList& image) override { protocol_.PrepareBlankImage(image); }

    TBoxProtocol& Protocol() { return protocol_; }
    TParallelTransport& Transport() { return transport_; }

private:
    TParallelTransport transport_{*this};
    TBoxProtocol protocol_{*this, transport_};
};
