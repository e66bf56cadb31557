#pragma once
// What the serial link needs of a serial port. QSerialPort serves in production
// (serialport_qt.cpp); tests plug in the simulator's byte stream. Failures raise
// ESerialOpenError (open) or ESerialError (anything later).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ISerialPort {
public:
    virtual ~ISerialPort() = default;
    // `name` is "COMn" or a device path. Opens at `baud`, 8 data bits, 1 stop bit, no flow control.
    virtual void Open(const std::string& name, int32_t baud) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Modem lines and parity are best effort: a pseudo-terminal cannot set them.
    virtual void SetDtr(bool on) = 0;
    virtual void SetRts(bool on) = 0;
    virtual void SetParitySpace() = 0;
    virtual void SetBufferSizes(size_t in, size_t out) = 0;
    virtual void FlushInput() = 0;
    virtual void FlushOutput() = 0;
    // Bytes received and not yet taken. Gathers whatever the system has waiting first.
    virtual size_t BytesWaiting() = 0;
    // Waits up to `ms` for at least `count` bytes to be waiting; returns the number waiting.
    virtual size_t WaitForBytes(size_t count, int ms) = 0;
    // Takes one waiting byte (call only when BytesWaiting() > 0) / up to n waiting bytes.
    virtual uint8_t TakeByte() = 0;
    virtual std::string Take(size_t n) = 0;
    virtual void WriteByte(uint8_t value) = 0;
    // Pushes written bytes out (the link writes single bytes; a port may batch them until here
    // or until it next waits for input).
    virtual void Flush() {}
    // Asks the driver to hand over received bytes at once. USB serial adapters otherwise hold a
    // short answer for their latency timer (16 ms on FTDI chips), and the box answers every
    // 16-byte block. Best effort: false where the driver has no such setting.
    virtual bool RequestLowLatency() { return false; }
};

// Sets the serial driver's low-latency flag on an open terminal; false when the descriptor is no
// serial driver's (a pseudo-terminal) or the system has no such flag. Never raises.
bool RequestLowLatency(int fd);

// What the serial link creates its port with; each session's link context holds one (the
// platform layer gives it QSerialPort's).
using TSerialPortFactory = std::function<std::unique_ptr<ISerialPort>()>;

// "COMn" (any case) resolves through the environment variable ZEMPRIX_COMn when set, else to the
// n-th serial port the system lists (USB adapters first, sorted by name); a path is kept as is.
// The system's list is asked only when needed, through the given lister.
std::string ResolveComPortName(const std::string& name,
                               const std::function<std::vector<std::string>()>& listPorts);
