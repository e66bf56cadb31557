#include "lpt/portunit.h"


const std::array<TPinMapEntry, 17> kLptPinMap = {{
    {1, lr_control, 0x01, true},
    {2, lr_data, 0x01, false},
    {3, lr_data, 0x02, false},
    {4, lr_data, 0x04, false},
    {5, lr_data, 0x08, false},
    {6, lr_data, 0x10, false},
    {7, lr_data, 0x20, false},
    {8, lr_data, 0x40, false},
    {9, lr_data, 0x80, false},
    {10, lr_status, 0x40, false},
    {11, lr_status, 0x80, true},
    {12, lr_status, 0x20, false},
    {13, lr_status, 0x10, false},
    {14, lr_control, 0x02, true},
    {15, lr_status, 0x08, false},
    {16, lr_control, 0x04, false},
    {17, lr_control, 0x08, true},
}};

TVicLPT::TVicLPT(std::unique_ptr<IPortIo> backend, std::unique_ptr<ILptConfigSource> source)
    : backend_(std::move(backend)), backendGiven_(backend_ != nullptr), finder_(std::move(source))
{
}

TVicLPT::~TVicLPT() { CloseDriver(); }

void TVicLPT::ClearSavedStates() { saved_.fill(TSavedState()); }

bool TVicLPT::OpenDriver(uint8_t instance)
{
    if (open_) return true;
    ClearSavedStates();
    portCount_ = 0;
    if (!backendGiven_) backend_ = maker_ ? maker_() : CreateBuiltInPortIo(SelectedPortBackendName());
    if (!backend_ || !backend_->Open()) {
        if (!backendGiven_) backend_.reset();
        // Keeps LPT1 on offer in the setup dialog, so the user can pick it and try again.
        portCount_ = 1;
        return false;
    }
    open_ = true;
    instance_ = instance;

    ports_.fill(TPortEntry());
    granted_.fill(false);
    int counted = 0;
    if (backend_->UsesSystemDiscovery()) {
        for (int n = 1; n <= kMaxPorts; ++n) {
            if (!finder_.FindPort(n)) continue;
            TPortEntry& e = ports_[n];
            e.Present = true;
            const uint16_t start = finder_.RangeStart(1);
            e.Base = start == 0xFFFF ? 0 : start;  // a device without an I/O range has no base
            if (finder_.IrqCount() > 0) e.Irq = finder_.Irq();
            if (finder_.DmaCount() > 0) e.Dma = finder_.DmaChannel();
            ++counted;
        }
    }
    if (counted == 0) {
        const std::array<uint16_t, 3> bios = backend_->BiosTable();
        for (int n = 1; n <= 3; ++n) {
            ports_[n].Base = bios[n - 1];
            ports_[n].Present = true;
        }
    }
    for (int n = kMaxPorts; n >= 1 && portCount_ == 0; --n)
        if (ports_[n].Base != 0) portCount_ = static_cast<uint8_t>(n);
    if (portCount_ == 0) {
        portCount_ = 1;
        ports_[1].Base = kFallbackBase;
    }
    // A gap in the numbering is usually a port the configuration names twice; entry 1 has no
    // predecessor and keeps 0.
    for (int n = 2; n <= portCount_; ++n)
        if (ports_[n].Base == 0) ports_[n].Base = ports_[n - 1].Base;

    currentPort_ = 1;
    base_ = ports_[1].Base;
    // Port 1 may have no base address and then is not detected: nothing from before the last
    // close may stand for it.
    hardwareMode_ = lptMode_ = 0;
    epp_ = false;
    shadow_.fill(0);
    initial_.fill(0);
    SelectPort(1);
    return true;
}

void TVicLPT::CloseDriver()
{
    if (!open_) return;
    ClearSavedStates();
    open_ = false;
    backend_->Close();
    if (!backendGiven_) backend_.reset();
    irq_ = dma_ = 0;
    present_ = false;
}

uint16_t TVicLPT::PortBase(int number) const
{
    return number >= 1 && number <= kMaxPorts ? ports_[number].Base : 0;
}

void TVicLPT::SelectPort(int number)
{
    if (!open_ || number < 1 || number > kMaxPorts || ports_[number].Base == 0) return;
    const TPortEntry& entry = ports_[number];
    irq_ = entry.Irq;
    dma_ = entry.Dma;
    present_ = entry.Present;
    GrantPortAccess();
    if (number != currentPort_) {
        SaveState(currentPort_);
        currentPort_ = static_cast<uint8_t>(number);
        base_ = entry.Base;
        const TSavedState& s = saved_[number];
        if (s.Valid) {
            hardwareMode_ = s.HardwareMode;
            lptMode_ = s.LptMode;
            epp_ = s.Epp;
            shadow_ = s.Shadow;
            initial_ = s.Initial;
            return;
        }
    }
    GrantPortAccess();
    DetectPort();
    SnapshotRegisters();
    SaveState(number);
}

void TVicLPT::SaveState(int number)
{
    if (number < 1 || number > kMaxPorts || ports_[number].Base == 0) return;
    TSavedState& s = saved_[number];
    s.Valid = true;
    s.HardwareMode = hardwareMode_;
    s.LptMode = lptMode_;
    s.Epp = epp_;
    s.Shadow = shadow_;
    s.Initial = initial_;
}

void TVicLPT::GrantPortAccess()
{
    for (int n = 1; n <= portCount_; ++n) {
        const uint16_t b = ports_[n].Base;
        if (b == 0) continue;
        if (b == kMonoBase) {
            granted_[n] = backend_->GrantRange(b, b + 2);
        } else {
            granted_[n] = backend_->GrantRange(b, static_cast<uint16_t>(b + 7));
            backend_->GrantRange(static_cast<uint16_t>(b + 0x400), static_cast<uint16_t>(b + 0x402));
        }
    }
}

void TVicLPT::DetectPort()
{
    ++detections_;
    hardwareMode_ = 0;
    lptMode_ = 0;
    epp_ = false;
    if (DetectEcp() || DetectEpp()) return;
    DetectStandard();
}

bool TVicLPT::DetectEcp()
{
    if (base_ == kMonoBase) return false;
    const uint8_t ecr = ReadEcr();
    if ((ecr & 0x01) == 0 || (ecr & 0x02) != 0) return false;
    uint8_t control = ReadControl();
    if ((control & 0x02) == 0) {
        WriteControl(0x0F);
        control = ReadControl();
    }
    // On a port without an ECR, base+402h often aliases the control register.
    if (((control >> 1) & 1) == ((ecr >> 1) & 1)) return false;
    WriteEcr(0x34);
    const bool capable = ReadEcr() == 0x35;
    WriteEcr(ecr);
    if (!capable) return false;
    epp_ = true;
    hardwareMode_ = 5;
    const uint8_t now = ReadEcr();
    static constexpr uint8_t kModeOfField[8] = {1, 2, 4, 5, 3, 5, 5, 5};
    lptMode_ = now >= 0xA0 ? 5 : kModeOfField[now >> 5];
    return true;
}

bool TVicLPT::EppTimeoutClear()
{
    ReadStatus();
    WriteStatus(0x01);
    WriteStatus(0x00);
    return (ReadStatus() & 0x01) == 0;
}

bool TVicLPT::DetectEpp()
{
    if (base_ == kMonoBase) return false;
    for (uint8_t probe : {uint8_t{0x55}, uint8_t{0xAA}}) {
        WriteEppAddress(probe);
        EppTimeoutClear();
        const uint8_t back = ReadEppAddress();
        EppTimeoutClear();
        if (back != probe) return false;
    }
    hardwareMode_ = 3;
    lptMode_ = 3;
    epp_ = true;
    return true;
}

void TVicLPT::DetectStandard()
{
    WriteControl(0x0F);
    WriteData(0x55);
    if (ReadData() != 0x55) return;
    WriteData(0xAA);
    if (ReadData() != 0xAA) return;
    // With the direction bit set a bidirectional port stops driving the data lines.
    WriteControl(0x2F);
    WriteData(0x55);
    bool bidirectional = ReadData() != 0x55;
    if (!bidirectional) {
        WriteData(0xAA);
        bidirectional = ReadData() != 0xAA;
    }
    WriteControl(0x0F);
    hardwareMode_ = lptMode_ = bidirectional ? 2 : 1;
}

void TVicLPT::SnapshotRegisters()
{
    const int last = base_ == kMonoBase ? lr_control : lr_ecr;
    for (int r = lr_data; r <= last; ++r) initial_[r] = ReadRegister(r);
    for (int r = lr_data; r <= last; ++r) shadow_[r] = initial_[r];
}

void TVicLPT::SetLptMode(uint8_t mode)
{
    if (!PortSelected() || hardwareMode_ != 5 || mode == 0 || mode > hardwareMode_) return;
    static constexpr uint8_t kFieldOfMode[6] = {0, 0, 1, 4, 2, 3};
    lptMode_ = mode;
    const uint8_t ecr = ReadEcr();
    WriteEcr(static_cast<uint8_t>((kFieldOfMode[mode] << 5) | (ecr & 0x1F)));
}

bool TVicLPT::ReadPin(int pin)
{
    if (!PortSelected() || pin < 1 || pin > 17) return false;
    const TPinMapEntry& p = kLptPinMap[pin - 1];
    const bool set = (ReadPort(RegisterAddress(p.Register)) & p.Mask) != 0;
    return set != p.Inverted;
}

void TVicLPT::WritePin(int pin, bool level)
{
    if (!PortSelected() || pin < 1 || pin > 17) return;
    const TPinMapEntry& p = kLptPinMap[pin - 1];
    uint8_t value = shadow_[p.Register];
    if (level != p.Inverted)
        value = static_cast<uint8_t>(value | p.Mask);
    else
        value = static_cast<uint8_t>(value & ~p.Mask);
    WriteRegister(p.Register, value);
}

void TVicLPT::WriteEcr(uint8_t value)
{
    if (base_ == kMonoBase) return;
    WriteRegister(lr_ecr, value);
}

uint8_t TVicLPT::ReadEcr()
{
    if (base_ == kMonoBase) return 0;
    return ReadRegister(lr_ecr);
}

uint16_t TVicLPT::RegisterAddress(int reg) const
{
    return static_cast<uint16_t>(reg < lr_ecp_first ? base_ + reg : base_ + 0x400 + (reg - lr_ecp_first));
}

uint8_t TVicLPT::ReadRegister(int reg)
{
    if (base_ == kMonoBase && reg > lr_control) return 0;
    if (!PortSelected()) return 0xFF;
    const uint8_t v = ReadPort(RegisterAddress(reg));
    shadow_[reg] = v;
    return v;
}

void TVicLPT::WriteRegister(int reg, uint8_t value)
{
    if (!PortSelected() || (base_ == kMonoBase && reg > lr_control)) return;
    shadow_[reg] = value;
    WritePort(RegisterAddress(reg), value);
}

uint8_t TVicLPT::ReadData() { return ReadRegister(lr_data); }
void TVicLPT::WriteData(uint8_t value) { WriteRegister(lr_data, value); }
uint8_t TVicLPT::ReadStatus() { return ReadRegister(lr_status); }
void TVicLPT::WriteStatus(uint8_t value) { WriteRegister(lr_status, value); }
uint8_t TVicLPT::ReadControl() { return ReadRegister(lr_control); }
void TVicLPT::WriteControl(uint8_t value) { WriteRegister(lr_control, value); }
uint8_t TVicLPT::ReadEppAddress() { return ReadRegister(lr_epp_first); }
void TVicLPT::WriteEppAddress(uint8_t value) { WriteRegister(lr_epp_first, value); }

uint8_t TVicLPT::ReadPort(uint16_t address) { return open_ ? backend_->Read(address) : 0xFF; }

void TVicLPT::WritePort(uint16_t address, uint8_t value)
{
    if (open_) backend_->Write(address, value);
}
