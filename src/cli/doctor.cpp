#include "doctor.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <unistd.h>

#include "cli.h"
#include "store/qsettingsbackend.h"
#include "json.h"
#include "link/hardware.h"
#include "link/portidentity.h"

namespace fs = std::filesystem;

TCheck CheckFolder(const std::string& name, const std::string& folder)
{
    std::error_code ec;
    fs::path probe = folder;
    while (!probe.empty() && !fs::exists(probe, ec) && probe.has_parent_path() && probe.parent_path() != probe)
        probe = probe.parent_path();
    if (!fs::is_directory(probe, ec))
        return {name, TCheckStatus::Fail, probe.string() + " is not a folder", "remove or rename " + probe.string()};
    if (::access(probe.c_str(), W_OK | X_OK) != 0)
        return {name, TCheckStatus::Fail, "cannot write in " + probe.string(),
                "sudo chown -R $USER " + probe.string() + " (or set its permissions)"};
    return {name, TCheckStatus::Ok, folder + (probe == fs::path(folder) ? " is writable" : " can be created"), {}};
}

std::string ChecksJson(const std::vector<TCheck>& checks)
{
    std::vector<std::string> items;
    for (const TCheck& c : checks) {
        TJsonObject o;
        o.Set("name", c.Name);
        o.Set("status", CheckStatusWord(c.Status) == std::string("FAIL") ? "fail" : CheckStatusWord(c.Status));
        o.Set("message", c.Message);
        o.Set("fix", c.Fix);
        items.push_back(o.Text());
    }
    return JsonArray(items);
}

namespace {

int Ports(TCliContext& c)
{
    const std::string root = TSystemView::FromEnvironment().Root;
    const auto serial = ListSerialPortIdentities(root);
    const auto parallel = ListParallelPortIdentities(root);
    std::vector<std::string> serialJson, parallelJson;
    for (const TSerialPortIdentity& p : serial) {
        std::string line = DescribeSerialPort(p);
        if (!p.ById.empty()) line += "  " + p.ById;
        c.Data(line);
        TJsonObject o;
        o.Set("device", p.Device);
        o.Set("byId", p.ById);
        o.Set("vendorId", p.VendorId);
        o.Set("productId", p.ProductId);
        o.Set("serial", p.Serial);
        o.Set("description", p.Description);
        o.Set("com", p.ComNumber > 0 ? "COM" + std::to_string(p.ComNumber) : std::string());
        serialJson.push_back(o.Text());
    }
    for (const TParallelPortIdentity& p : parallel) {
        c.Data(DescribeParallelPort(p));
        TJsonObject o;
        o.Set("device", p.Device);
        o.Set("base", static_cast<int64_t>(p.Base));
        o.Set("lpt", "LPT" + std::to_string(p.LptNumber));
        parallelJson.push_back(o.Text());
    }
    if (serial.empty() && parallel.empty()) c.Data("No serial or parallel port found");
    c.Result().SetRaw("serial", JsonArray(serialJson));
    c.Result().SetRaw("parallel", JsonArray(parallelJson));
    return kExitOk;
}

int Doctor(TCliContext& c)
{
    const TSystemView system = TSystemView::FromEnvironment();
    std::vector<TCheck> checks = CheckPortNodes(system);
    for (TCheck& check : CheckPortHolders(system, c.PortPath())) checks.push_back(std::move(check));
    for (auto* more : {&CheckAdapterLatency, &CheckParallelDrivers})
        for (TCheck& check : more(system)) checks.push_back(std::move(check));

    // The settings the CLI and the window share.
    TQSettingsBackend backend;
    const std::string location = backend.Location();
    TCheck settings{"settings", TCheckStatus::Ok, location + " reads and parses", {}};
    try {
        c.Session().LoadEnvironment();
        std::error_code ec;
        if (!fs::exists(location, ec)) settings = CheckFolder("settings", fs::path(location).parent_path().string());
        else if (::access(location.c_str(), W_OK) != 0)
            settings = {"settings", TCheckStatus::Fail, location + " is not writable: nothing chosen would be kept",
                        "sudo chown $USER " + location};
    } catch (const std::exception& e) {
        settings = {"settings", TCheckStatus::Fail, e.what(),
                    "move " + location + " aside; the programs start on defaults and write a fresh one"};
    }
    checks.push_back(settings);

    // Only what stands between this program and the box's port fails the run.
    const TCheckLink link = c.HardwareName() == kHardwareLpt ? TCheckLink::Parallel : TCheckLink::Serial;
    std::string name = c.PortPath();
    if (name.empty()) {
        const int n = c.PortNumber() > 0 ? c.PortNumber()
                                         : static_cast<int>(c.Settings().Get(c.HardwareName(), "BASEPORT", 0).AsInteger(0)) + 1;
        name = (link == TCheckLink::Parallel ? "LPT" : "COM") + std::to_string(n);
    }
    const TPortInUse port = FindPortInUse(system, link, name);
    checks.insert(checks.begin(), CheckPortInUse(port));
    FocusOnPortInUse(checks, system, port);

    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    const std::string stateDir = state && *state ? state : std::string(home ? home : "") + "/.local/state";
    checks.push_back(CheckFolder("log file folder", stateDir + "/zemprix"));

    if (c.Options().probe) {
        const TCliCommand* info = FindCommand("info");
        const int code = info ? info->run(c) : kExitFailed;
        std::string id, firmware;
        for (const std::string& line : c.View().Report()) {
            if (line.rfind("Programmer ID: ", 0) == 0) id = line.substr(15);
            if (line.rfind("Firmware Version: ", 0) == 0) firmware = line.substr(18);
            if (line.rfind("COP8 Firmware Revision: ", 0) == 0) firmware = line.substr(24);
        }
        if (code == kExitOk)
            checks.push_back({"box", TCheckStatus::Ok, "the box answers: " + id + ", firmware " + firmware, {}});
        else
            checks.push_back({"box", TCheckStatus::Fail, "the box did not answer on the configured port",
                              "check the cable and the box's power, and the port (zemprix-cli ports; --port)"});
    }
    std::istringstream text(ChecksText(checks));
    for (std::string line; std::getline(text, line);) c.Data(line);
    c.Result().SetRaw("checks", ChecksJson(checks));
    return AnyFailed(checks) ? kExitFailed : kExitOk;
}

}  // namespace

const TCliCommand kPortCommands[2] = {
    {"ports", "", "list the serial and parallel ports with their identities", 0, Ports, false, 0},
    {"doctor", "", "check ports, permissions, drivers and settings (--probe: ask the box too)", 0, Doctor, false, 0},
};
