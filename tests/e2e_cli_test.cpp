// zemprix-cli against zemprix-boxsim over a real pseudo-terminal, and against the simulated
// parallel port, as separate processes.
#include <gtest/gtest.h>

#include "test_support.h"

#include <fstream>
#include <sstream>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <pty.h>

#include "app/productionrecord.h"
#include "devices/devices.h"
#include "e2e_support.h"
#include "image/hexfile.h"
#include "image/hexlist.h"
#include "base/hextext.h"

namespace {

// The gang's table pads the port column to its longest port: a row is the port, spaces, then `rest`.
bool HasRow(const std::string& out, const std::string& port, const std::string& rest)
{
    for (size_t at = out.find(port); at != std::string::npos; at = out.find(port, at + 1)) {
        size_t i = at + port.size();
        if (i >= out.size() || out[i] != ' ') continue;
        while (i < out.size() && out[i] == ' ') ++i;
        if (out.compare(i, rest.size(), rest) == 0) return true;
    }
    return false;
}

struct CliE2E : ::testing::Test {
    QTemporaryDir dir;
    const TDevice& device = *DeviceList().FindDevice("COP8SBR9", 0x04);

    std::string Path(const char* name) const { return dir.path().toStdString() + "/" + name; }
    std::string Settings() const { return Path("settings"); }

    // Takes the simulated board off the cable or puts it back, through the simulator's control file.
    void Poke(const char* line) const
    {
        std::ofstream(Path("poke.tmp")) << line << "\n";
        ASSERT_EQ(std::rename(Path("poke.tmp").c_str(), Path("poke").c_str()), 0);
    }
    // Whether `text` shows on a started CLI's standard error `n` times within half a minute.
    bool WaitForErr(const std::string& text, int n = 1) const
    {
        for (int i = 0; i < 600; ++i) {
            const std::string err = ReadAll(Path("err"));
            int seen = 0;
            for (size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) ++seen;
            if (seen >= n) return true;
            usleep(50'000);
        }
        return false;
    }

    // A full image of bytes that are neither 00 nor FF, saved as Intel hex.
    THexList WriteImage(const std::string& file, uint32_t seed)
    {
        THexList img;
        img.SetSize(static_cast<uint32_t>(device.FlashSize()));
        for (uint32_t a = 0; a < img.Size(); ++a) {
            seed = seed * 134775813u + 1;
            img.SetValue(a, static_cast<uint8_t>(1 + (seed >> 24) % 254));
        }
        EXPECT_EQ(TFileLoader::SaveFile(file, img, ff_IntelHex32), 0);
        return img;
    }
    THexList Load(const std::string& file)
    {
        THexList img;
        img.SetSize(static_cast<uint32_t>(device.FlashSize()));
        EXPECT_EQ(TFileLoader::LoadFile(file, img), 0);
        return img;
    }
    static std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
};

}  // namespace

TEST_F(CliE2E, SerialProgramReadBackAndVerifyAgainstThePtySimulator)
{
    Boxsim box({"--device", "COP8SBR9", "--poke-file", Path("poke"), "--strict"});
    ASSERT_FALSE(box.Path().empty());
    const std::vector<std::string> base = {"--hardware", "com", "--port", box.Path(), "--device", "cop8sbr9", "--no-settings"};
    THexList image = WriteImage(Path("in.hex"), 42);
    image.SetValue(0x7FFF, 0x06);  // the option byte is copied into the image before programming

    CliResult r = RunCli(Join(base, {"program", Path("in.hex")}), Settings());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Flash: Programming Complete - "), std::string::npos) << r.err;

    r = RunCli(Join(base, {"read", Path("out.hex")}), Settings());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Load(Path("out.hex")).Values(), image.Values());

    r = RunCli(Join(base, {"verify", Path("in.hex")}), Settings());
    EXPECT_EQ(r.exitCode, 0) << r.err;

    {
        std::FILE* f = std::fopen(Path("poke.tmp").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("01A0 00\n", f);
        std::fclose(f);
        ASSERT_EQ(std::rename(Path("poke.tmp").c_str(), Path("poke").c_str()), 0);
    }
    r = RunCli(Join(base, {"verify", Path("in.hex")}), Settings());
    EXPECT_EQ(r.exitCode, 3) << r.err;
    const std::string line =
        "Verify Failed at 01A0h: Read 00h - Should have been " + hex::Hex2(image.GetValue(0x1A0)) + "h";
    EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Flash: Verification Failed"), std::string::npos) << r.err;
    // The summary follows the per-byte line, in the log and in the JSON result.
    EXPECT_LT(r.err.find(line), r.err.find("Verify summary: 1 byte differs in 1 range (01A0h)")) << r.err;
    r = RunCli(Join(base, {"--json", "verify", Path("in.hex")}), Settings());
    EXPECT_NE(r.out.find("\"verifySummary\":\"Verify summary: 1 byte differs"), std::string::npos) << r.out;
}

TEST_F(CliE2E, SilenceEndsInTheLinksFailureWithoutHanging)
{
    Boxsim box({"--silent-after", "300"});
    WriteImage(Path("in.hex"), 1);
    const auto t0 = std::chrono::steady_clock::now();
    CliResult r = RunCli({"--hardware", "com", "--port", box.Path(), "--no-settings", "program", Path("in.hex")}, Settings());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(r.err.find("ZEMPRIX (COM): Communications with ISP failed during this operation") != std::string::npos ||
                r.err.find("ZEMPRIX (COM): ISP timed out during operation") != std::string::npos ||
                r.err.find("ISP is not responding, check your communications settings") != std::string::npos)
        << r.err;
    EXPECT_LT(seconds, 30.0);
}

TEST_F(CliE2E, WrongIdentificationOrFirmwareNeedsAnUpdate)
{
    for (const auto& fault : {std::vector<std::string>{"--ident", "ZEMPRIX99"}, {"--firmware", "0008"}}) {
        Boxsim box(fault);
        CliResult r = RunCli({"--hardware", "com", "--port", box.Path(), "--no-settings", "info"}, Settings());
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("Your ISP needs a firmware update"), std::string::npos) << r.err;
    }
}

TEST_F(CliE2E, ParallelSimProgramsInOneRunAndReadsBackInTheNext)
{
    const std::vector<std::string> env = {"ZEMPRIX_PORTIO=sim", "ZEMPRIX_SIM_STATE=" + Path("lpt.state")};
    const std::vector<std::string> base = {"--hardware", "lpt", "--device", "COP8SBR9", "--no-settings"};
    THexList image = WriteImage(Path("in.hex"), 7);
    image.SetValue(0x7FFF, 0x06);
    CliResult r = RunCli(Join(base, {"program", Path("in.hex")}), Settings(), env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunCli(Join(base, {"read", Path("out.hex")}), Settings(), env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Load(Path("out.hex")).Values(), image.Values());
}

TEST_F(CliE2E, ReadBackOfASparseImageKeepsErasedBlocksBlank)
{
    Boxsim box({"--device", "COP8SBE9", "--strict"});
    const std::vector<std::string> base = {"--hardware", "com", "--port", box.Path(), "--device", "COP8SBE9", "--no-settings"};
    THexList small;
    small.SetSize(0x2000);
    for (uint32_t a = 0x100; a < 0x130; ++a) small.SetValue(a, static_cast<uint8_t>(a));
    ASSERT_EQ(TFileLoader::SaveFile(Path("sparse.hex"), small, ff_IntelIntellex), 0);
    small.SetValue(0x1FFF, 0x06);

    ASSERT_EQ(RunCli(Join(base, {"erase"}), Settings()).exitCode, 0);
    CliResult r = RunCli(Join(base, {"program", Path("sparse.hex")}), Settings());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunCli(Join(base, {"read", Path("back.hex")}), Settings());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    THexList back;
    back.SetSize(0x2000);
    ASSERT_EQ(TFileLoader::LoadFile(Path("back.hex"), back), 0);
    EXPECT_EQ(back.Values(), small.Values());
    // Three data records, the option byte's record and the end record: nothing invented.
    const std::string text = ReadAll(Path("back.hex"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5) << text;
}

namespace {

// Starts the CLI without waiting; its output goes to files of `dir`.
pid_t StartCli(const std::vector<std::string>& args, const std::string& dir)
{
    const pid_t child = fork();
    if (child == 0) {
        if (!std::freopen((dir + "/out").c_str(), "w", stdout) || !std::freopen((dir + "/err").c_str(), "w", stderr)) _exit(126);
        setenv("ZEMPRIX_SETTINGS_DIR", (dir + "/settings").c_str(), 1);
        std::vector<char*> argv;
        const std::string exe = CliPath();
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    return child;
}

}  // namespace

TEST_F(CliE2E, InterruptAbortsLikeTheAbortButtonAndLeavesTheBoxUsable)
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        Boxsim box({"--pace", "--strict"});
        const std::vector<std::string> base = {"--hardware", "com", "--port", box.Path(), "--no-settings"};
        WriteImage(Path("in.hex"), 3);
        std::remove(Path("err").c_str());  // the previous round's lines must not count
        const pid_t cli = StartCli(Join(base, {"program", Path("in.hex")}), dir.path().toStdString());
        ASSERT_TRUE(WaitForText(Path("err"), "Flash: Programming", 20)) << ReadAll(Path("err"));
        kill(cli, signal);
        int status = 0;
        waitpid(cli, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << ReadAll(Path("err"));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        const std::string err = ReadAll(Path("err"));
        EXPECT_NE(err.find("Operation Cancelled by user"), std::string::npos) << err;
        EXPECT_EQ(err.find("Programming Complete"), std::string::npos) << err;
        // The closing commands were sent: the next command finds the box out of programming mode.
        const CliResult next = RunCli(Join(base, {"read-options"}), Settings());
        EXPECT_EQ(next.exitCode, 0) << next.err;
    }
}

TEST_F(CliE2E, ABoxThatVanishesMidRunIsReportedAsItsPortGoingAway)
{
    Boxsim box({"--pace"});
    const std::string port = box.Path();
    WriteImage(Path("in.hex"), 5);
    const pid_t cli = StartCli({"--hardware", "com", "--port", port, "--no-settings", "program", Path("in.hex")},
                               dir.path().toStdString());
    ASSERT_TRUE(WaitForText(Path("err"), "Flash: Programming", 20)) << ReadAll(Path("err"));
    box.Stop();
    int status = 0;
    waitpid(cli, &status, 0);
    const std::string err = ReadAll(Path("err"));
    ASSERT_TRUE(WIFEXITED(status)) << err;
    EXPECT_EQ(WEXITSTATUS(status), 1) << err;
    EXPECT_NE(err.find("Communications Error (the port " + port + " went away (unplugged?))"), std::string::npos) << err;
    EXPECT_EQ(err.find("Inappropriate ioctl"), std::string::npos) << err;
}

TEST_F(CliE2E, InfoFailsWhenTheReportCannotReachTheBox)
{
    Boxsim box({"--silent-after", "20"});
    const CliResult r = RunCli({"--hardware", "com", "--port", box.Path(), "--no-settings", "--json", "info"}, Settings());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("\"ok\":false"), std::string::npos) << r.out;
}

TEST_F(CliE2E, BytesFromNamesNeverReachTheTerminalOrJsonRaw)
{
    Boxsim box({});
    const std::string name = Path("evil\x1b[2J\xff.hex");
    CliResult r = RunCli({"--hardware", "com", "--port", box.Path(), "--no-settings", "read", name}, Settings());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
    EXPECT_NE(r.err.find("evil\\x1B[2J\\xFF.hex"), std::string::npos) << r.err;

    r = RunCli({"--no-settings", "--json", "checksums", name}, Settings());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find('\xff'), std::string::npos);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_NE(r.out.find("evil\\u001B[2J\\ufffd.hex"), std::string::npos) << r.out;
}

TEST_F(CliE2E, OptionsAreForOneRunAndLeaveTheRememberedChoicesAlone)
{
    const std::string conf = Settings() + "/morvel/ZEMPRIX.conf";
    {
        QDir().mkpath(QString::fromStdString(Settings() + "/morvel"));
        std::FILE* f = std::fopen(conf.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("[GLOBAL]\nENVIRONMENT\\LASTDEVICE=COP8SBR9\nENVIRONMENT\\LASTHARDWARE=ZEMPRIX (LPT)\n", f);
        std::fclose(f);
    }
    const std::string before = ReadAll(conf);
    WriteImage(Path("in.hex"), 11);
    const std::vector<std::string> env = {"ZEMPRIX_PORTIO=sim", "ZEMPRIX_SIM_STATE=" + Path("lpt.state")};
    const CliResult r = RunCli({"--port", "LPT1", "--clock", "3", "--option-byte", "2D", "--device", "COP8SBR9", "--steps",
                                "erase,program", "auto", Path("in.hex")},
                               Settings(), env);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadAll(conf), before);
}

TEST_F(CliE2E, ProjectsAreSavedListedLoadedAndDeleted)
{
    Boxsim box({"--device", "COP8SBR9"});
    ASSERT_FALSE(box.Path().empty());
    const std::vector<std::string> base = {"--hardware", "com", "--port", box.Path(), "--device", "COP8SBR9"};
    WriteImage(Path("in.hex"), 5);

    CliResult r = RunCli(Join(base, {"--steps", "erase,program", "project", "save", "Line A", Path("in.hex")}), Settings());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string conf = ReadAll(Settings() + "/morvel/ZEMPRIX.conf");
    EXPECT_NE(conf.find("FLASHFILE=" + Path("in.hex")), std::string::npos) << conf;
    EXPECT_NE(conf.find("CONFIG\\OPTIONS=6"), std::string::npos) << conf;

    r = RunCli({"--json", "project", "list"}, Settings());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\"projects\":[\"Line A\"]"), std::string::npos) << r.out;

    // Loading makes it the remembered configuration, with its Auto Program choices.
    r = RunCli(Join(base, {"project", "load", "Line A"}), Settings());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Project Load Complete"), std::string::npos) << r.err;
    const std::string after = ReadAll(Settings() + "/morvel/ZEMPRIX.conf");
    EXPECT_NE(after.find("ENVIRONMENT\\LASTDEVICE=COP8SBR9"), std::string::npos) << after;
    EXPECT_NE(after.find("AUTOPROGRAM\\2=True"), std::string::npos) << after;

    EXPECT_EQ(RunCli({"project", "save", "a/b"}, Settings()).exitCode, 2);
    EXPECT_EQ(RunCli({"project", "load", "Nobody"}, Settings()).exitCode, 1);
    EXPECT_EQ(RunCli({"project", "delete", "Line A"}, Settings()).exitCode, 0);
    r = RunCli({"project", "list"}, Settings());
    EXPECT_EQ(r.out, "");
}

TEST_F(CliE2E, ProgressAsJsonLinesQuietRunsAndALogFile)
{
    Boxsim box({"--device", "COP8SBR9"});
    ASSERT_FALSE(box.Path().empty());
    const std::vector<std::string> base = {"--hardware", "com", "--port", box.Path(), "--device", "COP8SBR9", "--no-settings"};
    WriteImage(Path("in.hex"), 3);

    CliResult r = RunCli(Join(base, {"--progress", "json", "--log-file", Path("run.log"), "program", Path("in.hex")}), Settings());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.err);
    std::string line, last;
    int status = 0, progress = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("QStandardPaths", 0) == 0) continue;
        ASSERT_EQ(line.front(), '{') << line;
        ASSERT_EQ(line.back(), '}') << line;
        EXPECT_NE(line.find("\"port\":\"" + box.Path() + "\""), std::string::npos) << line;
        status += line.rfind("{\"type\":\"status\"", 0) == 0;
        progress += line.rfind("{\"type\":\"progress\"", 0) == 0;
        last = line;
    }
    EXPECT_GT(status, 3);
    EXPECT_GT(progress, 10);
    EXPECT_EQ(last.rfind("{\"type\":\"result\"", 0), 0u) << last;
    EXPECT_NE(last.find("\"exitCode\":0"), std::string::npos);
    EXPECT_NE(r.err.find("\"kind\":\"completed\",\"text\":\"Flash: Programming Complete - "), std::string::npos);

    const std::string log = ReadAll(Path("run.log"));
    EXPECT_NE(log.find(" Flash: Programming Complete - "), std::string::npos) << log;
    EXPECT_EQ(log.substr(4, 1), "-");  // each line starts with its date

    r = RunCli(Join(base, {"-q", "verify", Path("in.hex")}), Settings());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err.find("Flash:"), std::string::npos) << r.err;
}

TEST_F(CliE2E, ACorruptSettingsFileIsNamedWithItsLineAndCommandsWithoutSettingsStillRun)
{
    QDir().mkpath(QString::fromStdString(Settings() + "/morvel"));
    std::ofstream(Settings() + "/morvel/ZEMPRIX.conf") << "[GLOBAL]\nthis line is broken\n";
    CliResult r = RunCli({"--hardware", "com", "--port", "/dev/null", "erase"}, Settings());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("ZEMPRIX.conf is corrupt at line 2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--no-settings"), std::string::npos) << r.err;
    r = RunCli({"devices"}, Settings());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("COP8SBR9"), std::string::npos);
    EXPECT_NE(r.err.find("running on defaults"), std::string::npos) << r.err;
}

// Plug-and-program on a terminal, with the board taken off and put back through the simulator's
// control file: a board attached at the start is not programmed; each attachment is programmed
// once; Ctrl+C ends the mode like the window's Cancel.
TEST_F(CliE2E, PlugAndProgProgramsEachAttachedBoardOnceAndCtrlCEndsIt)
{
    Boxsim box({"--device", "COP8SBR9", "--poke-file", Path("poke")});
    ASSERT_FALSE(box.Path().empty());
    WriteImage(Path("in.hex"), 9);
    const pid_t cli = StartCli({"--hardware", "com", "--port", box.Path(), "--device", "COP8SBR9", "--no-settings",
                                "--steps", "erase,program", "--record", Path("record.csv"), "auto", "--plug-and-prog",
                                Path("in.hex")},
                               dir.path().toStdString());
    ASSERT_TRUE(WaitForText(Path("err"), "Plug and Program Mode: Unplug ISP cable to program a target", 20))
        << ReadAll(Path("err"));
    Poke("detach");
    ASSERT_TRUE(WaitForText(Path("err"), "Plug and Program Mode: Waiting for Target Board", 20)) << ReadAll(Path("err"));
    Poke("attach");
    ASSERT_TRUE(WaitForText(Path("err"), "Auto Program: Complete (1 devices programmed this session)", 30))
        << ReadAll(Path("err"));
    Poke("detach");
    ASSERT_TRUE(WaitForErr("Waiting for Target Board", 2)) << ReadAll(Path("err"));
    kill(cli, SIGINT);
    int status = 0;
    waitpid(cli, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << ReadAll(Path("err"));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
    const std::string err = ReadAll(Path("err"));
    EXPECT_NE(err.find("Plug and Prog: Aborted"), std::string::npos) << err;
    EXPECT_EQ(err.find("(2 devices"), std::string::npos) << err;
    const std::string record = ReadAll(Path("record.csv"));
    EXPECT_NE(record.find(",erase+program,ok,"), std::string::npos) << record;
}

// A Flash file rewritten while plug-and-program waits: the next board is told of it and, with
// --reload-on-change, gets the new file whole; the board before kept the old one.
TEST_F(CliE2E, PlugAndProgReloadsAFileChangedOnDiskBeforeTheNextBoardWhenAskedTo)
{
    Boxsim box({"--device", "COP8SBR9", "--poke-file", Path("poke")});
    ASSERT_FALSE(box.Path().empty());
    WriteImage(Path("in.hex"), 9);
    const std::vector<std::string> base = {"--hardware", "com", "--port", box.Path(), "--device", "COP8SBR9", "--no-settings"};
    const pid_t cli = StartCli(Join(base, {"--steps", "erase,program", "auto", "--plug-and-prog", "--reload-on-change", Path("in.hex")}),
                               dir.path().toStdString());
    ASSERT_TRUE(WaitForErr("Unplug ISP cable to program a target", 1)) << ReadAll(Path("err"));
    Poke("detach");
    ASSERT_TRUE(WaitForErr("Waiting for Target Board", 1)) << ReadAll(Path("err"));
    Poke("attach");
    ASSERT_TRUE(WaitForErr("Auto Program: Complete (1 devices", 1)) << ReadAll(Path("err"));
    Poke("detach");
    ASSERT_TRUE(WaitForErr("Waiting for Target Board", 2)) << ReadAll(Path("err"));
    // Replaced as an editor saves it: written aside, then renamed over the old file.
    THexList changed = WriteImage(Path("new.hex"), 10);
    ASSERT_EQ(std::rename(Path("new.hex").c_str(), Path("in.hex").c_str()), 0);
    Poke("attach");
    ASSERT_TRUE(WaitForErr("Auto Program: Complete (2 devices", 1)) << ReadAll(Path("err"));
    kill(cli, SIGINT);
    int status = 0;
    waitpid(cli, &status, 0);
    const std::string err = ReadAll(Path("err"));
    EXPECT_NE(err.find("Flash file changed on disk: " + Path("in.hex")), std::string::npos) << err;
    EXPECT_EQ(err.find("programming the image read before"), std::string::npos) << err;
    // The box holds the new file, none of the old (the last page holds the option byte).
    CliResult r = RunCli(Join(base, {"read", Path("out.hex")}), Settings());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const THexList read = Load(Path("out.hex"));
    uint32_t differ = 0;
    for (uint32_t a = 0; a < 0x7F00; ++a) differ += read.GetValue(a) != changed.GetValue(a);
    EXPECT_EQ(differ, 0u);
}

TEST_F(CliE2E, AGangProgramsThreeBoxesAtOnceWithOneSerialSequenceAndTheWorstExitStatus)
{
    Boxsim a({"--device", "COP8SBR9", "--strict"});
    Boxsim b({"--device", "COP8SBR9", "--strict"});
    Boxsim bad({"--device", "COP8SBR9", "--stuck-address", "0200"});
    ASSERT_FALSE(a.Path().empty());
    ASSERT_FALSE(bad.Path().empty());
    WriteImage(Path("in.hex"), 77);
    const std::vector<std::string> base = {"--hardware", "com", "--device", "COP8SBR9", "--no-settings",
                                           "--port", a.Path(), "--port", bad.Path(), "--port", b.Path(),
                                           "--steps", "erase,program,verify,serial", "--serial-start", "0x1000",
                                           "--serial-at", "7F00", "--record", Path("record.csv")};
    CliResult r = RunCli(Join(base, {"auto", Path("in.hex")}), Settings());
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    // Every line names its box, and a table sums them up.
    for (const Boxsim* box : {&a, &b, &bad})
        EXPECT_NE(r.err.find("[" + box->Path() + "] Flash: Programming"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[" + bad.Path() + "] Verify Failed at 0200h"), std::string::npos) << r.err;
    EXPECT_TRUE(HasRow(r.out, a.Path(), "ok")) << r.out;
    EXPECT_TRUE(HasRow(r.out, bad.Path(), "verify failed  3")) << r.out;
    EXPECT_NE(r.out.find("Next serial number: 4099; given back and not used: "), std::string::npos) << r.out;

    // Three different numbers were handed out; the two passed boards carry two of them.
    const std::string record = ReadAll(Path("record.csv"));
    std::vector<std::string> serials;
    for (const char* s : {",1000,", ",1001,", ",1002,"})
        if (record.find(s) != std::string::npos) serials.push_back(s);
    EXPECT_EQ(serials.size(), 3u) << record;
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 4) << record;

    // A second run has its own sequence from its --serial-start; --json gathers the boxes' results.
    r = RunCli({"--hardware", "com", "--device", "COP8SBR9", "--no-settings", "--port", a.Path(), "--port", b.Path(),
                "--json", "--steps", "program,serial", "--serial-start", "7", "--serial-at", "7F00", "auto",
                Path("in.hex")},
               Settings());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\"ok\":true"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"serials\":\"Next serial number: 9\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"port\":\"" + a.Path() + "\""), std::string::npos) << r.out;
}

TEST_F(CliE2E, GangUsageMistakesAreRefusedBeforeAnyBoxIsTouched)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--port", "COM1", "--port", "COM1", "erase"},
             {"--port", "COM1", "--port", "COM2", "read", Path("x.hex")},
             {"--serial-start", "5", "auto", Path("in.hex"), "--steps", "program,serial"},
             {"--serial-start", "5", "--serial-at", "100", "auto", Path("in.hex"), "--steps", "program"},
             {"--serial-start", "0x100000000", "--serial-at", "100", "auto", Path("in.hex"), "--steps", "serial"},
             {"--serial-start", "0x10000", "--serial-at", "100", "auto", Path("in.hex"), "--steps", "serial"},
             {"--serial-start", "0x1000000", "--serial-size", "3", "--serial-at", "100", "auto", Path("in.hex"),
              "--steps", "serial"}}) {
        const CliResult r = RunCli(Join({"--no-settings"}, args), Settings());
        EXPECT_EQ(r.exitCode, 2) << args.back() << r.err;
    }
}

TEST_F(CliE2E, VerboseTracesTheBytesExchangedWithTheBox)
{
    Boxsim box({"--device", "COP8SBR9"});
    ASSERT_FALSE(box.Path().empty());
    const CliResult r = RunCli({"--hardware", "com", "--port", box.Path(), "--device", "COP8SBR9", "--no-settings", "-v",
                                "read-options"},
                               Settings());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(" > S\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" < ZEMPRIX01<0D>\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("trace "), std::string::npos) << r.err;
    // The box's identification is traced before the status line that reports it.
    const size_t ident = r.err.find(" < ZEMPRIX01<0D>\n");
    const size_t initialized = r.err.find("ISP Initialized");
    ASSERT_NE(ident, std::string::npos) << r.err;
    ASSERT_NE(initialized, std::string::npos) << r.err;
    EXPECT_LT(ident, initialized) << r.err;
    // The last answer before a status line is not held back until the next byte is sent.
    const size_t optionAnswer = r.err.find(" < FF<0D>\n", r.err.find(" > r7FFF\n"));
    const size_t readComplete = r.err.find("OPTIONS: Read Complete");
    ASSERT_NE(optionAnswer, std::string::npos) << r.err;
    ASSERT_NE(readComplete, std::string::npos) << r.err;
    EXPECT_LT(optionAnswer, readComplete) << r.err;
}

// A --serial-at where the number cannot go is the command line's mistake, told before any box
// is touched and naming why; the last byte of the image is the option byte's.
TEST_F(CliE2E, SerialLocationsOutsideTheImageOrOnTheOptionByteAreUsageErrors)
{
    WriteImage(Path("in.hex"), 3);
    struct Case {
        std::vector<std::string> args;
        std::string why;
    };
    const Case cases[] = {
        {{"--serial-at", "9000"}, "--serial-at 9000h is not valid for COP8SBR9: 2 bytes there run past the image"},
        {{"--serial-at", "7FFE"}, "--serial-at 7FFEh is not valid for COP8SBR9: 2 bytes there reach the option byte at 7FFFh"},
        {{"--serial-at", "7FFC", "--serial-size", "4"},
         "--serial-at 7FFCh is not valid for COP8SBR9: 4 bytes there reach the option byte at 7FFFh"},
    };
    for (const Case& c : cases) {
        for (const char* mode : {"-v", "--json"}) {
            const std::vector<std::string> base = {"--hardware", "com", "--port", "/dev/zemprix-no-such-box", "--device",
                                                   "COP8SBR9", "--no-settings", mode, "--steps", "program,serial",
                                                   "--serial-start", "1", "auto", Path("in.hex")};
            const CliResult r = RunCli(Join(base, c.args), Settings());
            EXPECT_EQ(r.exitCode, 2) << c.why << r.err;
            EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("Unknown exception"), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("ISP Initializing"), std::string::npos) << "the box is not touched: " << r.err;
            if (std::string(mode) == "--json") {
                EXPECT_NE(r.out.find("\"exitCode\":2"), std::string::npos) << r.out;
            }
        }
    }
}

// A record or log that cannot be written is refused before any board, whatever the output mode;
// --record belongs to auto, the only command that records boards.
TEST_F(CliE2E, RecordAndLogFilesThatCannotBeWrittenAreUsageErrorsBeforeTheFirstBoard)
{
    Boxsim box({"--device", "COP8SBR9", "--strict"});
    ASSERT_FALSE(box.Path().empty());
    WriteImage(Path("in.hex"), 5);
    const std::vector<std::string> base = {"--hardware", "com", "--port", box.Path(), "--device", "COP8SBR9",
                                           "--no-settings", "--steps", "erase,program"};
    const std::string missing = Path("no/such/dir/file");
    struct Case {
        std::vector<std::string> args;
        std::string why;
    };
    const Case cases[] = {
        {{"--record", missing, "auto", Path("in.hex")}, "--record: Production record: cannot open " + missing},
        {{"--record", dir.path().toStdString(), "auto", Path("in.hex")}, "Is a directory"},
        {{"--log-file", missing, "auto", Path("in.hex")}, "--log-file: cannot open " + missing},
        {{"--log-file", missing, "erase"}, "--log-file: cannot open " + missing},
        {{"--record", Path("r.csv"), "erase"}, "--record belongs to the auto command"},
    };
    for (const Case& c : cases) {
        for (const std::vector<std::string>& mode : std::vector<std::vector<std::string>>{{}, {"--json"}, {"-q"}, {"--json", "-q"}}) {
            const CliResult r = RunCli(Join(Join(base, mode), c.args), Settings());
            SCOPED_TRACE(c.why + (mode.empty() ? "" : " " + mode[0]));
            EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
            EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("Flash: Programming"), std::string::npos) << "no board may be touched: " << r.err;
            EXPECT_EQ(r.err.find("ISP Init"), std::string::npos) << r.err;
            if (!mode.empty() && mode[0] == "--json") {
                EXPECT_NE(r.out.find("\"ok\":false"), std::string::npos) << r.out;
                EXPECT_NE(r.out.find("\"exitCode\":2"), std::string::npos) << r.out;
            }
        }
    }
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Path("r.csv"))));
    // A gang refuses it in every box before any is touched.
    const CliResult gang = RunCli({"--hardware", "com", "--device", "COP8SBR9", "--no-settings", "--port", box.Path(),
                                   "--port", Path("no-box"), "--steps", "program", "--record", missing, "auto", Path("in.hex")},
                                  Settings());
    EXPECT_EQ(gang.exitCode, 2) << gang.out << gang.err;
    EXPECT_EQ(gang.err.find("Flash: Programming"), std::string::npos) << gang.err;

    // A writable record gets its header and the board's line, in the screen's words.
    const CliResult r = RunCli(Join(base, {"-q", "--record", Path("ok.csv"), "--log-file", Path("ok.log"), "auto", Path("in.hex")}),
                               Settings());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string record = ReadAll(Path("ok.csv"));
    EXPECT_EQ(record.rfind(std::string(TProductionRecord::kHeader) + "\n", 0), 0u) << record;
    EXPECT_NE(record.find(",erase+program,ok,\n"), std::string::npos) << record;
    EXPECT_NE(ReadAll(Path("ok.log")).find("Auto Program: Complete"), std::string::npos);
}

// The largest 4-byte number goes to one board; the next box's board is refused, as a 2-byte
// number past FFFFh is, instead of getting 00000000h.
TEST_F(CliE2E, AGangPastTheLargestFourByteSerialRefusesTheBoardInsteadOfWrapping)
{
    Boxsim a({"--device", "COP8SBR9", "--strict"});
    Boxsim b({"--device", "COP8SBR9", "--strict"});
    ASSERT_FALSE(a.Path().empty());
    ASSERT_FALSE(b.Path().empty());
    WriteImage(Path("in.hex"), 11);
    const CliResult r = RunCli({"--hardware", "com", "--device", "COP8SBR9", "--no-settings", "--port", a.Path(), "--port",
                                b.Path(), "--steps", "program,serial", "--serial-start", "0xFFFFFFFF", "--serial-size", "4",
                                "--serial-at", "7F00", "--record", Path("record.csv"), "auto", Path("in.hex")},
                               Settings());
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("Serial Number: 100000000h does not fit in 4 bytes - choose a larger size"), std::string::npos)
        << r.err;
    const std::string record = ReadAll(Path("record.csv"));
    EXPECT_NE(record.find(",FFFFFFFF,program+serial,ok,"), std::string::npos) << record;
    EXPECT_NE(record.find(",failed,Serial Number: 100000000h does not fit in 4 bytes - choose a larger size"), std::string::npos)
        << record;
    EXPECT_EQ(record.find(",00000000,"), std::string::npos) << record;
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 3) << record;
}

// A record line lost to a full disk after the board was programmed: the run is not a success,
// and the reason is a failure line that -q keeps.
TEST_F(CliE2E, ARecordLineLostToAFullDiskFailsTheRun)
{
    if (!QFileInfo::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Boxsim box({"--device", "COP8SBR9", "--strict"});
    ASSERT_FALSE(box.Path().empty());
    WriteImage(Path("in.hex"), 6);
    const CliResult r = RunCli({"--hardware", "com", "--port", box.Path(), "--device", "COP8SBR9", "--no-settings", "-q",
                                "--json", "--steps", "program", "--record", "/dev/full", "auto", Path("in.hex")},
                               Settings());
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("Production record: cannot write /dev/full: No space left on device"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("\"ok\":false"), std::string::npos) << r.out;
}

// A supervisor that stops a gang signals the gang's own PID: each box ends its board like the Abort
// button, and the gang still sums the boxes up.
TEST_F(CliE2E, AGangPassesASignalSentToItsOwnPidOnToEveryBox)
{
    Boxsim a({"--device", "COP8SBR9", "--pace", "--strict"});
    Boxsim b({"--device", "COP8SBR9", "--pace", "--strict"});
    ASSERT_FALSE(a.Path().empty());
    ASSERT_FALSE(b.Path().empty());
    WriteImage(Path("in.hex"), 21);
    const std::vector<std::string> base = {"--hardware", "com", "--device", "COP8SBR9", "--no-settings"};
    const pid_t gang = StartCli(Join(base, {"--port", a.Path(), "--port", b.Path(), "program", Path("in.hex")}),
                                dir.path().toStdString());
    ASSERT_TRUE(WaitForText(Path("err"), "[" + a.Path() + "] Flash: Programming", 20)) << ReadAll(Path("err"));
    ASSERT_TRUE(WaitForText(Path("err"), "[" + b.Path() + "] Flash: Programming", 20)) << ReadAll(Path("err"));
    kill(gang, SIGINT);
    int status = 0;
    waitpid(gang, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << ReadAll(Path("err"));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT) << ReadAll(Path("err"));
    const std::string err = ReadAll(Path("err"));
    const std::string out = ReadAll(Path("out"));
    for (const Boxsim* box : {&a, &b}) {
        EXPECT_NE(err.find("[" + box->Path() + "] Operation Cancelled by user"), std::string::npos) << err;
        EXPECT_TRUE(HasRow(out, box->Path(), "interrupted    130")) << out;
        EXPECT_EQ(RunCli(Join(base, {"--port", box->Path(), "read-options"}), Settings()).exitCode, 0);
    }
    EXPECT_EQ(err.find("Programming Complete"), std::string::npos) << err;
}

// The table's last line comes from the boxes' status lines, whatever their stderr shows; the log
// file the boxes share tells them apart.
TEST_F(CliE2E, AGangsTableAndLogFileNameEachBoxWithQuietAndJsonProgress)
{
    Boxsim a({"--device", "COP8SBR9"});
    Boxsim bad({"--device", "COP8SBR9", "--stuck-address", "0200"});
    ASSERT_FALSE(a.Path().empty());
    ASSERT_FALSE(bad.Path().empty());
    WriteImage(Path("in.hex"), 33);
    for (const char* mode : {"-q", "--progress=json"}) {
        std::remove(Path("run.log").c_str());
        const CliResult r = RunCli({"--hardware", "com", "--device", "COP8SBR9", "--no-settings", "--port", a.Path(),
                                    "--port", bad.Path(), mode, "--log-file", Path("run.log"), "--steps",
                                    "erase,program,verify", "auto", Path("in.hex")},
                                   Settings());
        EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
        EXPECT_TRUE(HasRow(r.out, a.Path(), "ok             0     Auto Program: Complete"))
            << mode << "\n" << r.out;
        EXPECT_TRUE(HasRow(r.out, bad.Path(), "verify failed  3     ")) << mode << "\n" << r.out;
        std::istringstream table(r.out);
        for (std::string row; std::getline(table, row);) {
            if (row.rfind(bad.Path(), 0) == 0) {
                EXPECT_GT(row.size(), bad.Path().size() + 28) << row;
            }
        }

        std::istringstream log(ReadAll(Path("run.log")));
        int lines = 0, named[2] = {0, 0};
        for (std::string line; std::getline(log, line); ++lines) {
            named[0] += line.find(" [" + a.Path() + "] ") == 19;
            named[1] += line.find(" [" + bad.Path() + "] ") == 19;
        }
        EXPECT_GT(named[0], 3) << mode;
        EXPECT_GT(named[1], 3) << mode;
        EXPECT_EQ(named[0] + named[1], lines) << mode;
    }
}

TEST_F(CliE2E, QuietKeepsTheDifferingBytesAndTheVerifySummary)
{
    Boxsim box({"--device", "COP8SBR9"});  // erased: every byte of the image differs
    ASSERT_FALSE(box.Path().empty());
    WriteImage(Path("in.hex"), 41);
    const CliResult r = RunCli({"--hardware", "com", "--port", box.Path(), "--device", "COP8SBR9", "--no-settings", "-q",
                                "verify", Path("in.hex")},
                               Settings());
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_NE(r.err.find("Verify Failed at 0000h: Read FFh - Should have been "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\nVerify summary: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\nFlash: Verification Failed"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Flash: Verifying"), std::string::npos) << r.err;
}

TEST_F(CliE2E, WithJsonProgressAUsageErrorAlsoEndsWithAResultObject)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--progress", "json", "--no-such-option", "devices"},
             {"--progress=json", "--clock", "99", "devices"},
             {"--progress", "json", "no-such-command"}}) {
        const CliResult r = RunCli(args, Settings());
        EXPECT_EQ(r.exitCode, 2) << r.err;
        std::string last;
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) last = line;
        EXPECT_EQ(last.rfind("{\"type\":\"result\"", 0), 0u) << r.err;
        EXPECT_NE(last.find("\"exitCode\":2"), std::string::npos) << last;
    }
}

// A gang's boxes write to pipes, yet on the gang's terminal their results are coloured as a single
// run's are, and so are the table's results.
TEST_F(CliE2E, AGangOnATerminalColoursItsBoxesResults)
{
    Boxsim a({"--device", "COP8SBR9"});
    Boxsim bad({"--device", "COP8SBR9", "--stuck-address", "0200"});
    ASSERT_FALSE(a.Path().empty());
    ASSERT_FALSE(bad.Path().empty());
    WriteImage(Path("in.hex"), 55);
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::vector<std::string> args = {"--hardware", "com", "--device", "COP8SBR9", "--no-settings", "--port",
                                           a.Path(), "--port", bad.Path(), "program", Path("in.hex")};
    const pid_t child = fork();
    if (child == 0) {
        dup2(slave, 1);
        dup2(slave, 2);
        close(master);
        setenv("TERM", "xterm", 1);
        unsetenv("NO_COLOR");
        setenv("ZEMPRIX_SETTINGS_DIR", Settings().c_str(), 1);
        std::vector<char*> argv;
        const std::string exe = CliPath();
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const auto& s : args) argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(slave);
    const std::string text = ReadToEnd(master);
    close(master);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << text;
    EXPECT_EQ(WEXITSTATUS(status), 3) << text;
    EXPECT_NE(text.find("[" + a.Path() + "] \x1b[32mFlash: Programming Complete"), std::string::npos) << text;
    EXPECT_NE(text.find("[" + bad.Path() + "] \x1b[31m"), std::string::npos) << text;
    EXPECT_TRUE(HasRow(text, a.Path(), "\x1b[32mok           \x1b[0m  0")) << text;
    EXPECT_TRUE(HasRow(text, bad.Path(), "\x1b[31mverify failed\x1b[0m  3")) << text;
}
