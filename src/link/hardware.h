#pragma once
// The table of programmer hardware kinds: display name, the devices it can program and the
// creator of its programmer object. The built-in table is constant; a session may be handed
// another (tests add a fake programmer's row).
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "devices/devices.h"

class TISPProgrammer;
class TLinkContext;

// Makes a row's programmer for the session whose link context it is given.
using THardwareCreator = std::unique_ptr<TISPProgrammer> (*)(TLinkContext& context);

struct THardware {
    bool Listed = false;
    const char* Name = "";  // upper case
    TByteSet DeviceSet = 0;
    THardwareCreator Creator = nullptr;
};

constexpr const char* kHardwareLpt = "ZEMPRIX (LPT)";
constexpr const char* kHardwareCom = "ZEMPRIX (COM)";

// A view of a constant hardware table, walked in order.
class THardwareTable {
public:
    constexpr THardwareTable(const THardware* rows, size_t count) : rows_(rows), count_(count) {}
    const THardware* begin() const { return rows_; }
    const THardware* end() const { return rows_ + count_; }
    int Count() const { return static_cast<int>(count_); }

    const THardware& Get(int index) const;  // raises "Internal error: Invalid Hardware Select"
    int Index(const std::string& name) const;
    std::string Canonical(const std::string& name) const;
    const THardware& ByName(const std::string& name) const;
    // The row's programmer, named after the row and bound to `context`.
    std::unique_ptr<TISPProgrammer> Create(int index, TLinkContext& context) const;
    std::vector<std::string> Names() const;

private:
    const THardware* rows_;
    size_t count_;
};

// The two rows of this system, "ZEMPRIX (LPT)" and "ZEMPRIX (COM)".
const THardwareTable& BuiltInHardware();

// Lookups in the built-in table.
const THardware& GetHardware(int index);  // raises "Internal error: Invalid Hardware Select"
int HardwareIndex(const std::string& name);
std::string CanonicalHardwareName(const std::string& name);
const THardware& GetHardwareByName(const std::string& name);
TByteSet HardwareDeviceSet(int index);
std::vector<std::string> HardwareNames();
