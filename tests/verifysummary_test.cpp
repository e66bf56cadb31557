// The verify summary: parsing the per-byte lines and the causes their patterns point to.
#include <gtest/gtest.h>

#include "app/verifysummary.h"
#include "fakeprogrammer.h"

namespace {
std::vector<TVerifyDifference> Diffs(std::initializer_list<TVerifyDifference> list) { return list; }
}  // namespace

TEST(VerifySummary, ParsesOnlyTheExactLine)
{
    TVerifyDifference d;
    ASSERT_TRUE(ParseVerifyLine("Verify Failed at 1234h: Read 00h - Should have been 5Ah", d));
    EXPECT_EQ(d.Address, 0x1234u);
    EXPECT_EQ(d.Read, 0x00);
    EXPECT_EQ(d.Expected, 0x5A);
    for (const char* other : {"Verify Failed at 1234h: Read 00h - Should have been 5Ah trailing",
                              "Verify Failed at h: Read 00h - Should have been 5Ah", "Flash: Verifying",
                              "Verify Failed at 1234h: Read 0Gh - Should have been 5Ah"})
        EXPECT_FALSE(ParseVerifyLine(other, d)) << other;
}

TEST(VerifySummary, NamesRangesBitsAndTheLikelyCause)
{
    EXPECT_EQ(VerifySummary({}), "");
    // Bits that read 0 where the image has 1: an unerased Flash.
    EXPECT_EQ(VerifySummary(Diffs({{0x11, 0x0F, 0x1F}, {0x10, 0x00, 0x01}, {0x40, 0x10, 0x30}})),
              "Verify summary: 3 bytes differ in 2 ranges (0010h-0011h, 0040h); 0 bits read 1 where the image has 0, "
              "3 bits read 0 where the image has 1 - likely cause: the Flash was probably not erased before programming");
    // FF where the image has data: never programmed.
    EXPECT_NE(VerifySummary(Diffs({{0, 0xFF, 0x12}, {1, 0xFF, 0x34}})).find("these bytes were never programmed"),
              std::string::npos);
    // The same value everywhere: nobody answers.
    EXPECT_NE(VerifySummary(Diffs({{0, 0x5A, 0x12}, {9, 0x5A, 0x34}, {20, 0x5A, 0x00}})).find("not answering"),
              std::string::npos);
    // Mixed directions: no cause is guessed; long lists name the first ranges only.
    std::vector<TVerifyDifference> mixed;
    for (uint32_t a = 0; a < 12; ++a) mixed.push_back({a * 16, static_cast<uint8_t>(a % 2 ? 0x01 : 0x10), 0x11 ^ 0x01});
    const std::string s = VerifySummary(mixed);
    EXPECT_EQ(s.find("likely cause"), std::string::npos) << s;
    EXPECT_NE(s.find("12 ranges (0000h, 0010h, 0020h, 0030h, ...)"), std::string::npos) << s;
}

struct VerifySummaryCommand : CommandFixture {};

TEST_F(VerifySummaryCommand, FollowsThePerByteLinesInTheLog)
{
    programmer.onCall = [&](const std::string& call) {
        if (call != "VerifyFlash") return;
        runner.AppendLog("Verify Failed at 0100h: Read FFh - Should have been 12h");
        throw EVerifyError("Flash: Verification Failed");
    };
    EXPECT_EQ(Shell(commands::VerifyFlash), TOutcome::VerifyFailed);
    const auto& log = runner.Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], "Verify Failed at 0100h: Read FFh - Should have been 12h");
    EXPECT_EQ(log[log.size() - 2].rfind("Verify summary: 1 byte differs in 1 range (0100h)", 0), 0u) << log[log.size() - 2];
}
