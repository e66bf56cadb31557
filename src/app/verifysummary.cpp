#include "app/verifysummary.h"

#include <algorithm>
#include <bitset>
#include <cstdio>

#include "base/hextext.h"

namespace {

bool HexField(const std::string& text, size_t& at, size_t maxDigits, uint32_t& value)
{
    value = 0;
    return hex::ReadField(text, at, maxDigits, value);
}

bool Literal(const std::string& text, size_t& at, const char* literal)
{
    const std::string l(literal);
    if (text.compare(at, l.size(), l) != 0) return false;
    at += l.size();
    return true;
}

std::string Range(uint32_t first, uint32_t last)
{
    return first == last ? hex::Hex(first, 4) + "h" : hex::Hex(first, 4) + "h-" + hex::Hex(last, 4) + "h";
}

}  // namespace

bool ParseVerifyLine(const std::string& line, TVerifyDifference& d)
{
    size_t at = 0;
    uint32_t address = 0, read = 0, expected = 0;
    if (!Literal(line, at, "Verify Failed at ") || !HexField(line, at, 8, address) || !Literal(line, at, "h: Read ") ||
        !HexField(line, at, 2, read) || !Literal(line, at, "h - Should have been ") || !HexField(line, at, 2, expected) ||
        !Literal(line, at, "h") || at != line.size())
        return false;
    d = {address, static_cast<uint8_t>(read), static_cast<uint8_t>(expected)};
    return true;
}

std::string VerifySummary(const std::vector<TVerifyDifference>& input)
{
    if (input.empty()) return {};
    std::vector<TVerifyDifference> diffs = input;
    std::sort(diffs.begin(), diffs.end(), [](const auto& a, const auto& b) { return a.Address < b.Address; });

    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    uint64_t oneWhereZero = 0, zeroWhereOne = 0;
    bool allReadFF = true, sameValue = true;
    for (const TVerifyDifference& d : diffs) {
        if (ranges.empty() || d.Address > ranges.back().second + 1)
            ranges.emplace_back(d.Address, d.Address);
        else
            ranges.back().second = std::max(ranges.back().second, d.Address);
        oneWhereZero += std::bitset<8>(d.Read & ~d.Expected & 0xFF).count();
        zeroWhereOne += std::bitset<8>(~d.Read & d.Expected & 0xFF).count();
        allReadFF = allReadFF && d.Read == 0xFF;
        sameValue = sameValue && d.Read == diffs.front().Read;
    }

    std::string text = "Verify summary: " + std::to_string(diffs.size()) + (diffs.size() == 1 ? " byte differs" : " bytes differ") +
                       " in " + std::to_string(ranges.size()) + (ranges.size() == 1 ? " range (" : " ranges (");
    constexpr size_t kNamed = 4;
    for (size_t i = 0; i < ranges.size() && i < kNamed; ++i)
        text += (i ? ", " : "") + Range(ranges[i].first, ranges[i].second);
    if (ranges.size() > kNamed) text += ", ...";
    text += "); " + std::to_string(oneWhereZero) + " bits read 1 where the image has 0, " + std::to_string(zeroWhereOne) +
            " bits read 0 where the image has 1";

    // Flash writes can only clear bits: the direction of the wrong bits tells the story.
    std::string cause;
    if (allReadFF)
        cause = "these bytes were never programmed";
    else if (sameValue && diffs.size() > 1)
        cause = "every byte reads " + hex::Hex2(diffs.front().Read) + "h: the target is probably not answering";
    else if (oneWhereZero == 0 && zeroWhereOne > 0)
        cause = "the Flash was probably not erased before programming";
    if (!cause.empty()) text += " - likely cause: " + cause;
    return text;
}
