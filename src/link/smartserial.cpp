// The serial byte layer and connection: whole bytes through a serial port, time-outs on the
// performance counter, the DTR/RTS reset pulse.
#include "link/smartserial.h"

#include <algorithm>

#include "base/hextext.h"
#include "base/isperrors.h"
#include "link/linkhost.h"
#include "link/linkcontext.h"
#include "link/linkwide.h"
#include "base/clock.h"

namespace {
constexpr int32_t kBaud = 115200;
constexpr size_t kBufferSize = 4096;
constexpr int kReadSeconds = 2;
constexpr int kReadySeconds = 5;
// How long one wait on the port may block before the link looks at its limits again.
constexpr int kPollMs = 20;

struct Deadline {
    IClock& clock;
    int64_t start;
    int64_t limit;
    Deadline(IClock& c, int seconds) : clock(c), start(c.PerformanceCounter()), limit(seconds * c.PerformanceFrequency()) {}
    bool Passed() const { return clock.PerformanceCounter() - start > limit; }
    int RemainingMs() const
    {
        const int64_t left = limit - (clock.PerformanceCounter() - start);
        const int64_t f = clock.PerformanceFrequency();
        return static_cast<int>(std::clamp<int64_t>(f > 0 ? left * 1000 / f : 0, 0, kPollMs));
    }
};
}  // namespace

TSmartSerial::TSmartSerial() = default;

TSmartSerial::~TSmartSerial() { DestroyPort(); }

void TSmartSerial::CreatePort()
{
    if (port_) return;
    port_ = Context().NewSerialPort();
    SetHasInformation(true);
    SetHasSetup(true);
}

void TSmartSerial::DestroyPort()
{
    if (port_) {
        port_->Close();
        port_.reset();
    }
}

bool TSmartSerial::Connect()
{
    CreatePort();
    // Connecting again restarts the box: the port is reopened, not opened twice.
    if (port_->IsOpen()) port_->Close();
    LoadSettings();
    IClock& clock = TimeSource();
    const std::string name =
        Context().SerialPortName().empty() ? "COM" + std::to_string(Context().Wide().PortIndex + 1) : Context().SerialPortName();
    port_->SetBufferSizes(kBufferSize, kBufferSize);
    port_->Open(name, kBaud);
    port_->SetDtr(true);
    port_->SetRts(true);

    // Reset pulse for the box.
    clock.Sleep(250);
    port_->SetDtr(false);
    port_->SetRts(false);
    clock.Sleep(250);
    port_->SetDtr(true);
    port_->SetRts(true);
    clock.Sleep(250);

    port_->FlushInput();
    port_->FlushOutput();
    port_->SetParitySpace();
    clock.Sleep(250);

    SendByte('*');
    if (ReadByte(true) == '?') ReadByte(true);

    std::string id;
    try {
        id = Query('S', 9);
        Context().Wide().LinkKind = 1;
        CheckFirmware();
    } catch (const EISPException&) {
        throw EISPException("ISP is not responding, check your communications settings");
    }
    port_->FlushInput();
    port_->FlushOutput();
    clock.Sleep(50);
    if (id != ExpectedId()) throw EFirmwareMisMatch("Your ISP needs a firmware update");
    Ping();
    return true;
}

void TSmartSerial::Disconnect()
{
    DestroyPort();
    Synced = false;
    SaveSettings();
}

uint8_t TSmartSerial::ReadByte(bool reportProgress)
{
    if (!port_) Fail(kCommFailed);
    Deadline deadline(TimeSource(), kReadSeconds);
    for (;;) {
        if (reportProgress) {
            try {
                DoProgress(-1, -1);
            } catch (...) {
                // Left in the middle of an answer: the next exchange must start afresh.
                Synced = false;
                throw;
            }
        }
        if (port_->BytesWaiting() > 0) {
            const uint8_t value = port_->TakeByte();
            Context().Trace().Byte('<', value);
            return value;
        }
        if (deadline.Passed()) break;
        if (port_->WaitForBytes(1, deadline.RemainingMs()) == 0) TimeSource().Sleep(1);
    }
    Fail(kCommFailed);
}

void TSmartSerial::WriteByte(uint8_t value)
{
    if (!port_) Fail(kCommFailed);
    Context().Trace().Byte('>', value);
    port_->WriteByte(value);
}

void TSmartSerial::DiscardStaleInput()
{
    if (port_ && port_->IsOpen()) port_->FlushInput();
}

bool TSmartSerial::WaitReady(bool reportProgress)
{
    if (!port_) Fail(kCommFailed);
    Deadline deadline(TimeSource(), kReadySeconds);
    // An answer the box may take long to give: the shell hears from the link before it waits.
    if (reportProgress) DoProgress(-1, -1);
    while (port_->BytesWaiting() == 0) {
        if (deadline.Passed()) Fail(kTimedOut);
        if (reportProgress)
            DoProgress(-1, -1);
        else
            Host().PumpMessages();
        if (port_->WaitForBytes(1, deadline.RemainingMs()) == 0) TimeSource().Sleep(1);
    }
    return true;
}

void TSmartSerial::ReadBlock(uint8_t* buffer, char, uint32_t start, uint32_t count)
{
    if (!port_) Fail(kCommFailed);
    port_->FlushInput();
    port_->FlushOutput();
    SendCommandNoAck('R', hex::Hex4(start) + hex::Hex4(count));

    const size_t whole = 2 * static_cast<size_t>(count) + 1;
    Deadline deadline(TimeSource(), kReadSeconds);
    size_t waiting = 0;
    for (;;) {
        waiting = port_->BytesWaiting();
        if (waiting >= whole || deadline.Passed()) break;
        Host().PumpMessages();
        if (port_->WaitForBytes(whole, deadline.RemainingMs()) == waiting) TimeSource().Sleep(1);
    }
    std::string text;
    if (waiting == whole || waiting == 2) text = port_->Take(waiting);
    Context().Trace().Bytes('<', text);
    // Two characters stand for an error answer only when they start with "?"; two data
    // characters are a block cut short, not a block read.
    if (text.empty() || (text.size() != whole && text[0] != '?')) {
        // Neither a whole block nor an error answer: the exchange is out of step.
        port_->FlushInput();
        port_->FlushOutput();
        Fail(kCommFailed);
    }

    // A block that is not all hexadecimal digits is noise, never data; an error mark is the
    // box's answer and is read below.
    if (text[0] != '?')
        for (size_t k = 0; k + 1 < text.size(); ++k)
            if (!hex::IsHexDigit(text[k])) {
                port_->FlushInput();
                Synced = false;
                Fail(kCommFailed);
            }

    bool errorMark = false;
    uint8_t last = 0;
    for (size_t k = 0; k + 1 < text.size(); k += 2) {
        const uint8_t hi = static_cast<uint8_t>(text[k]);
        const uint8_t lo = static_cast<uint8_t>(text[k + 1]);
        last = lo;
        if (hi == '?') {
            errorMark = true;
            break;
        }
        buffer[start + k / 2] = DataPair(hi, lo);
        Host().PumpMessages();
    }
    if (errorMark) {
        port_->FlushInput();
        port_->FlushOutput();
        BoxErrorAnswer(last);
    }
    RaiseBoxError(last);  // after a whole block a hex digit, which raises nothing
}

void TSmartSerial::Setup()
{
    std::vector<std::string> ports;
    for (int n = 1; n <= 8; ++n) {
        ports.push_back("COM" + std::to_string(n));
        Host().AddAdvancedPort(ports.back());
    }
    int index = Context().Wide().PortIndex;
    if (Host().RunSetupDialog(ports, index) && index >= 0) {
        Context().Wide().PortIndex = static_cast<uint16_t>(index);
        SaveSettings();
        Disconnect();
        Connect();
    }
}

void TSmartSerial::ShowInformation(const std::string&)
{
    std::vector<std::string> lines;
    lines.push_back("======== Programmer Connection =======");
    lines.push_back("Hardware Selected: " + HardwareName());
    lines.push_back("Connection Method: Serial Port");
    lines.push_back("Port Number: " + std::to_string(Context().Wide().PortIndex + 1));
    lines.push_back(port_ && port_->IsOpen() ? "Driver Status: Connected" : "*Driver Status: Not Connected");
    lines.push_back("Max Read Timeout: " + std::to_string(MaxReadTimeout));
    lines.push_back("Max Write Timeout: " + std::to_string(MaxWriteTimeout));
    bool targetSilent = false;
    const bool answered = SynchroniseForReport(lines, targetSilent);
    lines.push_back("======== General Information =======");
    if (answered) {
        lines.push_back("Programmer ID: " + Query('S', 9));
        lines.push_back("Hardware Version: " + Query('V', 4));
        lines.push_back("Firmware Version: " + Query('v', 4));
        lines.push_back("======== Device Information =======");
        lines.push_back("Device Selected: " + (Device() ? Device()->Name() : std::string()));
        if (targetSilent) lines.push_back("*Target device not responding");
    }
    Host().ShowTextReport(lines);
}
