// Saving under hostile conditions: a save killed at any moment, names planted where the
// temporary file goes, leftovers of killed saves, and the reason a failed save gives.
#include "test_support.h"
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "image/hexfile.h"
#include "store/atomicfile.h"
#include "image/hexlist.h"

namespace fs = std::filesystem;

namespace {

class Saving : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("zemprix-save-" + std::to_string(getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        target_ = (dir_ / "image.hex").string();
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }

    // Temporary files of the target found in its folder.
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(dir_)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("image.hex.~", 0) == 0) found.push_back(name);
        }
        return found;
    }

    fs::path dir_;
    std::string target_;
};

THexList RandomImage(uint32_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    THexList image;
    image.SetSize(size);
    for (uint32_t a = 0; a < size; ++a) image.SetValue(a, static_cast<uint8_t>(rng() % 255));
    return image;
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Waits up to ten seconds for one byte from the child; 0 when none came.
char ReadReport(int fd)
{
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    if (poll(&p, 1, 10000) != 1 || read(fd, &c, 1) != 1) return 0;
    return c;
}

// A child saves two images in turn as fast as it can and is killed at different points of a
// save: right after one completes, once its temporary file exists, and once that file holds
// data. Each time the target must hold one of the two complete texts, and the temporary file a
// killed save leaves is removed by the next save instead of piling up.
TEST_F(Saving, KillDuringSaveLeavesOldOrNewContentsAndNoPileOfTemporaries)
{
    const THexList a = RandomImage(0x8000, 1);
    const THexList b = RandomImage(0x5000, 2);
    const std::string textA = TFileLoader::SaveText(a, ff_IntelIntellex);
    const std::string textB = TFileLoader::SaveText(b, ff_IntelIntellex);
    ASSERT_EQ(TFileLoader::SaveFile(target_, a, ff_IntelIntellex), 0);

    int killedMidSave = 0;
    for (int round = 0; round < 12; ++round) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(fds[0]);
            for (unsigned g = 0;; ++g) {
                const char report = TFileLoader::SaveFile(target_, g % 2 ? a : b, ff_IntelIntellex) == 0 ? 'o' : 'f';
                if (write(fds[1], &report, 1) != 1) _exit(1);
            }
        }
        close(fds[1]);
        // One whole save first: it also clears what the previous round's kill left behind.
        const char first = ReadReport(fds[0]);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool timedOut = false;
        auto waitFor = [&](auto ready) {
            while (!ready())
                if (std::chrono::steady_clock::now() > deadline) {
                    timedOut = true;
                    return;
                }
        };
        auto temporarySize = [&]() -> long {
            for (const std::string& name : Leftovers()) {
                std::error_code ec;
                const auto size = fs::file_size(dir_ / name, ec);
                if (!ec) return static_cast<long>(size);
            }
            return -1;
        };
        if (round % 3 == 1) waitFor([&] { return temporarySize() >= 0; });
        if (round % 3 == 2) waitFor([&] { return temporarySize() > 0; });
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(fds[0]);
        ASSERT_EQ(first, 'o') << "round " << round << ": the child's save failed or never finished";
        ASSERT_FALSE(timedOut) << "round " << round << ": no temporary file was seen";

        const std::string now = ReadFileBytes(target_);
        ASSERT_TRUE(now == textA || now == textB) << "round " << round << ": a cut file of " << now.size() << " bytes";
        const size_t left = Leftovers().size();
        ASSERT_LE(left, 1u) << "round " << round;
        killedMidSave += static_cast<int>(left);
    }
    EXPECT_GT(killedMidSave, 0) << "no kill landed inside a save; the test proved nothing";
    EXPECT_EQ(TFileLoader::SaveFile(target_, b, ff_IntelIntellex), 0);
    EXPECT_EQ(ReadFileBytes(target_), textB);
    EXPECT_TRUE(Leftovers().empty());
}

// Whatever waits at the names the save tries, a symbolic link (dangling or not) or a hard link
// to another file, is never opened: the files they lead to keep their contents or stay absent.
TEST_F(Saving, LinksPlantedAtTheTemporaryNamesAreNotFollowed)
{
    const fs::path elsewhere = dir_ / "elsewhere";
    fs::create_directories(elsewhere);
    const std::string victim = (elsewhere / "victim.txt").string();
    const std::string linked = (elsewhere / "linked.txt").string();
    const fs::path absent = elsewhere / "created-through-a-link";
    WriteText(victim, "victim");
    WriteText(linked, "linked");
    WriteText(target_, "old");
    fs::create_symlink(victim, atomicfile::TemporaryName(target_, 0));
    fs::create_symlink(absent, atomicfile::TemporaryName(target_, 1));
    fs::create_hard_link(linked, atomicfile::TemporaryName(target_, 2));

    const THexList image = RandomImage(0x100, 3);
    ASSERT_EQ(TFileLoader::SaveFile(target_, image, ff_IntelIntellex), 0);
    EXPECT_EQ(ReadFileBytes(target_), TFileLoader::SaveText(image, ff_IntelIntellex));
    EXPECT_EQ(ReadFileBytes(victim), "victim");
    EXPECT_EQ(ReadFileBytes(linked), "linked");
    EXPECT_FALSE(fs::exists(absent));
    EXPECT_TRUE(fs::is_symlink(atomicfile::TemporaryName(target_, 0)));  // not ours to remove
    EXPECT_TRUE(fs::is_regular_file(target_));
}

// A temporary file that is locked belongs to a save still running (here: the test holding the
// lock); it is neither written nor removed. Once the lock is gone it is a leftover and goes.
TEST_F(Saving, TemporariesOfRunningSavesStayAndLeftoversGo)
{
    const std::string busy = atomicfile::TemporaryName(target_, 0);
    WriteText(busy, "busy");
    const int fd = open(busy.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    // Leftovers of saves in other processes, and files that only look similar.
    const std::string stale = (dir_ / "image.hex.~0000ABCD0003").string();
    const std::string otherTarget = (dir_ / "other.hex.~0000ABCD0000").string();
    const std::string notOurs = (dir_ / "image.hex.~notatemporary").string();
    for (const std::string& p : {stale, otherTarget, notOurs}) WriteText(p, "x");

    const THexList image = RandomImage(0x100, 4);
    ASSERT_EQ(TFileLoader::SaveFile(target_, image, ff_Motorola32), 0);
    EXPECT_EQ(ReadFileBytes(target_), TFileLoader::SaveText(image, ff_Motorola32));
    EXPECT_EQ(ReadFileBytes(busy), "busy");
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(otherTarget));
    EXPECT_TRUE(fs::exists(notOurs));

    close(fd);
    ASSERT_EQ(TFileLoader::SaveFile(target_, image, ff_Motorola32), 0);
    EXPECT_FALSE(fs::exists(busy));
}

// A new file gets the usual default permissions; the temporary file's private mode does not stick.
TEST_F(Saving, ANewFileGetsTheDefaultPermissions)
{
    const mode_t mask = umask(022);
    const bool saved = TFileLoader::SaveFile(target_, RandomImage(0x10, 5), ff_IntelIntellex) == 0;
    umask(mask);
    ASSERT_TRUE(saved);
    EXPECT_EQ(fs::status(target_).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

// Every failure carries "Could not save PATH: REASON" with the system's reason.
TEST_F(Saving, AFailedSaveNamesThePathAndTheSystemsReason)
{
    const THexList image = RandomImage(0x100, 6);
    std::string error = "stale";
    EXPECT_EQ(TFileLoader::SaveFile(target_, image, ff_IntelIntellex, error), 0);
    EXPECT_EQ(error, "");

    const std::string missingFolder = (dir_ / "no-such-folder" / "x.hex").string();
    EXPECT_EQ(TFileLoader::SaveFile(missingFolder, image, ff_IntelIntellex, error), 1);
    EXPECT_EQ(error, "Could not save " + missingFolder + ": No such file or directory");
    EXPECT_EQ(TFileLoader::SaveFile(dir_.string(), image, ff_IntelIntellex, error), 1);
    EXPECT_EQ(error, "Could not save " + dir_.string() + ": Is a directory");

    THexList wide;
    wide.SetSize(0x10010);
    wide.SetValue(0x10000, 1);
    EXPECT_EQ(TFileLoader::SaveFile(target_, wide, ff_Tektronix, error), 1);
    EXPECT_EQ(error, "Could not save " + target_ + ": Address 00010000 does not fit a Tektronix record");
    try {
        TFileLoader::SaveFileOrThrow(target_, wide, ff_Tektronix);
        ADD_FAILURE() << "no exception";
    } catch (const EFileLoader& e) {
        EXPECT_EQ(std::string(e.what()), error);
    }

    // A folder the user may not write (a privileged user may, and then the save succeeds).
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    const std::string inLocked = (dir_ / "new.hex").string();
    if (TFileLoader::SaveFile(inLocked, image, ff_IntelIntellex, error) != 0) {
        EXPECT_EQ(error, "Could not save " + inLocked + ": Permission denied");
    }
    fs::permissions(dir_, fs::perms::owner_all);
}

// A save that cannot be written to the end (the file size limit stops it part-way, as a full
// disk would) fails with the system's reason and leaves the old file whole and no leftovers.
TEST_F(Saving, ASaveStoppedPartWayFailsAndKeepsTheOldFile)
{
    WriteText(target_, "old");
    const THexList image = RandomImage(0x8000, 7);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        const int result = TFileLoader::SaveFile(target_, image, ff_IntelIntellex, error);
        const ssize_t written = write(fds[1], error.data(), error.size());
        _exit(result == 1 && written == static_cast<ssize_t>(error.size()) ? 3 : 0);
    }
    close(fds[1]);
    const std::string error = ReadToEnd(fds[0]);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3) << "a save that could not be written reported success";
    EXPECT_EQ(error, "Could not save " + target_ + ": File too large");
    EXPECT_EQ(ReadFileBytes(target_), "old");
    EXPECT_TRUE(Leftovers().empty());
}

}  // namespace
