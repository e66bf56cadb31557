#include "link/serialtransport.h"

#include <algorithm>

#include "base/clock.h"
#include "base/isperrors.h"
#include "link/linkhost.h"
#include "link/linkcontext.h"
#include "link/programmer.h"

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

TSerialTransport::TSerialTransport(TISPProgrammer& owner) : owner_(owner) {}

TSerialTransport::~TSerialTransport() { DestroyPort(); }

IClock& TSerialTransport::TimeSource() const { return clock_ ? *clock_ : Clock(); }

void TSerialTransport::Fail(const char* message) const { throw EISPException(message, false, owner_.HardwareName()); }

void TSerialTransport::FlushBoth()
{
    port_->FlushInput();
    port_->FlushOutput();
}

void TSerialTransport::CreatePort()
{
    if (!port_) port_ = owner_.Context().NewSerialPort();
}

void TSerialTransport::DestroyPort()
{
    if (port_) {
        port_->Close();
        port_.reset();
    }
}

void TSerialTransport::Open(uint16_t portIndex)
{
    CreatePort();
    if (port_->IsOpen()) port_->Close();
    IClock& clock = TimeSource();
    const std::string name = owner_.Context().SerialPortName().empty() ? "COM" + std::to_string(portIndex + 1) : owner_.Context().SerialPortName();
    port_->SetBufferSizes(kBufferSize, kBufferSize);
    port_->Open(name, kBaud);
    port_->RequestLowLatency();
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

    FlushBoth();
    port_->SetParitySpace();
    clock.Sleep(250);
}

void TSerialTransport::Settle()
{
    FlushBoth();
    TimeSource().Sleep(50);
}

uint8_t TSerialTransport::ReadByte(bool reportProgress)
{
    if (!port_) Fail(kCommFailed);
    Deadline deadline(TimeSource(), kReadSeconds);
    for (;;) {
        if (reportProgress) owner_.DoProgress(-1, -1);
        if (port_->BytesWaiting() > 0) {
            const uint8_t value = port_->TakeByte();
            owner_.Context().Trace().Byte('<', value);
            return value;
        }
        if (deadline.Passed()) break;
        if (port_->WaitForBytes(1, deadline.RemainingMs()) == 0) TimeSource().Sleep(1);
    }
    Fail(kCommFailed);
}

void TSerialTransport::WriteByte(uint8_t value)
{
    if (!port_) Fail(kCommFailed);
    owner_.Context().Trace().Byte('>', value);
    port_->WriteByte(value);
}

void TSerialTransport::DiscardInput()
{
    if (IsOpen()) port_->FlushInput();
}

bool TSerialTransport::WaitReady(bool reportProgress)
{
    if (!port_) Fail(kCommFailed);
    Deadline deadline(TimeSource(), kReadySeconds);
    // An answer the box may take long to give: the shell hears from the link before it waits.
    if (reportProgress) owner_.DoProgress(-1, -1);
    while (port_->BytesWaiting() == 0) {
        if (deadline.Passed()) Fail(kTimedOut);
        if (reportProgress)
            owner_.DoProgress(-1, -1);
        else
            owner_.Host().PumpMessages();
        if (port_->WaitForBytes(1, deadline.RemainingMs()) == 0) TimeSource().Sleep(1);
    }
    return true;
}

bool TSerialTransport::ReadWholeBlock(const std::string& command, size_t length, std::string& answer)
{
    if (!port_) Fail(kCommFailed);
    FlushBoth();
    for (char c : command) WriteByte(static_cast<uint8_t>(c));

    Deadline deadline(TimeSource(), kReadSeconds);
    size_t waiting = 0;
    for (;;) {
        waiting = port_->BytesWaiting();
        if (waiting >= length || deadline.Passed()) break;
        owner_.Host().PumpMessages();
        if (port_->WaitForBytes(length, deadline.RemainingMs()) == waiting) TimeSource().Sleep(1);
    }
    answer.clear();
    if (waiting == length || waiting == 2) answer = port_->Take(waiting);
    owner_.Context().Trace().Bytes('<', answer);
    // Two characters stand for an error answer only when they start with "?"; two data
    // characters are a block cut short, not a block read.
    if (answer.empty() || (answer.size() != length && answer[0] != '?')) {
        // Neither a whole block nor an error answer: the exchange is out of step.
        FlushBoth();
        Fail(kCommFailed);
    }
    if (answer[0] == '?') FlushBoth();
    return true;
}
