// Ports by identity and the doctor's checks against prepared system trees: USB adapters with
// their ids and stable names, the COMn order, a user outside the port's group, a port held by
// another program, ModemManager running, no ppdev.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "app/session.h"
#include "doctor.h"
#include "e2e_support.h"
#include "link/portidentity.h"

namespace fs = std::filesystem;

namespace {

struct PreparedSystem : ::testing::Test {
    QTemporaryDir dir;
    std::string root = dir.path().toStdString();

    void Write(const std::string& path, const std::string& text)
    {
        fs::create_directories(fs::path(root + path).parent_path());
        std::ofstream(root + path) << text << "\n";
    }
    void Link(const std::string& path, const std::string& target)
    {
        fs::create_directories(fs::path(root + path).parent_path());
        fs::create_symlink(target, root + path);
    }
    // A USB serial adapter at /sys/devices/pci0/usbN/DEV with its tty `name`.
    void Adapter(const std::string& name, const std::string& dev, const std::string& vid, const std::string& pid,
                 const std::string& serial, const std::string& product)
    {
        const std::string usb = "/sys/devices/pci0/usb1/" + dev;
        Write(usb + "/idVendor", vid);
        Write(usb + "/idProduct", pid);
        if (!serial.empty()) Write(usb + "/serial", serial);
        Write(usb + "/product", product);
        fs::create_directories(root + usb + "/" + dev + ":1.0/" + name);
        Link("/sys/class/tty/" + name + "/device", "../../../devices/pci0/usb1/" + dev + "/" + dev + ":1.0/" + name);
        Node("/dev/" + name);
    }
    void Node(const std::string& path)
    {
        Write(path, "");
        chmod((root + path).c_str(), 0660);
    }
    gid_t NodeGroup(const std::string& path)
    {
        struct stat st {};
        stat((root + path).c_str(), &st);
        return st.st_gid;
    }
    void SetUp() override
    {
        Adapter("ttyUSB0", "1-1", "0403", "6001", "A10K5XYZ", "FT232R USB UART");
        Adapter("ttyACM0", "1-2", "2341", "0043", "", "Uno");
        // A UART that is there, one the driver lists although nothing is there, a virtual console.
        fs::create_directories(root + "/sys/devices/platform/serial8250/tty/ttyS1");
        Link("/sys/class/tty/ttyS1/device", "../../../devices/platform/serial8250");
        Write("/sys/class/tty/ttyS1/type", "4");
        Node("/dev/ttyS1");
        Link("/sys/class/tty/ttyS0/device", "../../../devices/platform/serial8250");
        Write("/sys/class/tty/ttyS0/type", "0");
        fs::create_directories(root + "/sys/class/tty/tty1");
        Link("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0", "../../ttyUSB0");
        Write("/proc/sys/dev/parport/parport0/base-addr", "888\t1912");
        Node("/dev/parport0");
        unsetenv("ZEMPRIX_COM1");
        unsetenv("ZEMPRIX_COM2");
    }
    TSystemView User(std::vector<gid_t> groups = {})
    {
        TSystemView v;
        v.Root = root;
        v.UserName = "alice";
        v.Uid = 4242;
        v.Groups = std::move(groups);
        return v;
    }
    static const TCheck* Find(const std::vector<TCheck>& checks, const std::string& text)
    {
        for (const TCheck& c : checks)
            if ((c.Name + ": " + c.Message).find(text) != std::string::npos) return &c;
        return nullptr;
    }
};

}  // namespace

TEST_F(PreparedSystem, PortsAreListedWithTheirIdentitiesInComOrder)
{
    const auto serial = ListSerialPortIdentities(root);
    ASSERT_EQ(serial.size(), 3u);
    EXPECT_EQ(DescribeSerialPort(serial[0]), "COM1 = /dev/ttyACM0 (2341:0043 Uno)");
    EXPECT_EQ(DescribeSerialPort(serial[1]), "COM2 = /dev/ttyUSB0 (0403:6001 FT232R USB UART, serial A10K5XYZ)");
    EXPECT_EQ(serial[1].ById, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0");
    EXPECT_EQ(DescribeSerialPort(serial[2]), "COM3 = /dev/ttyS1");
    EXPECT_EQ(SerialPortsInComOrder(root), (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyS1"}));

    // A variable takes its number over; the port that had it keeps none.
    setenv("ZEMPRIX_COM2", "/dev/pts/9", 1);
    const auto overridden = ListSerialPortIdentities(root);
    unsetenv("ZEMPRIX_COM2");
    ASSERT_EQ(overridden.size(), 4u);
    EXPECT_EQ(overridden[1].ComNumber, 0);
    EXPECT_EQ(DescribeSerialPort(overridden[3]), "COM2 = /dev/pts/9 (ZEMPRIX_COM2)");

    const auto parallel = ListParallelPortIdentities(root);
    ASSERT_EQ(parallel.size(), 1u);
    EXPECT_EQ(DescribeParallelPort(parallel[0]), "LPT1 = /dev/parport0 (base 0378h)");
}

TEST_F(PreparedSystem, UsbSelectorsNameAdaptersByIdsAndSerialNumber)
{
    auto one = MatchUsbSelector("usb:0403:6001", root);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].Device, "/dev/ttyUSB0");
    EXPECT_EQ(MatchUsbSelector("USB:0403:6001:A10K5XYZ", root).size(), 1u);
    EXPECT_TRUE(MatchUsbSelector("usb:0403:6001:OTHER", root).empty());
    Adapter("ttyUSB1", "1-3", "0403", "6001", "B2", "FT232R USB UART");
    EXPECT_EQ(MatchUsbSelector("usb:0403:6001", root).size(), 2u);
    for (const char* bad : {"usb:403:6001", "usb:0403", "usb:0403:600G", "usb:0403:6001:", "usb:0403:6001:a:b"})
        EXPECT_THROW(MatchUsbSelector(bad, root), std::invalid_argument) << bad;
}

TEST_F(PreparedSystem, AUserOutsideThePortsGroupIsToldWhichGroupToJoin)
{
    const gid_t gid = NodeGroup("/dev/ttyUSB0");
    Write("/etc/group", "dialout:x:" + std::to_string(gid) + ":bob");
    auto checks = CheckPortNodes(User());
    const TCheck* usb = Find(checks, "/dev/ttyUSB0 needs group dialout");
    ASSERT_NE(usb, nullptr) << ChecksText(checks);
    EXPECT_EQ(usb->Status, TCheckStatus::Fail);
    EXPECT_EQ(usb->Fix, "sudo usermod -aG dialout alice, then log out and in");
    EXPECT_TRUE(AnyFailed(checks));

    // Listed in the group file but not yet in this login session.
    Write("/etc/group", "dialout:x:" + std::to_string(gid) + ":bob,alice");
    checks = CheckPortNodes(User());
    ASSERT_NE(Find(checks, "is a member, but not in this login session"), nullptr) << ChecksText(checks);

    checks = CheckPortNodes(User({gid}));
    EXPECT_FALSE(AnyFailed(checks)) << ChecksText(checks);
    EXPECT_NE(Find(checks, "parallel port LPT1 = /dev/parport0 (base 0378h): /dev/parport0: the user may open it"), nullptr)
        << ChecksText(checks);
}

TEST_F(PreparedSystem, AHeldPortAndServicesThatGrabAdaptersAreNamed)
{
    Write("/proc/200/comm", "minicom");
    Link("/proc/200/fd/3", "/dev/ttyUSB0");
    Link("/proc/200/fd/4", "/dev/null");
    Write("/proc/123/comm", "ModemManager");
    Write("/proc/self/comm", "zemprix-cli");
    const auto checks = CheckPortHolders(User());
    const TCheck* held = Find(checks, "/dev/ttyUSB0 is open in minicom (pid 200)");
    ASSERT_NE(held, nullptr) << ChecksText(checks);
    EXPECT_EQ(held->Status, TCheckStatus::Fail);
    const TCheck* mm = Find(checks, "ModemManager is running (pid 123)");
    ASSERT_NE(mm, nullptr) << ChecksText(checks);
    EXPECT_EQ(mm->Status, TCheckStatus::Warn);
    EXPECT_NE(mm->Fix.find("ID_MM_DEVICE_IGNORE"), std::string::npos);
}

TEST_F(PreparedSystem, ParallelPortsNeedPpdevAndTheLpDriverIsAWarning)
{
    Write("/proc/modules", "parport_pc 49152 1 - Live 0x0\nlp 20480 0 - Live 0x0\nparport 69632 2 parport_pc,lp");
    auto checks = CheckParallelDrivers(User());
    ASSERT_NE(Find(checks, "the ppdev module is not loaded"), nullptr) << ChecksText(checks);
    EXPECT_TRUE(AnyFailed(checks));
    ASSERT_NE(Find(checks, "lp printer driver"), nullptr) << ChecksText(checks);
    fs::create_directories(root + "/sys/module/ppdev");
    checks = CheckParallelDrivers(User());
    EXPECT_FALSE(AnyFailed(checks)) << ChecksText(checks);

    // Without parallel hardware there is nothing to load.
    QTemporaryDir empty;
    TSystemView bare = User();
    bare.Root = empty.path().toStdString();
    checks = CheckParallelDrivers(bare);
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0].Status, TCheckStatus::Ok);
}

TEST_F(PreparedSystem, TheCommandsReportAsTextAndJsonWithTheirExitStatus)
{
    Write("/etc/group", "dialout:x:" + std::to_string(NodeGroup("/dev/ttyUSB0")) + ":");
    Write("/proc/200/comm", "minicom");
    Link("/proc/200/fd/3", "/dev/ttyUSB0");
    const std::vector<std::string> env = {"ZEMPRIX_SYSTEM_ROOT=" + root};
    CliResult r = RunCli({"ports"}, root + "/settings", env);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("COM2 = /dev/ttyUSB0 (0403:6001 FT232R USB UART, serial A10K5XYZ)  /dev/serial/by-id/"),
              std::string::npos)
        << r.out;
    r = RunCli({"--json", "ports"}, root + "/settings", env);
    EXPECT_NE(r.out.find("\"vendorId\":\"0403\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"lpt\":\"LPT1\""), std::string::npos) << r.out;

    // The box on the held port: that fails the run.
    const std::vector<std::string> onCom2 = {"--hardware", "com", "--port", "COM2", "doctor"};
    r = RunCli(onCom2, root + "/settings", env);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("ok   box port: the serial port COM2 is /dev/ttyUSB0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("FAIL port in use: /dev/ttyUSB0 is open in minicom (pid 200)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("     fix: end that program"), std::string::npos) << r.out;
    // Without ppdev only the parallel link would suffer.
    EXPECT_NE(r.out.find("warn ppdev: the ppdev module is not loaded: /dev/parportN cannot be opened (the box is set "
                         "to the serial link)"),
              std::string::npos)
        << r.out;
    std::vector<std::string> json = onCom2;
    json.insert(json.begin(), "--json");
    r = RunCli(json, root + "/settings", env);
    EXPECT_NE(r.out.find("\"status\":\"fail\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"ok\":false"), std::string::npos) << r.out;

    // The box on another adapter: the held port is only a warning, and nothing fails.
    r = RunCli({"--hardware", "com", "--port", "COM1", "doctor"}, root + "/settings", env);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("warn port in use: /dev/ttyUSB0 is open in minicom (pid 200) (not the port in use, COM1)"),
              std::string::npos)
        << r.out;
    // The stable by-id name is the same adapter as COM2.
    r = RunCli({"--hardware", "com", "--port", root + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0",
                "doctor"},
               root + "/settings", env);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("FAIL port in use: /dev/ttyUSB0 is open in minicom (pid 200)\n"), std::string::npos) << r.out;
    // A remembered port that is not on this machine.
    r = RunCli({"--hardware", "com", "--port", "COM7", "doctor"}, root + "/settings", env);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("FAIL box port: the serial port COM7 is not on this machine"), std::string::npos) << r.out;
    // The parallel box (the first hardware, with no settings yet) needs ppdev.
    r = RunCli({"doctor"}, root + "/settings", env);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("ok   box port: the parallel port LPT1 is /dev/parport0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("FAIL ppdev"), std::string::npos) << r.out;

    // A selector that names nothing connected lists what is there.
    r = RunCli({"--hardware", "com", "--port", "usb:ffff:0001", "erase"}, root + "/settings", env);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("names no connected adapter"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("COM1 = /dev/ttyACM0"), std::string::npos) << r.err;
}

TEST_F(PreparedSystem, ProbeAsksTheBoxForItsIdentificationAndFirmware)
{
    Boxsim box({"--device", "COP8SBR9", "--firmware", "0009"});
    ASSERT_FALSE(box.Path().empty());
    const std::vector<std::string> env = {"ZEMPRIX_SYSTEM_ROOT=" + root};
    CliResult r = RunCli({"--hardware", "com", "--port", box.Path(), "--device", "COP8SBR9", "doctor", "--probe"},
                         root + "/settings", env);
    EXPECT_NE(r.out.find("ok   box: the box answers: ZEMPRIX01, firmware 0009"), std::string::npos) << r.out << r.err;
    r = RunCli({"--hardware", "com", "--port", root + "/dev/none", "--device", "COP8SBR9", "doctor", "--probe"},
               root + "/settings", env);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("FAIL box: the box did not answer"), std::string::npos) << r.out << r.err;
}

TEST_F(PreparedSystem, TheBoxOnAPortOutsideTheListIsCheckedByItsPath)
{
    // A machine without serial ports, the box on a pseudo-terminal.
    QTemporaryDir empty;
    Boxsim box({"--device", "COP8SBR9"});
    ASSERT_FALSE(box.Path().empty());
    const std::vector<std::string> env = {"ZEMPRIX_SYSTEM_ROOT=" + empty.path().toStdString()};
    CliResult r = RunCli({"--hardware", "com", "--port", box.Path(), "doctor"}, root + "/settings", env);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("ok   box port: the serial port " + box.Path() + " is there"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("warn serial ports: no serial port found"), std::string::npos) << r.out;
}

TEST_F(PreparedSystem, AnAdapterThatHoldsAnswersForItsLatencyTimerIsReportedWithTheFix)
{
    const std::string timer = "/sys/devices/pci0/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer";
    Write(timer, "16");
    auto checks = CheckAdapterLatency(User());
    ASSERT_EQ(checks.size(), 1u) << ChecksText(checks);  // the ACM adapter has no timer
    EXPECT_EQ(checks[0].Status, TCheckStatus::Warn);
    EXPECT_EQ(checks[0].Device, "/dev/ttyUSB0");
    EXPECT_NE(checks[0].Message.find("up to 16 ms (latency_timer), which adds about 33 s"), std::string::npos)
        << checks[0].Message;
    EXPECT_NE(checks[0].Fix.find("echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer"), std::string::npos)
        << checks[0].Fix;
    // Set to 1 ms, or unreadable text: nothing to report.
    for (const char* value : {"1", "0", "", "fast"}) {
        Write(timer, value);
        EXPECT_TRUE(CheckAdapterLatency(User()).empty()) << value;
    }

    // The command reports it among its checks; a slow adapter does not fail the run.
    Write(timer, "16");
    fs::create_directories(root + "/sys/module/ppdev");
    const std::vector<std::string> env = {"ZEMPRIX_SYSTEM_ROOT=" + root};
    const CliResult r = RunCli({"--hardware", "com", "--port", "COM2", "doctor"}, root + "/settings", env);
    EXPECT_NE(r.out.find("warn latency timer: /dev/ttyUSB0 holds every answer of the box up to 16 ms"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("     fix: echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer"), std::string::npos)
        << r.out;
}

TEST_F(PreparedSystem, AHolderOfTheBoxsPortGivenAsAPathIsFoundByAnyOfItsNames)
{
    // A port the system does not list (a pseudo-terminal, say), reached through a link.
    Node("/dev/ttyBOX");
    Link("/dev/box", "ttyBOX");
    Write("/proc/300/comm", "picocom");
    Link("/proc/300/fd/5", "/dev/ttyBOX");
    const std::string given = root + "/dev/box";
    auto checks = CheckPortHolders(User(), given);
    const TCheck* held = Find(checks, given + " is open in picocom (pid 300)");
    ASSERT_NE(held, nullptr) << ChecksText(checks);
    EXPECT_EQ(held->Status, TCheckStatus::Fail);
    EXPECT_EQ(Find(CheckPortHolders(User()), "picocom"), nullptr);
    // What a failed open names: every holder, by whichever name it opened the port.
    Write("/proc/40/comm", "cat");
    Link("/proc/40/fd/0", "/dev/box");
    EXPECT_EQ(DescribePortHolders(given, root), "cat (pid 40), picocom (pid 300)");
    EXPECT_EQ(DescribePortHolders(root + "/dev/ttyS1", root), "");
    // A listed port given by a path with ".." is the listed port, named once.
    Link("/proc/300/fd/6", "/dev/ttyUSB0");
    checks = CheckPortHolders(User(), root + "/dev/serial/../ttyUSB0");
    ASSERT_NE(Find(checks, "/dev/ttyUSB0 is open in picocom (pid 300)"), nullptr) << ChecksText(checks);
    EXPECT_EQ(Find(checks, "../ttyUSB0 is open"), nullptr) << ChecksText(checks);

    const std::vector<std::string> env = {"ZEMPRIX_SYSTEM_ROOT=" + root};
    const CliResult r = RunCli({"--hardware", "com", "--port", given, "doctor"}, root + "/settings", env);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("FAIL port in use: " + given + " is open in cat (pid 40), picocom (pid 300)\n"), std::string::npos)
        << r.out;
}

TEST_F(PreparedSystem, TextFromSysfsIsEscapedInEveryMessage)
{
    Adapter("ttyUSB1", "1-3", "1a86", "7523", "\x1b]0;owned\x07", "Evil\x1b[2J adapter");
    const std::vector<std::string> env = {"ZEMPRIX_SYSTEM_ROOT=" + root};
    // The usage error that lists the adapters, the listing and the doctor's findings.
    CliResult r = RunCli({"--hardware", "com", "--port", "usb:ffff:0001", "erase"}, root + "/settings", env);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Evil\\x1B[2J adapter, serial \\x1B]0;owned\\x07"), std::string::npos) << r.err;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"ports"}, {"--hardware", "com", "--port", "COM3", "doctor"}}) {
        r = RunCli(args, root + "/settings", env);
        EXPECT_NE(r.out.find("Evil\\x1B[2J adapter"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << args.back();
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << args.back();
    }
    // A port name given with control characters is shown escaped in the usage error.
    r = RunCli({"--hardware", "lpt", "--port", "/dev/\x1b[2J", "erase"}, root + "/settings", env);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Port \"/dev/\\x1B[2J\""), std::string::npos) << r.err;
}

// ---- A port that failed to open, explained by the same checks ----

TEST_F(PreparedSystem, AFailedOpenIsExplainedByTheChecksOfItsOwnPortOnly)
{
    const gid_t gid = NodeGroup("/dev/ttyUSB0");
    Write("/etc/group", "dialout:x:" + std::to_string(gid) + ":bob");
    Write("/proc/200/comm", "minicom");
    Link("/proc/200/fd/3", "/dev/ttyUSB0");
    Write("/proc/123/comm", "ModemManager");

    // COM2 is the held adapter, and alice is not in its group: both causes, each with its fix.
    std::vector<TCheck> found = DiagnosePortOpenFailure(User(), FindPortInUse(User(), TCheckLink::Serial, "COM2"));
    std::string text = ChecksText(found);
    EXPECT_NE(text.find("FAIL serial port COM2 = /dev/ttyUSB0 (0403:6001 FT232R USB UART, serial A10K5XYZ): "
                        "/dev/ttyUSB0 needs group dialout and alice is not a member\n"
                        "     fix: sudo usermod -aG dialout alice, then log out and in\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("FAIL port in use: /dev/ttyUSB0 is open in minicom (pid 200)\n     fix: end that program"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("warn ModemManager: ModemManager is running"), std::string::npos) << text;
    // The other adapters (closed to alice as well) and the parallel port are not this failure's cause.
    EXPECT_EQ(text.find("ttyACM0"), std::string::npos) << text;
    EXPECT_EQ(text.find("ttyS1"), std::string::npos) << text;
    EXPECT_EQ(text.find("parport"), std::string::npos) << text;
    EXPECT_EQ(text.find("ok   "), std::string::npos) << text;

    // In the group: nothing about permissions is left, the holder still is.
    found = DiagnosePortOpenFailure(User({gid}), FindPortInUse(User(), TCheckLink::Serial, "COM2"));
    text = ChecksText(found);
    EXPECT_EQ(text.find("needs group"), std::string::npos) << text;
    EXPECT_NE(text.find("is open in minicom"), std::string::npos) << text;

    // A port that is not there says so.
    text = ChecksText(DiagnosePortOpenFailure(User({gid}), FindPortInUse(User(), TCheckLink::Serial, "COM7")));
    EXPECT_NE(text.find("FAIL box port: the serial port COM7 is not on this machine\n     fix: choose one that"),
              std::string::npos)
        << text;

    // The parallel port: the driver module that is missing and the printer driver that competes.
    Write("/proc/modules", "parport_pc 49152 1 - Live 0x0\nlp 20480 0 - Live 0x0");
    text = ChecksText(DiagnosePortOpenFailure(User({gid}), FindPortInUse(User(), TCheckLink::Parallel, "LPT1")));
    EXPECT_NE(text.find("FAIL ppdev: the ppdev module is not loaded"), std::string::npos) << text;
    EXPECT_NE(text.find("     fix: sudo modprobe ppdev"), std::string::npos) << text;
    EXPECT_NE(text.find("warn lp driver"), std::string::npos) << text;
    EXPECT_EQ(text.find("minicom"), std::string::npos) << "a serial holder is no parallel cause: " << text;
    EXPECT_EQ(text.find("ModemManager"), std::string::npos) << text;

    // Nothing wrong with the port: nothing to explain.
    fs::create_directories(root + "/sys/module/ppdev");
    Write("/proc/modules", "parport_pc 49152 1 - Live 0x0");
    Node("/dev/parport0");
    chmod((root + "/dev/parport0").c_str(), 0666);
    EXPECT_TRUE(DiagnosePortOpenFailure(User(), FindPortInUse(User(), TCheckLink::Parallel, "LPT1")).empty());
}

TEST_F(PreparedSystem, TheSessionWritesTheDiagnosisAfterTheFailureLine)
{
    // No serial port support at all: the open fails whatever the port, and the checks look at
    // COM1 of the prepared machine, whose node alice may not open.
    TNullShellView shell;
    TAppSession session(shell, nullptr);
    session.SetSystemView(User());
    EXPECT_EQ(session.Run([&] { session.SwitchDevice("COP8SBR9", kHardwareCom); }), TOutcome::Failed);
    EXPECT_EQ(session.Runner().StatusText(), std::string(kHardwareCom) + ": Could not open communications port");
    const std::vector<std::string>& log = session.Runner().Log();
    const auto failure = std::find_if(log.begin(), log.end(), [](const std::string& line) {
        return line.find("Could not open communications port - No serial port support") != std::string::npos;
    });
    ASSERT_NE(failure, log.end());
    ASSERT_GE(log.end() - failure, 3);
    EXPECT_EQ(failure[1].rfind("FAIL serial port COM1 = /dev/ttyACM0 (2341:0043 Uno): ", 0), 0u) << failure[1];
    EXPECT_NE(failure[1].find("needs group"), std::string::npos) << failure[1];
    EXPECT_EQ(failure[2].rfind("     fix: sudo usermod -aG ", 0), 0u) << failure[2];

    // A failure that is not about opening the port has no such lines.
    session.Runner().ClearLog();
    session.Run([] { throw EISPException("Programming failed", false, kHardwareCom); });
    for (const std::string& line : session.Runner().Log()) EXPECT_EQ(line.find("FAIL "), std::string::npos) << line;
}

TEST_F(PreparedSystem, TheCommandLineExplainsAPortItCannotOpen)
{
    // The box's port given as a path that another program holds; the failure's own line and exit
    // status stay what they were.
    Write("/proc/200/comm", "minicom");
    Link("/proc/200/fd/3", "/dev/ttyUSB0");
    const std::vector<std::string> env = {"ZEMPRIX_SYSTEM_ROOT=" + root};
    const CliResult r =
        RunCli({"--hardware", "com", "--no-settings", "--port", root + "/dev/ttyUSB0", "erase"}, root + "/settings", env);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const size_t failure = r.err.find("ZEMPRIX (COM): Could not open communications port - ");
    ASSERT_NE(failure, std::string::npos) << r.err;
    const size_t held = r.err.find("FAIL port in use: /dev/ttyUSB0 is open in minicom (pid 200)", failure);
    EXPECT_NE(held, std::string::npos) << r.err;
    EXPECT_NE(r.err.find("     fix: end that program, or choose another port", held), std::string::npos) << r.err;
}
