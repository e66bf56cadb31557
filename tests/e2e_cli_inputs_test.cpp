// zemprix-cli's checks that come before the box: projects that need only the settings, input and
// output files refused with their reason before connecting, and plug-and-program starting with
// no board on a box that refuses the timing without one.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sys/stat.h>

#include "devices/devices.h"
#include "e2e_support.h"
#include "image/hexfile.h"
#include "image/hexlist.h"

namespace {

struct CliInputs : ::testing::Test {
    QTemporaryDir dir;

    std::string Path(const char* name) const { return dir.path().toStdString() + "/" + name; }
    std::string Settings() const { return Path("settings"); }
    // A port nothing answers on: a command that connects fails on it.
    std::vector<std::string> NoBox() const { return {"--hardware", "com", "--port", Path("nobox"), "--device", "COP8SBR9"}; }

    void WriteImage(const std::string& file)
    {
        const TDevice& device = *DeviceList().FindDevice("COP8SBR9", 0x04);
        THexList img;
        img.SetSize(static_cast<uint32_t>(device.FlashSize()));
        for (uint32_t a = 0; a < 256; ++a) img.SetValue(a, static_cast<uint8_t>(a));
        ASSERT_EQ(TFileLoader::SaveFile(file, img, ff_IntelHex32), 0);
    }
    static std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
};

const char kNoPort[] = "Could not open communications port";

}  // namespace

TEST_F(CliInputs, ProjectsAreSavedAndLoadedWithNoBoxAttached)
{
    WriteImage(Path("in.hex"));
    CliResult r = RunCli(Join(NoBox(), {"--steps", "erase,program", "project", "save", "Line A", Path("in.hex")}), Settings());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find(kNoPort), std::string::npos) << r.err;
    std::string conf = ReadAll(Settings() + "/morvel/ZEMPRIX.conf");
    EXPECT_NE(conf.find("FLASHFILE=" + Path("in.hex")), std::string::npos) << conf;
    EXPECT_NE(conf.find("CONFIG\\HARDWARE=ZEMPRIX (COM)"), std::string::npos) << conf;
    EXPECT_NE(conf.find("CONFIG\\DEVICE=COP8SBR9"), std::string::npos) << conf;

    // Loading with nothing on the command line: the remembered hardware has no box either.
    r = RunCli({"project", "load", "Line A"}, Settings());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Project Load Complete"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(kNoPort), std::string::npos) << r.err;
    conf = ReadAll(Settings() + "/morvel/ZEMPRIX.conf");
    EXPECT_NE(conf.find("ENVIRONMENT\\LASTDEVICE=COP8SBR9"), std::string::npos) << conf;
    EXPECT_NE(conf.find("ENVIRONMENT\\LASTHARDWARE=ZEMPRIX (COM)"), std::string::npos) << conf;
    EXPECT_NE(conf.find("AUTOPROGRAM\\2=True"), std::string::npos) << conf;

    // A project whose file has gone still loads, and says so in its exit status.
    std::remove(Path("in.hex").c_str());
    r = RunCli({"project", "load", "Line A"}, Settings());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Flash: Could not open " + Path("in.hex")), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(kNoPort), std::string::npos) << r.err;
}

TEST_F(CliInputs, InputFilesThatCannotBeReadFailBeforeConnecting)
{
    QDir().mkpath(QString::fromStdString(Path("folder.hex")));
    struct Case {
        std::vector<std::string> args;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {{"program", Path("missing.hex")}, "Cannot read " + Path("missing.hex") + ": No such file or directory"},
        {{"verify", Path("missing.hex")}, "Cannot read " + Path("missing.hex") + ": No such file or directory"},
        {{"--steps", "program", "auto", Path("missing.hex")}, "Cannot read " + Path("missing.hex") + ": No such file or directory"},
        {{"program", Path("folder.hex")}, "Cannot read " + Path("folder.hex") + ": Is a directory"},
    };
    for (const Case& c : cases) {
        const CliResult r = RunCli(Join(Join(NoBox(), {"--no-settings", "--json"}), c.args), Settings());
        EXPECT_EQ(r.exitCode, 1) << c.args[0] << r.err;
        EXPECT_NE(r.err.find("Flash File Load: File load failed - " + c.reason), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("\"error\":\"" + c.reason + "\""), std::string::npos) << r.out;
        EXPECT_EQ(r.err.find(kNoPort), std::string::npos) << r.err;
    }
    if (geteuid() != 0) {
        WriteImage(Path("secret.hex"));
        ASSERT_EQ(chmod(Path("secret.hex").c_str(), 0), 0);
        const CliResult r = RunCli(Join(NoBox(), {"--no-settings", "program", Path("secret.hex")}), Settings());
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("Cannot read " + Path("secret.hex") + ": Permission denied"), std::string::npos) << r.err;
    }
}

TEST_F(CliInputs, AReadWhoseOutputCannotBeWrittenFailsBeforeConnecting)
{
    QDir().mkpath(QString::fromStdString(Path("folder.hex")));
    std::vector<std::pair<std::string, std::string>> cases = {
        {Path("no/such/dir/out.hex"), "No such file or directory"},
        {Path("folder.hex"), "Is a directory"},
    };
    if (geteuid() != 0) {
        QDir().mkpath(QString::fromStdString(Path("locked")));
        ASSERT_EQ(chmod(Path("locked").c_str(), 0555), 0);
        cases.push_back({Path("locked/out.hex"), "Permission denied"});
    }
    for (const auto& [file, reason] : cases) {
        const CliResult r = RunCli(Join(NoBox(), {"--no-settings", "read", file}), Settings());
        EXPECT_EQ(r.exitCode, 1) << file;
        EXPECT_NE(r.err.find("Flash: Save Failed (" + file + ") - Could not save " + file + ": " + reason), std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find(kNoPort), std::string::npos) << r.err;
    }
    // The probe leaves nothing behind in a folder it may write.
    const CliResult r = RunCli(Join(NoBox(), {"--no-settings", "read", Path("fine.hex")}), Settings());
    EXPECT_NE(r.err.find(kNoPort), std::string::npos) << r.err;
    EXPECT_EQ(QDir(dir.path()).entryList({"fine.hex*"}).size(), 0) << r.err;
}

// A box that refuses the timing without a target ("?m"): the loop still starts, waits, and
// programs the board once it is attached.
TEST_F(CliInputs, PlugAndProgStartsWithNoBoardOnABoxThatRefusesTheTiming)
{
    Boxsim box({"--device", "COP8SBR9", "--no-target", "--timing-needs-target", "--poke-file", Path("poke")});
    ASSERT_FALSE(box.Path().empty());
    WriteImage(Path("in.hex"));
    const pid_t cli = fork();
    if (cli == 0) {
        if (!std::freopen(Path("out").c_str(), "w", stdout) || !std::freopen(Path("err").c_str(), "w", stderr)) _exit(126);
        setenv("ZEMPRIX_SETTINGS_DIR", Settings().c_str(), 1);
        const std::string exe = CliPath();
        std::vector<std::string> args = {exe, "--hardware", "com", "--port", box.Path(), "--device", "COP8SBR9",
                                         "--no-settings", "--steps", "erase,program", "auto", "--plug-and-prog", Path("in.hex")};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    ASSERT_TRUE(WaitForText(Path("err"), "Plug and Program Mode: Waiting for Target Board", 20)) << ReadAll(Path("err"));
    std::ofstream(Path("poke.tmp")) << "attach\n";
    ASSERT_EQ(std::rename(Path("poke.tmp").c_str(), Path("poke").c_str()), 0);
    EXPECT_TRUE(WaitForText(Path("err"), "Auto Program: Complete (1 devices programmed this session)", 30)) << ReadAll(Path("err"));
    kill(cli, SIGINT);
    int status = 0;
    waitpid(cli, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << ReadAll(Path("err"));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT) << ReadAll(Path("err"));
}

// A settings file far too large is refused at once: a command that needs it fails with the reason,
// one that does not runs on defaults.
TEST_F(CliInputs, ASettingsFileFarTooLargeIsRefusedWithTheReason)
{
    QDir().mkpath(QString::fromStdString(Settings() + "/morvel"));
    {
        std::ofstream out(Settings() + "/morvel/ZEMPRIX.conf", std::ios::binary);
        out << "[GLOBAL]\n";
        const std::string line = "A=" + std::string(1 << 20, 'x') + "\n";
        for (int i = 0; i < 8; ++i) out << line;
    }
    CliResult r = RunCli(Join(NoBox(), {"info"}), Settings());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("zemprix-cli: The settings file " + Settings() + "/morvel/ZEMPRIX.conf is too large"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find(kNoPort), std::string::npos) << r.err;
    r = RunCli({"devices"}, Settings());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("is too large"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(running on defaults)"), std::string::npos) << r.err;
}

// The production program carries no simulated port: it says where that is instead of reporting
// a missing port.
TEST_F(CliInputs, TheProductionProgramPointsToTheSimulatorsBuildForTheSimulatedPort)
{
    WriteImage(Path("in.hex"));
    const std::string exe = CliPath();
    const pid_t child = fork();
    if (child == 0) {
        if (!std::freopen(Path("err").c_str(), "w", stderr)) _exit(126);
        setenv("ZEMPRIX_PORTIO", "sim", 1);
        std::vector<std::string> args = {exe, "--hardware", "lpt", "--port", "LPT1", "--no-settings", "program", Path("in.hex")};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const std::string err = ReadAll(Path("err"));
    ASSERT_TRUE(WIFEXITED(status)) << err;
    EXPECT_EQ(WEXITSTATUS(status), 1) << err;
    EXPECT_NE(err.find("ZEMPRIX_PORTIO=sim: the simulated parallel port is in zemprix-cli-sim"), std::string::npos) << err;
    EXPECT_EQ(err.find("LPT port not found"), std::string::npos) << err;
}
