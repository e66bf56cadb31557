// The box protocol over a scripted transport that behaves like the parallel pins: the box is
// either ready with a byte to send or waiting for one, and every exchange follows a script.
#include "test_support.h"
#include <gtest/gtest.h>

#include <deque>
#include <utility>
#include <vector>

#include "base/isperrors.h"
#include "devices/devices.h"
#include "image/hexlist.h"
#include "link/boxprotocol.h"
#include "link/boxtransport.h"
#include "link/programmer.h"

namespace {

// Each step is the bytes the protocol must send and the box's answer to them.
using Script = std::vector<std::pair<std::string, std::string>>;

class ScriptedTransport final : public IBoxTransport {
public:
    Script script;
    std::vector<std::string> violations;

    void WriteByte(uint8_t value) override
    {
        if (!in_.empty()) violations.push_back("wrote while the box had something to send");
        pending_ += static_cast<char>(value);
        if (script.empty() || script.front().first.compare(0, pending_.size(), pending_) != 0) {
            violations.push_back("unexpected bytes " + pending_);
            return;
        }
        if (pending_ != script.front().first) return;
        in_.insert(in_.end(), script.front().second.begin(), script.front().second.end());
        script.erase(script.begin());
        pending_.clear();
    }
    uint8_t ReadByte(bool) override
    {
        if (in_.empty()) throw EISPException(kCommFailed, false, "TEST");
        const uint8_t b = in_.front();
        in_.pop_front();
        return b;
    }
    bool WaitReady(bool) override { return !in_.empty(); }
    bool ReadWholeBlock(const std::string&, size_t, std::string&) override { return false; }
    void DiscardInput() override {}

private:
    std::string pending_;
    std::deque<uint8_t> in_;
};

class Owner final : public TISPProgrammer {
public:
    bool Connect() override { return true; }
};

std::string Raw(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

}  // namespace

// The answer to a programming block decides how Program Flash ends. A box that is ready but has
// nothing to send never finished the block: that is a time-out, not a broken exchange. Whatever
// happens, programming mode is left.
TEST(BoxProtocol, TheAnswerToAProgrammingBlock)
{
    const struct {
        const char* name;
        std::string answer;
        std::string error;
    } cases[] = {
        {"written", "\r", "(no exception)"},
        {"nothing to send", "", TBoxProtocol::kTimedOut},
        {"noise", "Q", TBoxProtocol::kCommFailed},
        {"refused", "?T", "Program/erase BUSY timed out"},
        {"refusal without a known code", "?Q", TBoxProtocol::kCommFailed},
    };
    const TDevice* device = DeviceList().FindDevice("COP8TAB9", 0xFF);
    ASSERT_NE(device, nullptr);
    for (const auto& c : cases) {
        Owner owner;
        owner.SetHardwareName("ZEMPRIX (LPT)");
        owner.SetDevice(device);
        ScriptedTransport transport;
        TBoxProtocol protocol(owner, transport);
        THexList image;
        image.SetSize(static_cast<uint32_t>(device->FlashSize()));
        for (uint32_t a = 0; a < image.Size(); ++a) image.SetValue(a, 0);
        image.SetValue(3, 0x5A);
        std::string block = Raw({'W', 0, 0, 16});
        for (uint32_t a = 0; a < 16; ++a) block += static_cast<char>(image.GetValue(a));
        transport.script = {{"I", "\r"}, {"rFFFF", "FF\r"}, {"=", "\r"},  {"%", "\r"},
                            {Raw({'z', 0, 0}), "\r"}, {block, c.answer}, {":", "\r"}, {"$", "\r"}};

        EXPECT_EQ(ErrorOf([&] { protocol.ProgramFlash(image); }), c.error) << c.name;
        EXPECT_TRUE(transport.script.empty()) << c.name << ": programming mode was not left";
        EXPECT_TRUE(transport.violations.empty()) << c.name << ": " << transport.violations.front();
        EXPECT_EQ(protocol.Synced, c.error == "(no exception)") << c.name;
    }
}
