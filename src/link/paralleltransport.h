#pragma once
// The box on a PC parallel port: the PC moves every bit itself on single connector pins, paced
// by the box's handshake line, with no delays inside the byte exchange.
#include <cstdint>
#include <string>

#include "link/boxtransport.h"

class IClock;
class TISPProgrammer;
class TVicLPT;

class TParallelTransport final : public IBoxTransport {
public:
    // `owner` names the failures and receives the keep-alive calls of long waits.
    explicit TParallelTransport(TISPProgrammer& owner);

    // Pins of the 25-pin connector.
    int DataOutPin = 16;
    int ClockPin = 14;
    int AckPin = 10;
    int DataInPin = 11;
    int SelectPin = 17;
    int ResetPin = 1;
    // Poll limit of the read handshake.
    int32_t MaxReadTimeout = 50000;

    void WriteByte(uint8_t value) override;
    uint8_t ReadByte(bool reportProgress) override;
    bool WaitReady(bool reportProgress) override;
    // Bytes move one at a time under the handshake: block answers are read byte by byte.
    bool ReadWholeBlock(const std::string&, size_t, std::string&) override { return false; }
    // The box keeps nothing the PC has not clocked out of it.
    void DiscardInput() override {}

    // Opens the port driver; raises "LPT port not found or in use by another program".
    void OpenDriver();
    // Selects LPT(portIndex + 1) in `lptMode`, drives every pin to its idle level and pulses
    // reset, after which the box announces itself. Raises when that port has no base address.
    void StartBox(uint16_t portIndex, uint8_t lptMode);
    // Holds the box in reset; the driver stays open.
    void HoldReset();

    // The port this transport drives.
    TVicLPT& Port() const;
    // The clock of the time-outs and of the reset pulse's waits (the process clock by default).
    IClock& TimeSource() const;
    void SetTimeSource(IClock* clock) { clock_ = clock; }

private:
    [[noreturn]] void Fail(const char* message) const;
    // The port cannot be opened: a failure the session explains with the port checks.
    [[noreturn]] void FailOpen() const;

    TISPProgrammer& owner_;
    IClock* clock_ = nullptr;
};
