#include <gtest/gtest.h>

#include <set>

#include "devices/devices.h"

TEST(DeviceTable, SelfCheckInvariants)
{
    const TDeviceList& list = DeviceList();
    ASSERT_EQ(list.Count(), 17);
    std::set<std::string> names;
    for (int i = 0; i < list.Count(); ++i) {
        const TDevice& d = list.Items(i);
        EXPECT_TRUE(names.insert(d.Name()).second) << d.Name();
        EXPECT_GT(d.FlashSize(), 0);
        EXPECT_EQ(d.FlashSize() % d.PageSize(), 0) << d.Name();
        EXPECT_EQ(d.EepromSize(), 0);
        EXPECT_LT(d.OptionAddress(), static_cast<uint32_t>(d.FlashSize()));
        ASSERT_EQ(d.Options().size(), 1u);
    }
    EXPECT_THROW(list.Items(17), std::out_of_range);
    EXPECT_THROW(list.Items(-1), std::out_of_range);
}

TEST(DeviceTable, RowsAsSpecified)
{
    const TDeviceList& list = DeviceList();
    EXPECT_EQ(list.Items(0).Name(), "COP8CBR9");
    EXPECT_EQ(list.Items(0).FlashSize(), 0x8000);
    EXPECT_EQ(list.Items(0).PageSize(), 128);
    EXPECT_EQ(list.Items(0).HardwareSet(), 0xC4);
    EXPECT_EQ(list.Items(0).Options()[0].Value, 0x44);
    EXPECT_EQ(list.Items(6).Name(), "COP8AME9");
    EXPECT_EQ(list.Items(6).FlashSize(), 0x2000);
    EXPECT_EQ(list.Items(6).PageSize(), 64);
    EXPECT_EQ(list.Items(6).OptionAddress(), 0x1FFFu);
    EXPECT_EQ(list.Items(15).Name(), "COP8TAB9");
    EXPECT_EQ(list.Items(15).FlashSize(), 0x800);
    EXPECT_EQ(list.Items(15).PageSize(), 512);
    EXPECT_EQ(list.Items(15).HardwareSet(), 0xC0);
    EXPECT_EQ(list.Items(15).Options()[0].Value, 0x40);
    EXPECT_EQ(list.Items(16).FlashSize(), 0x1000);
}

TEST(DeviceTable, LookupsBySet)
{
    const TDeviceList& list = DeviceList();
    const TDevice* d = list.FindDevice("cop8sbr9", SetOf({2}));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Name(), "COP8SBR9");
    EXPECT_EQ(list.FindDevice("COP8TAB9", SetOf({2})), nullptr);
    EXPECT_EQ(list.FirstForHardware(SetOf({2}))->Name(), "COP8CBR9");
    EXPECT_EQ(list.FirstForHardware(SetOf({6, 7}))->Name(), "COP8CBR9");
    EXPECT_EQ(list.FirstForHardware(SetOf({0})), nullptr);

    auto names = list.NamesForHardware(SetOf({2}));
    ASSERT_EQ(names.size(), 15u);
    EXPECT_EQ(names.front(), "COP8CBR9");
    EXPECT_EQ(names.back(), "COP8CFE9");
    EXPECT_EQ(list.NamesForHardware(SetOf({6})).size(), 17u);
    EXPECT_TRUE(list.NamesForHardware(SetOf({0})).empty());
}

