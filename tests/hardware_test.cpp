#include <gtest/gtest.h>

#include "store/settings.h"
#include "link/hardware.h"
#include "base/isperrors.h"
#include "link/linkcontext.h"
#include "link/linkwide.h"
#include "link/smartparallel.h"
#include "link/smartserial.h"

namespace {
struct HardwareTable : ::testing::Test {
    TLinkContext context;
    std::unique_ptr<TISPProgrammer> CreateProgrammer(int index) { return BuiltInHardware().Create(index, context); }
};
}  // namespace

TEST_F(HardwareTable, LookupsAndCanonicalNames)
{
    EXPECT_EQ(HardwareIndex("zemprix (com)"), 1);
    EXPECT_EQ(HardwareIndex("ZEMPRIX (LPT)"), 0);
    EXPECT_EQ(HardwareIndex(""), -1);
    EXPECT_EQ(CanonicalHardwareName("nothing like it"), "ZEMPRIX (LPT)");
    EXPECT_EQ(CanonicalHardwareName("zemprix (com)"), "zemprix (com)");
    EXPECT_EQ(HardwareNames(), (std::vector<std::string>{"ZEMPRIX (LPT)", "ZEMPRIX (COM)"}));
    EXPECT_STREQ(GetHardwareByName("Zemprix (Com)").Name, "ZEMPRIX (COM)");
    EXPECT_EQ(BuiltInHardware().Count(), 2);
}

TEST_F(HardwareTable, BadIndexRaisesWithoutHardwareName)
{
    for (int index : {2, -1}) {
        try {
            GetHardware(index);
            FAIL() << "no exception for " << index;
        } catch (const EISPException& e) {
            EXPECT_STREQ(e.what(), "Internal error: Invalid Hardware Select");
            EXPECT_TRUE(e.HardwareName().empty());
        }
    }
    EXPECT_THROW(GetHardwareByName("unknown"), EISPException);
}

TEST_F(HardwareTable, CreatedProgrammersKnowTheirRow)
{
    for (int index : {0, 1}) {
        auto p = CreateProgrammer(index);
        EXPECT_EQ(p->HardwareName(), GetHardware(index).Name);
        EXPECT_EQ(&p->Context(), &context);  // the row's programmer works in the session's context
        EXPECT_EQ(p->DeviceSetOf(), 0x04);
        EXPECT_TRUE(p->HasSetup());
        EXPECT_TRUE(p->HasInformation());
        EXPECT_EQ(p->ProgrammerId(), "ZEMPRIX01");
    }
    EXPECT_NE(dynamic_cast<TSmartSerial*>(CreateProgrammer(1).get()), nullptr);
}

TEST(Programmer, DoProgressPropagatesWhatTheCallbackRaises)
{
    TSmartParallel p;
    p.DoProgress(1, 2);  // no callback: nothing happens
    std::vector<std::pair<int, int>> calls;
    p.SetOnProgress([&](int32_t a, int32_t b) {
        calls.emplace_back(a, b);
        if (a == 3) throw EAbortOp();
    });
    p.DoProgress(0, 10);
    EXPECT_THROW(p.DoProgress(3, 10), EAbortOp);
    EXPECT_EQ(calls.size(), 2u);
}

TEST_F(HardwareTable, LinkSettingsDefaultsAndSeparateSections)
{
    TISPSettings store;
    auto lpt = CreateProgrammer(0);
    auto com = CreateProgrammer(1);
    lpt->SetSettingsStore(&store);
    com->SetSettingsStore(&store);
    auto& par = dynamic_cast<TSmartParallel&>(*lpt);
    par.Transport().MaxReadTimeout = 1;
    lpt->LoadSettings();
    const TLinkWide& w = context.Wide();
    EXPECT_EQ(w.PortIndex, 0);
    EXPECT_EQ(w.PGMTIME, 93);
    EXPECT_EQ(w.BusyTime, 127);
    EXPECT_EQ(w.LptMode, 1);
    EXPECT_EQ(par.OptionsSetting, 6);
    EXPECT_EQ(par.Transport().MaxReadTimeout, 50000);
    EXPECT_EQ(par.MaxWriteTimeout, 50000);
    lpt->SaveSettings();
    ASSERT_EQ(store.Settings().size(), 5u);
    for (const auto& s : store.Settings()) {
        EXPECT_EQ(s.Section, "ZEMPRIX (LPT)");
        EXPECT_EQ(s.Group, kGlobalGroup);
    }
    EXPECT_EQ(store.Get("zemprix (lpt)", "pgmtime", 0).AsInteger(), 93);

    store.Put("ZEMPRIX (COM)", "BASEPORT", kGlobalGroup, "3");
    store.Put("ZEMPRIX (COM)", "PGMTIME", kGlobalGroup, "300");  // cut to a byte
    com->LoadSettings();
    EXPECT_EQ(w.PortIndex, 3);
    EXPECT_EQ(w.PGMTIME, 300 & 0xFF);
    lpt->LoadSettings();
    EXPECT_EQ(w.PortIndex, 0);
}
