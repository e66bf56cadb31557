#pragma once
// The programmer box as an in-process serial port: bytes written go straight into a TBoxModel
// and its answers are waiting at once, so link tests run in virtual time without any real I/O.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/linkcontext.h"
#include "link/serialport.h"
#include "sim/boxmodel.h"

// What the installed factory shares with the ports it made.
struct TSimSerialShared {
    class TSimSerialPort* last = nullptr;  // the newest port still alive
    int created = 0;
    bool failOpen = false;  // Open raises ESerialOpenError, as for a missing or busy port
};

class TSimSerialPort : public ISerialPort {
public:
    // The box outlives the port: the link closes and reopens its port on every reconnection,
    // while the target's memory must stay.
    explicit TSimSerialPort(TBoxModel& box, std::shared_ptr<TSimSerialShared> shared = nullptr);
    ~TSimSerialPort() override;

    void Open(const std::string& name, int32_t baud) override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    // DTR and RTS both falling and then rising is the box's reset pulse.
    void SetDtr(bool on) override { SetLine(dtr_, on); }
    void SetRts(bool on) override { SetLine(rts_, on); }
    void SetParitySpace() override { paritySpace_ = true; }
    void SetBufferSizes(size_t, size_t) override {}
    void FlushInput() override;
    void FlushOutput() override {}
    size_t BytesWaiting() override;
    // Never blocks: the box has answered everything it is going to answer already.
    size_t WaitForBytes(size_t count, int ms) override;
    uint8_t TakeByte() override;
    std::string Take(size_t n) override;
    void WriteByte(uint8_t value) override;

    TBoxModel& Box() { return box_; }
    const std::string& OpenedName() const { return name_; }
    int32_t Baud() const { return baud_; }
    bool ParitySpace() const { return paritySpace_; }
    int Resets() const { return resets_; }

private:
    void SetLine(bool& line, bool on);
    void RequireOpen() const;

    TBoxModel& box_;
    std::shared_ptr<TSimSerialShared> shared_;
    bool open_ = false;
    bool dtr_ = false;
    bool rts_ = false;
    bool pulseLow_ = false;  // both lines have been low since the last reset
    bool paritySpace_ = false;
    std::string name_;
    int32_t baud_ = 0;
    int resets_ = 0;
};

// Gives a link context a serial port factory that hands the serial link TSimSerialPorts on `box`
// for this object's lifetime, and removes it afterwards.
class TSimSerialInstall {
public:
    TSimSerialInstall(TLinkContext& context, TBoxModel& box);
    ~TSimSerialInstall();
    TSimSerialInstall(const TSimSerialInstall&) = delete;
    TSimSerialInstall& operator=(const TSimSerialInstall&) = delete;

    // The port most recently created if the link still holds it, else nullptr.
    TSimSerialPort* Last() const { return shared_->last; }
    int Created() const { return shared_->created; }
    void SetOpenFails(bool fails) { shared_->failOpen = fails; }

private:
    TLinkContext& context_;
    std::shared_ptr<TSimSerialShared> shared_;
};
