#pragma once
// The programmer box behind a PC parallel port. The framing, the command set and the Flash and
// option operations live here and are shared with the serial link, which replaces only the byte
// layer (ReadByte, WriteByte, SendByte, WaitReady, ReadBlock) and Connect, Disconnect, Setup.
#include <cstdint>
#include <string>

#include "link/programmer.h"

class TSmartParallel : public TISPProgrammer {
public:
    static constexpr const char* kExpectedId = "ZEMPRIX01";

    TSmartParallel();

    // Pins of the 25-pin connector the bit layer uses.
    int DataOutPin = 16;
    int ClockPin = 14;
    int AckPin = 10;
    int DataInPin = 11;
    int SelectPin = 17;
    int ResetPin = 1;

    bool Synced = false;
    int32_t MaxReadTimeout = 50000;
    int32_t MaxWriteTimeout = 50000;
    uint8_t OptionsSetting = 20;

    // Programmer settings under the section named after the hardware kind.
    void LoadSettings() override;
    void SaveSettings() override;

    std::string ProgrammerId() override { return kExpectedId; }
};
