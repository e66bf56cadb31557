#pragma once
// One line that sums up a failed verification: how many bytes differ in which ranges, which way
// the bits are wrong, and the likely cause when the pattern is clear. Built from the per-byte
// "Verify Failed at ..." lines, which stay exactly as they are.
#include <cstdint>
#include <string>
#include <vector>

struct TVerifyDifference {
    uint32_t Address = 0;
    uint8_t Read = 0;
    uint8_t Expected = 0;
};

// "Verify Failed at 1234h: Read 00h - Should have been 5Ah"; false for any other line.
bool ParseVerifyLine(const std::string& line, TVerifyDifference& difference);

// "Verify summary: ..." (empty for no differences).
std::string VerifySummary(const std::vector<TVerifyDifference>& differences);
