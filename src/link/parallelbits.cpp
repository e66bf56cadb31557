// The parallel link's bit layer and connection: every bit is moved on single connector pins
// and paced by the box's handshake line; no delays inside the byte exchange.
#include <string>
#include <vector>

#include "base/hextext.h"
#include "base/isperrors.h"
#include "link/linkhost.h"
#include "link/linkcontext.h"
#include "link/linkwide.h"
#include "link/smartparallel.h"
#include "lpt/LptUnit.h"
#include "lpt/advanced.h"
#include "base/clock.h"
#include "lpt/tiraltimer.h"

namespace {

constexpr int64_t kReadyLimitSeconds = 30;
constexpr int kEchoPollLimit = 255;
constexpr uint8_t kEcho = 0x2A;

}  // namespace

TSmartParallel::TSmartParallel()
{
    SetHasSetup(true);
    SetHasInformation(true);
}

bool TSmartParallel::WaitReady(bool reportProgress)
{
    TVicLPT& lpt = Context().Lpt();
    IClock& clock = TimeSource();
    const int64_t frequency = clock.PerformanceFrequency();
    const int64_t limit = kReadyLimitSeconds * frequency;
    const int64_t start = clock.PerformanceCounter();
    int64_t lastReport = start;
    // An answer the box may take long to give: the shell hears from the link before it waits.
    if (reportProgress) DoProgress(-1, -1);
    do {
        const int64_t now = clock.PerformanceCounter();
        if (now - start > limit) Fail(kTimedOut);
        // A long wait (a page erase) reports every 20 ms, never per poll.
        if (reportProgress && now - lastReport > frequency / 50) {
            lastReport = now;
            DoProgress(-1, -1);
        }
    } while (!lpt.ReadPin(AckPin));
    return !lpt.ReadPin(DataInPin);
}

uint8_t TSmartParallel::ReadByte(bool reportProgress)
{
    try {
        if (!WaitReady(reportProgress)) Fail(kCommFailed);
    } catch (const EAbortOp&) {
        // Left in the middle of an answer: the next exchange must start afresh.
        Synced = false;
        throw;
    }
    TVicLPT& lpt = Context().Lpt();
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
    Context().Trace().Byte('<', value);
    return value;
}

void TSmartParallel::WriteByte(uint8_t value)
{
    Context().Trace().Byte('>', value);
    if (WaitReady()) Fail(kTimedOut);
    TVicLPT& lpt = Context().Lpt();
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

bool TSmartParallel::Connect()
{
    TVicLPT& lpt = Context().Lpt();
    lpt.OpenDriver(1);
    if (lpt.DriverInstance() == 0) Fail("LPT port not found or in use by another program");
    LoadSettings();
    Synced = false;
    TLinkWide& wide = Context().Wide();
    if (wide.PortIndex > 2) wide.PortIndex = 0;  // only LPT1 to LPT3 are used
    lpt.SelectPort(wide.PortIndex + 1);
    // LPT1 has no base address when the configuration lists only higher ports: there is no
    // port to drive, so say so now rather than after a 30-second handshake time-out.
    if (lpt.BaseAddress() == 0) Fail("LPT port not found or in use by another program");
    lpt.SetLptMode(wide.LptMode);
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

    // The box announces itself after the reset without being asked.
    std::string id;
    for (int i = 0; i < 9; ++i) id += static_cast<char>(ReadByte());
    if (id != ExpectedId()) throw EFirmwareMisMatch("Your ISP needs a firmware update");

    wide.LinkKind = 2;
    CheckFirmware();

    const TTimingValues timing{wide.PGMTIME, wide.TENCYC, wide.BusyTime};
    RefreshPortInfo(lpt, wide.PortIndex, timing, Context().Timer(),
                    [this](const std::string& line) { Host().AppendLog(line); });
    return true;
}

void TSmartParallel::Disconnect()
{
    TVicLPT& lpt = Context().Lpt();
    lpt.WritePin(ResetPin, false);
    lpt.WritePin(SelectPin, false);
    SaveSettings();
    Synced = false;
}

void TSmartParallel::Setup()
{
    TVicLPT& lpt = Context().Lpt();
    std::vector<std::string> ports;
    Host().ClearAdvancedPortList();
    for (int n = 1; n <= lpt.PortCount(); ++n) {
        ports.push_back("LPT" + std::to_string(n));
        Host().AddAdvancedPort(ports.back());
    }
    int index = Context().Wide().PortIndex;
    if (!Host().RunSetupDialog(ports, index)) throw EAbort("Cancelled");
    Context().Wide().PortIndex = static_cast<uint16_t>(index < 0 ? 0 : index);
    SaveSettings();
    Disconnect();
    Connect();
}

void TSmartParallel::ShowInformation(const std::string& softwareVersion)
{
    TVicLPT& lpt = Context().Lpt();
    std::string firmware = "Unknown Hardware not available";
    std::vector<std::string> lines;
    lines.push_back("Printer Port: LPT" + std::to_string(Context().Wide().PortIndex + 1) +
                    " Port Address:" + hex::Hex(lpt.BaseAddress(), 3));
    lines.push_back(lpt.DriverInstance() == 1 ? "Printer Port Driver: OK" : "Printer Port Driver: Unavailable");

    bool targetAbsent = false;
    const bool answered = SynchroniseForReport(lines, targetAbsent);
    lines.push_back("======== General Information =======");
    if (answered) {
        lines.push_back("Programmer ID: " + Query('S', 9));
        lines.push_back("Hardware Version: " + Query('V', 4));
        firmware = Query('v', 4);
        lines.push_back("Device Selected: " + (Device() ? Device()->Name() : std::string()));
        if (targetAbsent) lines.push_back("*Target device not responding");
    }
    Host().ShowProgrammerInformation(softwareVersion, firmware, lines);
}
