#include "devices/devices.h"

#include <stdexcept>

#include "base/hextext.h"

namespace {
struct DeviceRow {
    const char* name;
    int32_t flashSize;
    int32_t pageSize;
    int32_t eepromSize;
    TByteSet hardwareSet;
    uint8_t option;
};

constexpr TByteSet kCop8Set = SetOf({2, 6, 7});  // C4h
constexpr TByteSet kTaSet = SetOf({6, 7});       // C0h

const DeviceRow kDevices[] = {
    {"COP8CBR9", 0x8000, 128, 0, kCop8Set, 0x44}, {"COP8CCR9", 0x8000, 128, 0, kCop8Set, 0x44},
    {"COP8CDR9", 0x8000, 128, 0, kCop8Set, 0x44}, {"COP8SBR9", 0x8000, 128, 0, kCop8Set, 0x44},
    {"COP8SCR9", 0x8000, 128, 0, kCop8Set, 0x44}, {"COP8SDR9", 0x8000, 128, 0, kCop8Set, 0x44},
    {"COP8AME9", 0x2000, 64, 0, kCop8Set, 0x44},  {"COP8ANE9", 0x2000, 64, 0, kCop8Set, 0x44},
    {"COP8CBE9", 0x2000, 64, 0, kCop8Set, 0x44},  {"COP8CCE9", 0x2000, 64, 0, kCop8Set, 0x44},
    {"COP8CDE9", 0x2000, 64, 0, kCop8Set, 0x44},  {"COP8SBE9", 0x2000, 64, 0, kCop8Set, 0x44},
    {"COP8SCE9", 0x2000, 64, 0, kCop8Set, 0x44},  {"COP8SDE9", 0x2000, 64, 0, kCop8Set, 0x44},
    {"COP8CFE9", 0x2000, 64, 0, kCop8Set, 0x44},  {"COP8TAB9", 0x0800, 512, 0, kTaSet, 0x40},
    {"COP8TAC9", 0x1000, 512, 0, kTaSet, 0x40},
};
}  // namespace

TDevice::TDevice(std::string name, TByteSet hardwareSet, int32_t flashSize, int32_t eepromSize,
                 int32_t pageSize, std::vector<TDeviceOptions> options)
    : flashSize_(flashSize),
      eepromSize_(eepromSize),
      name_(std::move(name)),
      hardwareSet_(hardwareSet),
      pageSize_(pageSize),
      options_(std::move(options))
{
}

int TDeviceList::Add(std::unique_ptr<TDevice> device)
{
    devices_.push_back(std::move(device));
    return Count() - 1;
}

const TDevice& TDeviceList::Items(int index) const
{
    if (index < 0 || index >= Count()) throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return *devices_[static_cast<size_t>(index)];
}

void TDeviceList::LoadDevices()
{
    for (const auto& row : kDevices)
        Add(std::make_unique<TDevice>(row.name, row.hardwareSet, row.flashSize, row.eepromSize,
                                      row.pageSize, std::vector<TDeviceOptions>{TDeviceOptions(row.option)}));
}

const TDevice* TDeviceList::FirstForHardware(TByteSet set) const
{
    for (const auto& d : devices_)
        if (SetsMeet(d->HardwareSet(), set)) return d.get();
    return nullptr;
}

std::vector<std::string> TDeviceList::NamesForHardware(TByteSet set) const
{
    std::vector<std::string> names;
    for (const auto& d : devices_)
        if (SetsMeet(d->HardwareSet(), set)) names.push_back(d->Name());
    return names;
}

const TDevice* TDeviceList::FindDevice(const std::string& name, TByteSet set) const
{
    const TDevice* found = nullptr;
    for (const auto& d : devices_)
        if (hex::SameText(d->Name(), name) && SetsMeet(d->HardwareSet(), set)) found = d.get();
    return found;
}

const TDeviceList& DeviceList()
{
    static const TDeviceList list = [] {
        TDeviceList l;
        l.LoadDevices();
        return l;
    }();
    return list;
}
