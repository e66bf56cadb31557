#include "link/paralleltransport.h"

#include "base/clock.h"
#include "base/isperrors.h"
#include "link/linkcontext.h"
#include "link/programmer.h"
#include "lpt/portunit.h"

namespace {

constexpr int64_t kReadyLimitSeconds = 30;
constexpr int kEchoPollLimit = 255;
constexpr uint8_t kEcho = 0x2A;
constexpr const char* kNoPort = "LPT port not found or in use by another program";

}  // namespace

TParallelTransport::TParallelTransport(TISPProgrammer& owner) : owner_(owner) {}

TVicLPT& TParallelTransport::Port() const { return owner_.Context().Lpt(); }

IClock& TParallelTransport::TimeSource() const { return clock_ ? *clock_ : Clock(); }

void TParallelTransport::Fail(const char* message) const { throw EISPException(message, false, owner_.HardwareName()); }

void TParallelTransport::FailOpen() const { throw ELptOpenError(kNoPort, false, owner_.HardwareName()); }

bool TParallelTransport::WaitReady(bool reportProgress)
{
    TVicLPT& lpt = Port();
    IClock& clock = TimeSource();
    const int64_t frequency = clock.PerformanceFrequency();
    const int64_t limit = kReadyLimitSeconds * frequency;
    const int64_t start = clock.PerformanceCounter();
    int64_t lastReport = start;
    // An answer the box may take long to give: the shell hears from the link before it waits.
    if (reportProgress) owner_.DoProgress(-1, -1);
    do {
        const int64_t now = clock.PerformanceCounter();
        if (now - start > limit) Fail(kTimedOut);
        // A long wait (a page erase) reports every 20 ms, never per poll.
        if (reportProgress && now - lastReport > frequency / 50) {
            lastReport = now;
            owner_.DoProgress(-1, -1);
        }
    } while (!lpt.ReadPin(AckPin));
    return !lpt.ReadPin(DataInPin);
}

uint8_t TParallelTransport::ReadByte(bool reportProgress)
{
    if (!WaitReady(reportProgress)) Fail(kCommFailed);
    TVicLPT& lpt = Port();
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        // The poll that reaches the limit fails even when it reads high.
        int32_t polls = 0;
        for (;;) {
            const bool high = lpt.ReadPin(AckPin);
            if (++polls >= MaxReadTimeout) Fail(kCommFailed);
            if (high) break;
        }
        lpt.WritePin(ClockPin, true);
        // The box presents the bit by lowering AckPin; a box that never does would hang the
        // program, so this wait has the same poll limit.
        polls = 0;
        while (lpt.ReadPin(AckPin)) {
            if (++polls >= MaxReadTimeout) Fail(kCommFailed);
        }
        value = static_cast<uint8_t>((value << 1) | (lpt.ReadPin(DataInPin) ? 1 : 0));
        lpt.WritePin(ClockPin, false);
    }
    owner_.Context().Trace().Byte('<', value);
    return value;
}

void TParallelTransport::WriteByte(uint8_t value)
{
    owner_.Context().Trace().Byte('>', value);
    if (WaitReady(false)) Fail(kTimedOut);
    TVicLPT& lpt = Port();
    IClock& clock = TimeSource();
    const int64_t limit = kReadyLimitSeconds * clock.PerformanceFrequency();
    uint8_t echo = 0;
    for (int bit = 7; bit >= 0; --bit) {
        lpt.WritePin(SelectPin, false);
        lpt.WritePin(ClockPin, false);
        lpt.WritePin(DataOutPin, ((value >> bit) & 1) != 0);
        lpt.WritePin(ClockPin, true);
        int polls = 0;
        while (lpt.ReadPin(AckPin)) {
            if (++polls >= kEchoPollLimit) Fail(kTimedOut);
        }
        echo = static_cast<uint8_t>((echo << 1) | (lpt.ReadPin(DataInPin) ? 1 : 0));
        lpt.WritePin(ClockPin, false);
        const int64_t start = clock.PerformanceCounter();
        while (!lpt.ReadPin(AckPin)) {
            if (clock.PerformanceCounter() - start > limit) Fail(kTimedOut);
        }
    }
    if (echo != kEcho) Fail(kCommFailed);
}

void TParallelTransport::OpenDriver()
{
    TVicLPT& lpt = Port();
    lpt.OpenDriver(1);
    if (lpt.DriverInstance() == 0) FailOpen();
}

void TParallelTransport::StartBox(uint16_t portIndex, uint8_t lptMode)
{
    TVicLPT& lpt = Port();
    lpt.SelectPort(portIndex + 1);
    // LPT1 has no base address when the configuration lists only higher ports: there is no
    // port to drive, so say so now rather than after a 30-second handshake time-out.
    // Registers the backend refused (ppdev could not open or claim the node) would read as a
    // silent box after the same time-out.
    if (lpt.BaseAddress() == 0 || !lpt.PortGranted(lpt.CurrentPort())) FailOpen();
    lpt.SetLptMode(lptMode);
    lpt.WriteEcr(0);
    for (int pin = 1; pin <= 17; ++pin) lpt.WritePin(pin, false);
    for (int pin = 2; pin <= 9; ++pin) lpt.WritePin(pin, true);

    IClock& clock = TimeSource();
    clock.Sleep(300);
    lpt.WritePin(ClockPin, false);
    lpt.WritePin(SelectPin, false);
    lpt.WritePin(ResetPin, false);
    clock.Sleep(500);
    lpt.WritePin(ResetPin, true);
    clock.Sleep(500);
}

void TParallelTransport::HoldReset()
{
    TVicLPT& lpt = Port();
    lpt.WritePin(ResetPin, false);
    lpt.WritePin(SelectPin, false);
}
