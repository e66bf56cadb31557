// The serial link's answer parsing: a port whose answers are the fuzz input. Each byte the link
// writes lets the next control byte's count of answer bytes arrive, so the input decides both
// what the box says and when.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "store/settings.h"
#include "link/linkcontext.h"
#include "link/linkhost.h"
#include "link/linkwide.h"
#include "link/serialport.h"
#include "link/smartserial.h"
#include "link_fuzz_support.h"
#include "base/clock.h"

namespace {

class FuzzedPort final : public ISerialPort {
public:
    explicit FuzzedPort(FuzzStream& stream) : stream_(stream) {}
    void Open(const std::string&, int32_t) override { open_ = true; }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    void SetDtr(bool) override {}
    void SetRts(bool) override {}
    void SetParitySpace() override {}
    void SetBufferSizes(size_t, size_t) override {}
    void FlushInput() override { in_.clear(); }
    void FlushOutput() override {}
    size_t BytesWaiting() override { return in_.size(); }
    size_t WaitForBytes(size_t, int) override { return in_.size(); }
    uint8_t TakeByte() override
    {
        if (in_.empty()) return 0;  // a caller that did not wait for its byte gets nothing useful
        const uint8_t b = in_.front();
        in_.pop_front();
        return b;
    }
    std::string Take(size_t n) override
    {
        std::string s;
        while (n-- && !in_.empty()) s += static_cast<char>(TakeByte());
        return s;
    }
    void WriteByte(uint8_t) override
    {
        for (uint8_t n = stream_.Next(0); n > 0 && !stream_.Empty(); --n) in_.push_back(stream_.Next());
    }

private:
    FuzzStream& stream_;
    std::deque<uint8_t> in_;
    bool open_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VirtualClock clock(1'000'000);
    ScopedClock scoped(clock);
    FuzzStream stream(data, size);
    TLinkContext context;
    context.SetSerialFactory([&stream] { return std::make_unique<FuzzedPort>(stream); });
    {
        TISPSettings settings;
        ILinkHost host;
        TSmartSerial link;
        link.SetContext(&context);
        link.SetHardwareName("ZEMPRIX (COM)");
        link.SetHost(&host);
        link.SetSettingsStore(&settings);
        link.SetDevice(&SmallDevice());
        RunOperations(link);
    }
    return 0;
}
