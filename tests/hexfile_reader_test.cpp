#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/hexfile.h"
#include "image/hexlist.h"

namespace fs = std::filesystem;

namespace {

class ReaderFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("zemprix-reader-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& text)
    {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }

    fs::path dir_;
};

std::vector<std::string> Lines(const std::string& text) { return TFileLoader::SplitLines(text); }

// Detection over split lines and over the text as read from a file must agree.
int Detect(const std::string& text)
{
    const auto lines = Lines(text);
    const int result = TFileLoader::DetectFormat("unused-name", &lines);
    EXPECT_EQ(TFileLoader::DetectText(text), result) << "text and lines disagree on: " << text;
    return result;
}

struct DetectCase {
    const char* what;
    const char* text;
    int expected;
};

class Detection : public ::testing::TestWithParam<DetectCase> {};

TEST_P(Detection, GivesTheFormat) { EXPECT_EQ(Detect(GetParam().text), GetParam().expected) << GetParam().what; }

INSTANTIATE_TEST_SUITE_P(
    Rules, Detection,
    ::testing::Values(
        DetectCase{"intel data and end", ":0300000002FF01FB\n:00000001FF\n", 1},
        DetectCase{"intel lower-case digits", ":03000000aaBBccFB\n", 1},
        DetectCase{"intel bad checksum is ignored", ":0300000002FF0100\n:00000001FF\n", 1},
        DetectCase{"intel with 02", ":020000021000EC\n:0100000011EE\n", 2},
        DetectCase{"intel 04 then 02 stays Hex-32", ":020000040001F9\n:020000021000EC\n:00000001FF\n", 3},
        DetectCase{"intel 03 alone", ":0400000300000000F9\n", 3},
        DetectCase{"intel text after end never examined", ":0100000011EE\n:00000001FF\nthis is not hex\n", 1},
        DetectCase{"intel unknown type 06", ":0100000611E8\n", 0},
        DetectCase{"intel count does not match length", ":0200000011EE\n", 0},
        DetectCase{"intel odd digit count", ":0100000011EE0\n", 0},
        DetectCase{"intel non-hex digit", ":01000000G1EE\n", 0},
        DetectCase{"intel line too short", ":00000001F\n", 0},
        DetectCase{"S1 with S9", "S1050000AA55FB\nS9030000FC\n", 4},
        DetectCase{"S0 header then S1", "S00600004844521B\nS1050000AA55FB\n", 4},
        DetectCase{"one S2 makes EXORmacs", "S1050000AA55FB\nS206010000AA55F9\n", 5},
        DetectCase{"S3 makes 32-bit", "S1050000AA55FB\nS30701000000AA55F8\n", 6},
        DetectCase{"S7 makes 32-bit", "S1050000AA55FB\nS70500000000FA\n", 6},
        DetectCase{"S5 is not Motorola", "S1050000AA55FB\nS5030001FB\n", 0},
        DetectCase{"S8 is not Motorola", "S1050000AA55FB\nS804000000FB\n", 0},
        DetectCase{"lower-case s", "s1050000AA55FB\n", 0},
        DetectCase{"lower-case digits after S", "S1050000aa55fb\n", 4},
        DetectCase{"ext tektronix", "%0F639500010AA55\n%0E81E800000000\n", 7},
        DetectCase{"ext tektronix symbol record skipped", "%2E3XXXXnot even hex\n%0F639500010AA55\n", 7},
        DetectCase{"ext tektronix unknown type", "%0F539500010AA55\n", 0},
        DetectCase{"ext tektronix length mismatch", "%0E639500010AA55\n", 0},
        DetectCase{"tektronix", "/00100203AA551E\n/00000000\n", 8},
        DetectCase{"tektronix bad data checksum ignored", "/00100203AA5500\n", 8},
        DetectCase{"tektronix bad header checksum", "/00100204AA551E\n", 0},
        DetectCase{"tektronix count mismatch", "/00100304AA551E\n", 0},
        // Only the 8-character form of a zero-count record ends the scan.
        DetectCase{"tektronix zero count with data checksum scans on", "/00100203AA551E\n/0000000000\nnot tektronix\n", 0},
        DetectCase{"tektronix end record stops the scan", "/00100203AA551E\n/00000000\nnot tektronix\n", 8},
        DetectCase{"atmel word form", "000010:1234\n000011:ABCD\n", 9},
        DetectCase{"atmel byte form", "0010:12\n0011:ab\n", 10},
        DetectCase{"atmel forms mixed", "000010:1234\n0011:AB\n", 0},
        DetectCase{"atmel bad character", "000010:12G4\n", 0},
        DetectCase{"only blank lines", "\r\n\r\n\n", 9},
        DetectCase{"plain text", "hello world\n", 0}));

TEST(Detection, NoLinesIsEmptyOrBinary)
{
    const std::vector<std::string> none;
    EXPECT_EQ(TFileLoader::DetectFormat("x", &none), -2);
}

TEST_F(ReaderFiles, DetectionOfFilesOnDisk)
{
    EXPECT_EQ(TFileLoader::DetectFormat((dir_ / "missing.hex").string()), -1);
    EXPECT_EQ(TFileLoader::DetectFormat(Write("empty.hex", "")), -2);
    EXPECT_EQ(TFileLoader::DetectFormat(Write("binary.bin", std::string("\0:0100000011EE\n", 15))), -2);
    EXPECT_EQ(TFileLoader::DetectFormat(Write("cr.hex", ":0100000011EE\r:00000001FF\r")), 1);
}

TEST(SplitLines, BreaksAtCrLfOrCrLfAndStopsAtNul)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(Lines(""), V{});
    EXPECT_EQ(Lines("a"), V{"a"});
    EXPECT_EQ(Lines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(Lines("a\r\n"), V{"a"});
    EXPECT_EQ(Lines("a\n\rb"), (V{"a", "", "b"}));
    EXPECT_EQ(Lines("\n\n"), (V{"", ""}));
    EXPECT_EQ(Lines(std::string("ab\0cd\n", 6)), V{"ab"});
    EXPECT_EQ(Lines(" x \t"), V{" x \t"});  // not trimmed
}

struct LoadCase {
    const char* what;
    const char* text;
    uint32_t imageSize;
    int result;
    std::vector<std::pair<uint32_t, uint8_t>> expected;  // every other byte is FF
};

class Reading : public ReaderFiles, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(Reading, StoresTheRecordsBytes)
{
    const LoadCase& c = GetParam();
    THexList image;
    image.SetSize(c.imageSize);
    const std::string path = Write("in.txt", c.text);
    EXPECT_EQ(TFileLoader::LoadFile(path, image), c.result) << c.what;
    std::vector<uint8_t> want(c.imageSize, 0xFF);
    for (const auto& [address, value] : c.expected) want[address] = value;
    EXPECT_EQ(image.Values(), want) << c.what;
    EXPECT_EQ(image.FileName(), path);

    THexList fromLines;
    fromLines.SetSize(c.imageSize);
    EXPECT_EQ(TFileLoader::LoadLines(Lines(c.text), fromLines), c.result) << c.what;
    EXPECT_EQ(fromLines.Values(), want) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Reading,
    ::testing::Values(
        LoadCase{"intel", ":0300100002FF01FB\n:00000001FF\n:0100000011EE\n", 0x100, 0, {{0x10, 0x02}, {0x11, 0xFF}, {0x12, 0x01}}},
        LoadCase{"intel segment and linear bases", ":020000021000EC\n:0100050011EE\n:020000040001F9\n:0100060022EE\n", 0x30000, 0,
                 {{0x10005, 0x11}, {0x20006, 0x22}}},
        LoadCase{"intel 03 and 05 ignored", ":0400000300001000E9\n:0400000500001000E7\n:0100010033EE\n", 0x10, 0, {{1, 0x33}}},
        LoadCase{"intel runs past the end", ":04000E00AABBCCDDEE\n", 0x10, -1, {{0x0E, 0xAA}, {0x0F, 0xBB}}},
        // A linear base of FFFF plus a segment base must not wrap around into the image.
        LoadCase{"intel address beyond 32 bits", ":02000004FFFFFC\n:020000021000EC\n:0100050011EE\n", 0x100, -1, {}},
        LoadCase{"motorola S1 S2 S3", "S1050001AA55FB\nS2060100020102F9\nS30700010003AAAAFF\nS9030000FC\nS1040004BBFF\n", 0x10010, 0,
                 {{1, 0xAA}, {2, 0x55}, {0x10002, 0x01}, {0x10003, 0x02}, {0x10003, 0xAA}, {0x10004, 0xAA}}},
        LoadCase{"motorola S3 full 32-bit address", "S30701000010AAAAFF\n", 0x1000020, 0, {{0x1000010, 0xAA}, {0x1000011, 0xAA}}},
        LoadCase{"motorola S0 and S7 skipped", "S00600004844521B\nS1040003CCFF\nS70500000000FA\nS1040004DDFF\n", 0x10, 0,
                 {{3, 0xCC}, {4, 0xDD}}},
        LoadCase{"ext tektronix", "%0F639500010AA55\n%0E81E800000000\n%0F639500020AA55\n", 0x20, 0, {{0x10, 0xAA}, {0x11, 0x55}}},
        LoadCase{"ext tektronix 8 address digits", "%10600800000004A1\n", 0x10, 0, {{4, 0xA1}}},
        LoadCase{"tektronix", "/00100203AA551E\n/00000000\n/00200204AA551E\n", 0x30, 0, {{0x10, 0xAA}, {0x11, 0x55}}},
        LoadCase{"tektronix any zero count ends reading", "/00100203AA551E\n/0000000000\n/00200204AA551E\n", 0x30, 0,
                 {{0x10, 0xAA}, {0x11, 0x55}}},
        LoadCase{"atmel words", "000010:1234\n000000:ABCD\n", 0x30, 0, {{0x20, 0x34}, {0x21, 0x12}, {0, 0xCD}, {1, 0xAB}}},
        LoadCase{"atmel bytes", "0010:12\n0001:ab\n", 0x30, 0, {{0x10, 0x12}, {1, 0xAB}}},
        LoadCase{"atmel word past the end keeps the low byte", "000008:1234\n", 0x11, -1, {{0x10, 0x34}}},
        LoadCase{"no format: nothing stored", "hello\n", 0x10, 0, {}},
        LoadCase{"blank lines only", "\n\n", 0x10, 0, {}}));

TEST_F(ReaderFiles, LoadStartsFromABlankImageAndNamesTheFileEvenOnFailure)
{
    THexList image;
    image.SetSize(0x10);
    image.SetValue(3, 0x00);
    image.SetStatus(3, ps_verified);
    const std::string path = Write("a.hex", ":01000100AAEE\n");
    EXPECT_EQ(TFileLoader::LoadFile(path, image), 0);
    EXPECT_EQ(image.GetValue(3), 0xFF);
    EXPECT_EQ(image.GetValue(1), 0xAA);
    EXPECT_EQ(image.GetStatus(3), TProgStatus(ps_normal));

    const std::string missing = (dir_ / "nope.hex").string();
    EXPECT_THROW(TFileLoader::LoadFile(missing, image), EFileLoader);
    EXPECT_EQ(image.FileName(), missing);
    EXPECT_EQ(image.GetValue(1), 0xFF);
}

TEST_F(ReaderFiles, AnImageOfOnlyFfBytesIsBlank)
{
    THexList image;
    image.SetSize(0x100);
    EXPECT_EQ(TFileLoader::LoadFile(Write("ff.hex", ":02001000FFFFEF\n"), image), 0);
    EXPECT_EQ(image.TopAddress(), -1);
}

TEST_F(ReaderFiles, OversizedAndUnreadableFilesRaiseAClearError)
{
    const fs::path big = dir_ / "big.hex";
    { std::ofstream(big, std::ios::binary) << ":0100000011EE\n"; }
    fs::resize_file(big, TFileLoader::kMaxFileSize + 1);  // sparse: costs no disk
    THexList image;
    image.SetSize(0x10);
    try {
        TFileLoader::LoadFile(big.string(), image);
        FAIL() << "an oversized file was loaded";
    } catch (const EFileLoader& e) {
        EXPECT_NE(std::string(e.what()).find("too large"), std::string::npos) << e.what();
    }
    EXPECT_THROW(TFileLoader::DetectFormat(big.string()), EFileLoader);

    // Exactly at the limit is still read.
    fs::resize_file(big, TFileLoader::kMaxFileSize);
    EXPECT_EQ(TFileLoader::DetectFormat(big.string()), 1);

    try {
        TFileLoader::LoadFile(dir_.string(), image);
        FAIL() << "a folder was loaded";
    } catch (const EFileLoader& e) {
        EXPECT_NE(std::string(e.what()).find(dir_.string()), std::string::npos) << e.what();
    }
}

TEST(FormatName, NamesEveryIdAndRefusesOthers)
{
    const std::vector<std::string> names = {"File empty or binary", "File not found", "Auto Detect (Intel, Motorola, Tektronix)",
                                            "Intel Intellex 8/MDS", "Intel MCS-86", "Intel Hex-32", "Motorola EXORciser",
                                            "Motorola EXORmacs", "Motorola 32-bit", "Extended Tektronix", "Tektronix",
                                            "Atmel Generic 16-Bit", "Atmel Generic 8-Bit", "Binary File"};
    for (int id = -2; id <= 11; ++id) EXPECT_EQ(TFileLoader::FormatName(id), names[static_cast<size_t>(id + 2)]);
    for (int id : {-3, 12}) {
        try {
            TFileLoader::FormatName(id);
            FAIL() << id;
        } catch (const EUnknownFileType& e) {
            EXPECT_STREQ(e.what(), "Unknown File ID");
        }
    }
}

}  // namespace
