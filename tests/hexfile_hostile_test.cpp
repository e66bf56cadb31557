// Loading under hostile input: files made to cost memory, and detection and loading from one
// reading of the file.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "image/hexfile.h"
#include "image/hexlist.h"

namespace fs = std::filesystem;

namespace {

class HostileFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("zemprix-hostile-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& text)
    {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
        return p.string();
    }

    fs::path dir_;
};

// The peak memory, in MiB, that loading `file` adds to a child process; -1 when the load failed.
long LoadGrowthMiB(const std::string& file)
{
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        long growth = -1;
        try {
            THexList image;
            image.SetSize(0x8000);
            if (TFileLoader::LoadFile(file, image) == 0) {
                rusage after{};
                getrusage(RUSAGE_SELF, &after);
                growth = (after.ru_maxrss - before.ru_maxrss) / 1024;  // KiB to MiB
            }
        } catch (...) {
        }
        const ssize_t written = write(fds[1], &growth, sizeof growth);
        _exit(written == sizeof growth ? 0 : 1);
    }
    close(fds[1]);
    long growth = -1;
    if (child < 0 || read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
    close(fds[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    return growth;
}

// Lines are walked in the text read, never kept one object each: 8 MiB of line breaks once took
// about 32 bytes per line (over 250 MiB). The bound leaves room for the text, a copy of it and
// the allocator; the benchmark has the exact figures at the 64 MiB limit.
TEST_F(HostileFiles, ShortLinesCostNoMoreThanTheText)
{
    const size_t size = 8u << 20;
    for (const char* unit : {"\n", "\r", "a\n"}) {
        std::string text;
        text.reserve(size);
        while (text.size() + std::char_traits<char>::length(unit) <= size) text += unit;
        const std::string file = Write("lines.txt", text);
        text = std::string();
        const long growth = LoadGrowthMiB(file);
        EXPECT_GE(growth, 0) << "load failed for unit " << testing::PrintToString(std::string(unit));
        EXPECT_LE(growth, 40) << "MiB for an 8 MiB file of " << testing::PrintToString(std::string(unit));
    }
}

TEST_F(HostileFiles, DetectAndLoadReadsOnceAndLoadsOnlyAKnownFormat)
{
    THexList image;
    image.SetSize(0x20);
    image.SetValue(0, 0x55);
    image.SetFileName("before");
    int loaded = 7;

    // No file, no format, empty or binary: the image is left as it was.
    EXPECT_EQ(TFileLoader::DetectAndLoad((dir_ / "missing.hex").string(), image, loaded), ff_NotFound);
    EXPECT_EQ(loaded, 0);
    EXPECT_EQ(TFileLoader::DetectAndLoad(Write("text.txt", "hello\n"), image, loaded), ff_AutoDetect);
    EXPECT_EQ(TFileLoader::DetectAndLoad(Write("nul.bin", std::string("\0:0100000011EE\n", 15)), image, loaded),
              ff_EmptyOrBinary);
    EXPECT_EQ(image.GetValue(0), 0x55);
    EXPECT_EQ(image.FileName(), "before");

    const std::string good = Write("good.hex", ":0100010011ED\n:00000001FF\n");
    EXPECT_EQ(TFileLoader::DetectAndLoad(good, image, loaded), ff_IntelIntellex);
    EXPECT_EQ(loaded, 0);
    EXPECT_EQ(image.FileName(), good);
    EXPECT_EQ(image.GetValue(0), 0xFF);  // cleared before loading
    EXPECT_EQ(image.GetValue(1), 0x11);

    // A record outside the image: the format is known, the load reports -1.
    EXPECT_EQ(TFileLoader::DetectAndLoad(Write("far.hex", ":0100400011AE\n"), image, loaded), ff_IntelIntellex);
    EXPECT_EQ(loaded, -1);

    EXPECT_THROW(TFileLoader::DetectAndLoad(dir_.string(), image, loaded), EFileLoader);
}

}  // namespace
