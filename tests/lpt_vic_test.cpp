#include <gtest/gtest.h>

#include <memory>

#include "lpt/portunit.h"
#include "lpt_fakeports.h"

namespace {

struct Rig {
    FakeRegisterFile* io = nullptr;
    FakeConfigSource* config = nullptr;
    std::unique_ptr<TVicLPT> lpt;
};

Rig Make(const std::function<void(FakeRegisterFile&, FakeConfigSource&)>& setup)
{
    auto io = std::make_unique<FakeRegisterFile>();
    auto config = std::make_unique<FakeConfigSource>();
    setup(*io, *config);
    Rig r{io.get(), config.get(), nullptr};
    r.lpt = std::make_unique<TVicLPT>(std::move(io), std::move(config));
    return r;
}

// Every address the layer may touch for a port at `base`.
bool BelongsTo(uint16_t a, uint16_t base)
{
    return (a >= base && a <= base + 7) || (a >= base + 0x400 && a <= base + 0x402);
}

}  // namespace

TEST(LptVic, WithNothingConfiguredItFallsBackTo378)
{
    Rig r = Make([](FakeRegisterFile& io, FakeConfigSource&) { io.ports[0x378].kind = FakeKind::spp; });
    EXPECT_EQ(r.lpt->DriverInstance(), 0);
    EXPECT_EQ(r.lpt->PortCount(), 1);
    ASSERT_TRUE(r.lpt->OpenDriver(1));
    EXPECT_EQ(r.lpt->DriverInstance(), 1);
    EXPECT_EQ(r.lpt->PortCount(), 1);
    EXPECT_EQ(r.lpt->CurrentPort(), 1);
    EXPECT_EQ(r.lpt->BaseAddress(), 0x378);
    EXPECT_EQ(r.lpt->HardwareMode(), 1);
    EXPECT_TRUE(r.lpt->PortUsable());
    EXPECT_TRUE(r.io->stray.empty());
    r.lpt->CloseDriver();
    EXPECT_EQ(r.lpt->DriverInstance(), 0);
    EXPECT_FALSE(r.lpt->PortUsable());
}

TEST(LptVic, BiosTableIsUsedOnlyWhenTheConfigurationKnowsNoPort)
{
    Rig bios = Make([](FakeRegisterFile& io, FakeConfigSource&) {
        io.bios = {0x3BC, 0x378, 0};
        io.ports[0x3BC].kind = FakeKind::spp;
        io.ports[0x378].kind = FakeKind::ecp;
    });
    ASSERT_TRUE(bios.lpt->OpenDriver(1));
    EXPECT_EQ(bios.lpt->PortCount(), 2);
    EXPECT_EQ(bios.lpt->PortBase(1), 0x3BC);
    EXPECT_EQ(bios.lpt->PortBase(2), 0x378);

    Rig config = Make([](FakeRegisterFile& io, FakeConfigSource& c) {
        io.bios = {0x3BC, 0, 0};
        io.ports[0x278].kind = FakeKind::spp;
        c.ports["LPT1"] = PortAt(0x278, 5, 3);
    });
    ASSERT_TRUE(config.lpt->OpenDriver(1));
    EXPECT_EQ(config.lpt->PortCount(), 1);
    EXPECT_EQ(config.lpt->BaseAddress(), 0x278);
    EXPECT_EQ(config.lpt->IrqNumber(), 5);
    EXPECT_EQ(config.lpt->DmaChannel(), 3);
    EXPECT_EQ(config.config->searches, 7);
}

TEST(LptVic, Lpt1AndLpt3OnlyGiveThreePortsWithTheGapFilled)
{
    Rig r = Make([](FakeRegisterFile& io, FakeConfigSource& c) {
        io.ports[0x378].kind = FakeKind::ecp;
        io.ports[0x278].kind = FakeKind::spp;
        c.ports["LPT1"] = PortAt(0x378, 7);
        c.ports["LPT3"] = PortAt(0x278);
    });
    ASSERT_TRUE(r.lpt->OpenDriver(1));
    EXPECT_EQ(r.lpt->PortCount(), 3);
    EXPECT_EQ(r.lpt->PortBase(2), 0x378);
    EXPECT_EQ(r.lpt->PortBase(3), 0x278);
    EXPECT_EQ(r.lpt->IrqNumber(), 7);
    r.lpt->SelectPort(3);
    EXPECT_EQ(r.lpt->BaseAddress(), 0x278);
    EXPECT_EQ(r.lpt->IrqNumber(), 0);  // no interrupt resource: IRQ stays 0
    EXPECT_EQ(r.lpt->HardwareMode(), 1);
    EXPECT_TRUE(r.io->stray.empty());
}

TEST(LptVic, SelectingANumberWithoutAPortTouchesNothing)
{
    // The configuration names only LPT2, so entry 1 has no base address.
    Rig r = Make([](FakeRegisterFile& io, FakeConfigSource& c) {
        io.ports[0x278].kind = FakeKind::ps2;
        c.ports["LPT2"] = PortAt(0x278);
    });
    ASSERT_TRUE(r.lpt->OpenDriver(1));
    EXPECT_EQ(r.lpt->PortCount(), 2);
    EXPECT_EQ(r.lpt->PortBase(1), 0);
    EXPECT_FALSE(r.lpt->PortUsable());
    for (int n : {1, 0, -1, 8, 9, 255}) {
        r.io->log.clear();
        r.lpt->SelectPort(n);
        EXPECT_TRUE(r.io->log.empty()) << n;
        EXPECT_EQ(r.lpt->CurrentPort(), 1) << n;
    }
    r.lpt->SelectPort(2);
    EXPECT_EQ(r.lpt->BaseAddress(), 0x278);
    EXPECT_EQ(r.lpt->HardwareMode(), 2);
    EXPECT_TRUE(r.lpt->PortUsable());
    for (const FakeAccess& a : r.io->log)
        if (a.op != 'G') {
            EXPECT_TRUE(BelongsTo(a.address, 0x278)) << std::hex << a.address;
        }
    EXPECT_TRUE(r.io->stray.empty());
}

TEST(LptVic, At3BCNoEppOrEcpRegisterIsTouched)
{
    Rig r = Make([](FakeRegisterFile& io, FakeConfigSource& c) {
        io.ports[0x3BC].kind = FakeKind::ecp;  // even if something answered there
        c.ports["LPT1"] = PortAt(0x3BC);
    });
    ASSERT_TRUE(r.lpt->OpenDriver(1));
    EXPECT_EQ(r.lpt->HardwareMode(), 2);  // the standard test alone decides
    EXPECT_FALSE(r.lpt->EppSupported());
    EXPECT_EQ(r.lpt->ReadEcr(), 0);
    r.lpt->WriteEcr(0x20);
    EXPECT_EQ(r.lpt->ReadEppAddress(), 0);
    r.lpt->WriteEppAddress(0x55);
    r.lpt->SetLptMode(1);
    for (const FakeAccess& a : r.io->log) {
        if (a.op == 'G') {
            EXPECT_EQ(a.address + a.value, 0x3BE);  // only base..base+2 granted
        } else {
            EXPECT_LE(a.address, 0x3BE) << std::hex << a.address;
        }
    }
}

TEST(LptVic, PinsFollowTheMapWithItsInversions)
{
    Rig r = Make([](FakeRegisterFile& io, FakeConfigSource&) { io.ports[0x378].kind = FakeKind::spp; });
    ASSERT_TRUE(r.lpt->OpenDriver(1));
    FakePort& p = r.io->ports[0x378];
    r.lpt->WriteControl(0x00);
    r.lpt->WritePin(1, true);
    EXPECT_EQ(p.control & 0x01, 0);
    r.lpt->WritePin(1, false);
    EXPECT_EQ(p.control & 0x01, 0x01);
    r.lpt->WritePin(16, true);
    EXPECT_EQ(p.control & 0x04, 0x04);
    r.lpt->WritePin(14, true);
    EXPECT_EQ(p.control & 0x02, 0);
    r.lpt->WritePin(17, false);
    EXPECT_EQ(p.control & 0x08, 0x08);
    r.lpt->WritePin(9, true);
    EXPECT_EQ(p.data & 0x80, 0x80);
    p.status = 0x80;
    EXPECT_FALSE(r.lpt->ReadPin(11));
    EXPECT_FALSE(r.lpt->ReadPin(10));
    p.status = 0x40;
    EXPECT_TRUE(r.lpt->ReadPin(11));
    EXPECT_TRUE(r.lpt->ReadPin(10));
    // Writes work from the shadow: a port that reads back garbage does not leak into them.
    r.io->log.clear();
    p.control = 0xF0;
    r.lpt->WritePin(16, false);
    EXPECT_EQ(r.io->Count('R', 0x37A), 0u);
    EXPECT_EQ(p.control, 0x09);
    // Out-of-range pins and a closed port do nothing.
    r.io->log.clear();
    r.lpt->WritePin(0, true);
    r.lpt->WritePin(18, true);
    EXPECT_FALSE(r.lpt->ReadPin(18));
    EXPECT_TRUE(r.io->log.empty());
    r.lpt->CloseDriver();
    r.lpt->WritePin(16, true);
    EXPECT_FALSE(r.lpt->ReadPin(10));
    EXPECT_EQ(r.lpt->ReadPort(0x378), 0xFF);
    EXPECT_TRUE(r.io->log.empty());
}

TEST(LptVic, PinMapTableIsConsistent)
{
    for (size_t i = 0; i < kLptPinMap.size(); ++i) {
        const TPinMapEntry& e = kLptPinMap[i];
        EXPECT_EQ(e.Pin, static_cast<int>(i) + 1);
        EXPECT_EQ(e.Mask & (e.Mask - 1), 0) << "one bit per pin";
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(kLptPinMap[j].Register == e.Register && kLptPinMap[j].Mask == e.Mask) << e.Pin;
    }
}

TEST(LptVic, DetectionFindsEachKindOfPort)
{
    struct Case {
        FakeKind kind;
        uint8_t ecr;
        uint8_t hardware, mode;
        bool epp;
    };
    for (const Case& c : {Case{FakeKind::dead, 0, 0, 0, false}, Case{FakeKind::spp, 0, 1, 1, false},
                          Case{FakeKind::ps2, 0, 2, 2, false}, Case{FakeKind::epp, 0, 3, 3, true},
                          Case{FakeKind::ecp, 0x15, 5, 1, true}, Case{FakeKind::ecp, 0x35, 5, 2, true},
                          Case{FakeKind::ecp, 0x55, 5, 4, true}, Case{FakeKind::ecp, 0x75, 5, 5, true},
                          Case{FakeKind::ecp, 0x95, 5, 3, true}, Case{FakeKind::ecp, 0xB5, 5, 5, true}}) {
        Rig r = Make([&](FakeRegisterFile& io, FakeConfigSource&) {
            io.ports[0x378].kind = c.kind;
            io.ports[0x378].ecr = c.ecr;
        });
        ASSERT_TRUE(r.lpt->OpenDriver(1));
        SCOPED_TRACE(static_cast<int>(c.kind) * 1000 + c.ecr);
        EXPECT_EQ(r.lpt->HardwareMode(), c.hardware);
        EXPECT_EQ(r.lpt->LptMode(), c.mode);
        EXPECT_EQ(r.lpt->EppSupported(), c.epp);
        EXPECT_EQ(r.lpt->PortUsable(), c.mode != 0);
        if (c.kind == FakeKind::ecp) {
            EXPECT_EQ(r.io->ports[0x378].ecr, c.ecr);  // restored after the probe
        }
        if (c.kind != FakeKind::dead) {
            EXPECT_EQ(r.lpt->InitialRegisters()[lr_control], r.io->ports[0x378].control);
        }
    }
}

TEST(LptVic, ReselectingAPortRestoresItWithoutDetection)
{
    Rig r = Make([](FakeRegisterFile& io, FakeConfigSource& c) {
        io.ports[0x378].kind = FakeKind::spp;
        io.ports[0x278].kind = FakeKind::epp;
        c.ports["LPT1"] = PortAt(0x378);
        c.ports["LPT2"] = PortAt(0x278);
    });
    ASSERT_TRUE(r.lpt->OpenDriver(1));
    r.lpt->SelectPort(2);
    EXPECT_EQ(r.lpt->HardwareMode(), 3);
    r.lpt->WritePin(16, true);
    const TLptRegisters shadow2 = r.lpt->Shadow();
    r.lpt->SelectPort(1);
    EXPECT_EQ(r.lpt->HardwareMode(), 1);
    const int detections = r.lpt->DetectionCount();
    r.io->ports[0x278].kind = FakeKind::dead;  // would fail detection if it ran again
    r.lpt->SelectPort(2);
    EXPECT_EQ(r.lpt->DetectionCount(), detections);
    EXPECT_EQ(r.lpt->HardwareMode(), 3);
    EXPECT_EQ(r.lpt->LptMode(), 3);
    EXPECT_TRUE(r.lpt->EppSupported());
    EXPECT_EQ(r.lpt->Shadow(), shadow2);
    // Selecting the current port again detects it afresh.
    r.lpt->SelectPort(2);
    EXPECT_EQ(r.lpt->DetectionCount(), detections + 1);
    EXPECT_EQ(r.lpt->HardwareMode(), 0);
    // Closing forgets the saved states.
    r.lpt->CloseDriver();
    r.io->ports[0x278].kind = FakeKind::spp;
    ASSERT_TRUE(r.lpt->OpenDriver(1));
    r.lpt->SelectPort(2);
    EXPECT_EQ(r.lpt->HardwareMode(), 1);
}

TEST(LptVic, SetLptModeOnlyOnEcpPorts)
{
    Rig epp = Make([](FakeRegisterFile& io, FakeConfigSource&) { io.ports[0x378].kind = FakeKind::epp; });
    ASSERT_TRUE(epp.lpt->OpenDriver(1));
    epp.io->log.clear();
    epp.lpt->SetLptMode(3);
    epp.lpt->SetLptMode(1);
    EXPECT_EQ(epp.lpt->LptMode(), 3);
    EXPECT_TRUE(epp.io->log.empty());

    Rig ecp = Make([](FakeRegisterFile& io, FakeConfigSource&) {
        io.ports[0x378].kind = FakeKind::ecp;
        io.ports[0x378].ecr = 0x1D;
    });
    ASSERT_TRUE(ecp.lpt->OpenDriver(1));
    const std::pair<uint8_t, uint8_t> fields[] = {{1, 0x00}, {2, 0x20}, {3, 0x80}, {4, 0x40}, {5, 0x60}};
    for (auto [mode, field] : fields) {
        ecp.lpt->SetLptMode(mode);
        EXPECT_EQ(ecp.lpt->LptMode(), mode);
        EXPECT_EQ(ecp.io->ports[0x378].ecr, field | 0x1D) << int(mode);
    }
    ecp.lpt->SetLptMode(0);
    ecp.lpt->SetLptMode(6);
    EXPECT_EQ(ecp.lpt->LptMode(), 5);
    ecp.lpt->WriteEcr(0);
    EXPECT_EQ(ecp.io->ports[0x378].ecr, 0);
}

TEST(LptVic, AFailedOpenLeavesTheLayerClosed)
{
    Rig r = Make([](FakeRegisterFile& io, FakeConfigSource&) { io.openOk = false; });
    EXPECT_FALSE(r.lpt->OpenDriver(1));
    EXPECT_EQ(r.lpt->DriverInstance(), 0);
    EXPECT_FALSE(r.lpt->PortUsable());
    EXPECT_TRUE(r.io->log.empty());
}

TEST(LptVic, UnknownBackendNamesOpenNothing)
{
    TPortBackends backends;
    EXPECT_EQ(backends.Create("nosuch"), nullptr);
    EXPECT_EQ(CreateBuiltInPortIo("nosuch"), nullptr);
    EXPECT_TRUE(backends.Has("ppdev"));
    EXPECT_TRUE(backends.Has("remote"));
    auto remote = backends.Create("remote:missing-colon");
    ASSERT_NE(remote, nullptr);
    EXPECT_FALSE(remote->Open());
}

// A backend one set of backends adds is its own: another set does not see it, and an added name
// hides the built-in one of that name.
TEST(LptVic, AddedBackendsBelongToTheirSetOnly)
{
    TPortBackends one, other;
    std::string argument;
    one.Add("fake", [&](const std::string& a) {
        argument = a;
        return std::unique_ptr<IPortIo>(std::make_unique<FakeRegisterFile>());
    });
    EXPECT_TRUE(one.Has("fake"));
    EXPECT_FALSE(other.Has("fake"));
    EXPECT_NE(one.Create("fake:x:1"), nullptr);
    EXPECT_EQ(argument, "x:1");
    EXPECT_EQ(other.Create("fake"), nullptr);
    one.Add("ppdev", [](const std::string&) { return std::unique_ptr<IPortIo>(std::make_unique<FakeRegisterFile>()); });
    EXPECT_NE(dynamic_cast<FakeRegisterFile*>(one.Create("ppdev").get()), nullptr);
    EXPECT_EQ(dynamic_cast<FakeRegisterFile*>(other.Create("ppdev").get()), nullptr);
}

TEST(LptVic, PpdevOpensOnlyWhereTheSystemHasParallelPorts)
{
    auto io = CreateBuiltInPortIo("ppdev");
    ASSERT_NE(io, nullptr);
    const bool any = !ReadProcParports().empty();
    EXPECT_EQ(io->Open(), any);
    if (!any) {
        // Without a port the layer reports a missing driver rather than inventing 378h.
        TVicLPT lpt(std::move(io));
        EXPECT_FALSE(lpt.OpenDriver(1));
        EXPECT_EQ(lpt.DriverInstance(), 0);
    }
}

TEST(LptVic, WithoutABaseForPort1PinsAndModesTouchNoLowPort)
{
    // Only LPT2 is configured, so entry 1 keeps no base address; its registers would be the
    // system's I/O ports 0..2 and 402h.
    Rig r = Make([](FakeRegisterFile& io, FakeConfigSource& c) {
        io.ports[0x278].kind = FakeKind::ecp;
        c.ports["LPT2"] = PortAt(0x278);
    });
    ASSERT_TRUE(r.lpt->OpenDriver(1));
    r.lpt->SelectPort(2);
    EXPECT_EQ(r.lpt->HardwareMode(), 5);
    // Reopening comes back on port 1, which is not detected: nothing of port 2 may stand for it.
    r.lpt->CloseDriver();
    ASSERT_TRUE(r.lpt->OpenDriver(1));
    EXPECT_EQ(r.lpt->CurrentPort(), 1);
    EXPECT_EQ(r.lpt->BaseAddress(), 0);
    EXPECT_EQ(r.lpt->HardwareMode(), 0);
    EXPECT_EQ(r.lpt->LptMode(), 0);
    EXPECT_FALSE(r.lpt->EppSupported());
    r.io->log.clear();
    r.lpt->SetLptMode(2);
    r.lpt->WriteEcr(0);
    EXPECT_EQ(r.lpt->ReadEcr(), 0xFF);
    for (int pin = 1; pin <= 17; ++pin) r.lpt->WritePin(pin, true);
    EXPECT_FALSE(r.lpt->ReadPin(10));
    r.lpt->WriteControl(0x0F);
    EXPECT_EQ(r.lpt->ReadData(), 0xFF);
    EXPECT_EQ(r.lpt->LptMode(), 0);
    EXPECT_TRUE(r.io->log.empty());
    EXPECT_TRUE(r.io->stray.empty());
}
