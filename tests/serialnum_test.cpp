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

TEST_F(SerialNumbers, PlacesBigEndianAndRefusesANumberWiderThanItsSize)
{
    struct Case {
        int size;
        uint32_t value;
        std::vector<uint8_t> bytes;  // empty: refused, nothing written
    };
    const Case cases[] = {
        {TSerialNum::ssThreeBytes, 0x12345, {0x01, 0x23, 0x45}},
        {TSerialNum::ssTwoBytes, 0x7, {0x00, 0x07}},
        {TSerialNum::ssTwoBytes, 0xFFFF, {0xFF, 0xFF}},
        {TSerialNum::ssFourBytes, 0xDEADBEEF, {0xDE, 0xAD, 0xBE, 0xEF}},
        {TSerialNum::ssThreeBytes, 0xFFFFFF, {0xFF, 0xFF, 0xFF}},
        // Stored as their leading digits these would repeat earlier numbers (10000h as 1000h).
        {TSerialNum::ssTwoBytes, 0x10000, {}},
        {TSerialNum::ssTwoBytes, 0x12345, {}},
        {TSerialNum::ssThreeBytes, 0x1000000, {}},
        {TSerialNum::ssThreeBytes, 0xFFFFFFFF, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        image.Clear();
        messages.clear();
        serial.rgSerialNumSize = c.size;
        serial.heCurrentSerial = c.value;
        serial.heSerialLocation = 0x7F00;
        EXPECT_EQ(serial.Fits(), !c.bytes.empty());
        EXPECT_EQ(serial.Button2Click(image), !c.bytes.empty());
        if (c.bytes.empty()) {
            EXPECT_EQ(messages, std::vector<std::string>{TSerialNum::kNumberTooWide});
            EXPECT_NE(serial.RefusalLine(image).find("h does not fit in " + std::to_string(serial.SizeInBytes()) + " bytes!"),
                      std::string::npos);
            EXPECT_EQ(image.TopAddress(), -1) << "nothing may be written";
        } else {
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(Bytes(0x7F00, static_cast<int>(c.bytes.size())), c.bytes);
        }
    }
}

TEST_F(SerialNumbers, IncrementGoesPastTheSizeAndIsRefusedNeverWrapped)
{
    serial.heCurrentSerial = 0xFFFF;
    serial.heSerialLocation = 0x10;
    ASSERT_TRUE(serial.Button2Click(image));
    serial.Increment();
    EXPECT_EQ(serial.heCurrentSerial, 0x10000u);
    // Past two bytes the number is refused and the image keeps the last one placed ...
    EXPECT_FALSE(serial.Button2Click(image));
    EXPECT_EQ(Bytes(0x10, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    // ... until a larger size is chosen.
    serial.rgSerialNumSize = TSerialNum::ssThreeBytes;
    EXPECT_TRUE(serial.Button2Click(image));
    EXPECT_EQ(Bytes(0x10, 3), (std::vector<uint8_t>{0x01, 0x00, 0x00}));
    // Four bytes end the same way: the number after FFFFFFFFh is refused, not 00000000h again.
    serial.rgSerialNumSize = TSerialNum::ssFourBytes;
    serial.heCurrentSerial = 0xFFFFFFFF;
    ASSERT_TRUE(serial.Button2Click(image));
    serial.Increment();
    EXPECT_EQ(serial.heCurrentSerial, 0x100000000u);
    EXPECT_FALSE(serial.Fits());
    messages.clear();
    EXPECT_FALSE(serial.Button2Click(image));
    EXPECT_EQ(messages, std::vector<std::string>{TSerialNum::kNumberTooWide});
    EXPECT_EQ(Bytes(0x10, 4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(serial.RefusalLine(image), "Serial Number: 100000000h does not fit in 4 bytes!choose a larger size");
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
        // The last byte is the option byte: the number must end before it.
        {TSerialNum::ssTwoBytes, size - 3, true},     {TSerialNum::ssTwoBytes, size - 2, false},
        {TSerialNum::ssTwoBytes, size - 1, false},
        {TSerialNum::ssTwoBytes, size, false},        {TSerialNum::ssTwoBytes, size + 1, false},
        {TSerialNum::ssFourBytes, size - 5, true},    {TSerialNum::ssFourBytes, size - 4, false},
        {TSerialNum::ssFourBytes, size - 3, false},
        {TSerialNum::ssThreeBytes, 0xFFFFFF, false},  {TSerialNum::ssFourBytes, 0xFFFFFFFF, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        image.Clear();
        messages.clear();
        serial.rgSerialNumSize = c.sizeItem;
        serial.heCurrentSerial = 0x1234;
        serial.heSerialLocation = c.location;
        EXPECT_EQ(serial.Button2Click(image), c.accepted);
        if (c.accepted) {
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(image.GetValue(c.location + static_cast<uint32_t>(c.sizeItem)), 0x12);
        } else {
            EXPECT_EQ(messages, std::vector<std::string>{"Location is not valid! - Please enter another"});
            EXPECT_EQ(image.TopAddress(), -1) << "nothing may be written";
        }
    }
}

TEST_F(SerialNumbers, TheRefusalLineNamesWhyTheLocationIsRefused)
{
    image.SetSize(0x2000);
    serial.heCurrentSerial = 0x1234;
    serial.heSerialLocation = 0x1FFE;
    EXPECT_EQ(serial.RefusalLine(image), "Serial Number: location 1FFEh is not valid!2 bytes there reach the option byte at 1FFFh");
    serial.heSerialLocation = 0x1FFF;
    EXPECT_EQ(serial.RefusalLine(image), "Serial Number: location 1FFFh is not valid!2 bytes there run past the image");
    serial.heSerialLocation = 0x1FFD;
    EXPECT_EQ(serial.RefusalLine(image), "");
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
