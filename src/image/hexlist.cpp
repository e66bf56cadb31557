#include "image/hexlist.h"

#include "devices/devices.h"
#include "base/hextext.h"
#include "base/isperrors.h"

namespace {
[[noreturn]] void OutOfRange(const std::string& head, uint32_t address)
{
    throw EISPException(head + hex::Hex8(address) + " out of range");
}
}  // namespace

void THexList::SetSize(uint32_t n)
{
    status_.assign(n, TProgStatus(ps_normal));
    values_.assign(n, kBlank);
    Clear();
}

uint8_t THexList::GetValue(uint32_t address) const
{
    if (address >= Size()) OutOfRange("THexList:GetValue:", address);
    return values_[address];
}

void THexList::SetValue(uint32_t address, uint8_t value)
{
    if (address >= Size()) OutOfRange("Set Value of Address: ", address);
    values_[address] = value;
}

TProgStatus THexList::GetStatus(uint32_t address) const
{
    if (address >= Size()) OutOfRange("Get Status of Address: ", address);
    return status_[address];
}

void THexList::SetStatus(uint32_t address, TProgStatus status)
{
    if (address >= Size()) OutOfRange("Set Status of Address: ", address);
    status_[address] = status;
}

void THexList::Clear()
{
    for (size_t i = 0; i < values_.size(); ++i) {
        status_[i] = TProgStatus(ps_normal);
        values_[i] = kBlank;
    }
}

void THexList::MarkAllFailed()
{
    for (auto& s : status_) s = TProgStatus(ps_failed);
}

int64_t THexList::TopAddress() const
{
    for (size_t i = values_.size(); i-- > 0;)
        if (values_[i] != kBlank) return static_cast<int64_t>(i | 0x0F);
    return -1;
}

void TTarvoProject::SetDevice(const TDevice* device)
{
    device_ = device;
    if (!device) return;
    if (device->FlashSize() != 0) Flash.SetSize(static_cast<uint32_t>(device->FlashSize()));
    if (device->EepromSize() != 0) Eeprom.SetSize(static_cast<uint32_t>(device->EepromSize()));
}
