#pragma once
// The programmer box behind a PC parallel port: the box protocol over the parallel pins.
#include <cstdint>
#include <optional>
#include <string>

#include "link/boxlink.h"
#include "link/paralleltransport.h"

class TSmartParallel : public TBoxLink<TParallelTransport> {
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
};
