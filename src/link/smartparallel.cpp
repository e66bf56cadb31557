// The parallel link's connection, port setup and information report.
#include "link/smartparallel.h"

#include <string>
#include <vector>

#include "base/hextext.h"
#include "base/isperrors.h"
#include "link/linkhost.h"
#include "link/linkcontext.h"
#include "lpt/portunit.h"
#include "lpt/advanced.h"
#include "lpt/tiraltimer.h"

TSmartParallel::TSmartParallel()
{
    SetHasSetup(true);
    SetHasInformation(true);
}

bool TSmartParallel::Connect()
{
    transport_.OpenDriver();
    LoadSettings();
    protocol_.ClearSync();
    TLinkWide& wide = Context().Wide();
    if (wide.PortIndex > 2) wide.PortIndex = 0;  // only LPT1 to LPT3 are used
    transport_.StartBox(wide.PortIndex, wide.LptMode);

    // The box announces itself after the reset without being asked.
    protocol_.ReadAnnouncement();
    protocol_.ConfirmFirmware(2);

    const TTimingValues timing{wide.PGMTIME, wide.TENCYC, wide.BusyTime};
    RefreshPortInfo(transport_.Port(), wide.PortIndex, timing, Context().Timer(),
                    [this](const std::string& line) { Host().AppendLog(line); });
    return true;
}

void TSmartParallel::Disconnect()
{
    transport_.HoldReset();
    SaveSettings();
    protocol_.ClearSync();
}

TSetupChoice TSmartParallel::SetupChoice()
{
    TSetupChoice choice;
    for (int n = 1; n <= transport_.Port().PortCount(); ++n) choice.Ports.push_back("LPT" + std::to_string(n));
    choice.Index = Context().Wide().PortIndex;
    choice.ReplacesAdvancedList = true;
    return choice;
}

// A cancelled setup is an abort here, which the shell reports as "Options Cancelled".
void TSmartParallel::ApplySetup(std::optional<int> chosen)
{
    if (!chosen) throw EAbort("Cancelled");
    Context().Wide().PortIndex = static_cast<uint16_t>(*chosen < 0 ? 0 : *chosen);
    SaveSettings();
    Disconnect();
    Connect();
}

TProgrammerReport TSmartParallel::InformationReport()
{
    TVicLPT& lpt = transport_.Port();
    TProgrammerReport report;
    report.Form = TReportForm::InformationDialog;
    report.Firmware = "Unknown Hardware not available";
    std::vector<std::string>& lines = report.Lines;
    lines.push_back("Printer Port: LPT" + std::to_string(Context().Wide().PortIndex + 1) +
                    " Port Address:" + hex::Hex(lpt.BaseAddress(), 3));
    lines.push_back(lpt.DriverInstance() == 1 ? "Printer Port Driver: OK" : "Printer Port Driver: Unavailable");

    bool targetAbsent = false;
    const bool answered = SynchroniseForReport(*this, lines, targetAbsent);
    lines.push_back("======== General Information =======");
    if (answered) {
        const TBoxIdentity identity = protocol_.QueryIdentity();
        lines.push_back("Programmer ID: " + identity.ProgrammerId);
        lines.push_back("Hardware Version: " + identity.HardwareVersion);
        report.Firmware = identity.FirmwareVersion;
        lines.push_back("Device Selected: " + (Device() ? Device()->Name() : std::string()));
        if (targetAbsent) lines.push_back("*Target device not responding");
    }
    return report;
}
