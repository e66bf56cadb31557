// The parallel link's answer parsing: a register file whose status register reads come from
// the fuzz input (the data and control registers keep what was written), so the input is every
// pin the box drives.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "store/settings.h"
#include "link/linkcontext.h"
#include "link/linkhost.h"
#include "link/linkwide.h"
#include "link/smartparallel.h"
#include "link_fuzz_support.h"
#include "lpt/portunit.h"
#include "base/clock.h"
#include "lpt/portio.h"

namespace {

class FuzzedRegisters final : public IPortIo {
public:
    explicit FuzzedRegisters(FuzzStream& stream) : stream_(stream) {}
    bool Open() override { return true; }
    void Close() override {}
    bool GrantRange(uint16_t, uint16_t) override { return true; }
    uint8_t Read(uint16_t address) override
    {
        if (address == 0x379) return stream_.Next();
        if (address >= 0x378 && address <= 0x37A) return latch_[address - 0x378];
        return 0xFF;
    }
    void Write(uint16_t address, uint8_t value) override
    {
        if (address >= 0x378 && address <= 0x37A) latch_[address - 0x378] = value;
    }
    std::array<uint16_t, 3> BiosTable() override { return {0x378, 0, 0}; }
    bool UsesSystemDiscovery() const override { return false; }

private:
    FuzzStream& stream_;
    std::array<uint8_t, 3> latch_{0xFF, 0xFF, 0x0F};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Coarse steps keep the link's 30-second waits to a few thousand polls once the input ends.
    VirtualClock clock(10'000'000);
    ScopedClock scoped(clock);
    FuzzStream stream(data, size);
    TLinkContext context;
    context.ReplaceLpt(std::make_unique<TVicLPT>(std::make_unique<FuzzedRegisters>(stream)));
    {
        const char* kLpt = "ZEMPRIX (LPT)";
        TISPSettings settings;
        settings.Put(kLpt, "BASEPORT", kGlobalGroup, 0);
        ILinkHost host;
        TSmartParallel link;
        link.SetContext(&context);
        link.SetHardwareName(kLpt);
        link.SetHost(&host);
        link.SetSettingsStore(&settings);
        link.SetDevice(&SmallDevice());
        RunOperations(link);
    }
    return 0;
}
