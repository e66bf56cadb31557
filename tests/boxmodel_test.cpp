#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "devices/devices.h"
#include "sim/boxmodel.h"

namespace {

const TDevice& Device(const std::string& name) { return *DeviceList().FindDevice(name, 0xFF); }

// Sends the bytes and returns everything the box answered.
std::string Send(TBoxModel& box, const std::string& bytes)
{
    for (char c : bytes) box.HostWrite(static_cast<uint8_t>(c));
    std::string out;
    while (box.HasOutput()) out += static_cast<char>(box.TakeOutput());
    return out;
}

std::string Raw(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

// A programming-mode block write of 16 bytes of `value` at `address`.
std::string Block(unsigned address, uint8_t value)
{
    return "W" + Raw({static_cast<int>(address >> 8), static_cast<int>(address & 0xFF), 0x10}) +
           std::string(16, static_cast<char>(value));
}

class BoxModelTest : public ::testing::Test {
protected:
    BoxModelTest() : box(Device("COP8SBR9")) {}
    void TearDown() override
    {
        if (!expectViolations) {
            EXPECT_TRUE(box.Violations().empty()) << box.Violations().front();
        }
    }
    void EnterProgramming() { ASSERT_EQ(Send(box, "=%"), "\r\r"); }

    TBoxModel box;
    bool expectViolations = false;
};

TEST_F(BoxModelTest, IdentityAndVersionAnswers)
{
    EXPECT_EQ(Send(box, "S"), "ZEMPRIX01\r");
    EXPECT_EQ(Send(box, "V"), "0001\r");
    EXPECT_EQ(Send(box, "v"), "0009\r");
    EXPECT_EQ(Send(box, "I"), "\r");  // exactly one byte
    EXPECT_EQ(Send(box, "*"), "\r");
    EXPECT_EQ(Send(box, "t"), "7B000CFF\r");
    EXPECT_EQ(Send(box, "T1A2B3C4D"), "\r");
    EXPECT_EQ(Send(box, "t"), "1A2B3C4D\r");
    EXPECT_EQ(box.Timing(), "1A2B3C4D");
    EXPECT_EQ(box.Commands(), "SVvI*tTt");
}

TEST_F(BoxModelTest, ResetLeavesModesAndAnnounces)
{
    EnterProgramming();
    EXPECT_TRUE(box.ProgrammingMode());
    box.HostWrite('W');  // a half-received command is dropped by the reset
    box.Reset();
    EXPECT_FALSE(box.ProgrammingMode());
    EXPECT_EQ(Send(box, ""), "ZEMPRIX01");
    EXPECT_EQ(Send(box, "xX"), "\r\r");
    EXPECT_TRUE(box.Running());
    box.Reset();
    EXPECT_FALSE(box.Running());
    EXPECT_EQ(Send(box, "S"), "ZEMPRIX01ZEMPRIX01\r");
}

TEST_F(BoxModelTest, ReadsAnswerUpperCaseHexAndFFBeyondFlash)
{
    box.Flash()[0x1234] = 0xAB;
    box.Flash()[0x7FFF] = 0x5C;
    EXPECT_EQ(Send(box, "r1234"), "AB\r");
    EXPECT_EQ(Send(box, "r7FFF"), "5C\r");
    EXPECT_EQ(Send(box, "rFFFF"), "FF\r");
    EXPECT_EQ(Send(box, "R12330003"), "FFABFF\r");
    EXPECT_EQ(Send(box, "R7FFE0004"), "FF5CFFFF\r");
    EXPECT_EQ(Send(box, "R00000000"), "\r");
}

TEST_F(BoxModelTest, WritesOnlyClearBitsAndEraseSetsFF)
{
    EXPECT_EQ(Send(box, "W010002F00F"), "\r");
    EXPECT_EQ(Send(box, "R01000002"), "F00F\r");
    // Writing 0F over F0 leaves 00, which is not what was sent.
    EXPECT_EQ(Send(box, "W0100020FF0"), "?V");
    EXPECT_EQ(box.Flash()[0x100], 0x00);
    EXPECT_EQ(box.Flash()[0x101], 0x00);
    EXPECT_EQ(Send(box, "Z"), "\r");
    for (uint8_t b : box.Flash()) ASSERT_EQ(b, 0xFF);
}

TEST_F(BoxModelTest, TextBlockWriteSkipsOptionByteOnlySmallWWritesIt)
{
    // The last 32 bytes of Flash, option byte included, all written as 00.
    EXPECT_EQ(Send(box, "W7FE020" + std::string(64, '0')), "\r");
    EXPECT_EQ(box.Flash()[0x7FFE], 0x00);
    EXPECT_EQ(box.Flash()[0x7FFF], 0xFF);
    EXPECT_EQ(Send(box, "w7FFF44"), "\r");
    EXPECT_EQ(box.Flash()[0x7FFF], 0x44);
    EXPECT_EQ(Send(box, "w7FFF06"), "?V");  // 44 AND 06 = 04
    EXPECT_EQ(box.Flash()[0x7FFF], 0x04);
    EXPECT_EQ(Send(box, "w800000"), "?#");
    EXPECT_EQ(Send(box, "W7FF020" + std::string(64, '0')), "?#");  // runs past the end
}

TEST_F(BoxModelTest, PageEraseClearsExactlyOnePage)
{
    std::fill(box.Flash().begin(), box.Flash().end(), 0x00);
    EXPECT_EQ(Send(box, "z0080"), "\r");
    EXPECT_EQ(box.Flash()[0x7F], 0x00);
    for (int a = 0x80; a < 0x100; ++a) ASSERT_EQ(box.Flash()[a], 0xFF) << a;
    EXPECT_EQ(box.Flash()[0x100], 0x00);

    TBoxModel small(Device("COP8SBE9"));  // 64-byte pages
    std::fill(small.Flash().begin(), small.Flash().end(), 0x00);
    EXPECT_EQ(Send(small, "=%" + std::string("z") + Raw({0x1F, 0xC0}) + ":$"), "\r\r\r\r\r");
    EXPECT_EQ(small.Flash()[0x1FBF], 0x00);
    EXPECT_EQ(small.Flash()[0x1FC0], 0xFF);
    EXPECT_EQ(small.Flash()[0x1FFF], 0xFF);
    EXPECT_TRUE(small.Violations().empty());
}

TEST_F(BoxModelTest, ProgrammingModeBinaryCommands)
{
    EnterProgramming();
    EXPECT_EQ(Send(box, "z" + Raw({0x01, 0x00})), "\r");
    EXPECT_EQ(Send(box, Block(0x0100, 0x3C)), "\r");
    EXPECT_EQ(Send(box, "r" + Raw({0x01, 0x0F})), Raw({0x3C, 0x0D}));
    EXPECT_EQ(Send(box, "r" + Raw({0xFF, 0xFF})), Raw({0xFF, 0x0D}));
    // Raw data may hold any byte, command letters and CR included.
    EXPECT_EQ(Send(box, "W" + Raw({0x01, 0x10, 0x10}) + "zWr:$*\r?!#%=IRST"), "\r");
    EXPECT_EQ(box.Flash()[0x110], 'z');
    EXPECT_EQ(Send(box, Block(0x0100, 0x0F)), "?V");  // 3C AND 0F
    EXPECT_EQ(box.Flash()[0x100], 0x0C);
    EXPECT_EQ(Send(box, Block(0x7FF8, 0x00)), "?#");
    EXPECT_EQ(Send(box, ":$"), "\r\r");
    EXPECT_FALSE(box.ProgrammingMode());
    EXPECT_EQ(box.Commands(), "=%zWrrWWW:$");
}

TEST_F(BoxModelTest, ModeSequencesNeedTheirFirstHalf)
{
    EXPECT_EQ(Send(box, "%"), "?!");
    EXPECT_FALSE(box.ProgrammingMode());
    EXPECT_EQ(Send(box, "X"), "?!");
    EXPECT_FALSE(box.Running());
    EXPECT_EQ(Send(box, "=S%"), "\rZEMPRIX01\r?!");
    EXPECT_FALSE(box.ProgrammingMode());
    EXPECT_EQ(Send(box, "x"), "\r");
    EXPECT_FALSE(box.Running());
    EXPECT_EQ(Send(box, "X"), "\r");
    EXPECT_TRUE(box.Running());
    EXPECT_EQ(Send(box, "r0000"), "FF\r");
    EXPECT_FALSE(box.Running());  // the box takes the target back to read it
}

TEST_F(BoxModelTest, UnknownAndMalformedCommands)
{
    EXPECT_EQ(Send(box, "Q"), "?!");
    EXPECT_EQ(Send(box, "\r"), "?!");
    EXPECT_EQ(Send(box, "r12G4"), "?#");
    EXPECT_EQ(Send(box, "R0000 001"), "?#");
    EXPECT_EQ(Send(box, "T1234567X"), "?#");
    EXPECT_EQ(box.Timing(), "7B000CFF");
    EXPECT_EQ(Send(box, "W0000ZZ"), "?#");  // an unreadable count ends the command
    EXPECT_EQ(Send(box, "W000001GG"), "?#");
    EXPECT_EQ(box.Flash()[0], 0xFF);
    EXPECT_EQ(Send(box, "w00001-"), "?#");
    EXPECT_EQ(Send(box, "z00X0"), "?#");
    EXPECT_EQ(Send(box, "S"), "ZEMPRIX01\r");  // still in step
}

// ---- protocol violations ----

TEST_F(BoxModelTest, ViolationsAreLoggedOncePerOffence)
{
    expectViolations = true;
    struct Case {
        const char* name;
        std::string bytes;
        std::string answer;
        const char* logged;
    };
    const Case cases[] = {
        {"lower-case address", "r7fff", "FF\r", "lower-case hex"},
        {"lower-case data", "W000001ab", "\r", "lower-case hex"},
        {"leave without enter", ":$", "\r\r", "left programming mode without entering it"},
        {"text page erase off boundary", "z0081", "\r", "not on a page boundary"},
        {"binary page erase off boundary", "=%z" + Raw({0x00, 0x40}) + ":$", "\r\r\r\r\r",
         "not on a page boundary"},
        {"binary block of 8", "=%z" + Raw({0x00, 0x00}) + "W" + Raw({0x00, 0x00, 0x08}) + std::string(8, '\0') + ":$",
         "\r\r\r\r\r\r", "block of 08h bytes"},
        {"block into a page not erased", "=%z" + Raw({0x00, 0x00}) + Block(0x80, 0x12) + ":$", "\r\r\r\r\r\r",
         "not erased in this programming session"},
        {"ping in programming mode", "=%I:$", "\r\r?!\r\r", "command \"I\" sent in programming mode"},
        {"text read in programming mode", "=%R:$", "\r\r?!\r\r", "command \"R\" sent"},
        {"erase all in programming mode", "=%Z:$", "\r\r?!\r\r", "command \"Z\" sent"},
        {"enter twice", "=%=:$", "\r\r?!\r\r", "command \"=\" sent"},
    };
    for (const Case& c : cases) {
        TBoxModel fresh(Device("COP8SBR9"));
        EXPECT_EQ(Send(fresh, c.bytes), c.answer) << c.name;
        ASSERT_EQ(fresh.Violations().size(), 1u) << c.name;
        EXPECT_NE(fresh.Violations()[0].find(c.logged), std::string::npos)
            << c.name << ": " << fresh.Violations()[0];
        EXPECT_FALSE(fresh.ProgrammingMode()) << c.name;
    }
}

TEST_F(BoxModelTest, ProperSessionLogsNoViolation)
{
    EXPECT_EQ(Send(box, "*SvIrFFFF"), "\rZEMPRIX01\r0009\r\rFF\r");
    EnterProgramming();
    EXPECT_EQ(Send(box, "z" + Raw({0x00, 0x80}) + Block(0x80, 0x12) + Block(0x90, 0x34) + ":$"),
              "\r\r\r\r\r");
    std::string expected;
    for (int i = 0; i < 16; ++i) expected += "12";
    for (int i = 0; i < 16; ++i) expected += "34";
    EXPECT_EQ(Send(box, "R00800020"), expected + "\r");
}

// ---- faults ----

TEST_F(BoxModelTest, WrongIdentificationAndVersions)
{
    box.Faults().identification = "ZEMPRIX00";
    box.Faults().firmware = "0008";
    box.Faults().hardware = "0002";
    box.Reset();
    EXPECT_EQ(Send(box, "SvV"), "ZEMPRIX00ZEMPRIX00\r0008\r0002\r");
}

// Every box error code can be produced on demand, answered once, in place of the whole answer
// of the command it hits, which is then not carried out.
TEST_F(BoxModelTest, InjectedErrorCodeIsOneShot)
{
    struct Case {
        std::string command;
        bool programming;
        char errorCommand;  // 0: the default, the next acked command
    };
    const Case cases[] = {
        {"r0000", false, 0},     {"R00000010", false, 0}, {"W00000100", false, 0},
        {"w000000", false, 0},   {"z0000", false, 0},     {"Z", false, 0},
        {"x", false, 0},         {"T00000000", false, 0}, {"t", false, 0},
        {"S", false, 0},         {"V", false, 0},         {"v", false, 0},
        {"=", false, 0},         {":", true, 0},          {"z" + Raw({0, 0}), true, 0},
        {Block(0, 0), true, 0},  {"r" + Raw({0, 0}), true, 0},
        {"Z", false, 'Z'},       {"S", false, 'S'},       {Block(0, 0), true, 'W'},
    };
    for (char code : std::string("!#%MTVm")) {
        for (const Case& c : cases) {
            TBoxModel fresh(Device("COP8SBR9"));
            if (c.programming) Send(fresh, "=%");
            fresh.Faults().errorCode = static_cast<uint8_t>(code);
            fresh.Faults().errorCommand = c.errorCommand;
            EXPECT_EQ(Send(fresh, c.command), std::string("?") + code) << c.command;
            EXPECT_EQ(fresh.Faults().errorCode, 0);
            for (uint8_t b : fresh.Flash()) ASSERT_EQ(b, 0xFF) << c.command;
            EXPECT_EQ(fresh.Timing(), "7B000CFF");
            EXPECT_EQ(fresh.ProgrammingMode(), c.programming) << c.command;
        }
    }
    // Ping and sync never take it.
    box.Faults().errorCode = 'T';
    EXPECT_EQ(Send(box, "I*rFFFF"), "\r\r?T");
    EXPECT_EQ(Send(box, "rFFFF"), "FF\r");
    // Aimed at a letter, it lets everything else through.
    box.Faults().errorCode = '%';
    box.Faults().errorCommand = 'Z';
    EXPECT_EQ(Send(box, "IrFFFFSZ"), "\rFF\rZEMPRIX01\r?%");
    EXPECT_EQ(Send(box, "Z"), "\r");
}

TEST_F(BoxModelTest, PingRefusal)
{
    box.Faults().pingRefusal = '!';
    EXPECT_EQ(Send(box, "I"), "?!");
    EXPECT_EQ(Send(box, "I"), "?!");
    box.Faults().pingRefusal = 0;
    EXPECT_EQ(Send(box, "I"), "\r");
}

TEST_F(BoxModelTest, SilenceAfterNBytes)
{
    box.Faults().silentAfter = 12;
    EXPECT_EQ(Send(box, "SvI"), "ZEMPRIX01\r00");
    EXPECT_EQ(box.Faults().silentAfter, 0);
    EXPECT_EQ(Send(box, "Z"), "");
    EXPECT_EQ(box.Flash()[0], 0xFF);
    box.Flash()[0] = 0;
    EXPECT_EQ(Send(box, "Z"), "");
    EXPECT_EQ(box.Flash()[0], 0x00);  // a silent box does nothing at all
    box.Reset();
    EXPECT_EQ(Send(box, ""), "");  // not even the announcement
    box.Faults().silentAfter = -1;
    EXPECT_EQ(Send(box, "I"), "\r");
}

TEST_F(BoxModelTest, StuckByteNeverPrograms)
{
    box.Faults().stuckAddress = 0x0105;
    EXPECT_EQ(Send(box, "W010002" "0000"), "\r");
    EXPECT_EQ(Send(box, "W010406" "000000000000"), "?V");
    EXPECT_EQ(box.Flash()[0x104], 0x00);
    EXPECT_EQ(box.Flash()[0x105], 0xFF);
    EXPECT_EQ(Send(box, "w010500"), "?V");
    EXPECT_EQ(Send(box, "w0105FF"), "\r");  // already what was asked for
    EnterProgramming();
    EXPECT_EQ(Send(box, "z" + Raw({0x01, 0x00})), "\r");
    EXPECT_EQ(Send(box, Block(0x100, 0x00)), "?V");
    EXPECT_EQ(Send(box, "r" + Raw({0x01, 0x05})), Raw({0xFF, 0x0D}));
    EXPECT_EQ(Send(box, ":$"), "\r\r");
    EXPECT_EQ(Send(box, "z0100"), "\r");  // erasing still works
    EXPECT_EQ(box.Flash()[0x104], 0xFF);
}

TEST_F(BoxModelTest, AbsentTargetFailsFlashAndOptionCommands)
{
    box.Faults().targetAbsent = true;
    for (const std::string cmd : {"r0000", "r7FFF", "R00000010", "W00000100", "w7FFF00", "z0000", "Z"}) {
        EXPECT_EQ(Send(box, cmd), "?m") << cmd;
    }
    // The box itself still answers, and so does a read beyond Flash, which needs no target.
    EXPECT_EQ(Send(box, "ISvT00000000t"), "\rZEMPRIX01\r0009\r\r00000000\r");
    EXPECT_EQ(Send(box, "rFFFF"), "FF\r");
    EnterProgramming();
    EXPECT_EQ(Send(box, "z" + Raw({0, 0}) + Block(0, 0) + "r" + Raw({0, 0}) + ":$"), "?m?m?m\r\r");
    for (uint8_t b : box.Flash()) ASSERT_EQ(b, 0xFF);
}

TEST_F(BoxModelTest, ByteCountsAndTrace)
{
    std::vector<std::string> trace;
    box.SetTrace([&](const std::string& line) { trace.push_back(line); });
    Send(box, "r0000=%");
    Send(box, "z" + Raw({0x00, 0x80}) + ":$");
    EXPECT_EQ(box.BytesIn(), 12u);
    EXPECT_EQ(box.BytesOut(), 3u + 5u);
    EXPECT_EQ(trace, (std::vector<std::string>{"r0000", "=", "%", "z 00 80", ":", "$"}));
}

// ---- state file ----

class BoxStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = ::testing::TempDir() + "boxstate_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
        std::remove(path.c_str());
    }
    void TearDown() override { std::remove(path.c_str()); }
    void WriteFile(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string path;
};

TEST_F(BoxStateTest, RoundTripKeepsFlashTimingAndOptionByte)
{
    TBoxModel box(Device("COP8SBE9"));
    for (size_t i = 0; i < box.Flash().size(); ++i) box.Flash()[i] = static_cast<uint8_t>(i * 7);
    box.Flash()[0x1FFF] = 0x44;
    Send(box, "T0102AB0C");
    ASSERT_TRUE(box.SaveState(path));

    TBoxModel again(Device("COP8SBE9"));
    const uint64_t before = again.Changes();
    ASSERT_TRUE(again.LoadState(path));
    EXPECT_EQ(again.Flash(), box.Flash());
    EXPECT_EQ(again.Timing(), "0102AB0C");
    EXPECT_GT(again.Changes(), before);
}

TEST_F(BoxStateTest, BadFilesChangeNothing)
{
    TBoxModel box(Device("COP8SBE9"));
    EXPECT_FALSE(box.LoadState(path));  // missing

    TBoxModel big(Device("COP8SBR9"));
    ASSERT_TRUE(big.SaveState(path));
    EXPECT_FALSE(box.LoadState(path));  // another Flash size

    const std::string head = "ZEMPRIX BOX STATE 1\nDEVICE COP8SBE9\nTIMING 11111111\nFLASH 2000\n";
    const std::string bad[] = {
        "something else\n",
        head + "0000:0G\n",
        head + "0000:000\n",
        head + "1FFF:0000\n",  // past the end
        head + "0000 00\n",
        "ZEMPRIX BOX STATE 1\nTIMING 11111111\n0000:00\n",  // data before the size
        "ZEMPRIX BOX STATE 1\nTIMING 1111\nFLASH 2000\n",
    };
    for (const std::string& text : bad) {
        WriteFile(text);
        EXPECT_FALSE(box.LoadState(path)) << text;
        EXPECT_EQ(box.Flash()[0], 0xFF);
        EXPECT_EQ(box.Timing(), "7B000CFF");
    }
    // A partial file is fine: what it does not list is blank.
    WriteFile(head + "0020:00112233\r\n\n");
    box.Flash()[0] = 0;
    ASSERT_TRUE(box.LoadState(path));
    EXPECT_EQ(box.Flash()[0], 0xFF);
    EXPECT_EQ(box.Flash()[0x21], 0x11);
    EXPECT_EQ(box.Timing(), "11111111");
}

TEST_F(BoxStateTest, SaveIntoMissingDirectoryFails)
{
    TBoxModel box(Device("COP8SBE9"));
    EXPECT_FALSE(box.SaveState(::testing::TempDir() + "no/such/dir/state.txt"));
}

}  // namespace
