#include "test_support.h"
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "image/hexfile.h"
#include "image/hexlist.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) { return ReadFileBytes(p.string()); }

class WriterFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '_';
        dir_ = fs::temp_directory_path() / ("zemprix-writer-" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Saves and returns the file's text; the save must succeed.
    std::string Saved(const THexList& image, int id)
    {
        const fs::path p = dir_ / "out.txt";
        EXPECT_EQ(TFileLoader::SaveFile(p.string(), image, id), 0);
        return ReadAll(p);
    }

    fs::path dir_;
};

THexList Image(uint32_t size, std::initializer_list<std::pair<uint32_t, uint8_t>> bytes)
{
    THexList image;
    image.SetSize(size);
    for (const auto& [a, v] : bytes) image.SetValue(a, v);
    return image;
}

// The image of the golden files: the reference Intel example, a full block, a block used only
// in its last byte, FF bytes inside a record, and the option byte at the end of a 32 KB device.
THexList GoldenImage()
{
    THexList image = Image(0x8000, {{0x0000, 0x02}, {0x0002, 0x01}, {0x002F, 0xAA}, {0x0031, 0x11}, {0x0033, 0x22}, {0x7FFF, 0x06}});
    for (uint32_t i = 0; i < 16; ++i) image.SetValue(0x10 + i, static_cast<uint8_t>(i * 0x11));
    return image;
}

struct Golden {
    int id;
    const char* file;
};

class GoldenOutput : public WriterFiles, public ::testing::WithParamInterface<Golden> {};

TEST_P(GoldenOutput, MatchesTheFileExactly)
{
    const std::string expected = ReadAll(fs::path(ZEMPRIX_TEST_DATA) / GetParam().file);
    ASSERT_FALSE(expected.empty()) << GetParam().file;
    EXPECT_EQ(Saved(GoldenImage(), GetParam().id), expected);
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, GoldenOutput,
                         ::testing::Values(Golden{1, "golden.hex"}, Golden{2, "golden.hex"}, Golden{3, "golden.hex"},
                                           Golden{4, "golden.s19"}, Golden{5, "golden.s19"}, Golden{6, "golden.s19"},
                                           Golden{7, "golden.tek"}, Golden{8, "golden.tek8"}, Golden{9, "golden.atm16"},
                                           Golden{10, "golden.atm8"}));

TEST_F(WriterFiles, RecordLayoutsOfEachFormat)
{
    EXPECT_EQ(Saved(Image(0x100, {{0, 0x02}, {2, 0x01}}), 1), ":0300000002FF01FB\r\n:00000001FF\r\n");
    // A block used only in its last byte is written whole; trailing FF bytes are dropped.
    EXPECT_EQ(Saved(Image(0x100, {{0x1F, 0x5A}}), 1),
              ":10001000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF5A95\r\n:00000001FF\r\n");
    EXPECT_EQ(Saved(Image(0x100, {{0x10, 0xAA}, {0x11, 0x55}}), 4), "S1050010AA55EB\r\nS9030000FC\r\n");
    EXPECT_EQ(Saved(Image(0x100, {{0x10, 0xAA}, {0x11, 0x55}}), 7), "%0F639500010AA55\r\n%0E81E800000000\r\n");
    EXPECT_EQ(Saved(Image(0x100, {{0x10, 0xAA}, {0x11, 0x55}}), 8), "/00100203AA551E\r\n/00000000\r\n");
    EXPECT_EQ(Saved(Image(0x100, {{0x20, 0x34}, {0x21, 0x12}, {0x23, 0x00}}), 9), "000010:1234\r\n000011:00FF\r\n");
    EXPECT_EQ(Saved(Image(0x100, {{0x20, 0x34}, {0x23, 0x00}}), 10), "0020:34\r\n0023:00\r\n");
}

TEST_F(WriterFiles, BlankImagesAndOtherIds)
{
    const THexList blank = Image(0x8000, {});
    EXPECT_EQ(Saved(blank, 1), ":00000001FF\r\n");
    EXPECT_EQ(Saved(blank, 4), "S9030000FC\r\n");
    EXPECT_EQ(Saved(blank, 7), "%0E81E800000000\r\n");
    EXPECT_EQ(Saved(blank, 8), "/00000000\r\n");
    EXPECT_EQ(Saved(blank, 9), "");
    EXPECT_EQ(Saved(blank, 10), "");
    EXPECT_EQ(Saved(THexList(), 1), ":00000001FF\r\n");
    for (int id : {0, 11, -1, 99}) EXPECT_EQ(Saved(GoldenImage(), id), "") << id;
}

// Up to 3FFFFh every step of the upper address gets its own record, as before; above it a
// record is written whenever the upper 16 bits change, so no data lands at a wrong address.
TEST_F(WriterFiles, IntelUpperAddressRecords)
{
    const THexList image = Image(0x60000, {{0x00005, 0x01}, {0x30000, 0x02}, {0x40010, 0x03}, {0x5FFFF, 0x04}});
    EXPECT_EQ(Saved(image, 1),
              ":020000040000FA\r\n"
              ":06000000FFFFFFFFFF01FE\r\n"
              ":020000040001F9\r\n"
              ":020000040002F8\r\n"
              ":020000040003F7\r\n"
              ":0100000002FD\r\n"
              ":020000040004F6\r\n"
              ":0100100003EC\r\n"
              ":020000040005F5\r\n"
              ":10FFF000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF040C\r\n"
              ":00000001FF\r\n");
    EXPECT_EQ(Saved(Image(0x10000, {{0xFFFF, 1}}), 1).find(":02000004"), std::string::npos);
}

TEST_F(WriterFiles, MotorolaSwitchesToS2AtTheFirstBlockAbove64K)
{
    const THexList image = Image(0x20000, {{0x0000, 0x01}, {0x10000, 0x02}, {0x10010, 0x03}});
    EXPECT_EQ(Saved(image, 4),
              "S104000001FA\r\n"
              "S20501000002F7\r\n"
              "S20501001003E6\r\n"
              "S9030000FC\r\n");
    EXPECT_EQ(Saved(Image(0x10000, {{0xFFFF, 1}}), 4).find("S2"), std::string::npos);
}

// Addresses a format cannot hold fail the save instead of writing a file that reads back wrong.
TEST_F(WriterFiles, AddressesWiderThanTheFormatFailTheSave)
{
    const THexList image = Image(0x10010, {{0x10000, 0x01}});
    const fs::path p = dir_ / "x.tek";
    EXPECT_EQ(TFileLoader::SaveFile(p.string(), image, 8), 1);
    EXPECT_EQ(TFileLoader::SaveFile(p.string(), image, 10), 1);
    EXPECT_FALSE(fs::exists(p));
    EXPECT_EQ(TFileLoader::SaveFile(p.string(), image, 7), 0);  // it widens its address field
}

TEST_F(WriterFiles, AFailedSaveLeavesTheExistingFileAndNoLeftovers)
{
    const fs::path p = dir_ / "keep.hex";
    { std::ofstream(p, std::ios::binary) << "old contents"; }
    EXPECT_EQ(TFileLoader::SaveFile(p.string(), Image(0x10010, {{0x10000, 0x01}}), 8), 1);
    EXPECT_EQ(ReadAll(p), "old contents");
    EXPECT_EQ(TFileLoader::SaveFile((dir_ / "no-such-folder" / "x.hex").string(), GoldenImage(), 1), 1);
    EXPECT_EQ(TFileLoader::SaveFile(dir_.string(), GoldenImage(), 1), 1);  // a folder
    EXPECT_TRUE(fs::is_directory(dir_));

    EXPECT_EQ(TFileLoader::SaveFile(p.string(), GoldenImage(), 1), 0);
    EXPECT_EQ(ReadAll(p).substr(0, 17), ":0300000002FF01FB");
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(dir_)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
}

TEST_F(WriterFiles, ReplacingAFileKeepsItsPermissions)
{
    const fs::path p = dir_ / "mode.hex";
    { std::ofstream(p, std::ios::binary) << "old"; }
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(TFileLoader::SaveFile(p.string(), GoldenImage(), 1), 0);
    EXPECT_EQ(fs::status(p).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

#ifndef _WIN32
// A pipe (or standard output) is written into, not replaced by a regular file.
TEST_F(WriterFiles, APipeIsWrittenIntoAndStaysAPipe)
{
    const fs::path p = dir_ / "pipe";
    ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
    // A reader that does not block, so the save can open the pipe and a regression cannot hang.
    const int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(TFileLoader::SaveFile(p.string(), Image(0x100, {{0, 0x02}, {2, 0x01}}), 1), 0);
    char buffer[256] = {};
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0u), ":0300000002FF01FB\r\n:00000001FF\r\n");
    EXPECT_TRUE(fs::is_fifo(p));
}

// A read-only file is refused as writing it in place would be (a privileged user may write it).
TEST_F(WriterFiles, AReadOnlyFileIsNotReplacedBehindTheUsersBack)
{
    const fs::path p = dir_ / "ro.hex";
    { std::ofstream(p, std::ios::binary) << "old"; }
    fs::permissions(p, fs::perms::owner_read);
    const bool writable = static_cast<bool>(std::ofstream(p, std::ios::binary | std::ios::app));
    EXPECT_EQ(TFileLoader::SaveFile(p.string(), GoldenImage(), 1), writable ? 0 : 1);
    if (!writable) {
        EXPECT_EQ(ReadAll(p), "old");
    }
    fs::permissions(p, fs::perms::owner_all);
}
#endif

// ---- One round-trip suite over every format: what is written reads back the same. ----

struct RoundTrip {
    int id;
    bool above64K;  // the format can address beyond FFFFh
};

class RoundTrips : public WriterFiles, public ::testing::WithParamInterface<RoundTrip> {
protected:
    void ExpectRoundTrip(const THexList& image, const std::string& what)
    {
        const fs::path p = dir_ / "rt.txt";
        ASSERT_EQ(TFileLoader::SaveFile(p.string(), image, GetParam().id), 0) << what;
        THexList back;
        back.SetSize(image.Size());
        back.SetValue(0, 0);  // LoadFile must clear it
        EXPECT_EQ(TFileLoader::LoadFile(p.string(), back), 0) << what;
        EXPECT_EQ(back.Values(), image.Values()) << what;
        const int detected = TFileLoader::DetectFormat(p.string());
        if (image.TopAddress() >= 0) {
            const int id = GetParam().id;
            const int family = id <= 3 ? 1 : id <= 6 ? 4 : id;
            EXPECT_GE(detected, family) << what;
            EXPECT_LE(detected, id <= 3 ? 3 : id <= 6 ? 6 : id) << what;
        }
    }
};

TEST_P(RoundTrips, EveryImageReadsBackTheSame)
{
    std::mt19937 rng(12345u + static_cast<unsigned>(GetParam().id));
    auto fill = [&](THexList& image, int percentUsed) {
        for (uint32_t a = 0; a < image.Size(); ++a)
            if (static_cast<int>(rng() % 100) < percentUsed) image.SetValue(a, static_cast<uint8_t>(rng()));
    };
    for (uint32_t size : {0x8000u, 0x2000u, 0x800u}) {
        for (int percent : {100, 30, 2}) {
            THexList image;
            image.SetSize(size);
            fill(image, percent);
            ExpectRoundTrip(image, "size " + std::to_string(size) + ", " + std::to_string(percent) + "% used");
        }
    }
    ExpectRoundTrip(Image(0x8000, {}), "blank");
    ExpectRoundTrip(Image(0x8000, {{0x7FFF, 0x06}}), "option byte only");
    ExpectRoundTrip(Image(0x8000, {{0x10, 0xFF}, {0x11, 0x00}}), "FF written inside a record");
    // The word form cannot name the last byte of an odd-sized image without the byte past it.
    if (GetParam().id != 9) ExpectRoundTrip(Image(0x11, {{0x10, 0x42}}), "odd size, last byte used");
    if (GetParam().above64K) {
        THexList big;
        big.SetSize(0x60000);
        for (uint32_t a : {0x0u, 0xFFFFu, 0x10000u, 0x2ABCDu, 0x3FFFFu, 0x40000u, 0x5FFF0u}) big.SetValue(a, static_cast<uint8_t>(a >> 4));
        ExpectRoundTrip(big, "above 64K");
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, RoundTrips,
                         ::testing::Values(RoundTrip{1, true}, RoundTrip{2, true}, RoundTrip{3, true}, RoundTrip{4, true},
                                           RoundTrip{5, true}, RoundTrip{6, true}, RoundTrip{7, true}, RoundTrip{8, false},
                                           RoundTrip{9, true}, RoundTrip{10, false}),
                         [](const ::testing::TestParamInfo<RoundTrip>& info) { return "Id" + std::to_string(info.param.id); });

}  // namespace
