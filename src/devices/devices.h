#pragma once
// The fixed table of COP8 Flash devices the system can program.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// An 8-bit set of bit numbers 0 to 7, stored as a mask (bit n set = member n).
using TByteSet = uint8_t;
constexpr TByteSet SetOf(std::initializer_list<int> bits)
{
    TByteSet s = 0;
    for (int b : bits) s = static_cast<TByteSet>(s | (1u << b));
    return s;
}
inline bool SetsMeet(TByteSet a, TByteSet b) { return (a & b) != 0; }

class TDeviceOptions {
public:
    explicit TDeviceOptions(uint8_t value = 0) : Value(value) {}
    uint8_t Value;
};

class TDevice {
public:
    TDevice(std::string name, TByteSet hardwareSet, int32_t flashSize, int32_t eepromSize,
            int32_t pageSize, std::vector<TDeviceOptions> options);

    int32_t FlashSize() const { return flashSize_; }
    int32_t EepromSize() const { return eepromSize_; }
    const std::string& Name() const { return name_; }
    TByteSet HardwareSet() const { return hardwareSet_; }
    int32_t PageSize() const { return pageSize_; }
    const std::vector<TDeviceOptions>& Options() const { return options_; }
    // Address of the option byte: the last Flash byte.
    uint32_t OptionAddress() const { return static_cast<uint32_t>(flashSize_ - 1); }

private:
    int32_t flashSize_;
    int32_t eepromSize_;
    std::string name_;
    TByteSet hardwareSet_;
    int32_t pageSize_;
    std::vector<TDeviceOptions> options_;
};

class TDeviceList {
public:
    int Add(std::unique_ptr<TDevice> device);
    int Count() const { return static_cast<int>(devices_.size()); }
    // Throws std::out_of_range for an index outside 0 .. Count-1.
    const TDevice& Items(int index) const;
    void LoadDevices();
    const TDevice* FirstForHardware(TByteSet set) const;
    std::vector<std::string> NamesForHardware(TByteSet set) const;
    const TDevice* FindDevice(const std::string& name, TByteSet set) const;

private:
    std::vector<std::unique_ptr<TDevice>> devices_;
};

// The process-wide list, filled with the seventeen devices on first use and never changed.
const TDeviceList& DeviceList();
