#include "link/hardware.h"

#include "base/hextext.h"
#include "base/isperrors.h"
#include "link/programmer.h"

const THardware& THardwareTable::Get(int index) const
{
    if (index < 0 || index >= Count()) throw EISPException("Internal error: Invalid Hardware Select", false, "");
    return rows_[static_cast<size_t>(index)];
}

int THardwareTable::Index(const std::string& name) const
{
    const std::string up = hex::ToUpper(name);
    int found = -1;
    for (int i = 0; i < Count(); ++i)
        if (hex::ToUpper(rows_[i].Name) == up) found = i;
    return found;
}

std::string THardwareTable::Canonical(const std::string& name) const
{
    if (Index(name) >= 0) return name;
    return Get(0).Name;
}

const THardware& THardwareTable::ByName(const std::string& name) const { return Get(Index(name)); }

std::unique_ptr<TISPProgrammer> THardwareTable::Create(int index, TLinkContext& context) const
{
    const THardware& row = Get(index);
    auto programmer = row.Creator(context);
    programmer->SetContext(&context);
    programmer->SetHardwareName(row.Name);
    programmer->SetDeviceSet(row.DeviceSet);
    return programmer;
}

std::vector<std::string> THardwareTable::Names() const
{
    std::vector<std::string> names;
    for (const THardware& row : *this)
        if (row.Listed) names.push_back(row.Name);
    return names;
}

const THardware& GetHardware(int index) { return BuiltInHardware().Get(index); }
int HardwareIndex(const std::string& name) { return BuiltInHardware().Index(name); }
std::string CanonicalHardwareName(const std::string& name) { return BuiltInHardware().Canonical(name); }
const THardware& GetHardwareByName(const std::string& name) { return BuiltInHardware().ByName(name); }
TByteSet HardwareDeviceSet(int index) { return GetHardware(index).DeviceSet; }
std::vector<std::string> HardwareNames() { return BuiltInHardware().Names(); }
