#include "image/hexlist.h"

#include <utility>

#include "devices/devices.h"
#include "base/hextext.h"
#include "base/isperrors.h"

namespace {
[[noreturn]] void OutOfRange(const std::string& head, uint32_t address)
{
    throw EISPException(head + hex::Hex8(address) + " out of range");
}
}  // namespace

THexList::THexList(const THexList& other)
    : fileName_(other.fileName_), status_(other.status_), values_(other.values_)
{
}

THexList& THexList::operator=(const THexList& other)
{
    if (this == &other) return *this;
    const bool resized = other.values_.size() != values_.size();
    fileName_ = other.fileName_;
    status_ = other.status_;
    values_ = other.values_;
    Touched(resized);
    return *this;
}

void THexList::Touched(bool resized)
{
    pendingResize_ = pendingResize_ || resized;
    if (bulkDepth_ == 0) EndBulk();
}

void THexList::EndBulk()
{
    if (bulkDepth_ > 0 && --bulkDepth_ > 0) return;
    // A bulk change announces even when nobody wrote through a setter: block transfers write
    // through Values().
    const bool resized = std::exchange(pendingResize_, false);
    if (resized) Resized.Notify();
    Changed.Notify();
}

void THexList::SetReadOnly(bool readOnly)
{
    if (readOnly == readOnly_) return;
    readOnly_ = readOnly;
    ReadOnlyChanged.Notify(readOnly);
}

void THexList::SetSize(uint32_t n)
{
    const bool resized = n != values_.size();
    {
        TBulkChange bulk(*this);
        status_.assign(n, TProgStatus(ps_normal));
        values_.assign(n, kBlank);
        Clear();
        pendingResize_ = pendingResize_ || resized;
    }
}

uint8_t THexList::GetValue(uint32_t address) const
{
    if (address >= Size()) OutOfRange("THexList:GetValue:", address);
    return values_[address];
}

void THexList::SetValue(uint32_t address, uint8_t value)
{
    if (address >= Size()) OutOfRange("Set Value of Address: ", address);
    if (values_[address] == value) return;
    values_[address] = value;
    Touched();
}

TProgStatus THexList::GetStatus(uint32_t address) const
{
    if (address >= Size()) OutOfRange("Get Status of Address: ", address);
    return status_[address];
}

void THexList::SetStatus(uint32_t address, TProgStatus status)
{
    if (address >= Size()) OutOfRange("Set Status of Address: ", address);
    if (status_[address] == status) return;
    status_[address] = status;
    Touched();
}

void THexList::Clear()
{
    for (size_t i = 0; i < values_.size(); ++i) {
        status_[i] = TProgStatus(ps_normal);
        values_[i] = kBlank;
    }
    Touched();
}

void THexList::MarkAllFailed()
{
    for (auto& s : status_) s = TProgStatus(ps_failed);
    Touched();
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
