#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/hexlist.h"
#include "image/serialnum.h"
#include "base/isperrors.h"

namespace {
struct SerialNumbers : ::testing::Test {
    THexList image;
    TSerialNum serial;
    std::vector<std::string> messages;
    void SetUp() override
    {
        image.SetSize(0x8000);
        serial.OnMessage = [this](const std::string& m) { messages.push_back(m); };
        serial.rgSerialNumMode = TSerialNum::smStoreInFlash;
    }
    std::vector<uint8_t> Bytes(uint32_t at, int n) const
    {
        std::vector<uint8_t> out;
        for (int i = 0; i < n; ++i) out.push_back(image.GetValue(at + static_cast<uint32_t>(i)));
        return out;
    }
};
}  // namespace

TEST_F(SerialNumbers, PlacesBigEndianKeepingTheLeadingDigits)
{
    struct Case {
        int size;
        uint32_t value;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {TSerialNum::ssThreeBytes, 0x12345, {0x01, 0x23, 0x45}},
        {TSerialNum::ssTwoBytes, 0x12345, {0x12, 0x34}},
        {TSerialNum::ssTwoBytes, 0x10000, {0x10, 0x00}},
        {TSerialNum::ssTwoBytes, 0x7, {0x00, 0x07}},
        {TSerialNum::ssFourBytes, 0xDEADBEEF, {0xDE, 0xAD, 0xBE, 0xEF}},
        {TSerialNum::ssThreeBytes, 0xFFFFFFFF, {0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        serial.rgSerialNumSize = c.size;
        serial.heCurrentSerial = c.value;
        serial.heSerialLocation = 0x7F00;
        EXPECT_TRUE(serial.Button2Click(image));
        EXPECT_EQ(Bytes(0x7F00, static_cast<int>(c.bytes.size())), c.bytes) << std::hex << c.value;
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(SerialNumbers, IncrementWrapsAtThirtyTwoBitsWhateverTheSize)
{
    serial.heCurrentSerial = 0xFFFF;
    serial.Increment();
    EXPECT_EQ(serial.heCurrentSerial, 0x10000u);
    serial.heSerialLocation = 0x10;
    serial.Button2Click(image);
    EXPECT_EQ(Bytes(0x10, 2), (std::vector<uint8_t>{0x10, 0x00}));
    serial.heCurrentSerial = 0xFFFFFFFF;
    serial.Increment();
    EXPECT_EQ(serial.heCurrentSerial, 0u);
}

TEST_F(SerialNumbers, LocationsWhereTheNumberDoesNotFitAreRefusedWholly)
{
    const uint32_t size = image.Size();
    struct Case {
        int sizeItem;
        uint32_t location;
        bool accepted;
    };
    const Case cases[] = {
        {TSerialNum::ssTwoBytes, size - 2, true},     {TSerialNum::ssTwoBytes, size - 1, false},
        {TSerialNum::ssTwoBytes, size, false},        {TSerialNum::ssTwoBytes, size + 1, false},
        {TSerialNum::ssFourBytes, size - 4, true},    {TSerialNum::ssFourBytes, size - 3, false},
        {TSerialNum::ssThreeBytes, 0xFFFFFF, false},  {TSerialNum::ssFourBytes, 0xFFFFFFFF, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        image.Clear();
        messages.clear();
        serial.rgSerialNumSize = c.sizeItem;
        serial.heCurrentSerial = 0x12345678;
        serial.heSerialLocation = c.location;
        EXPECT_EQ(serial.Button2Click(image), c.accepted);
        if (c.accepted) {
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(image.GetValue(c.location), 0x12);
        } else {
            EXPECT_EQ(messages, std::vector<std::string>{"Location is not valid! - Please enter another"});
            EXPECT_EQ(image.TopAddress(), -1) << "nothing may be written";
        }
    }
}

TEST_F(SerialNumbers, PlaceSerialItselfStopsAtTheImageEnd)
{
    serial.heCurrentSerial = 0xAABB;
    serial.heSerialLocation = image.Size() - 1;
    EXPECT_THROW(serial.PlaceSerial(image), EISPException);
    EXPECT_EQ(image.GetValue(image.Size() - 1), 0xAA);
}

TEST_F(SerialNumbers, DisabledModeWritesNothing)
{
    serial.rgSerialNumMode = TSerialNum::smDisabled;
    serial.heCurrentSerial = 0x1234;
    serial.heSerialLocation = 0xFFFFFF;  // not even checked
    EXPECT_TRUE(serial.Button2Click(image));
    EXPECT_EQ(image.TopAddress(), -1);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(serial.FieldsEnabled());
}

TEST_F(SerialNumbers, CancelSwitchesNumberingOffAndZeroesTheFields)
{
    serial.heCurrentSerial = 0x55;
    serial.heSerialLocation = 0x100;
    serial.rgSerialNumSize = TSerialNum::ssFourBytes;
    serial.RadioGroup1 = TSerialNum::sbDecimal;
    EXPECT_TRUE(serial.FieldsEnabled());
    serial.Cancel();
    EXPECT_EQ(serial.rgSerialNumMode, TSerialNum::smDisabled);
    EXPECT_EQ(serial.heCurrentSerial, 0u);
    EXPECT_EQ(serial.heSerialLocation, 0u);
    EXPECT_FALSE(serial.FieldsEnabled());
    // Size and base are not part of Clear.
    EXPECT_EQ(serial.SizeInBytes(), 4);
    EXPECT_EQ(serial.RadioGroup1, TSerialNum::sbDecimal);
}
