// The gang's pieces that need no box: the command line of each box, the worst exit status, and
// the serial-number pool the boxes' processes share.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

#include "cli.h"
#include "gang.h"
#include "serialpool.h"

TEST(Gang, EachBoxGetsTheCommandLineWithItsOwnPortOnly)
{
    EXPECT_EQ(SlotArguments({"--port", "COM1", "--port=COM2", "--device", "X", "auto", "f.hex", "--", "--port"}, "COM2"),
              (std::vector<std::string>{"--port", "COM2", "--device", "X", "auto", "f.hex", "--", "--port"}));
    const TCliOptions o = ParseCommandLine({"--port", "COM1", "--port", "/dev/ttyUSB0", "erase"});
    EXPECT_EQ(o.ports, (std::vector<std::string>{"COM1", "/dev/ttyUSB0"}));
    EXPECT_EQ(o.port, "COM1");
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
    EXPECT_EQ(pool.Read().Free, (std::vector<uint32_t>{520, 650}));
    EXPECT_EQ(pool.Take(), 520u);
    EXPECT_EQ(pool.Take(), 650u);
    EXPECT_EQ(pool.Take(), 700u);
}
