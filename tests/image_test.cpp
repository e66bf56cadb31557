#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "devices/devices.h"
#include "image/hexlist.h"
#include "base/hextext.h"
#include "base/isperrors.h"

namespace {
std::string MessageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EISPException& e) {
        EXPECT_TRUE(e.HardwareName().empty());
        return e.what();
    }
    return "(no exception)";
}
}  // namespace

TEST(ProgStatus, OneByteBitSet)
{
    EXPECT_EQ(TProgStatus(ps_normal).Bits(), 1);
    EXPECT_EQ(TProgStatus(ps_verified).Bits(), 4);
    EXPECT_EQ(TProgStatus(ps_read).Bits(), 16);
    TProgStatus both = TProgStatus::FromBits(4 | 8);
    EXPECT_TRUE(both.Has(ps_failed));
    EXPECT_TRUE(both.Has(ps_verified));
    EXPECT_FALSE(both.Has(ps_read));
}

TEST(HexList, RangeMessages)
{
    THexList img;
    EXPECT_EQ(img.Size(), 0u);
    EXPECT_EQ(img.TopAddress(), -1);
    EXPECT_EQ(MessageOf([&] { img.SetValue(0, 1); }), "Set Value of Address: 00000000 out of range");
    img.SetSize(0x8000);
    EXPECT_EQ(MessageOf([&] { img.GetValue(0x8000); }), "THexList:GetValue:00008000 out of range");
    EXPECT_EQ(MessageOf([&] { img.GetStatus(0x12345678); }), "Get Status of Address: 12345678 out of range");
    EXPECT_EQ(MessageOf([&] { img.SetStatus(0xFFFFFFFF, ps_read); }),
              "Set Status of Address: FFFFFFFF out of range");
    EXPECT_EQ(img.GetValue(0x7FFF), 0xFF);
}

TEST(HexList, TopAddressAndClear)
{
    THexList img;
    img.SetSize(0x1000);
    img.SetValue(0, 0x12);
    EXPECT_EQ(img.TopAddress(), 0x0F);
    img.SetValue(0x123, 0);
    EXPECT_EQ(img.TopAddress(), 0x12F);
    img.SetValue(0x123, 0xFF);
    img.SetValue(0, 0xFF);
    EXPECT_EQ(img.TopAddress(), -1);  // FF written by a file counts as blank

    img.SetValue(5, 0x55);
    img.SetStatus(5, ps_verified);
    img.MarkAllFailed();
    EXPECT_EQ(img.GetValue(5), 0x55);
    EXPECT_EQ(img.GetStatus(7), TProgStatus(ps_failed));
    img.Clear();
    EXPECT_EQ(img.GetValue(5), 0xFF);
    EXPECT_EQ(img.GetStatus(5), TProgStatus(ps_normal));
    EXPECT_EQ(img.Values().data() + 1, &img.Values()[1]);  // contiguous for block transfers
}

TEST(Project, SetDeviceSizesAndClears)
{
    TTarvoProject project;
    const TDevice* big = DeviceList().FindDevice("COP8SBR9", 0xFF);
    project.SetDevice(big);
    EXPECT_EQ(project.Flash.Size(), 0x8000u);
    EXPECT_EQ(project.Eeprom.Size(), 0u);
    project.Flash.SetValue(10, 1);
    project.Flash.SetFileName("x.hex");
    EXPECT_EQ(project.GetFileName(), "x.hex");

    TDevice noFlash("NOFLASH", 0x04, 0, 0, 64, {});
    project.SetDevice(&noFlash);
    EXPECT_EQ(project.Device(), &noFlash);
    EXPECT_EQ(project.Flash.Size(), 0x8000u);  // a size of 0 keeps the previous image
    EXPECT_EQ(project.Flash.GetValue(10), 1);
    project.SetDevice(big);
    EXPECT_EQ(project.Flash.GetValue(10), 0xFF);
}

// Fields read from box answers, status lines and dialog entries: stop at the first non-digit and
// report "no digit" instead of a silent 0.
TEST(HexText, DigitsAndFields)
{
    EXPECT_EQ(hex::TryDigit('a'), 10);
    EXPECT_EQ(hex::TryDigit('a', false), -1);
    EXPECT_EQ(hex::TryDigit('F', false), 15);
    EXPECT_EQ(hex::TryDigit('G'), -1);
    EXPECT_EQ(hex::TryDigit(':'), -1);
    uint32_t v = 99;
    size_t at = 2;
    EXPECT_TRUE(hex::ReadField("h:1fFz", at, 8, v));
    EXPECT_EQ(v, 0x1FFu);
    EXPECT_EQ(at, 5u);
    at = 0;
    EXPECT_TRUE(hex::ReadField("123456789", at, 8, v));  // at most maxDigits
    EXPECT_EQ(v, 0x12345678u);
    EXPECT_EQ(at, 8u);
    v = 7;
    at = 0;
    EXPECT_FALSE(hex::ReadField("zz", at, 4, v));
    EXPECT_EQ(at, 0u);
    EXPECT_EQ(v, 7u);
    at = 3;
    EXPECT_FALSE(hex::ReadField("abc", at, 4, v));  // at the end
}

TEST(HexText, Helpers)
{
    EXPECT_EQ(hex::DigitValue('7'), 7);
    EXPECT_EQ(hex::DigitValue('F'), 15);
    EXPECT_EQ(hex::DigitValue('f'), 0);  // lower case is not a digit here
    EXPECT_EQ(hex::DigitValue('G'), 0);
    EXPECT_EQ(hex::DigitValueAnyCase('f'), 15);
    EXPECT_EQ(hex::ByteFromChars('3', 'C'), 0x3C);
    EXPECT_EQ(hex::Word("7FFF"), 0x7FFF);
    EXPECT_EQ(hex::Word("1A"), 0x1A);
    EXPECT_EQ(hex::DWord("DEADBEEF"), 0xDEADBEEFu);
    EXPECT_EQ(hex::PadLeft("12", 5, '0'), "00012");
    EXPECT_EQ(hex::PadLeft("123456", 4, '0'), "123456");
    EXPECT_EQ(hex::Hex4(0x1A0), "01A0");
    EXPECT_EQ(hex::Hex2(0x3c), "3C");
    EXPECT_EQ(hex::Hex(0x12345, 2), "12345");
    EXPECT_EQ(hex::Hex8(0), "00000000");
    EXPECT_EQ(hex::ByteToBits(0x06), "00000110");
    EXPECT_EQ(hex::BitsToByte("10000001"), 0x81);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(hex::BitsToByte(hex::ByteToBits(static_cast<uint8_t>(v))), v);
    EXPECT_TRUE(hex::SameText("Zemprix (lpt)", "ZEMPRIX (LPT)"));
    EXPECT_FALSE(hex::SameText("ab", "abc"));
}

TEST(HexList, AnnouncesEachChangeOnceAndABulkChangeWhenItEnds)
{
    THexList image;
    int changes = 0, resizes = 0;
    std::vector<bool> readOnly;
    TSubscription c = image.Changed.Subscribe([&] { ++changes; });
    TSubscription r = image.Resized.Subscribe([&] { ++resizes; });
    TSubscription o = image.ReadOnlyChanged.Subscribe([&](bool on) { readOnly.push_back(on); });

    image.SetSize(0x800);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(resizes, 1);
    image.SetValue(3, 0x12);
    image.SetValue(3, 0x12);  // no change, nothing to tell
    image.SetStatus(3, TProgStatus(ps_verified));
    EXPECT_EQ(changes, 3);
    {
        THexList::TBulkChange outer(image);
        THexList::TBulkChange inner(image);
        for (uint32_t a = 0; a < image.Size(); ++a) image.SetValue(a, 0x5A);
        image.Values()[7] = 0x00;  // a block transfer writes without setters
    }
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(resizes, 1);
    try {
        THexList::TBulkChange bulk(image);
        image.MarkAllFailed();
        throw std::runtime_error("link lost");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(changes, 5);  // what was done before the failure is shown

    image.SetReadOnly(true);
    image.SetReadOnly(true);
    image.SetReadOnly(false);
    EXPECT_EQ(readOnly, (std::vector<bool>{true, false}));

    // A copy carries the bytes, not the listeners; assigning keeps the target's listeners.
    THexList copy = image;
    EXPECT_EQ(copy.GetValue(7), 0x00);
    copy.SetValue(7, 0x01);
    EXPECT_EQ(changes, 5);
    THexList other;
    other.SetSize(0x10);
    image = other;
    EXPECT_EQ(changes, 6);
    EXPECT_EQ(resizes, 2);
}

TEST(Observers, AListenerGoesWithItsSubscriptionAndMayLeaveDuringANotice)
{
    TObservers<int> list;
    std::vector<std::string> heard;
    TSubscription first = list.Subscribe([&](int v) { heard.push_back("first " + std::to_string(v)); });
    TSubscription second;
    second = list.Subscribe([&](int v) {
        heard.push_back("second " + std::to_string(v));
        first.Reset();  // leaves another listener during the notice
    });
    list.Notify(1);
    list.Notify(2);
    EXPECT_EQ(heard, (std::vector<std::string>{"first 1", "second 1", "second 2"}));
    {
        TSubscription scoped = list.Subscribe([&](int) { heard.push_back("scoped"); });
    }
    heard.clear();
    list.Notify(3);
    EXPECT_EQ(heard, (std::vector<std::string>{"second 3"}));

    // A subscription that outlives its list is harmless.
    auto shortLived = std::make_unique<TObservers<>>();
    TSubscription orphan = shortLived->Subscribe([] {});
    shortLived.reset();
    orphan.Reset();
    EXPECT_FALSE(orphan);
}
