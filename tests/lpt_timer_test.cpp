#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "lpt/portunit.h"
#include "lpt/advanced.h"
#include "base/clock.h"
#include "lpt/cpuid.h"
#include "lpt/tiraltimer.h"
#include "lpt_fakeports.h"

namespace {

class NoCounterClock final : public IClock {
public:
    int64_t PerformanceCounter() override { return 0; }
    int64_t PerformanceFrequency() override { return 0; }
    uint32_t TickCount() override { return 0; }
    void Sleep(uint32_t) override {}
};

// A processor whose time-stamp counter runs at `mhz` against the virtual clock.
TCpuSources FakeCpu(VirtualClock& clock, double mhz, bool tsc = true, double reported = 0)
{
    TCpuSources s;
    s.Leaf1 = [tsc](uint32_t& edx) {
        edx = tsc ? 0x211u : 0x201u;  // FPU, APIC, and the time-stamp counter when asked
        return true;
    };
    s.TimeStamp = [&clock, mhz] { return static_cast<uint64_t>(clock.NowSeconds() * mhz * 1e6); };
    s.ReportedMHz = [reported] { return reported; };
    s.Clock = &clock;
    return s;
}

}  // namespace

TEST(LptTimer, MeasuresTheTimeStampCounterAgainstThePerformanceCounter)
{
    VirtualClock clock(10'000);  // 10 µs per read: a measured window is ten thousand polls
    const TTiralTimer t(FakeCpu(clock, 2500.0));
    EXPECT_TRUE(t.QuantumTimerExists());
    EXPECT_EQ(t.QuantumFrequency(), VirtualClock::kFrequency);
    EXPECT_DOUBLE_EQ(t.QuantumTimerMinmicrosec(), 0.001);
    EXPECT_TRUE(t.TickTimerExists());
    EXPECT_NEAR(t.ExactCPUSpeed(), 2500.0, 5.0);
    EXPECT_NEAR(static_cast<double>(t.TimeStampFrequency()), 2.5e9, 5e6);
    EXPECT_NEAR(t.TimeStampTimerMinmicrosec(), 1.0 / 2500.0, 1e-5);
    EXPECT_TRUE(t.CPUID().HasFpu());
    EXPECT_TRUE(t.CPUID().HasApic());
    // Three measured windows of a tenth of a second each: no start-up waits seconds for them.
    EXPECT_GE(clock.NowSeconds(), 0.3);
    EXPECT_LT(clock.NowSeconds(), 0.5);
}

// The short window gives the per-second figure a whole second gives, to well within 0.1 %, also
// with an odd rate and a counter whose reads cost time.
TEST(LptTimer, ATenthOfASecondAgreesWithAWholeSecond)
{
    for (const double mhz : {2392.6, 3000.0, 1234.567}) {
        for (const int64_t stepNs : {1'000, 50'000}) {
            VirtualClock clock(stepNs);
            const TCpuSources cpu = FakeCpu(clock, mhz);
            const double tenth = static_cast<double>(MeasureTimeStampSecond(cpu, 100));
            const double whole = static_cast<double>(MeasureTimeStampSecond(cpu, 1000));
            EXPECT_NEAR(tenth / whole, 1.0, 0.001) << mhz << " MHz, " << stepNs << " ns per read";
            EXPECT_NEAR(tenth, mhz * 1e6, mhz * 1e6 * 0.001);
        }
    }
}

TEST(LptTimer, WithoutAPerformanceCounterTheReportedSpeedIsUsed)
{
    NoCounterClock none;
    VirtualClock unused;
    TCpuSources s = FakeCpu(unused, 2500.0, true, 1800.5);
    s.Clock = &none;
    const TTiralTimer t(s);
    EXPECT_FALSE(t.QuantumTimerExists());
    EXPECT_EQ(t.QuantumTimerMinmicrosec(), 0.0);
    EXPECT_TRUE(t.TickTimerExists());
    EXPECT_EQ(t.TimeStampTimerMinmicrosec(), 0.0);
    EXPECT_EQ(t.TimeStampFrequency(), 0);
    EXPECT_DOUBLE_EQ(t.ExactCPUSpeed(), 1800.5);
}

TEST(LptTimer, WithoutATimeStampCounterNothingIsMeasured)
{
    VirtualClock clock;
    const TTiralTimer t(FakeCpu(clock, 2500.0, false, 0));
    EXPECT_FALSE(t.TickTimerExists());
    EXPECT_EQ(t.ExactCPUSpeed(), 0.0);
    EXPECT_EQ(clock.NowNs(), 0);  // no second was spent
}

TEST(LptTimer, CpuInfoSpeed)
{
    const std::filesystem::path p = std::filesystem::temp_directory_path() / ("zemprix_cpuinfo_" + std::to_string(::getpid()));
    std::ofstream(p) << "processor\t: 0\nmodel name\t: Test\ncpu MHz\t\t: 2596.144\ncache size\t: 1 KB\n"
                        "processor\t: 1\ncpu MHz\t\t: 1200.000\n";
    EXPECT_DOUBLE_EQ(ReadCpuInfoMHz(p.string()), 2596.144);
    std::ofstream(p) << "processor\t: 0\ncpu MHz\t\t: junk\n";
    EXPECT_EQ(ReadCpuInfoMHz(p.string()), 0.0);
    std::filesystem::remove(p);
    EXPECT_EQ(ReadCpuInfoMHz(p.string()), 0.0);
}

namespace {

std::unique_ptr<TVicLPT> PortOf(FakeKind kind, int irq)
{
    auto io = std::make_unique<FakeRegisterFile>();
    io->ports[0x378].kind = kind;
    auto config = std::make_unique<FakeConfigSource>();
    config->ports["LPT1"] = PortAt(0x378, irq);
    auto lpt = std::make_unique<TVicLPT>(std::move(io), std::move(config));
    lpt->OpenDriver(1);
    return lpt;
}

}  // namespace

TEST(LptAdvanced, RefreshWritesThePortAndTimingBlock)
{
    VirtualClock clock(10'000);  // fine enough that the measured second is within 20 us
    const TTiralTimer timer(FakeCpu(clock, 2392.6));
    auto lpt = PortOf(FakeKind::ecp, 7);
    std::vector<std::string> log;
    const TPortInfo info = RefreshPortInfo(*lpt, 0, TTimingValues{0x54, 0x28, 0x7F}, timer,
                                           [&](const std::string& l) { log.push_back(l); });
    EXPECT_EQ(info.Status, "Present");
    EXPECT_EQ(info.Checked, mb_spp);
    const std::vector<std::string> expected = {"",
                                               "Current selected LPT details",
                                               "============================",
                                               "BasePortAddress=0378h",
                                               "IRQNumber      =07h",
                                               "DMAChannel     =00h",
                                               "",
                                               "LPT modes",
                                               "============================",
                                               "SPP Mode",
                                               "PS2 Mode",
                                               "EPP Mode",
                                               "Fast Centronix Mode",
                                               "ECP Mode",
                                               "",
                                               "LPT mode selected",
                                               "============================",
                                               "SPP Mode",
                                               "",
                                               "============================",
                                               "PGMTIME =54",
                                               "TENCYC  =0028",
                                               "BusyTime=7F",
                                               "CPUspeed=2393",
                                               "MinQuant=0",
                                               "MinStamp=0",
                                               "============================",
                                               "TimeStamp Timer Exists",
                                               "Quantum Timer Exists",
                                               "============================"};
    EXPECT_EQ(log, expected);
}

TEST(LptAdvanced, ModeButtonsFollowTheHardwareMode)
{
    VirtualClock clock;
    const TTiralTimer timer(FakeCpu(clock, 1000.0, false));
    struct Case {
        FakeKind kind;
        std::array<bool, mb_count> enabled;
        int checked;
        const char* status;
    };
    for (const Case& c : {Case{FakeKind::epp, {false, false, true, false, false}, mb_epp, "Present"},
                          Case{FakeKind::ps2, {false, true, false, false, false}, mb_ps2, "Present"},
                          Case{FakeKind::spp, {true, false, false, false, false}, mb_spp, "Present"},
                          Case{FakeKind::dead, {false, false, false, false, false}, -1, "Not present"}}) {
        auto lpt = PortOf(c.kind, -1);
        std::vector<std::string> log;
        const TPortInfo info =
            RefreshPortInfo(*lpt, 0, TTimingValues{}, timer, [&](const std::string& l) { log.push_back(l); });
        SCOPED_TRACE(static_cast<int>(c.kind));
        EXPECT_EQ(info.Enabled, c.enabled);
        EXPECT_EQ(info.Checked, c.checked);
        EXPECT_EQ(info.Status, c.status);
        EXPECT_EQ(lpt->DetectionCount(), 7);  // once at open, then six refreshes
        EXPECT_EQ(std::count(log.begin(), log.end(), "TimeStamp Timer Exists"), 0);
    }
}
