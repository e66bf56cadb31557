#pragma once
// The same programmer box on a serial port: the box protocol over whole bytes at 115200 baud.
#include <cstdint>
#include <optional>
#include <string>

#include "link/boxlink.h"
#include "link/serialtransport.h"

class TSmartSerial : public TBoxLink<TSerialTransport> {
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
};
