// Two application sessions in one process share no link state: each programs and verifies its
// own simulated box at the same time, on its own thread. Runs under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/session.h"
#include "devices/devices.h"
#include "image/hexlist.h"
#include "store/settings.h"
#include "link/hardware.h"
#include "link/linkcontext.h"
#include "link/programmer.h"
#include "sim/boxmodel.h"
#include "sim/simserial.h"

namespace {

constexpr const char* kDevice = "COP8SBR9";  // 32 KB, the largest

struct TBoxSession {
    TBoxSession(uint8_t seed, int portIndex)
        : box(*DeviceList().FindDevice(kDevice, 0xFF)), install(session.LinkContext(), box), seed(seed)
    {
        session.Settings().Put(kHardwareCom, "BASEPORT", kGlobalGroup, portIndex);
    }

    // Connects, programs a pattern of its own and verifies it; what failed, or empty.
    void Work()
    {
        const TOutcome outcome = session.Run([this] {
            session.SwitchDevice(kDevice, kHardwareCom, false);
            session.Runner().EndOp("");
            THexList& image = session.Project().Flash;
            for (uint32_t a = 0; a < image.Size(); ++a) image.SetValue(a, static_cast<uint8_t>(a * 7 + seed));
            TISPProgrammer& p = *session.Programmer();
            p.EraseDevice();
            p.ProgramFlash(image);
            p.VerifyFlash(image);
            p.Disconnect();
        });
        ok = outcome == TOutcome::Completed;
        if (!ok && !session.Runner().Log().empty()) failure = session.Runner().Log().back();
    }

    TNullShellView view;
    TAppSession session{view, nullptr};
    TBoxModel box;
    TSimSerialInstall install;
    uint8_t seed;
    bool ok = false;
    std::string failure;
};

}  // namespace

TEST(TwoSessions, EachProgramsAndVerifiesItsOwnBoxAtTheSameTime)
{
    // Different link values in each (the port index its link loads): neither may see the other's.
    TBoxSession a(0x11, 0);
    TBoxSession b(0x5A, 6);

    std::thread ta([&] { a.Work(); });
    std::thread tb([&] { b.Work(); });
    ta.join();
    tb.join();

    for (TBoxSession* s : {&a, &b}) {
        SCOPED_TRACE(static_cast<int>(s->seed));
        EXPECT_TRUE(s->ok) << s->failure;
        const std::vector<uint8_t>& flash = s->box.Flash();
        ASSERT_EQ(flash.size(), 0x8000u);
        uint32_t wrong = 0;
        for (uint32_t addr = 0; addr < flash.size(); ++addr)
            if (flash[addr] != static_cast<uint8_t>(addr * 7 + s->seed)) ++wrong;
        EXPECT_EQ(wrong, 0u);
        EXPECT_TRUE(s->box.Violations().empty());
        EXPECT_EQ(s->session.Project().Flash.GetStatus(0x1234), TProgStatus(ps_verified));
        EXPECT_EQ(s->session.LinkContext().Wide().LinkKind, 1);
        EXPECT_EQ(s->install.Created(), 1);
    }
    EXPECT_EQ(a.session.LinkContext().Wide().PortIndex, 0);
    EXPECT_EQ(b.session.LinkContext().Wide().PortIndex, 6);
}
