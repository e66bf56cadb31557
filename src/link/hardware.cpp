#include "link/hardware.h"


#include "base/hextext.h"
#include "base/isperrors.h"
#include "link/programmer.h"

namespace {
std::vector<THardware>& Table()
{
    static std::vector<THardware> table;
    return table;
}
}  // namespace

void RegisterHardware(const std::string& name, TByteSet deviceSet, THardwareCreator creator, bool listed)
{
    Table().push_back(THardware{listed, hex::ToUpper(name), deviceSet, std::move(creator)});
}

void ClearHardwareTable() { Table().clear(); }

THardware GetHardware(int index)
{
    if (index < 0 || index >= static_cast<int>(Table().size()))
        throw EISPException("Internal error: Invalid Hardware Select", false, "");
    return Table()[static_cast<size_t>(index)];
}

int HardwareIndex(const std::string& name)
{
    const std::string up = hex::ToUpper(name);
    int found = -1;
    for (size_t i = 0; i < Table().size(); ++i)
        if (hex::ToUpper(Table()[i].Name) == up) found = static_cast<int>(i);
    return found;
}

std::string CanonicalHardwareName(const std::string& name)
{
    try {
        if (HardwareIndex(hex::ToUpper(name)) >= 0) return name;
        return GetHardware(0).Name;
    } catch (const EISPException&) {
        return GetHardware(0).Name;
    }
}

THardware GetHardwareByName(const std::string& name) { return GetHardware(HardwareIndex(hex::ToUpper(name))); }

TByteSet HardwareDeviceSet(int index) { return GetHardware(index).DeviceSet; }

std::unique_ptr<TISPProgrammer> CreateProgrammer(int index)
{
    THardware row = GetHardware(index);
    auto programmer = row.Creator();
    programmer->SetHardwareName(row.Name);
    return programmer;
}

std::vector<std::string> HardwareNames()
{
    std::vector<std::string> names;
    for (const auto& row : Table())
        if (row.Listed) names.push_back(row.Name);
    return names;
}
