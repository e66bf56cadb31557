#pragma once
// The in-memory image of one device memory: a byte and a programming status per address.
#include <cstdint>
#include <string>
#include <vector>

#include "devices/optionbyte.h"

class TDevice;

enum TProgState : uint8_t { ps_normal, ps_programmed, ps_verified, ps_failed, ps_read };

// A set over TProgState stored in one byte (bit values 1, 2, 4, 8, 16).
class TProgStatus {
public:
    constexpr TProgStatus() = default;
    constexpr TProgStatus(TProgState only) : bits_(static_cast<uint8_t>(1u << only)) {}
    static constexpr TProgStatus FromBits(uint8_t bits) { TProgStatus s; s.bits_ = bits; return s; }
    constexpr bool Has(TProgState s) const { return (bits_ & (1u << s)) != 0; }
    constexpr uint8_t Bits() const { return bits_; }
    constexpr bool operator==(TProgStatus o) const { return bits_ == o.bits_; }
    constexpr bool operator!=(TProgStatus o) const { return bits_ != o.bits_; }

private:
    uint8_t bits_ = 0;
};
static_assert(sizeof(TProgStatus) == 1, "TProgStatus is one byte");

class THexList final : public IOptionByteMirror {
public:
    static constexpr uint8_t kBlank = 0xFF;

    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& name) { fileName_ = name; }

    uint32_t Size() const { return static_cast<uint32_t>(values_.size()); }
    void SetSize(uint32_t n);

    uint8_t GetValue(uint32_t address) const;
    void SetValue(uint32_t address, uint8_t value);
    // The option byte lives in the last byte; an empty image has no room for it.
    void MirrorOptionByte(uint8_t value) override
    {
        if (Size() > 0) SetValue(Size() - 1, value);
    }
    TProgStatus GetStatus(uint32_t address) const;
    void SetStatus(uint32_t address, TProgStatus status);

    void Clear();
    void MarkAllFailed();
    // Last address of the 16-byte block holding the highest non-FF byte, or -1 when blank.
    int64_t TopAddress() const;

    // Contiguous storage, indexed by device address, for block transfers.
    std::vector<uint8_t>& Values() { return values_; }
    const std::vector<uint8_t>& Values() const { return values_; }
    const std::vector<TProgStatus>& Status() const { return status_; }

private:
    std::string fileName_;
    std::vector<TProgStatus> status_;
    std::vector<uint8_t> values_;
};

// The current project: the Flash image, an (always empty) EEPROM image and the device.
class TTarvoProject {
public:
    THexList Flash;
    THexList Eeprom;
    const TDevice* Device() const { return device_; }
    void SetDevice(const TDevice* device);
    const std::string& GetFileName() const { return Flash.FileName(); }

private:
    const TDevice* device_ = nullptr;
};
