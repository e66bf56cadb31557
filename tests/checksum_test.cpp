#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/checksum.h"

namespace {

std::string Text(const std::string& name, const std::vector<uint8_t>& data)
{
    auto checksum = ChecksumByName(name);
    if (!checksum) return "<unknown>";
    return DigestText(checksum->Compute(data));
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

struct CheckCase {
    const char* name;
    const char* digits123456789;
    const char* abc;
    const char* blank4K;  // 1000h bytes of FF
    const char* empty;
};

class ChecksumValues : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ChecksumValues, MatchTheReferenceValues)
{
    const CheckCase& c = GetParam();
    EXPECT_EQ(Text(c.name, Bytes("123456789")), c.digits123456789);
    EXPECT_EQ(Text(c.name, Bytes("abc")), c.abc);
    EXPECT_EQ(Text(c.name, std::vector<uint8_t>(0x1000, 0xFF)), c.blank4K);
    EXPECT_EQ(Text(c.name, {}), c.empty);
}

INSTANTIATE_TEST_SUITE_P(AllFive, ChecksumValues,
                         ::testing::Values(CheckCase{"CRC-16 Standard", "BB3D", "9738", "6000", "0000"},
                                           CheckCase{"CRC-16 CCITT", "A69D", "D278", "1FC1", "FFFF"},
                                           CheckCase{"CRC-32", "CBF43926", "352441C2", "F154670A", "00000000"},
                                           CheckCase{"XOR-16", "40EE", "8822", "0000", "0000"},
                                           CheckCase{"XOR-32", "3A5B0FFB", "000C2F42", "00000000", "00000000"}));

TEST(Checksum, LookupIsByExactNameInPageOrder)
{
    const std::vector<std::string> expected = {"CRC-16 Standard", "CRC-16 CCITT", "CRC-32", "XOR-16", "XOR-32"};
    EXPECT_EQ(ChecksumNames(), expected);
    for (const auto& name : expected) {
        auto c = ChecksumByName(name);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(c->Name(), name);
    }
    EXPECT_EQ(ChecksumByName("crc-32"), nullptr);
    EXPECT_EQ(ChecksumByName("MD5"), nullptr);
}

TEST(Checksum, DigestIsShownMostSignificantByteFirstWithLeadingZeros)
{
    EXPECT_EQ(DigestText({0x42, 0x2F, 0x0C, 0x00}), "000C2F42");
    EXPECT_EQ(DigestText({0x0A, 0x00}), "000A");
    EXPECT_EQ(ChecksumByName("CRC-16 Standard")->Compute(Bytes("1")).size(), 2u);
    EXPECT_EQ(ChecksumByName("CRC-32")->Compute(Bytes("1")).size(), 4u);
}

// The byte streams give the same result however the data are split over Add calls.
TEST(Checksum, ByteStreamsDoNotDependOnHowTheDataAreSplit)
{
    const auto data = Bytes("The quick brown fox jumps over the lazy dog");
    for (const char* name : {"CRC-16 Standard", "CRC-16 CCITT", "CRC-32", "XOR-16"}) {
        auto c = ChecksumByName(name);
        const auto whole = c->Compute(data);
        c->Begin();
        for (uint8_t b : data) c->Add(&b, 1);
        EXPECT_EQ(c->Finish(), whole) << name;
    }
    // XOR-32 in even pieces equals one call, which is how the image is fed.
    auto x = ChecksumByName("XOR-32");
    const auto whole = x->Compute(data.data(), 42);
    x->Begin();
    for (size_t i = 0; i < 42; i += 6) x->Add(data.data() + i, 6);
    EXPECT_EQ(x->Finish(), whole);
}

// An odd buffer folds its first word in unrotated and restarts at byte 1; a one-byte buffer
// has no second byte, so its word is the byte alone. The buffer is exactly one byte long here,
// so reading past it would show up under the sanitizers.
TEST(Checksum, Xor32OfOddBuffers)
{
    auto x = ChecksumByName("XOR-32");
    const std::vector<uint8_t> one{0x5A};
    EXPECT_EQ(DigestText(x->Compute(one)), "0000005A");
    // 12 34 56: s = 3412; rotated left by 5 it is 68240, XOR the word 5634 gives 6D474.
    EXPECT_EQ(DigestText(x->Compute(std::vector<uint8_t>{0x12, 0x34, 0x56})), "0006D474");
    // State carries between calls: a second one-byte Add folds into the same register.
    x->Begin();
    x->Add(one.data(), 1);
    x->Add(one.data(), 1);
    EXPECT_EQ(DigestText(x->Finish()), "00000000");
}

TEST(Checksum, BeginResetsTheState)
{
    auto c = ChecksumByName("CRC-32");
    const auto first = c->Compute(Bytes("abc"));
    c->Add(reinterpret_cast<const uint8_t*>("zzz"), 3);
    EXPECT_EQ(c->Compute(Bytes("abc")), first);
}

}  // namespace
