// The serial link's connection, port setup and information report.
#include "link/smartserial.h"

#include <vector>

#include "base/isperrors.h"
#include "link/linkcontext.h"

TSmartSerial::TSmartSerial()
{
    SetHasSetup(true);
    SetHasInformation(true);
}

bool TSmartSerial::Connect()
{
    LoadSettings();
    // Connecting again restarts the box: the port is reopened, not opened twice.
    transport_.Open(Context().Wide().PortIndex);

    protocol_.Greet();
    const std::string id = protocol_.AskIdentification();
    protocol_.ConfirmFirmware(1);
    transport_.Settle();
    if (id != TBoxProtocol::kExpectedId) throw EFirmwareMisMatch("Your ISP needs a firmware update");
    protocol_.Ping();
    return true;
}

void TSmartSerial::Disconnect()
{
    transport_.DestroyPort();
    protocol_.ClearSync();
    SaveSettings();
}

TSetupChoice TSmartSerial::SetupChoice()
{
    TSetupChoice choice;
    for (int n = 1; n <= 8; ++n) choice.Ports.push_back("COM" + std::to_string(n));
    choice.Index = Context().Wide().PortIndex;
    return choice;
}

// A cancelled setup changes nothing and, unlike the parallel link's, is no abort.
void TSmartSerial::ApplySetup(std::optional<int> chosen)
{
    if (!chosen || *chosen < 0) return;
    Context().Wide().PortIndex = static_cast<uint16_t>(*chosen);
    SaveSettings();
    Disconnect();
    Connect();
}

TProgrammerReport TSmartSerial::InformationReport()
{
    TProgrammerReport report;
    report.Form = TReportForm::TextReport;
    std::vector<std::string>& lines = report.Lines;
    lines.push_back("======== Programmer Connection =======");
    lines.push_back("Hardware Selected: " + HardwareName());
    lines.push_back("Connection Method: Serial Port");
    lines.push_back("Port Number: " + std::to_string(Context().Wide().PortIndex + 1));
    lines.push_back(transport_.IsOpen() ? "Driver Status: Connected" : "*Driver Status: Not Connected");
    lines.push_back("Max Read Timeout: " + std::to_string(MaxReadTimeout));
    lines.push_back("Max Write Timeout: " + std::to_string(MaxWriteTimeout));
    bool targetSilent = false;
    const bool answered = SynchroniseForReport(*this, lines, targetSilent);
    lines.push_back("======== General Information =======");
    if (answered) {
        const TBoxIdentity identity = protocol_.QueryIdentity();
        lines.push_back("Programmer ID: " + identity.ProgrammerId);
        lines.push_back("Hardware Version: " + identity.HardwareVersion);
        lines.push_back("Firmware Version: " + identity.FirmwareVersion);
        lines.push_back("======== Device Information =======");
        lines.push_back("Device Selected: " + (Device() ? Device()->Name() : std::string()));
        if (targetSilent) lines.push_back("*Target device not responding");
    }
    return report;
}
