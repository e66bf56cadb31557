#include <gtest/gtest.h>

#include <set>
#include <string>

#include "devices/optioneditor.h"
#include "image/hexlist.h"

namespace {
struct OptionEditor : ::testing::Test {
    THexList image;
    TBaseFuseForm form;
    int changes = 0;
    TSubscription counting;
    std::vector<TTiming> timings;  // what PGMTIMChange handed on
    void SetUp() override
    {
        image.SetSize(0x800);
        form.BindImage(&image);
        counting = form.OnChange.Subscribe([this] { ++changes; });
        form.OnTimingChange = [this](const TTiming& t) { timings.push_back(t); };
    }
};
}  // namespace

TEST(ClockRanges, TableIsOrderedAndUnique)
{
    std::set<uint8_t> speeds;
    for (int row = 0; row < kClockRangeCount; ++row) {
        speeds.insert(kClockRanges[row].PGMTIME);
        if (row > 0) {
            // A faster clock needs more cycles per write and fewer units of ten cycles.
            EXPECT_GT(kClockRanges[row].PGMTIME, kClockRanges[row - 1].PGMTIME) << row;
            EXPECT_LT(kClockRanges[row].TENCYC, kClockRanges[row - 1].TENCYC) << row;
        }
    }
    EXPECT_EQ(speeds.size(), static_cast<size_t>(kClockRangeCount));
    EXPECT_STREQ(kClockRanges[5].Text, "100.khz - 133khz");
    EXPECT_EQ(kClockRanges[23].PGMTIME, 0x7B);
    EXPECT_EQ(kClockRanges[23].TENCYC, 0x000C);
}

TEST_F(OptionEditor, StartsAtTheDefaultByte)
{
    TBaseFuseForm fresh;
    EXPECT_EQ(fresh.GetOptions(), 0x06);
    EXPECT_EQ(fresh.Label5(), "06h - 00000110b");
}

TEST_F(OptionEditor, SetOptions06SelectsTheDefaultsAndMirrorsTheByte)
{
    form.SetOptions(0xFF);
    form.SetOptions(0x06);
    EXPECT_EQ(form.Security, 0);
    EXPECT_EQ(form.Watchdog, 1);  // item 1 reads "Disabled"
    EXPECT_EQ(form.HaltMode, 1);
    EXPECT_EQ(form.FlexBit, 0);
    EXPECT_EQ(form.AccessCompMode, 0);
    EXPECT_EQ(form.ClockSelector, 0);
    EXPECT_EQ(form.Label5(), "06h - 00000110b");
    EXPECT_EQ(image.GetValue(0x7FF), 0x06);
    EXPECT_EQ(changes, 2);
}

TEST_F(OptionEditor, RoundTripsEveryByteWithAClockItem)
{
    for (int v = 0; v < 256; ++v) {
        const int code = ((v >> 6) & 1) * 4 + ((v >> 4) & 1) * 2 + ((v >> 3) & 1);
        form.SetOptions(static_cast<uint8_t>(v));
        if (code <= 4) {
            EXPECT_EQ(form.GetOptions(), v) << v;
            EXPECT_EQ(form.ClockSelector, code) << v;
        } else {
            // A code without an item reads back as 7.
            EXPECT_EQ(form.ClockSelector, -1) << v;
            EXPECT_EQ(form.GetOptions(), v | 0x58) << v;
        }
    }
    form.SetOptions(0xFF);
    EXPECT_EQ(form.GetOptions(), 0xFF);
    form.SetOptions(0x48);
    EXPECT_EQ(form.GetOptions(), 0x58);
}

TEST_F(OptionEditor, ClicksRedisplayAndWriteTheImage)
{
    form.SecurityClick(1);
    EXPECT_EQ(form.Label5(), "26h - 00100110b");
    form.ClockSelectorChange(4);  // code 100b: bit 6
    EXPECT_EQ(form.GetOptions(), 0x66);
    form.FlexBitClick(1);
    EXPECT_EQ(image.GetValue(0x7FF), 0x67);
    EXPECT_EQ(changes, 3);
}

TEST_F(OptionEditor, AnUnboundOrEmptyImageIsLeftAlone)
{
    THexList empty;
    form.BindImage(&empty);
    EXPECT_NO_THROW(form.SetOptions(0x27));
    form.BindImage(nullptr);
    EXPECT_NO_THROW(form.SetOptions(0x27));
    EXPECT_EQ(image.GetValue(0x7FF), 0xFF);
}

TEST_F(OptionEditor, RowZeroGivesItsTimingTextAndValues)
{
    form.SelectPGMTIM(0);
    form.PGMTIMChange();
    EXPECT_EQ(form.Label4(), "0111FCFF");
    ASSERT_EQ(timings.size(), 1u);
    EXPECT_EQ(timings.back().PGMTIME, 0x01);
    EXPECT_EQ(timings.back().TENCYC, 0x11FC);
    EXPECT_EQ(timings.back().BusyTime, 0xFF);
    form.SelectPGMTIM(23);
    form.PGMTIMChange();
    EXPECT_EQ(form.Label4(), "7B000CFF");
}

TEST_F(OptionEditor, NoSelectedRowTimesAsTheLastRow)
{
    for (int stored : {24, 99, -1}) {
        form.SelectPGMTIM(stored);
        EXPECT_EQ(form.PGMTIM(), -1);
        form.PGMTIMChange();
        EXPECT_EQ(form.Label4(), "7B000CFF");
        EXPECT_EQ(timings.back().PGMTIME, 0x7B);
        EXPECT_EQ(timings.back().TENCYC, 0x000C);
    }
    EXPECT_EQ(TBaseFuseForm::GetSpeed(24), 0x7B);
    EXPECT_EQ(TBaseFuseForm::GetTenCyc(-1), 0x000C);
}

TEST_F(OptionEditor, SelectingARowDoesNotRetimeUntilChanged)
{
    form.SelectPGMTIM(0);
    form.PGMTIMChange();
    form.SelectPGMTIM(19);
    EXPECT_EQ(form.Label4(), "0111FCFF");
    EXPECT_EQ(timings.size(), 1u);
}

TEST(GetSpeedIndex, FindsTheFirstMatchingRow)
{
    const std::pair<const char*, int> cases[] = {
        {"54002800", 19}, {"54", 19}, {"01", 0}, {"7BFFFFFF", 23}, {"48", 16},
        {"00", 0},        {"ZZ", 0},  {"", 0},   {"5", 0},         {"5z", 0},
    };
    for (const auto& [text, row] : cases) EXPECT_EQ(TBaseFuseForm::GetSpeedIndex(text), row) << text;
}

TEST_F(OptionEditor, TimingTextFromTheDeviceIsShownOnly)
{
    form.SelectPGMTIM(0);
    form.PGMTIMChange();
    form.SetTimingText("54002800");
    EXPECT_EQ(form.Label4(), "54002800");
    EXPECT_EQ(timings.size(), 1u);
}
