#pragma once
// The box on a serial port: whole bytes at 115200 baud, time-outs on the performance counter,
// the DTR/RTS reset pulse.
#include <cstdint>
#include <memory>
#include <string>

#include "link/boxtransport.h"
#include "link/serialport.h"

class IClock;
class TISPProgrammer;

class TSerialTransport final : public IBoxTransport {
public:
    // `owner` names the failures, pumps while the transport waits and receives the keep-alive
    // calls of long waits.
    explicit TSerialTransport(TISPProgrammer& owner);
    ~TSerialTransport() override;
    TSerialTransport(const TSerialTransport&) = delete;
    TSerialTransport& operator=(const TSerialTransport&) = delete;

    void WriteByte(uint8_t value) override;
    uint8_t ReadByte(bool reportProgress) override;
    // True once a byte is waiting: a serial box never waits for the PC to clock anything.
    bool WaitReady(bool reportProgress) override;
    bool ReadWholeBlock(const std::string& command, size_t length, std::string& answer) override;
    void DiscardInput() override;

    // Creates the port object (once); the port is opened by Open.
    void CreatePort();
    // Closes the port and frees it.
    void DestroyPort();
    bool PortCreated() const { return port_ != nullptr; }
    ISerialPort* Port() const { return port_.get(); }
    bool IsOpen() const { return port_ && port_->IsOpen(); }
    // (Re)opens the port (the override name when one is set, else COM(portIndex + 1)) and
    // pulses DTR and RTS, which resets the box. A port open already is closed first.
    void Open(uint16_t portIndex);
    // Once the box has identified itself: both directions emptied, then a short pause.
    void Settle();

    // The clock of the time-outs and of the reset pulse's waits (the process clock by default).
    IClock& TimeSource() const;
    void SetTimeSource(IClock* clock) { clock_ = clock; }

private:
    [[noreturn]] void Fail(const char* message) const;
    void FlushBoth();

    TISPProgrammer& owner_;
    std::unique_ptr<ISerialPort> port_;
    IClock* clock_ = nullptr;
};
