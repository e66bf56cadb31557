// End-to-end tests of the built zemprix-cli: exit codes, stdout data, stderr status lines and
// --json, with the settings kept in a temporary directory.
#include "test_support.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/checksum.h"
#include "link/linkcontext.h"
#include "image/hexfile.h"
#include "image/hexlist.h"
#include "store/qsettingsbackend.h"

// The command table links the box commands, which ask the program for its extra port backends:
// the tests' build of the command line has none, like zemprix-cli.
void AddExtraPortBackends(TLinkContext&) {}

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) { return ReadFileBytes(p.string()); }

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
    bool OutHas(const std::string& s) const { return out.find(s) != std::string::npos; }
    bool ErrHas(const std::string& s) const { return err.find(s) != std::string::npos; }
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '_';
        dir_ = fs::temp_directory_path() / ("zemprix-cli-" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "settings");
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Quote(const std::string& s)
    {
        std::string q = "'";
        for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    }

    CliRun Run(const std::vector<std::string>& args)
    {
        const fs::path cli = fs::path(ZEMPRIX_BIN_DIR) / "cli" / "zemprix-cli";
        std::string cmd = "ZEMPRIX_SETTINGS_DIR=" + Quote((dir_ / "settings").string()) + " " + Quote(cli.string());
        for (const auto& a : args) cmd += " " + Quote(a);
        cmd += " > " + Quote((dir_ / "out").string()) + " 2> " + Quote((dir_ / "err").string());
        CliRun r;
        const int status = std::system(cmd.c_str());
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = ReadAll(dir_ / "out");
        r.err = ReadAll(dir_ / "err");
        return r;
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // A hex file of `size` bytes with a few used bytes, and the image it should load into.
    std::string HexFile(const std::string& name, uint32_t size, THexList& image)
    {
        image.SetSize(size);
        for (uint32_t a = 0; a < size; a += 97) image.SetValue(a, static_cast<uint8_t>(a * 7));
        EXPECT_EQ(TFileLoader::SaveFile(Path(name), image, 1), 0);
        return Path(name);
    }

    void Remember(const std::vector<ISettingsBackend::Section>& sections)
    {
        TQSettingsBackend((dir_ / "settings").string()).WriteKey("GLOBAL", sections, false);
    }

    fs::path dir_;
};

std::string ExpectedChecksums(const THexList& image)
{
    std::string text;
    for (const auto& name : ChecksumNames()) text += name + ": " + DigestText(ChecksumByName(name)->Compute(image.Values())) + "\n";
    return text;
}

TEST_F(Cli, HelpListsEveryCommandAndOption)
{
    const CliRun r = Run({"--help"});
    EXPECT_EQ(r.code, 0);
    for (const char* word : {"devices", "info", "erase", "program FILE", "verify FILE", "read FILE", "read-options",
                             "write-options HH", "read-timing", "write-timing", "run", "auto FILE", "checksums FILE",
                             "convert IN OUT", "--hardware", "--port", "--device", "--clock", "--option-byte", "--format",
                             "--json", "--no-settings", "--steps"})
        EXPECT_TRUE(r.OutHas(word)) << word;
}

TEST_F(Cli, DevicesListsTheHardwaresDevicesInTableOrder)
{
    const CliRun r = Run({"devices", "--no-settings"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.substr(0, 18), "COP8CBR9\nCOP8CCR9\n");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 15);
    EXPECT_FALSE(r.OutHas("COP8TAB9"));

    const CliRun j = Run({"--json", "--hardware", "com", "devices"});
    EXPECT_EQ(j.code, 0);
    EXPECT_EQ(j.out.front(), '{');
    EXPECT_EQ(j.out.find('\n'), j.out.size() - 1) << "one JSON line only";
    EXPECT_TRUE(j.OutHas("\"hardware\":\"ZEMPRIX (COM)\""));
    EXPECT_TRUE(j.OutHas("{\"name\":\"COP8CFE9\",\"flashSize\":8192,\"pageSize\":64}"));
    EXPECT_TRUE(j.OutHas("\"ok\":true,\"exitCode\":0"));
}

TEST_F(Cli, ChecksumsOfTheLoadedImageWithTheOptionByte)
{
    THexList image;
    const std::string file = HexFile("in.hex", 0x8000, image);
    image.SetValue(0x7FFF, 0x06);
    CliRun r = Run({"checksums", file, "--no-settings"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, ExpectedChecksums(image));
    EXPECT_TRUE(r.ErrHas("Flash File Load: File loaded (Intel Intellex 8/MDS) - 00:00")) << r.err;

    image.SetValue(0x7FFF, 0xA5);
    r = Run({"checksums", file, "--option-byte", "a5", "--device", "cop8sdr9"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, ExpectedChecksums(image));

    r = Run({"--json", "checksums", file, "--option-byte", "A5"});
    EXPECT_TRUE(r.OutHas("\"checksums\":{\"CRC-16 Standard\":\"" + DigestText(ChecksumByName("CRC-16 Standard")->Compute(image.Values())) + "\""))
        << r.out;
    EXPECT_TRUE(r.OutHas("\"optionByte\":\"A5\""));
    EXPECT_TRUE(r.OutHas("\"format\":\"Intel Intellex 8/MDS\""));
}

TEST_F(Cli, RemembersDeviceAndOptionByteUnlessToldNotTo)
{
    Remember({{"ENVIRONMENT", {{"LASTDEVICE", "cop8sbe9"}, {"LASTHARDWARE", "ZEMPRIX (COM)"}}}, {"CONFIG", {{"OPTIONS", "7"}}}});
    THexList image;
    const std::string file = HexFile("small.hex", 0x2000, image);
    CliRun r = Run({"--json", "checksums", file});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.OutHas("\"device\":\"COP8SBE9\"")) << r.out;
    EXPECT_TRUE(r.OutHas("\"hardware\":\"ZEMPRIX (COM)\""));
    EXPECT_TRUE(r.OutHas("\"optionByte\":\"07\""));

    r = Run({"--json", "--no-settings", "checksums", file});
    EXPECT_TRUE(r.OutHas("\"device\":\"COP8CBR9\"")) << r.out;
    EXPECT_TRUE(r.OutHas("\"hardware\":\"ZEMPRIX (LPT)\""));
    EXPECT_TRUE(r.OutHas("\"optionByte\":\"06\""));

    // A remembered device that the hardware does not offer falls back to the first one.
    Remember({{"ENVIRONMENT", {{"LASTDEVICE", "COP8TAB9"}}}});
    r = Run({"--json", "devices"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.OutHas("\"device\":\"COP8CBR9\""));
}

TEST_F(Cli, ConvertWritesEveryFormatThatReadsBackTheSame)
{
    THexList image;
    const std::string in = HexFile("in.hex", 0x8000, image);
    image.SetValue(0x7FFF, 0x06);
    for (const std::string format : {"intel", "motorola", "ext-tektronix", "tektronix", "atmel16", "atmel8", "2", "5", "10"}) {
        const std::string out = Path("out-" + format + ".txt");
        const CliRun r = Run({"--no-settings", "convert", in, out, "--format", format});
        EXPECT_EQ(r.code, 0) << format << r.err;
        EXPECT_TRUE(r.ErrHas("Flash: File Saved (" + out + ") - 00:00")) << r.err;
        THexList back;
        back.SetSize(0x8000);
        EXPECT_EQ(TFileLoader::LoadFile(out, back), 0);
        EXPECT_EQ(back.Values(), image.Values()) << format;
    }
    EXPECT_EQ(ReadAll(Path("out-2.txt")), ReadAll(Path("out-intel.txt")));
}

TEST_F(Cli, LoadFailuresUseTheApplicationsTexts)
{
    const std::string kNotAccessible = "Flash File Load: File not accessable or a supported file type";
    CliRun r = Run({"--no-settings", "checksums", Path("missing.hex")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.ErrHas("Flash File Load: File load failed")) << r.err;
    EXPECT_EQ(r.out, "");

    std::ofstream(Path("text.txt")) << "just some text\n";
    r = Run({"--no-settings", "convert", Path("text.txt"), Path("x.hex")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.ErrHas(kNotAccessible));
    EXPECT_FALSE(fs::exists(Path("x.hex")));

    THexList big;
    const std::string file = HexFile("big.hex", 0x8000, big);
    r = Run({"--json", "--no-settings", "--device", "COP8CFE9", "checksums", file});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.ErrHas("Flash File Load - Warning: bad data or file larger than device"));
    EXPECT_TRUE(r.OutHas("\"ok\":false,\"exitCode\":1"));
    EXPECT_FALSE(r.OutHas("\"checksums\":{"));

    r = Run({"--no-settings", "checksums", dir_.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.ErrHas(kNotAccessible + " - File cannot be read")) << r.err;

    THexList ok;
    const std::string good = HexFile("good.hex", 0x100, ok);
    r = Run({"--no-settings", "convert", good, Path("no-folder/out.hex")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.ErrHas("Flash: Save Failed (" + Path("no-folder/out.hex") + ") - Could not save " +
                         Path("no-folder/out.hex") + ": No such file or directory"))
        << r.err;
}

TEST_F(Cli, BadUsageExitsWithTwo)
{
    THexList image;
    const std::string file = HexFile("in.hex", 0x100, image);
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"--bogus", "devices"},
        {"checksums"},
        {"convert", file},
        {"devices", "extra"},
        {"--device", "COP8XYZ9", "devices"},
        {"--device", "cop8tac9", "devices"},
        {"--hardware", "usb", "devices"},
        {"--clock", "24", "devices"},
        {"--clock", "-1", "devices"},
        {"--option-byte", "1FF", "devices"},
        {"--option-byte", "G0", "devices"},
        {"--format", "11", "convert", file, Path("o")},
        {"--format", "binary", "convert", file, Path("o")},
        {"--port", "COM9", "devices"},
        {"--port", "ttyUSB0", "devices"},
        // a port the hardware cannot use is refused, never replaced by the remembered one
        {"--hardware", "com", "--port", "LPT1", "devices"},
        {"--hardware", "com", "--port", "/dev/parport0", "devices"},
        {"--hardware", "lpt", "--port", "COM1", "devices"},
        {"--hardware", "lpt", "--port", "/dev/ttyS0", "devices"},
        {"--hardware", "lpt", "--port", "/dev/parportX", "devices"},
        {"--hardware", "lpt", "--port", "/dev/parport3", "devices"},
        {"--steps", "erase,flash", "auto", file},
        {"--device"},
        {"--device", "", "devices"},
        {"--hardware=", "devices"},
    };
    for (const auto& args : cases) {
        const CliRun r = Run(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(r.code, 2) << joined << r.err;
        EXPECT_FALSE(r.err.empty()) << joined;
    }
    const CliRun j = Run({"--json", "--clock", "99", "devices"});
    EXPECT_EQ(j.code, 2);
    EXPECT_TRUE(j.OutHas("\"exitCode\":2")) << j.out;
}

TEST_F(Cli, AcceptedSpellings)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--hardware", "LPT"}, {"--hardware", "zemprix (com)"}, {"--hardware=com", "--port", "com8"},
             {"--hardware=com", "--port", "/dev/pts/7"}, {"--hardware=lpt", "--port=LPT3"},
             {"--hardware=lpt", "--port", "/dev/parport2"}, {"--clock", "0"}, {"--option-byte", "6"}, {"--steps", "Reload,erase,program,verify,options,serial,run"}}) {
        std::vector<std::string> full = args;
        full.insert(full.end(), {"--no-settings", "devices"});
        EXPECT_EQ(Run(full).code, 0) << args[0];
    }
}

TEST_F(Cli, DeviceCommandsWithoutABoxFailCleanly)
{
    THexList image;
    const std::string file = HexFile("in.hex", 0x100, image);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"info"}, {"erase"}, {"program", file}, {"verify", file}, {"read", Path("r.hex")}, {"read-options"},
             {"write-options", "06"}, {"read-timing"}, {"write-timing"}, {"run"}, {"auto", file, "--steps", "erase,program"}}) {
        std::vector<std::string> full = args;
        full.insert(full.end(), {"--no-settings", "--hardware", "com", "--port", Path("no-such-port")});
        const CliRun r = Run(full);
        EXPECT_EQ(r.code, 1) << args[0];
        EXPECT_TRUE(r.ErrHas("ZEMPRIX (COM): Could not open communications port - ")) << r.err;
        EXPECT_TRUE(r.ErrHas("No such file or directory")) << "the reason is shown: " << r.err;
    }
}

}  // namespace

TEST_F(Cli, AFileWithWrongChecksumsIsFlaggedAndRefusedWhenStrict)
{
    const std::string file = Path("suspect.hex");
    std::ofstream(file) << ":0400100001020304E2\n:0400140005060708C0\n:0400180009000000D0\n:00000001FF\n";
    const std::string warning = "2 records with a wrong checksum, the first on line 2";
    CliRun r = Run({"--no-settings", "checksums", file});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.ErrHas("Flash File Load: File loaded (Intel Intellex 8/MDS) - Warning: " + warning)) << r.err;
    r = Run({"--json", "--no-settings", "checksums", file});
    EXPECT_TRUE(r.OutHas("\"checksumErrors\":2")) << r.out;
    EXPECT_TRUE(r.OutHas("\"firstChecksumErrorLine\":2")) << r.out;
    EXPECT_TRUE(r.OutHas("\"warning\":\"" + warning + "\"")) << r.out;

    // Strict: refused as a file that does not load, and nothing is written from it.
    r = Run({"--json", "--no-settings", "--strict-checksums", "convert", file, Path("out.hex")});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(r.ErrHas("Flash File Load: File load failed (strict checksums) - " + warning)) << r.err;
    EXPECT_TRUE(r.OutHas("\"error\":\"" + warning + "\"")) << r.out;
    EXPECT_FALSE(fs::exists(Path("out.hex")));

    // A file with correct checksums passes the strict check without a warning.
    THexList image;
    const std::string good = HexFile("good.hex", 0x100, image);
    r = Run({"--json", "--no-settings", "--strict-checksums", "checksums", good});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(r.ErrHas("Warning")) << r.err;
    EXPECT_FALSE(r.OutHas("checksumErrors")) << r.out;
}
