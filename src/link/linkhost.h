#pragma once
// What a link needs from whoever runs it: a message pump to stay responsive, the status log for
// raw lines, and the dialogs it opens. The GUI implements this with widgets, the CLI with text.
#include <string>
#include <vector>

class ILinkHost {
public:
    virtual ~ILinkHost() = default;
    // Lets the user interface run pending events (repaints, the Abort button).
    virtual void PumpMessages() {}
    // Appends one raw line to the status log (no kind prefix, no time).
    virtual void AppendLog(const std::string& line) { (void)line; }
    // The port setup dialog ("ISP Configuration"): shows `ports` with `index` selected; returns
    // true on OK with `index` set to the chosen entry. The dialog may change the selected
    // parallel port while it is open; the link re-reads what it needs afterwards.
    virtual bool RunSetupDialog(const std::vector<std::string>& ports, int& index)
    {
        (void)ports;
        (void)index;
        return false;
    }
    // Clears the advanced port dialog's port list / appends to it (the setup dialog shares it).
    virtual void ClearAdvancedPortList() {}
    virtual void AddAdvancedPort(const std::string& name) { (void)name; }
    // The parallel link's information dialog: software version, firmware text, extra lines.
    virtual void ShowProgrammerInformation(const std::string& softwareVersion, const std::string& firmware,
                                           const std::vector<std::string>& lines)
    {
        (void)softwareVersion;
        (void)firmware;
        (void)lines;
    }
    // The general text dialog used by the serial link's report.
    virtual void ShowTextReport(const std::vector<std::string>& lines) { (void)lines; }
};

// A host that does nothing: no pumping, no log, every dialog cancelled.
ILinkHost& NullLinkHost();
