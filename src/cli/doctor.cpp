#include "doctor.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "cli.h"
#include "store/qsettingsbackend.h"
#include "json.h"
#include "link/hardware.h"
#include "link/portidentity.h"

namespace fs = std::filesystem;

namespace {

struct TGroupEntry {
    std::string Name;
    gid_t Gid = 0;
    std::vector<std::string> Members;
};

std::vector<TGroupEntry> ReadGroups(const std::string& root)
{
    std::vector<TGroupEntry> groups;
    std::ifstream in(root + "/etc/group");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream s(line);
        std::string f;
        while (std::getline(s, f, ':')) fields.push_back(f);
        if (fields.size() < 3) continue;
        TGroupEntry g;
        g.Name = fields[0];
        g.Gid = static_cast<gid_t>(std::strtoul(fields[2].c_str(), nullptr, 10));
        if (fields.size() > 3) {
            std::stringstream m(fields[3]);
            while (std::getline(m, f, ',')) g.Members.push_back(f);
        }
        groups.push_back(g);
    }
    return groups;
}

std::string GroupName(const std::vector<TGroupEntry>& groups, gid_t gid)
{
    for (const TGroupEntry& g : groups)
        if (g.Gid == gid) return g.Name;
    return std::to_string(gid);
}

// Whether the node's mode bits let this user read and write it.
bool MayOpen(const TSystemView& system, const struct stat& st)
{
    if (system.Uid == 0) return true;
    const mode_t rw = S_IRUSR | S_IWUSR;
    if (st.st_uid == system.Uid) return (st.st_mode & rw) == rw;
    if (std::find(system.Groups.begin(), system.Groups.end(), st.st_gid) != system.Groups.end())
        return (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    return (st.st_mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH);
}

bool HasAcl(const std::string& path)
{
    // systemd's uaccess grants the logged-in user an ACL entry on the node.
    char value[8];
    return getxattr(path.c_str(), "system.posix_acl_access", value, 0) > 0;
}

TCheck NodeCheck(const TSystemView& system, const std::string& device, const std::string& label)
{
    TCheck check{label, TCheckStatus::Ok, device + ": the user may open it", {}};
    struct stat st {};
    if (::stat((system.Root + device).c_str(), &st) != 0) {
        check.Status = TCheckStatus::Fail;
        check.Message = device + " does not exist";
        check.Fix = "plug the adapter in, or check that its driver is loaded (dmesg)";
        return check;
    }
    if (MayOpen(system, st)) return check;
    const auto groups = ReadGroups(system.Root);
    const std::string group = GroupName(groups, st.st_gid);
    bool listed = false;
    for (const TGroupEntry& g : groups)
        if (g.Gid == st.st_gid && std::find(g.Members.begin(), g.Members.end(), system.UserName) != g.Members.end())
            listed = true;
    if (HasAcl(system.Root + device)) {
        check.Status = TCheckStatus::Warn;
        check.Message = device + " belongs to group " + group + "; an access list (uaccess) may still let this user in";
        check.Fix = "if opening fails: sudo usermod -aG " + group + " " + system.UserName + ", then log out and in";
        return check;
    }
    check.Status = TCheckStatus::Fail;
    if (listed) {
        check.Message = device + " needs group " + group + "; " + system.UserName +
                        " is a member, but not in this login session";
        check.Fix = "log out and in again (or run: newgrp " + group + ")";
    } else {
        check.Message = device + " needs group " + group + " and " + system.UserName + " is not a member";
        check.Fix = "sudo usermod -aG " + group + " " + system.UserName + ", then log out and in";
    }
    return check;
}

std::string ReadLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

struct TProcess {
    std::string Pid, Name;
};

std::vector<TProcess> Processes(const std::string& root)
{
    std::vector<TProcess> list;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root + "/proc", ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        list.push_back({pid, ReadLine(entry.path().string() + "/comm")});
    }
    std::sort(list.begin(), list.end(), [](const TProcess& a, const TProcess& b) { return std::stol(a.Pid) < std::stol(b.Pid); });
    return list;
}

bool ModuleLoaded(const std::string& root, const std::string& name)
{
    std::error_code ec;
    if (fs::exists(root + "/sys/module/" + name, ec)) return true;
    std::ifstream in(root + "/proc/modules");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name + " ", 0) == 0) return true;
    return false;
}

const char* StatusWord(TCheckStatus s) { return s == TCheckStatus::Ok ? "ok" : s == TCheckStatus::Warn ? "warn" : "FAIL"; }

}  // namespace

TSystemView TSystemView::Current()
{
    TSystemView view;
    view.Uid = getuid();
    if (const passwd* pw = getpwuid(view.Uid)) view.UserName = pw->pw_name;
    const int n = getgroups(0, nullptr);
    view.Groups.resize(static_cast<size_t>(std::max(0, n)));
    if (n > 0 && getgroups(n, view.Groups.data()) != n) view.Groups.clear();
    view.Groups.push_back(getgid());
    return view;
}

std::vector<TCheck> CheckPortNodes(const TSystemView& system)
{
    std::vector<TCheck> checks;
    const auto serial = ListSerialPortIdentities(system.Root);
    // Only a warning: whether the box's own port is there is checked by name.
    if (serial.empty())
        checks.push_back({"serial ports", TCheckStatus::Warn, "no serial port found",
                          "plug the box's USB serial adapter in; `dmesg` shows whether the system saw it"});
    for (const TSerialPortIdentity& p : serial) {
        if (p.Device.rfind("/dev/", 0) != 0) continue;  // a variable's pseudo-terminal
        checks.push_back(NodeCheck(system, p.Device, "serial port " + DescribeSerialPort(p)));
        checks.back().Link = TCheckLink::Serial;
        checks.back().Device = p.Device;
    }
    for (const TParallelPortIdentity& p : ListParallelPortIdentities(system.Root)) {
        checks.push_back(NodeCheck(system, p.Device, "parallel port " + DescribeParallelPort(p)));
        checks.back().Link = TCheckLink::Parallel;
        checks.back().Device = p.Device;
    }
    return checks;
}

std::vector<TCheck> CheckPortHolders(const TSystemView& system, const std::string& portPath)
{
    std::vector<TCheck> checks;
    // A port is matched by its node, so that a by-id name, a link or ".." in a path finds it.
    auto node = [](const std::string& path) {
        std::error_code ec;
        const fs::path resolved = fs::weakly_canonical(path, ec);
        return ec ? fs::path(path).lexically_normal().string() : resolved.string();
    };
    struct TWatched {
        std::string Device, Node;
        TCheckLink Link;
    };
    std::vector<TWatched> devices;
    for (const auto& p : ListSerialPortIdentities(system.Root))
        devices.push_back({p.Device, node(system.Root + p.Device), TCheckLink::Serial});
    for (const auto& p : ListParallelPortIdentities(system.Root))
        devices.push_back({p.Device, node(system.Root + p.Device), TCheckLink::Parallel});
    // The box's port given as a path need not be a port the system lists (a pseudo-terminal).
    if (!portPath.empty()) {
        const std::string n = node(portPath);
        if (std::none_of(devices.begin(), devices.end(), [&](const TWatched& d) { return d.Node == n; }))
            devices.push_back({portPath, n, TCheckLink::Serial});
    }
    const std::vector<TProcess> processes = Processes(system.Root);
    std::vector<std::string> holders(devices.size());
    for (const TProcess& proc : processes) {
        std::vector<bool> counted(devices.size(), false);
        std::error_code ec;
        for (const auto& fd : fs::directory_iterator(system.Root + "/proc/" + proc.Pid + "/fd", ec)) {
            std::error_code lec;
            const std::string target = fs::read_symlink(fd.path(), lec).string();
            if (lec || target.rfind("/dev/", 0) != 0) continue;
            const std::string held = node(system.Root + target);
            for (size_t i = 0; i < devices.size(); ++i) {
                if (counted[i] || devices[i].Node != held) continue;
                counted[i] = true;
                holders[i] += (holders[i].empty() ? "" : ", ") + proc.Name + " (pid " + proc.Pid + ")";
            }
        }
    }
    for (size_t i = 0; i < devices.size(); ++i)
        if (!holders[i].empty())
            checks.push_back({"port in use", TCheckStatus::Fail, devices[i].Device + " is open in " + holders[i],
                              "end that program, or choose another port", devices[i].Link, devices[i].Device});
    if (checks.empty()) checks.push_back({"ports in use", TCheckStatus::Ok, "no other program holds a port open", {}});
    for (const TProcess& proc : processes) {
        if (proc.Name == "ModemManager")
            checks.push_back({"ModemManager", TCheckStatus::Warn,
                              "ModemManager is running (pid " + proc.Pid + ") and probes new USB serial adapters, "
                              "which can disturb the box for the first seconds",
                              "sudo systemctl disable --now ModemManager, or a udev rule with ENV{ID_MM_DEVICE_IGNORE}=\"1\" "
                              "for the adapter"});
        if (proc.Name == "brltty")
            checks.push_back({"brltty", TCheckStatus::Warn,
                              "brltty is running (pid " + proc.Pid + ") and takes over some USB serial adapters (CH341, CP210x)",
                              "sudo apt-get remove brltty, or sudo systemctl mask brltty-udev"});
    }
    return checks;
}

std::vector<TCheck> CheckAdapterLatency(const TSystemView& system)
{
    std::vector<TCheck> checks;
    for (const TSerialPortIdentity& p : ListSerialPortIdentities(system.Root)) {
        if (p.Device.rfind("/dev/", 0) != 0) continue;
        const std::string name = fs::path(p.Device).filename().string();
        // FTDI's driver shows the timer on the port's device; other drivers have none.
        const std::string value = ReadLine(system.Root + "/sys/class/tty/" + name + "/device/latency_timer");
        if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos || value.size() > 4) continue;
        const int ms = std::stoi(value);
        if (ms <= 1) continue;
        // The box answers every 16-byte block: 2,048 answers for 32 KB.
        const int extraSeconds = (2048 * ms + 500) / 1000;
        checks.push_back({"latency timer", TCheckStatus::Warn,
                          p.Device + " holds every answer of the box up to " + std::to_string(ms) +
                              " ms (latency_timer), which adds about " + std::to_string(extraSeconds) +
                              " s to programming 32 KB",
                          "echo 1 | sudo tee /sys/bus/usb-serial/devices/" + name +
                              "/latency_timer; to keep it, install the udev rule of the zemprix package "
                              "(60-zemprix.rules) and replug the adapter",
                          TCheckLink::Serial, p.Device});
    }
    return checks;
}

std::vector<TCheck> CheckParallelDrivers(const TSystemView& system)
{
    std::vector<TCheck> checks;
    std::error_code ec;
    const bool parallel = !ListParallelPortIdentities(system.Root).empty() || fs::exists(system.Root + "/sys/class/parport", ec) ||
                          ModuleLoaded(system.Root, "parport_pc");
    if (!parallel) {
        checks.push_back({"parallel port", TCheckStatus::Ok, "no parallel port on this machine (the serial box needs none)", {}});
        return checks;
    }
    if (ModuleLoaded(system.Root, "ppdev"))
        checks.push_back({"ppdev", TCheckStatus::Ok, "the ppdev module is loaded", {}});
    else
        checks.push_back({"ppdev", TCheckStatus::Fail, "the ppdev module is not loaded: /dev/parportN cannot be opened",
                          "sudo modprobe ppdev; to keep it: echo ppdev | sudo tee /etc/modules-load.d/ppdev.conf",
                          TCheckLink::Parallel, {}});
    if (ModuleLoaded(system.Root, "lp") || fs::exists(system.Root + "/sys/class/lp/lp0", ec))
        checks.push_back({"lp driver", TCheckStatus::Warn,
                          "the lp printer driver is loaded and claims the parallel port while it prints",
                          "sudo modprobe -r lp; to keep it away: echo 'blacklist lp' | sudo tee /etc/modprobe.d/no-lp.conf"});
    return checks;
}

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

TCheck CheckPortInUse(const TPortInUse& port)
{
    const char* kind = port.Link == TCheckLink::Parallel ? "the parallel port " : "the serial port ";
    if (!port.Device.empty())
        return {"box port", TCheckStatus::Ok, kind + port.Name + (port.Name == port.Device ? " is there" : " is " + port.Device), {}};
    return {"box port", TCheckStatus::Fail, kind + port.Name + " is not on this machine",
            "choose one that `zemprix-cli ports` lists, with --port or in the window's Setup"};
}

void FocusOnPortInUse(std::vector<TCheck>& checks, const TSystemView& system, const TPortInUse& port)
{
    // By-id names and other links name the same node.
    auto node = [](const std::string& path) {
        std::error_code ec;
        const fs::path resolved = fs::weakly_canonical(path, ec);
        return ec ? path : resolved.string();
    };
    const std::string inUse = port.Device.empty() ? std::string() : node(port.Device);
    for (TCheck& c : checks) {
        if (c.Status != TCheckStatus::Fail || c.Link == TCheckLink::None) continue;
        const bool otherKind = c.Link != port.Link;
        const bool otherPort = !c.Device.empty() && node(system.Root + c.Device) != inUse && c.Device != port.Device;
        if (!otherKind && !otherPort) continue;
        c.Status = TCheckStatus::Warn;
        c.Message += otherKind ? " (the box is set to the " +
                                     std::string(port.Link == TCheckLink::Parallel ? "parallel" : "serial") + " link)"
                               : " (not the port in use, " + port.Name + ")";
    }
}

bool AnyFailed(const std::vector<TCheck>& checks)
{
    return std::any_of(checks.begin(), checks.end(), [](const TCheck& c) { return c.Status == TCheckStatus::Fail; });
}

std::string ChecksText(const std::vector<TCheck>& checks)
{
    std::string text;
    for (const TCheck& c : checks) {
        std::string word = StatusWord(c.Status);
        word.resize(5, ' ');
        text += word + c.Name + ": " + c.Message + "\n";
        if (!c.Fix.empty()) text += "     fix: " + c.Fix + "\n";
    }
    return text;
}

std::string ChecksJson(const std::vector<TCheck>& checks)
{
    std::vector<std::string> items;
    for (const TCheck& c : checks) {
        TJsonObject o;
        o.Set("name", c.Name);
        o.Set("status", StatusWord(c.Status) == std::string("FAIL") ? "fail" : StatusWord(c.Status));
        o.Set("message", c.Message);
        o.Set("fix", c.Fix);
        items.push_back(o.Text());
    }
    return JsonArray(items);
}

namespace {

// Where tests point the system paths; the machine itself otherwise.
TSystemView SystemForCommand()
{
    TSystemView view = TSystemView::Current();
    if (const char* root = std::getenv("ZEMPRIX_SYSTEM_ROOT")) view.Root = root;
    return view;
}

int Ports(TCliContext& c)
{
    const std::string root = SystemForCommand().Root;
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
    const TSystemView system = SystemForCommand();
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
    TPortInUse port;
    port.Link = c.HardwareName() == kHardwareLpt ? TCheckLink::Parallel : TCheckLink::Serial;
    if (!c.PortPath().empty()) {
        port.Name = port.Device = c.PortPath();
        std::error_code ec;
        if (!fs::exists(port.Device, ec)) port.Device.clear();
    } else {
        const int n = c.PortNumber() > 0 ? c.PortNumber()
                                         : static_cast<int>(c.Settings().Get(c.HardwareName(), "BASEPORT", 0).AsInteger(0)) + 1;
        if (port.Link == TCheckLink::Parallel) {
            port.Name = "LPT" + std::to_string(n);
            for (const TParallelPortIdentity& p : ListParallelPortIdentities(system.Root))
                if (p.LptNumber == n) port.Device = p.Device;
        } else {
            port.Name = "COM" + std::to_string(n);
            for (const TSerialPortIdentity& p : ListSerialPortIdentities(system.Root))
                if (p.ComNumber == n) port.Device = p.Device;
        }
    }
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
