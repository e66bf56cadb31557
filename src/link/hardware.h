#pragma once
// The process-wide table of programmer hardware kinds: display name, the devices it can
// program and the creator of its programmer object.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/devices.h"

class TISPProgrammer;

using THardwareCreator = std::function<std::unique_ptr<TISPProgrammer>()>;

struct THardware {
    bool Listed = false;
    std::string Name;  // upper case
    TByteSet DeviceSet = 0;
    THardwareCreator Creator;
};

constexpr const char* kHardwareLpt = "ZEMPRIX (LPT)";
constexpr const char* kHardwareCom = "ZEMPRIX (COM)";

void RegisterHardware(const std::string& name, TByteSet deviceSet, THardwareCreator creator, bool listed);
// Registers the two rows of this system ("ZEMPRIX (LPT)", "ZEMPRIX (COM)"), once per process.
void RegisterDefaultHardware();
// Empties the table; for tests that build their own.
void ClearHardwareTable();

THardware GetHardware(int index);  // raises "Internal error: Invalid Hardware Select"
int HardwareIndex(const std::string& name);
std::string CanonicalHardwareName(const std::string& name);
THardware GetHardwareByName(const std::string& name);
TByteSet HardwareDeviceSet(int index);
std::unique_ptr<TISPProgrammer> CreateProgrammer(int index);
std::vector<std::string> HardwareNames();
