#include "link/portidentity.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "base/hextext.h"
#include "lpt/findlpt.h"

namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool IsUsbName(const std::string& name)
{
    return name.find("USB") != std::string::npos || name.find("ACM") != std::string::npos;
}

struct TFound {
    std::string name;  // "ttyUSB0"
    TSerialPortIdentity identity;
};

std::vector<TFound> Scan(const std::string& root)
{
    std::vector<TFound> found;
    std::error_code ec;
    const fs::path classDir = fs::path(root + "/sys/class/tty");
    for (const auto& entry : fs::directory_iterator(classDir, ec)) {
        const std::string name = entry.path().filename().string();
        const fs::path deviceLink = entry.path() / "device";
        if (!fs::exists(deviceLink, ec)) continue;  // virtual terminals have no device
        // The legacy UART driver lists ports that are not there; "type" 0 means none.
        if (name.rfind("ttyS", 0) == 0 && ReadLine(entry.path() / "type") == "0") continue;
        TFound f;
        f.name = name;
        f.identity.Device = "/dev/" + name;
        // The USB device is the first parent with a vendor id.
        fs::path at = fs::canonical(deviceLink, ec);
        const fs::path top = fs::path(root.empty() ? "/" : root) / "sys";
        for (int depth = 0; !ec && depth < 8 && at.has_parent_path() && at.string().size() > top.string().size();
             ++depth, at = at.parent_path()) {
            if (!fs::exists(at / "idVendor", ec)) continue;
            f.identity.VendorId = Lower(ReadLine(at / "idVendor"));
            f.identity.ProductId = Lower(ReadLine(at / "idProduct"));
            f.identity.Serial = ReadLine(at / "serial");
            const std::string maker = ReadLine(at / "manufacturer"), product = ReadLine(at / "product");
            f.identity.Description = product.empty() ? maker : product;
            break;
        }
        found.push_back(std::move(f));
    }
    // The stable names the system gives USB adapters.
    for (const auto& link : fs::directory_iterator(fs::path(root + "/dev/serial/by-id"), ec)) {
        std::error_code lec;
        const fs::path target = fs::read_symlink(link.path(), lec);
        if (lec) continue;
        for (TFound& f : found)
            if (target.filename().string() == f.name) f.identity.ById = "/dev/serial/by-id/" + link.path().filename().string();
    }
    std::stable_sort(found.begin(), found.end(), [](const TFound& a, const TFound& b) {
        const bool ua = !a.identity.VendorId.empty() || IsUsbName(a.name);
        const bool ub = !b.identity.VendorId.empty() || IsUsbName(b.name);
        if (ua != ub) return ua;
        return a.name < b.name;
    });
    return found;
}

}  // namespace

std::vector<std::string> SerialPortsInComOrder(const std::string& root)
{
    std::vector<std::string> paths;
    for (const TFound& f : Scan(root)) paths.push_back(f.identity.Device);
    return paths;
}

std::vector<TSerialPortIdentity> ListSerialPortIdentities(const std::string& root)
{
    std::vector<TSerialPortIdentity> ports;
    for (TFound& f : Scan(root)) ports.push_back(std::move(f.identity));
    for (size_t i = 0; i < ports.size(); ++i) ports[i].ComNumber = static_cast<int>(i) + 1;
    // A variable takes its number from the port that had it; a path it names that is not listed
    // (a simulator's pseudo-terminal) joins the list.
    for (int n = 1; n <= 99; ++n) {
        const char* named = std::getenv(("ZEMPRIX_COM" + std::to_string(n)).c_str());
        if (!named || !*named) continue;
        for (TSerialPortIdentity& p : ports)
            if (p.ComNumber == n) p.ComNumber = 0;
        auto it = std::find_if(ports.begin(), ports.end(), [&](const TSerialPortIdentity& p) { return p.Device == named; });
        if (it == ports.end()) {
            TSerialPortIdentity extra;
            extra.Device = named;
            extra.Description = "ZEMPRIX_COM" + std::to_string(n);
            ports.push_back(extra);
            it = ports.end() - 1;
        }
        it->ComNumber = n;
    }
    return ports;
}

std::vector<TParallelPortIdentity> ListParallelPortIdentities(const std::string& root)
{
    std::vector<TParallelPortIdentity> ports;
    const std::vector<TProcParport> known = ReadProcParports(root + "/proc/sys/dev/parport");
    std::error_code ec;
    for (int n = 0; n < 16; ++n) {
        const std::string device = "/dev/parport" + std::to_string(n);
        const auto config = std::find_if(known.begin(), known.end(), [&](const TProcParport& p) { return p.Number == n; });
        if (!fs::exists(root + device, ec) && config == known.end()) continue;
        TParallelPortIdentity p;
        p.Device = device;
        p.LptNumber = n + 1;
        if (config != known.end() && config->Base != 0) p.Base = config->Base;
        ports.push_back(p);
    }
    return ports;
}

std::string DescribeSerialPort(const TSerialPortIdentity& port)
{
    std::string text = (port.ComNumber > 0 ? "COM" + std::to_string(port.ComNumber) + " = " : "") + port.Device;
    std::string details;
    if (!port.VendorId.empty()) details = port.VendorId + ":" + port.ProductId;
    if (!port.Description.empty()) details += (details.empty() ? "" : " ") + port.Description;
    if (!port.Serial.empty()) details += (details.empty() ? "" : ", ") + std::string("serial ") + port.Serial;
    return details.empty() ? text : text + " (" + details + ")";
}

std::string DescribeParallelPort(const TParallelPortIdentity& port)
{
    std::string text = "LPT" + std::to_string(port.LptNumber) + " = " + port.Device;
    if (port.Base >= 0) text += " (base " + hex::Hex(static_cast<uint64_t>(port.Base), 4) + "h)";
    return text;
}

bool IsUsbSelector(const std::string& text) { return text.rfind("usb:", 0) == 0 || text.rfind("USB:", 0) == 0; }

std::vector<TSerialPortIdentity> MatchUsbSelector(const std::string& selector, const std::string& root)
{
    if (!IsUsbSelector(selector)) throw std::invalid_argument("not a usb: selector");
    std::vector<std::string> parts;
    size_t start = 4;
    for (;;) {
        const size_t colon = selector.find(':', start);
        parts.push_back(selector.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    auto hex4 = [](const std::string& s) {
        return s.size() == 4 && std::all_of(s.begin(), s.end(), [](char c) { return hex::IsHexDigit(c); });
    };
    if (parts.size() < 2 || parts.size() > 3 || !hex4(parts[0]) || !hex4(parts[1]) || (parts.size() == 3 && parts[2].empty()))
        throw std::invalid_argument("usb:VID:PID[:SERIAL] with four hex digits each");
    std::vector<TSerialPortIdentity> matches;
    for (const TSerialPortIdentity& p : ListSerialPortIdentities(root))
        if (p.VendorId == Lower(parts[0]) && p.ProductId == Lower(parts[1]) &&
            (parts.size() < 3 || p.Serial == parts[2]))
            matches.push_back(p);
    return matches;
}

std::string DescribePortHolders(const std::string& device, const std::string& root)
{
    auto node = [](const std::string& path) {
        std::error_code ec;
        const fs::path resolved = fs::weakly_canonical(path, ec);
        return ec ? fs::path(path).lexically_normal().string() : resolved.string();
    };
    const std::string wanted = node(device);
    std::vector<std::pair<long, std::string>> holders;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(root + "/proc"), ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.empty() || pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code dec;
        for (const auto& fd : fs::directory_iterator(entry.path() / "fd", dec)) {
            std::error_code lec;
            const std::string target = fs::read_symlink(fd.path(), lec).string();
            if (lec || target.rfind("/dev/", 0) != 0 || node(root + target) != wanted) continue;
            holders.emplace_back(std::stol(pid), ReadLine(entry.path() / "comm"));
            break;
        }
    }
    std::sort(holders.begin(), holders.end());
    std::string text;
    for (const auto& [pid, name] : holders)
        text += (text.empty() ? "" : ", ") + name + " (pid " + std::to_string(pid) + ")";
    return text;
}
