#pragma once
// The parallel-port layer: which ports the machine has, what each can do (SPP, PS/2, EPP, ECP),
// and cheap reads and writes of single connector pins and of the port registers. Registers are
// reached through a register I/O backend (lpt/portio.h) chosen by ZEMPRIX_PORTIO.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "lpt/findlpt.h"
#include "lpt/portio.h"

enum TLptRegister : uint8_t {
    lr_data = 0,     // base+0
    lr_status = 1,   // base+1
    lr_control = 2,  // base+2
    lr_epp_first = 3,  // base+3 .. base+7
    lr_ecp_first = 8,  // base+400h .. base+402h
    lr_ecr = 10,       // base+402h
    lr_count = 11
};

using TLptRegisters = std::array<uint8_t, lr_count>;

// One connector pin: register, bit and whether the register bit is the inverse of the level.
struct TPinMapEntry {
    int Pin;
    TLptRegister Register;
    uint8_t Mask;
    bool Inverted;
};
extern const std::array<TPinMapEntry, 17> kLptPinMap;

class TVicLPT {
public:
    static constexpr uint16_t kMonoBase = 0x3BC;  // the adapter port without EPP or ECP registers
    static constexpr uint16_t kFallbackBase = 0x378;
    static constexpr int kMaxPorts = 7;

    // Without a backend, OpenDriver creates one with the backend maker (by default the built-in
    // backend ZEMPRIX_PORTIO names); without a source, discovery uses the platform's configuration.
    explicit TVicLPT(std::unique_ptr<IPortIo> backend = nullptr, std::unique_ptr<ILptConfigSource> source = nullptr);
    ~TVicLPT();
    TVicLPT(const TVicLPT&) = delete;
    TVicLPT& operator=(const TVicLPT&) = delete;

    bool OpenDriver(uint8_t instance);
    void CloseDriver();
    bool IsOpen() const { return open_; }
    uint8_t DriverInstance() const { return open_ ? instance_ : 0; }

    // Makes port 1..7 current. A number outside that range, or an entry without a base address,
    // changes nothing: there is no parallel port to touch there.
    void SelectPort(int number);
    uint8_t PortCount() const { return portCount_; }
    uint8_t CurrentPort() const { return currentPort_; }
    uint16_t BaseAddress() const { return base_; }
    uint8_t IrqNumber() const { return irq_; }
    uint8_t DmaChannel() const { return dma_; }
    uint8_t HardwareMode() const { return hardwareMode_; }
    uint8_t LptMode() const { return lptMode_; }
    bool EppSupported() const { return epp_; }
    bool PortUsable() const { return open_ && present_ && lptMode_ != 0; }
    // Base address of table entry 1..7 (0 when none or out of range).
    uint16_t PortBase(int number) const;
    // Whether the backend let this process at the registers of entry 1..7 (no permission on
    // the port's node, or another program holding it, refuses).
    bool PortGranted(int number) const { return number >= 1 && number <= kMaxPorts && granted_[number]; }

    void SetLptMode(uint8_t mode);

    // Electrical level at connector pin 1..17.
    bool ReadPin(int pin);
    // Drives an output pin, working from the register's shadow rather than a fresh read.
    void WritePin(int pin, bool level);

    void WriteEcr(uint8_t value);
    uint8_t ReadEcr();

    // Register primitives; each keeps its shadow.
    uint8_t ReadData();
    void WriteData(uint8_t value);
    uint8_t ReadStatus();
    void WriteStatus(uint8_t value);
    uint8_t ReadControl();
    void WriteControl(uint8_t value);
    uint8_t ReadEppAddress();
    void WriteEppAddress(uint8_t value);

    // One byte from or to an I/O address; FFh and nothing while closed.
    uint8_t ReadPort(uint16_t address);
    void WritePort(uint16_t address, uint8_t value);

    const TLptRegisters& Shadow() const { return shadow_; }
    const TLptRegisters& InitialRegisters() const { return initial_; }
    // Number of detections run since construction (re-selection restores instead).
    int DetectionCount() const { return detections_; }
    IPortIo* Backend() const { return backend_.get(); }
    // How OpenDriver creates its backend when none was given (the session's port backends).
    using TPortIoMaker = std::function<std::unique_ptr<IPortIo>()>;
    void SetBackendMaker(TPortIoMaker maker) { maker_ = std::move(maker); }

private:
    struct TPortEntry {
        uint16_t Base = 0;
        uint8_t Irq = 0;
        uint8_t Dma = 0;
        bool Present = false;
    };
    struct TSavedState {
        bool Valid = false;
        uint8_t HardwareMode = 0;
        uint8_t LptMode = 0;
        bool Epp = false;
        TLptRegisters Shadow{};
        TLptRegisters Initial{};
    };

    // Open with a base address: without one (port 1 when the configuration lists only higher
    // ports) the registers would be the system's low I/O ports, so pins and registers do nothing.
    bool PortSelected() const { return open_ && base_ != 0; }
    uint16_t RegisterAddress(int reg) const;
    uint8_t ReadRegister(int reg);
    void WriteRegister(int reg, uint8_t value);
    void GrantPortAccess();
    void SaveState(int number);
    void DetectPort();
    bool DetectEcp();
    bool DetectEpp();
    bool EppTimeoutClear();
    void DetectStandard();
    void SnapshotRegisters();
    void ClearSavedStates();

    std::unique_ptr<IPortIo> backend_;
    bool backendGiven_ = false;
    TPortIoMaker maker_;
    TFindLpt finder_;
    bool open_ = false;
    uint8_t instance_ = 0;
    uint8_t currentPort_ = 1;
    uint8_t portCount_ = 1;
    uint16_t base_ = 0;
    std::array<TPortEntry, kMaxPorts + 1> ports_{};  // index 1..7
    std::array<bool, kMaxPorts + 1> granted_{};
    uint8_t hardwareMode_ = 0;
    uint8_t lptMode_ = 0;
    bool epp_ = false;
    TLptRegisters shadow_{};
    TLptRegisters initial_{};
    std::array<TSavedState, kMaxPorts + 1> saved_{};
    uint8_t irq_ = 0;
    uint8_t dma_ = 0;
    bool present_ = false;
    int detections_ = 0;
};
