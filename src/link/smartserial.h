#pragma once
// The same programmer box on a serial port: whole bytes at 115200 baud instead of pin bits.
// Everything above the byte layer is inherited from the parallel link.
#include <memory>

#include "link/serialport.h"
#include "link/smartparallel.h"

class TSmartSerial : public TSmartParallel {
public:
    TSmartSerial();
    ~TSmartSerial() override;

    bool Connect() override;
    void Disconnect() override;
    void Setup() override;
    void ShowInformation(const std::string& softwareVersion) override;
    void ReadBlock(uint8_t* buffer, char command, uint32_t start, uint32_t count) override;
    uint8_t ReadByte(bool reportProgress = false) override;
    void WriteByte(uint8_t value) override;
    void SendByte(uint8_t value) override { WriteByte(value); }
    bool WaitReady(bool reportProgress = false) override;
    void DiscardStaleInput() override;

    void CreatePort();
    void DestroyPort();
    bool PortCreated() const { return port_ != nullptr; }
    ISerialPort* Port() const { return port_.get(); }

private:
    std::unique_ptr<ISerialPort> port_;
};
