#pragma once
// A PC parallel-port chipset (SPP, PS/2, EPP or ECP) with the programmer box on its connector.
// The box side speaks the link's pin handshake: AckPin high = ready, DataInPin the direction
// flag between bytes (low = the box has a byte to send) and the data or echo bit during one;
// each byte the host clocks in reaches the box model, each byte the model queues is clocked out.
// The box resets on a rising edge of ResetPin only.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lpt/portio.h"
#include "sim/boxmodel.h"

enum class TLptChipKind { spp, ps2, epp, ecp };

struct TLptChipsetConfig {
    uint16_t Base = 0x378;
    TLptChipKind Kind = TLptChipKind::ecp;
};

// Faults of the pin layer (the box model has its own).
struct TLptPinFaults {
    uint8_t Echo = 0x2A;  // what the box shifts back while receiving a byte
    bool Hung = false;    // AckPin stays low: the box never becomes ready
};

class TLinkContext;
class TLptChipset {
public:
    TLptChipset(const TDevice& device, TLptChipsetConfig config = {});
    // A chipset whose box starts as a copy of `box` (its faults, memory and trace).
    explicit TLptChipset(const TBoxModel& box, TLptChipsetConfig config = {});

    uint8_t Read(uint16_t address);
    void Write(uint16_t address, uint8_t value);
    // Whether an address is one of this chipset's registers.
    bool Decodes(uint16_t address) const;

    TBoxModel& Box() { return box_; }
    TLptPinFaults& PinFaults() { return pinFaults_; }
    const TLptChipsetConfig& Config() const { return config_; }
    // Host behaviour the handshake or the hardware forbids, one line each.
    const std::vector<std::string>& Violations() const { return violations_; }
    void Violation(const std::string& what);
    // Register accesses so far (reads + writes), for the benchmark.
    uint64_t Accesses() const { return accesses_; }
    int Resets() const { return resets_; }

    // Connector levels the host drives.
    bool ResetLevel() const { return (control_ & 0x01) == 0; }
    bool ClockLevel() const { return (control_ & 0x02) == 0; }
    bool DataOutLevel() const { return (control_ & 0x04) != 0; }
    bool SelectLevel() const { return (control_ & 0x08) == 0; }
    // Levels the box drives.
    bool AckLevel() const;
    bool DataInLevel() const;

    // Serialises access when a server thread and a test share the chipset.
    std::mutex& Mutex() { return mutex_; }

private:
    void ControlChanged(uint8_t before);
    void ClockRose();
    void ClockFell();
    bool BoxDead() const;
    bool HasEcr() const { return config_.Kind == TLptChipKind::ecp; }
    bool HasEpp() const { return config_.Kind == TLptChipKind::ecp || config_.Kind == TLptChipKind::epp; }
    bool Bidirectional() const { return config_.Kind != TLptChipKind::spp; }

    TBoxModel box_;
    TLptChipsetConfig config_;
    TLptPinFaults pinFaults_;
    std::vector<std::string> violations_;
    std::mutex mutex_;

    uint8_t data_ = 0;
    uint8_t control_ = 0x0C;  // pins 1 and 14 high, 16 high, 17 high after power-on
    uint8_t eppAddress_ = 0;
    bool eppTimeout_ = false;
    uint8_t ecr_ = 0x15;
    uint64_t accesses_ = 0;
    int resets_ = 0;

    // The byte being moved: bit position 0..7, direction, shift registers.
    int bit_ = 0;
    bool busyBit_ = false;  // AckPin low: a bit was offered and the clock has not fallen yet
    bool sending_ = false;
    uint8_t outByte_ = 0;
    uint8_t inByte_ = 0;
    bool dataIn_ = true;
};

// The simulator's register backend over a chipset. Several backends may share one chipset.
std::unique_ptr<IPortIo> CreateSimPortIo(std::shared_ptr<TLptChipset> chipset);

// The simulated port behind one session's "sim" backend: device from ZEMPRIX_SIM_DEVICE (default
// COP8SBR9), Flash and timing kept in ZEMPRIX_SIM_STATE when set. Built when first needed; every
// backend the session opens shares it.
class TSimLptSlot {
public:
    std::shared_ptr<TLptChipset> Chipset();
    // The next Chipset() builds a new one from the environment (for tests).
    void Forget();

private:
    std::mutex mutex_;
    std::shared_ptr<TLptChipset> chipset_;
};

// Adds the "sim" backend to a session's port backends; returns the slot its chipset lives in.
std::shared_ptr<TSimLptSlot> AddSimPortBackend(TLinkContext& context);
