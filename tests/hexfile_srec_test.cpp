// Cross-check against an independent implementation: srec_cat (Debian's srecord) must read what
// our writer writes into the same bytes, and our reader must read what srec_cat writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "image/hexfile.h"
#include "image/hexlist.h"

namespace fs = std::filesystem;

namespace {

std::string FindSrecCat()
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const fs::path candidate = fs::path(dir) / "srec_cat";
        std::error_code ec;
        if (!dir.empty() && fs::is_regular_file(candidate, ec)) return candidate.string();
    }
    return {};
}

std::vector<uint8_t> ReadBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

struct Format {
    int id;
    const char* srecName;  // srec_cat's format option
    uint32_t maxSize;      // the largest image the format can address
};

class SrecCat : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override
    {
        srecCat_ = FindSrecCat();
        ASSERT_FALSE(srecCat_.empty()) << "srec_cat is missing: run scripts/install-deps.sh";
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '_';
        dir_ = fs::temp_directory_path() / ("zemprix-srec-" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Run(const std::string& arguments)
    {
        const fs::path log = dir_ / "srec_cat.log";
        const int rc = std::system((Quote(srecCat_) + " " + arguments + " > " + Quote(log) + " 2>&1").c_str());
        std::ifstream in(log);
        std::stringstream text;
        text << in.rdbuf();
        ASSERT_EQ(rc, 0) << arguments << "\n" << text.str();
    }

    // Images every format can carry: random full, sparse and nearly blank, plus the option byte.
    std::vector<THexList> Images(uint32_t size)
    {
        std::mt19937 rng(size + static_cast<unsigned>(GetParam().id));
        std::vector<THexList> images;
        for (int percent : {100, 20, 1}) {
            THexList image;
            image.SetSize(size);
            for (uint32_t a = 0; a < size; ++a)
                if (static_cast<int>(rng() % 100) < percent) image.SetValue(a, static_cast<uint8_t>(rng()));
            image.SetValue(size - 1, 0x06);
            images.push_back(std::move(image));
        }
        return images;
    }

    std::string srecCat_;
    fs::path dir_;
};

TEST_P(SrecCat, ReadsWhatWeWrite)
{
    const Format& f = GetParam();
    std::vector<THexList> images = Images(0x8000);
    if (f.maxSize >= 0x5FFFF) {
        THexList big;
        big.SetSize(0x60000);
        for (uint32_t a : {0x5u, 0xFFFFu, 0x10000u, 0x2ABCDu, 0x3FFFFu, 0x40000u, 0x4FFF7u, 0x5FFFFu}) big.SetValue(a, static_cast<uint8_t>(a));
        images.push_back(std::move(big));
    }
    for (const THexList& image : images) {
        const fs::path ours = dir_ / "ours.txt";
        const fs::path bin = dir_ / "theirs.bin";
        ASSERT_EQ(TFileLoader::SaveFile(ours.string(), image, f.id), 0);
        Run(Quote(ours) + " -" + f.srecName + " -fill 0xFF 0 " + std::to_string(image.Size()) + " -o " + Quote(bin) + " -binary");
        EXPECT_EQ(ReadBytes(bin), image.Values()) << "format " << f.id << ", size " << image.Size();
    }
}

TEST_P(SrecCat, WeReadWhatItWrites)
{
    const Format& f = GetParam();
    // srec_cat writes S0 and S5 records unless told not to; S5 is not part of our Motorola.
    const std::string extra = std::string(f.srecName) == "motorola" ? " -disable=header -disable=data-count" : "";
    std::vector<THexList> images = Images(0x2000);
    for (const THexList& image : images) {
        const fs::path bin = dir_ / "image.bin";
        const fs::path theirs = dir_ / "theirs.txt";
        std::ofstream(bin, std::ios::binary).write(reinterpret_cast<const char*>(image.Values().data()),
                                                   static_cast<std::streamsize>(image.Size()));
        // Without FF bytes the words would not be aligned, which srec_cat's word form refuses.
        const bool words = f.id == ff_Atmel16;
        for (const char* unfill : {"", words ? "" : " -unfill 0xFF 1"}) {
            Run(Quote(bin) + " -binary" + unfill + " -o " + Quote(theirs) + " -" + f.srecName + extra);
            THexList back;
            back.SetSize(image.Size());
            EXPECT_EQ(TFileLoader::LoadFile(theirs.string(), back), 0);
            EXPECT_EQ(back.Values(), image.Values()) << "format " << f.id << unfill;
            const int detected = TFileLoader::DetectFormat(theirs.string());
            EXPECT_GE(detected, f.id) << unfill;
            EXPECT_LE(detected, f.id <= 3 ? 3 : f.id <= 6 ? 6 : f.id) << unfill;
        }
    }
}

// The golden files are checked against srec_cat as well, so their bytes are not only ours.
TEST(SrecCatGolden, GoldenFilesHoldTheSameBytes)
{
    const std::string srecCat = FindSrecCat();
    ASSERT_FALSE(srecCat.empty()) << "srec_cat is missing: run scripts/install-deps.sh";
    const fs::path data(ZEMPRIX_TEST_DATA);
    const fs::path bin = fs::temp_directory_path() / "zemprix-srec-golden.bin";
    THexList reference;
    reference.SetSize(0x8000);
    ASSERT_EQ(TFileLoader::LoadFile((data / "golden.hex").string(), reference), 0);
    for (const auto& [file, format] : std::vector<std::pair<const char*, const char*>>{
             {"golden.hex", "intel"}, {"golden.s19", "motorola"}, {"golden.tek", "tektronix_extended"},
             {"golden.tek8", "tektronix"}, {"golden.atm16", "atmel_generic_be"}}) {
        const std::string cmd = Quote(srecCat) + " " + Quote(data / file) + " -" + format + " -fill 0xFF 0 32768 -o " + Quote(bin) +
                                " -binary > /dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << file;
        EXPECT_EQ(ReadBytes(bin), reference.Values()) << file;
        THexList ours;
        ours.SetSize(0x8000);
        EXPECT_EQ(TFileLoader::LoadFile((data / file).string(), ours), 0);
        EXPECT_EQ(ours.Values(), reference.Values()) << file;
    }
    THexList bytes;
    bytes.SetSize(0x8000);
    EXPECT_EQ(TFileLoader::LoadFile((data / "golden.atm8").string(), bytes), 0);
    EXPECT_EQ(bytes.Values(), reference.Values());
    fs::remove(bin);
}

// The Atmel byte form has no srec_cat counterpart; the round-trip suite covers it.
INSTANTIATE_TEST_SUITE_P(Formats, SrecCat,
                         ::testing::Values(Format{1, "intel", 0xFFFFFFFF}, Format{4, "motorola", 0xFFFFFF},
                                           Format{7, "tektronix_extended", 0xFFFFF}, Format{8, "tektronix", 0xFFFF},
                                           Format{9, "atmel_generic_be", 0xFFFFFF}),
                         [](const ::testing::TestParamInfo<Format>& info) { return std::string(info.param.srecName); });

}  // namespace
