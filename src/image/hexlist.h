#pragma once
// The in-memory image of one device memory: a byte and a programming status per address. It
// announces its changes to whoever shows it, and carries a read-only flag for its editors.
#include <cstdint>
#include <string>
#include <vector>

#include "base/observers.h"
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

    THexList() = default;
    // A copy holds the same bytes and file name, but none of the listeners, no bulk change and
    // no read-only flag: those belong to the object shown, not to its value.
    THexList(const THexList& other);
    THexList& operator=(const THexList& other);

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

    // Contiguous storage, indexed by device address, for block transfers. Writing through it
    // announces nothing: a writer holds a TBulkChange around the transfer.
    std::vector<uint8_t>& Values() { return values_; }
    const std::vector<uint8_t>& Values() const { return values_; }
    const std::vector<TProgStatus>& Status() const { return status_; }

    // What listeners are told. Changed follows every change of bytes or statuses (a size
    // change too); Resized follows a new size; ReadOnlyChanged the flag's new value.
    TObservers<> Changed;
    TObservers<> Resized;
    TObservers<bool> ReadOnlyChanged;

    // Editors leave a read-only image alone; the image itself does not refuse writes.
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);

    // Gathers the announcements of an operation into one, made when the outermost bulk change
    // ends (also when it ends by an exception, so that what was done so far is shown).
    class TBulkChange {
    public:
        explicit TBulkChange(THexList& image) : image_(image) { ++image_.bulkDepth_; }
        ~TBulkChange() { image_.EndBulk(); }
        TBulkChange(const TBulkChange&) = delete;
        TBulkChange& operator=(const TBulkChange&) = delete;

    private:
        THexList& image_;
    };

private:
    void Touched(bool resized = false);
    void EndBulk();

    std::string fileName_;
    std::vector<TProgStatus> status_;
    std::vector<uint8_t> values_;
    bool readOnly_ = false;
    int bulkDepth_ = 0;
    bool pendingResize_ = false;
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
