#include "sim/lptchipset.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "devices/devices.h"
#include "link/linkcontext.h"
#include "base/hextext.h"

TLptChipset::TLptChipset(const TDevice& device, TLptChipsetConfig config) : box_(device), config_(config) {}

TLptChipset::TLptChipset(const TBoxModel& box, TLptChipsetConfig config) : box_(box), config_(config) {}

void TLptChipset::Violation(const std::string& what) { violations_.push_back(what); }

bool TLptChipset::Decodes(uint16_t address) const
{
    const uint16_t b = config_.Base;
    if (address >= b && address <= b + 2) return true;
    // The EPP and ECP ranges belong to the port even where the chip has nothing there: the
    // layer probes them during detection and reads a floating bus.
    if (config_.Base == 0x3BC) return false;
    return (address >= b + 3 && address <= b + 7) || (address >= b + 0x400 && address <= b + 0x402);
}

bool TLptChipset::BoxDead() const
{
    // A box that has gone silent keeps AckPin low once it has nothing left to clock out.
    const long silentAfter = const_cast<TBoxModel&>(box_).Faults().silentAfter;
    return pinFaults_.Hung || (silentAfter == 0 && bit_ == 0 && !busyBit_ && !box_.HasOutput());
}

bool TLptChipset::AckLevel() const { return !busyBit_ && !BoxDead(); }

bool TLptChipset::DataInLevel() const
{
    // Between bytes the line says which way the next byte goes.
    if (bit_ == 0 && !busyBit_) return !box_.HasOutput();
    return dataIn_;
}

uint8_t TLptChipset::Read(uint16_t address)
{
    ++accesses_;
    const uint16_t b = config_.Base;
    if (!Decodes(address)) {
        Violation("read of " + hex::Hex4(address) + "h, which is no register of this port");
        return 0xFF;
    }
    if (address == b) return Bidirectional() && (control_ & 0x20) ? 0xFF : data_;
    if (address == b + 1) {
        uint8_t status = 0x1E;  // pins 13 and 15 high, reserved bits set
        if (AckLevel()) status |= 0x40;
        if (!DataInLevel()) status |= 0x80;
        if (eppTimeout_) status |= 0x01;
        return status;
    }
    if (address == b + 2) return control_;
    if (address == b + 3) return HasEpp() ? eppAddress_ : 0xFF;
    if (address <= b + 7) {
        // No EPP peripheral answers: the cycle times out.
        if (HasEpp()) eppTimeout_ = true;
        return 0xFF;
    }
    if (!HasEcr()) return 0xFF;
    if (address == b + 0x402) return static_cast<uint8_t>((ecr_ & 0xFC) | 0x01);  // FIFO empty
    return address == b + 0x400 ? 0xFF : 0x00;
}

void TLptChipset::Write(uint16_t address, uint8_t value)
{
    ++accesses_;
    const uint16_t b = config_.Base;
    if (!Decodes(address)) {
        Violation("write to " + hex::Hex4(address) + "h, which is no register of this port");
        return;
    }
    if (address == b) {
        data_ = value;
    } else if (address == b + 1) {
        if (value & 0x01) eppTimeout_ = false;  // write-one-to-clear, as most chips do
    } else if (address == b + 2) {
        const uint8_t before = control_;
        control_ = value;
        ControlChanged(before);
    } else if (address == b + 3) {
        if (HasEpp()) eppAddress_ = value;
    } else if (address == b + 0x402) {
        if (HasEcr()) ecr_ = value;
    }
}

void TLptChipset::ControlChanged(uint8_t before)
{
    const bool resetWas = (before & 0x01) == 0;
    const bool clockWas = (before & 0x02) == 0;
    if (!resetWas && ResetLevel()) {
        ++resets_;
        box_.Reset();
        bit_ = 0;
        busyBit_ = false;
        return;
    }
    if (!clockWas && ClockLevel()) ClockRose();
    else if (clockWas && !ClockLevel()) ClockFell();
}

void TLptChipset::ClockRose()
{
    if (BoxDead()) return;
    if (busyBit_) {
        Violation("clock raised while AckPin was low");
        return;
    }
    if (bit_ == 0) {
        sending_ = box_.HasOutput();
        if (sending_) outByte_ = box_.TakeOutput();
        inByte_ = 0;
    }
    if (sending_) {
        dataIn_ = ((outByte_ >> (7 - bit_)) & 1) != 0;
    } else {
        if (SelectLevel()) Violation("SelectPin high while a byte was clocked in");
        inByte_ = static_cast<uint8_t>((inByte_ << 1) | (DataOutLevel() ? 1 : 0));
        dataIn_ = ((pinFaults_.Echo >> (7 - bit_)) & 1) != 0;
    }
    busyBit_ = true;
}

void TLptChipset::ClockFell()
{
    if (!busyBit_) return;
    busyBit_ = false;
    if (++bit_ < 8) return;
    bit_ = 0;
    if (!sending_) box_.HostWrite(inByte_);
}

// ---- the "sim" backend ----

namespace {

class TSimPortIo final : public IPortIo {
public:
    explicit TSimPortIo(std::shared_ptr<TLptChipset> chipset, std::string statePath = {})
        : chipset_(std::move(chipset)), statePath_(std::move(statePath))
    {
    }

    bool Open() override
    {
        granted_.clear();
        return true;
    }

    void Close() override
    {
        if (statePath_.empty()) return;
        std::lock_guard<std::mutex> lock(chipset_->Mutex());
        // Close may run at exit, where nothing can be raised: say it where the user looks.
        if (!chipset_->Box().SaveState(statePath_))
            std::fprintf(stderr, "zemprix: the simulated target's state could not be saved to %s\n", statePath_.c_str());
    }

    bool GrantRange(uint16_t first, uint16_t last) override
    {
        granted_.push_back({first, last});
        return true;
    }

    uint8_t Read(uint16_t address) override
    {
        Check(address);
        return chipset_->Read(address);
    }

    void Write(uint16_t address, uint8_t value) override
    {
        Check(address);
        chipset_->Write(address, value);
    }

    std::array<uint16_t, 3> BiosTable() override { return {chipset_->Config().Base, 0, 0}; }
    bool UsesSystemDiscovery() const override { return false; }

private:
    void Check(uint16_t address)
    {
        for (const auto& r : granted_)
            if (address >= r.first && address <= r.second) return;
        chipset_->Violation("access to " + hex::Hex4(address) + "h without access granted");
    }

    std::shared_ptr<TLptChipset> chipset_;
    std::string statePath_;
    std::vector<std::pair<uint16_t, uint16_t>> granted_;
};

const TDevice& SimDevice()
{
    const char* name = std::getenv("ZEMPRIX_SIM_DEVICE");
    const TDevice* device = nullptr;
    if (name && *name) device = DeviceList().FindDevice(name, 0xFF);
    if (!device) device = DeviceList().FindDevice("COP8SBR9", 0xFF);
    if (!device) device = &DeviceList().Items(0);
    return *device;
}

std::string SimStatePath()
{
    const char* path = std::getenv("ZEMPRIX_SIM_STATE");
    return path ? path : "";
}

// An existing file must be this target's state: anything else is refused rather than written
// over. A state that could not be saved later is found out now, before any programming.
void CheckStateFile(TBoxModel& box, const std::string& path)
{
    std::error_code ignored;
    if (std::filesystem::exists(path, ignored) && !box.LoadState(path))
        throw std::runtime_error("ZEMPRIX_SIM_STATE: " + path + " is not a saved state of a " + box.Device().Name() +
                                 " (move it away or set ZEMPRIX_SIM_DEVICE)");
    if (!box.SaveState(path))
        throw std::runtime_error("ZEMPRIX_SIM_STATE: the state cannot be saved to " + path + ": " + std::strerror(errno));
}

}  // namespace

std::unique_ptr<IPortIo> CreateSimPortIo(std::shared_ptr<TLptChipset> chipset)
{
    return std::make_unique<TSimPortIo>(std::move(chipset));
}

std::shared_ptr<TLptChipset> TSimLptSlot::Chipset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!chipset_) {
        auto made = std::make_shared<TLptChipset>(SimDevice());
        const std::string path = SimStatePath();
        if (!path.empty()) CheckStateFile(made->Box(), path);
        chipset_ = made;
    }
    return chipset_;
}

void TSimLptSlot::Forget()
{
    std::lock_guard<std::mutex> lock(mutex_);
    chipset_.reset();
}

std::shared_ptr<TSimLptSlot> AddSimPortBackend(TLinkContext& context)
{
    auto slot = std::make_shared<TSimLptSlot>();
    context.PortBackends().Add("sim", [slot](const std::string&) {
        return std::make_unique<TSimPortIo>(slot->Chipset(), SimStatePath());
    });
    return slot;
}
