#pragma once
// The same programmer box on a serial port: the box protocol over whole bytes at 115200 baud.
#include <cstdint>
#include <optional>
#include <string>

#include "link/boxprotocol.h"
#include "link/programmer.h"
#include "link/serialtransport.h"

class TSmartSerial : public TISPProgrammer {
public:
    TSmartSerial();

    int32_t MaxReadTimeout = 50000;   // set by every load; only shown in the report
    int32_t MaxWriteTimeout = 50000;  // likewise
    uint8_t OptionsSetting = 20;      // stored and reloaded only

    // ---- connection, setup and report ----
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
    TSerialTransport& Transport() { return transport_; }

private:
    TSerialTransport transport_{*this};
    TBoxProtocol protocol_{*this, transport_};
};
