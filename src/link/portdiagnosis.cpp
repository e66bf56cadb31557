#include "link/portdiagnosis.h"

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

TSystemView TSystemView::FromEnvironment()
{
    TSystemView view = Current();
    if (const char* root = std::getenv("ZEMPRIX_SYSTEM_ROOT")) view.Root = root;
    return view;
}

TPortInUse FindPortInUse(const TSystemView& system, TCheckLink link, const std::string& name)
{
    TPortInUse port;
    port.Link = link;
    port.Name = name;
    const std::string prefix = link == TCheckLink::Parallel ? "LPT" : "COM";
    const bool numbered = name.size() > 3 && name.size() < 7 && name.compare(0, 3, prefix) == 0 &&
                          name.find_first_not_of("0123456789", 3) == std::string::npos;
    if (!numbered) {
        // A path is the user's own: it is looked for on this machine, not in the tree.
        std::error_code ec;
        if (fs::exists(name, ec)) port.Device = name;
        return port;
    }
    const int n = std::stoi(name.substr(3));
    if (link == TCheckLink::Parallel) {
        for (const TParallelPortIdentity& p : ListParallelPortIdentities(system.Root))
            if (p.LptNumber == n) port.Device = p.Device;
    } else {
        for (const TSerialPortIdentity& p : ListSerialPortIdentities(system.Root))
            if (p.ComNumber == n) port.Device = p.Device;
    }
    return port;
}

std::vector<TCheck> CheckPortNodes(const TSystemView& system)
{
    std::vector<TCheck> checks;
    const auto serial = ListSerialPortIdentities(system.Root);
    // Only a warning: whether the box's own port is there is checked by name.
    if (serial.empty())
        checks.push_back({"serial ports", TCheckStatus::Warn, "no serial port found",
                          "plug the box's USB serial adapter in; `dmesg` shows whether the system saw it", TCheckLink::Serial});
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
                              "for the adapter",
                              TCheckLink::Serial});
        if (proc.Name == "brltty")
            checks.push_back({"brltty", TCheckStatus::Warn,
                              "brltty is running (pid " + proc.Pid + ") and takes over some USB serial adapters (CH341, CP210x)",
                              "sudo apt-get remove brltty, or sudo systemctl mask brltty-udev", TCheckLink::Serial});
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
                          "sudo modprobe -r lp; to keep it away: echo 'blacklist lp' | sudo tee /etc/modprobe.d/no-lp.conf",
                          TCheckLink::Parallel});
    return checks;
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

std::vector<TCheck> DiagnosePortOpenFailure(const TSystemView& system, const TPortInUse& port)
{
    std::vector<TCheck> checks{CheckPortInUse(port)};
    for (TCheck& c : CheckPortNodes(system)) checks.push_back(std::move(c));
    const bool path = port.Name.find('/') != std::string::npos;
    for (TCheck& c : CheckPortHolders(system, path ? port.Name : std::string())) checks.push_back(std::move(c));
    if (port.Link == TCheckLink::Parallel)
        for (TCheck& c : CheckParallelDrivers(system)) checks.push_back(std::move(c));
    FocusOnPortInUse(checks, system, port);
    // What fails for this port, and the warnings about this kind of port or this very node (an
    // access list, a service that grabs adapters); the other ports are not this failure's cause.
    std::vector<TCheck> found;
    for (TCheck& c : checks) {
        const bool relevant = c.Status == TCheckStatus::Fail ||
                              (c.Status == TCheckStatus::Warn && c.Link == port.Link &&
                               (c.Device.empty() || c.Device == port.Device));
        if (relevant) found.push_back(std::move(c));
    }
    return found;
}

const char* CheckStatusWord(TCheckStatus s) { return s == TCheckStatus::Ok ? "ok" : s == TCheckStatus::Warn ? "warn" : "FAIL"; }

bool AnyFailed(const std::vector<TCheck>& checks)
{
    return std::any_of(checks.begin(), checks.end(), [](const TCheck& c) { return c.Status == TCheckStatus::Fail; });
}

std::string ChecksText(const std::vector<TCheck>& checks)
{
    std::string text;
    for (const TCheck& c : checks) {
        std::string word = CheckStatusWord(c.Status);
        word.resize(5, ' ');
        text += word + c.Name + ": " + c.Message + "\n";
        if (!c.Fix.empty()) text += "     fix: " + c.Fix + "\n";
    }
    return text;
}

