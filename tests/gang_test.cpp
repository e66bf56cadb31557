// The command line's pieces that need no box: each gang box's command line, the worst exit
// status, the serial-number pool the boxes' processes share, colour, -q, the byte trace and signals.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

#include "cli.h"
#include "gang.h"
#include "interrupt.h"
#include "store/serialpool.h"
#include "textview.h"
#include "link/linktrace.h"
#include "test_support.h"

TEST(Gang, EachBoxGetsTheCommandLineWithItsOwnPortOnly)
{
    EXPECT_EQ(SlotArguments({"--port", "COM1", "--port=COM2", "--device", "X", "auto", "f.hex", "--", "--port"}, "COM2"),
              (std::vector<std::string>{"--port", "COM2", "--device", "X", "auto", "f.hex", "--", "--port"}));
    const TCliOptions o = ParseCommandLine({"--port", "COM1", "--port", "/dev/ttyUSB0", "erase"});
    EXPECT_EQ(o.ports, (std::vector<std::string>{"COM1", "/dev/ttyUSB0"}));
    EXPECT_EQ(o.port, "COM1");
}

TEST(Gang, OneBoxReachedByTwoNamesIsOneBox)
{
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    std::ofstream(root + "/ttyUSB0").put('\n');
    std::filesystem::create_directory(root + "/by-id");
    std::filesystem::create_symlink("../ttyUSB0", root + "/by-id/usb-FTDI_A10K5XYZ");
    std::ofstream(root + "/ttyUSB1").put('\n');
    auto refusal = [](const std::vector<std::string>& ports) -> std::string {
        std::vector<std::string> args;
        for (const std::string& p : ports) args.insert(args.end(), {"--port", p});
        args.push_back("erase");
        try {
            ParseCommandLine(args);
        } catch (const TUsageError& e) {
            return e.message;
        }
        return "";
    };
    EXPECT_EQ(refusal({root + "/ttyUSB0", root + "/by-id/usb-FTDI_A10K5XYZ"}),
              "Ports \"" + root + "/ttyUSB0\" and \"" + root + "/by-id/usb-FTDI_A10K5XYZ\" are the same port (" + root +
                  "/ttyUSB0)");
    EXPECT_NE(refusal({root + "/ttyUSB0", root + "/by-id/../ttyUSB0"}), "");
    EXPECT_NE(refusal({root + "/ttyUSB0", root + "//ttyUSB0"}), "");
    EXPECT_EQ(refusal({"COM1", "com1"}), "Ports \"COM1\" and \"com1\" are the same port (COM1)");
    EXPECT_EQ(refusal({"COM1", "COM1"}), "Port \"COM1\" is given twice");
    // A node that is not there yet is compared by its name without "..".
    EXPECT_NE(refusal({root + "/none", root + "/by-id/../none"}), "");
    EXPECT_EQ(refusal({root + "/ttyUSB0", root + "/ttyUSB1", "COM1", "usb:0403:6001"}), "");
    // A name with control characters is shown escaped.
    EXPECT_EQ(refusal({"/dev/\x1b[2J", "/dev/\x1b[2J"}), "Port \"/dev/\\x1B[2J\" is given twice");
}

TEST(Gang, TheWorstExitStatusWins)
{
    EXPECT_EQ(WorseExitCode(kExitOk, kExitVerifyFailed), kExitVerifyFailed);
    EXPECT_EQ(WorseExitCode(kExitFailed, kExitVerifyFailed), kExitFailed);
    EXPECT_EQ(WorseExitCode(kExitUsage, kExitFailed), kExitUsage);
    EXPECT_EQ(WorseExitCode(kExitFailed, 130), 130);
    EXPECT_EQ(WorseExitCode(130, kExitOk), 130);
}

TEST(Gang, ProcessesSharingThePoolNeverGetTheSameNumberAndReturnedOnesComeFirst)
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/serials";
    TSerialPool(path, 500);
    std::vector<pid_t> children;
    std::vector<int> pipes;
    for (int p = 0; p < 4; ++p) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t child = fork();
        if (child == 0) {
            TSerialPool pool(path, 0);
            for (int i = 0; i < 50; ++i) {
                const uint32_t n = pool.Take();
                if (write(fds[1], &n, sizeof n) != sizeof n) _exit(1);
            }
            _exit(0);
        }
        close(fds[1]);
        children.push_back(child);
        pipes.push_back(fds[0]);
    }
    std::multiset<uint32_t> taken;
    for (int fd : pipes) {
        uint32_t n;
        while (read(fd, &n, sizeof n) == sizeof n) taken.insert(n);
        close(fd);
    }
    for (pid_t c : children) waitpid(c, nullptr, 0);
    ASSERT_EQ(taken.size(), 200u);
    EXPECT_EQ(std::set<uint32_t>(taken.begin(), taken.end()).size(), 200u);
    EXPECT_EQ(*taken.begin(), 500u);
    EXPECT_EQ(*taken.rbegin(), 699u);

    TSerialPool pool(path, 0);
    pool.Release(650);
    pool.Release(520);
    EXPECT_EQ(pool.Read().Free, (std::vector<uint64_t>{520, 650}));
    EXPECT_EQ(pool.Take(), 520u);
    EXPECT_EQ(pool.Take(), 650u);
    EXPECT_EQ(pool.Take(), 700u);
}

TEST(Gang, ThePoolGoesPastTheLargestFourByteNumberInsteadOfWrappingToZero)
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/serials";
    TSerialPool pool(path, 0xFFFFFFFFu);
    EXPECT_EQ(pool.Take(), 0xFFFFFFFFull);
    // The board refuses this one as too wide and gives it back; it must not come back as 0.
    const uint64_t past = pool.Take();
    EXPECT_EQ(past, 0x100000000ull);
    pool.Release(past);
    EXPECT_EQ(TSerialPool(path, 0).Read().Free, (std::vector<uint64_t>{0x100000000ull}));
    EXPECT_EQ(pool.Take(), 0x100000000ull);
}

TEST(CliOutput, ColourOnlyOnATerminalWithoutNoColorAndOnlyForResults)
{
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    setenv("TERM", "xterm", 1);
    unsetenv("NO_COLOR");
    EXPECT_TRUE(TTextView::ColourWanted(slave));
    setenv("NO_COLOR", "", 1);  // empty does not count
    EXPECT_TRUE(TTextView::ColourWanted(slave));
    setenv("NO_COLOR", "1", 1);
    EXPECT_FALSE(TTextView::ColourWanted(slave));
    unsetenv("NO_COLOR");
    setenv("TERM", "dumb", 1);
    EXPECT_FALSE(TTextView::ColourWanted(slave));
    setenv("TERM", "xterm", 1);
    EXPECT_FALSE(TTextView::ColourWanted(fileno(tmpfile())));
    close(master);
    close(slave);

    std::ostringstream err;
    TTextView view(err);
    view.Configure({false, false, "COM1", "", true});
    view.ShowStatus(sk_failed, "Flash: Verification Failed");
    view.AppendLog("Flash: Verification Failed");
    view.ShowStatus(sk_completed, "Flash: Programming Complete");
    view.AppendLog("Flash: Programming Complete");
    view.AppendLog("Verify Failed at 0100h: Read FFh - Should have been 83h");
    EXPECT_EQ(err.str(), "\x1b[31mFlash: Verification Failed\x1b[0m\n\x1b[32mFlash: Programming Complete\x1b[0m\n"
                         "Verify Failed at 0100h: Read FFh - Should have been 83h\n");
}

TEST(LinkTrace, BytesAreGatheredPerDirectionIntoTimestampedLines)
{
    std::vector<std::string> lines;
    TLinkTrace trace;
    trace.SetSink([&](const std::string& l) { lines.push_back(l); });
    trace.Bytes('>', "W0000");
    trace.Byte('<', 0x0D);
    trace.Bytes('>', std::string(70, 'A'));
    trace.Byte('<', '<');
    trace.SetSink(nullptr);
    trace.Byte('>', 'X');  // off: nothing more
    trace.Flush();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].substr(12), " > W0000");
    EXPECT_EQ(lines[0][2], ':');
    EXPECT_EQ(lines[1].substr(12), " < <0D>");
    EXPECT_EQ(lines[2].substr(12), " > " + std::string(64, 'A'));
    EXPECT_EQ(lines[3].substr(12), " > AAAAAA");
    EXPECT_EQ(lines[4].substr(12), " < <3C>");
}

TEST(CliOutput, QuietKeepsTheFailuresWithWhatFailedAndDropsTheRest)
{
    std::ostringstream err;
    TTextView view(err);
    view.Configure({false, true, "COM1", "", false});
    view.ShowStatus(sk_started, "Flash: Verifying");
    view.AppendLog("Flash: Verifying");
    view.AppendLog("Verify Failed at 0200h: Read 00h - Should have been 83h");
    view.AppendLog("Verify Failed at 0201h: Read 00h - Should have been 84h");
    view.AppendLog("Verify summary: 2 bytes differ in 0200h-0201h");
    view.ShowStatus(sk_failed, "Flash: Verification Failed");
    view.AppendLog("Flash: Verification Failed");
    view.ShowStatus(sk_completed, "Flash: Programming Complete");
    view.AppendLog("Flash: Programming Complete");
    view.AppendLog("Some note mentioning Verify Failed at 0200h");  // only a line that starts so counts
    EXPECT_EQ(err.str(), "Verify Failed at 0200h: Read 00h - Should have been 83h\n"
                         "Verify Failed at 0201h: Read 00h - Should have been 84h\n"
                         "Verify summary: 2 bytes differ in 0200h-0201h\n"
                         "Flash: Verification Failed\n");
    EXPECT_EQ(view.Lines().size(), 7u);  // --json still gets every line
}

// The trace gathers bytes until the direction changes; a status line must not overtake them, and
// the trace written out in between must not take the status line's kind.
TEST(CliOutput, TraceLinesComeOutBeforeTheStatusLineThatFollowsThem)
{
    std::ostringstream err;
    TTextView view(err);
    view.Configure({true, false, "COM1", "", false});
    TLinkTrace trace;
    trace.SetSink([&](const std::string& l) { view.AppendTrace("trace " + l); });
    view.SetBeforeLine([&] { trace.Flush(); });
    trace.Bytes('>', "S");
    trace.Bytes('<', "ZEMPRIX01\r");
    view.ShowStatus(sk_completed, "ISP Initialized");
    view.AppendLog("ISP Initialized");
    trace.Bytes('>', "Q");
    trace.SetSink(nullptr);

    std::vector<std::string> lines;
    std::istringstream in(err.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 4u) << err.str();
    EXPECT_NE(lines[0].find(" > S\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"kind\":\"raw\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" < ZEMPRIX01<0D>\""), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\"kind\":\"raw\""), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\"kind\":\"completed\",\"text\":\"ISP Initialized\""), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find(" > Q\""), std::string::npos) << lines[3];
}

TEST(CliOutput, AGangsBoxNamesItsPortInTheLogFileAndHandsItsStatusLinesToTheGang)
{
    QTemporaryDir dir;
    const std::string log = dir.path().toStdString() + "/run.log";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::ostringstream err;
    TTextView view(err);
    view.Configure({false, true, "/dev/pts/7", log, false});
    view.JoinGang(fds[1], "/dev/pts/7");
    view.ShowStatus(sk_completed, "Flash: Programming Complete");
    view.AppendLog("Flash: Programming Complete");
    view.AppendTrace("trace 12:00:00.000 > S");
    view.AppendLog("odd\x1b[2Jline");
    close(fds[1]);
    const std::string gang = ReadToEnd(fds[0]);
    close(fds[0]);
    // -q shows nothing of this, yet the gang's table gets each status line, escaped, and no trace.
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(gang, "Flash: Programming Complete\nodd\\x1B[2Jline\n");

    std::istringstream lines(ReadFileBytes(log));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_EQ(line.substr(19, 14), " [/dev/pts/7] ") << line;
    EXPECT_EQ(count, 3);
}

TEST(CliSignals, ASecondInterruptEndsAtOnceWithOneLine)
{
    for (int second : {SIGINT, SIGTERM, SIGHUP}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t child = fork();
        if (child == 0) {
            dup2(fds[1], 2);
            InstallInterruptHandlers();
            raise(SIGHUP);  // the first only asks the operation to stop
            if (InterruptSignal() != SIGHUP) _exit(1);
            raise(second);
            _exit(2);
        }
        close(fds[1]);
        const std::string text = ReadToEnd(fds[0]);
        close(fds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + second);
        EXPECT_EQ(text, kSecondInterruptLine);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    }
}
