#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <functional>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"
#include "e2e_support.h"
#include "store/qsettingsbackend.h"
#include "store/settings.h"
#include "base/isperrors.h"

TEST(SettingValue, Conversions)
{
    EXPECT_EQ(TSettingValue(true).AsString(), "True");
    EXPECT_EQ(TSettingValue(false).AsString(), "False");
    EXPECT_EQ(TSettingValue(42).AsString(), "42");
    EXPECT_EQ(TSettingValue("17").AsInteger(), 17);
    EXPECT_EQ(TSettingValue("-3").AsInteger(), -3);
    EXPECT_EQ(TSettingValue("x7").AsInteger(99), 99);
    EXPECT_TRUE(TSettingValue("TRUE").AsBoolean());
    EXPECT_FALSE(TSettingValue("False").AsBoolean(true));
    EXPECT_TRUE(TSettingValue("1").AsBoolean());
    EXPECT_TRUE(TSettingValue("maybe").AsBoolean(true));
}

TEST(SettingsStore, PutIsCaseSensitiveGetIsNot)
{
    TISPSettings s;
    s.Put("config", "device", 0, "a");
    s.Put("CONFIG", "DEVICE", 0, "b");
    ASSERT_EQ(s.Settings().size(), 2u);
    EXPECT_EQ(s.Get("CONFIG", "DEVICE", "").AsString(), "a");
    EXPECT_EQ(s.Get("Config", "Device", "").AsString(), "a");
    EXPECT_EQ(s.Get("CONFIG", "MISSING", "dflt").AsString(), "dflt");

    s.Put("CONFIG", "DEVICE", 1, "c");  // re-Put keeps the old group
    EXPECT_EQ(s.Settings()[1].Group, 0);
    EXPECT_EQ(s.Settings()[1].Value.AsString(), "c");
}

TEST(SettingsStore, GroupAndSectionOperations)
{
    TISPSettings s;
    s.Put("AUTOPROGRAM", "0", 1, true);
    s.Put("AUTOPROGRAM", "1", 1, false);
    s.Put("CONFIG", "DEVICE", 0, "X");
    s.Put("autoprogram", "2", 1, true);
    s.MoveSection("AUTOPROGRAM", 0);
    EXPECT_EQ(s.Settings()[0].Group, 0);
    EXPECT_EQ(s.Settings()[3].Group, 1);  // case-sensitive
    s.DeleteSection(0, "AUTOPROGRAM");
    ASSERT_EQ(s.Settings().size(), 2u);
    s.DeleteGroup(1);
    ASSERT_EQ(s.Settings().size(), 1u);
    EXPECT_EQ(s.Settings()[0].Section, "CONFIG");
}

TEST(SettingsStore, SaveFoldsNamesThatDifferOnlyInCase)
{
    TMemorySettingsBackend backend;
    backend.WriteKey("GLOBAL", {{"zemprix (lpt)", {{"BUSYTIME", "100"}}}}, false);
    TISPSettings s(&backend);
    s.Load("GLOBAL", 1);
    s.Put("ZEMPRIX (LPT)", "BusyTime", 1, 120);  // Put matches exactly: a second entry
    ASSERT_EQ(s.Settings().size(), 2u);
    s.Save("GLOBAL", 1);

    TISPSettings t(&backend);
    t.Load("GLOBAL", 1);
    ASSERT_EQ(t.Settings().size(), 1u);
    EXPECT_EQ(t.Get("ZEMPRIX (LPT)", "BusyTime", 0).AsInteger(), 120);
}

namespace {
struct QtSettings : ::testing::Test {
    QTemporaryDir dir;
    std::unique_ptr<TQSettingsBackend> backend;
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        backend = std::make_unique<TQSettingsBackend>(dir.path().toStdString());
    }
    QString File() const { return dir.path() + "/morvel/ZEMPRIX.conf"; }
};
}  // namespace

TEST_F(QtSettings, RoundTripGlobalAndProjectGroups)
{
    EXPECT_EQ(backend->Location(), File().toStdString());
    TISPSettings s(backend.get());
    s.Put("ENVIRONMENT", "LASTDEVICE", 1, "COP8SBR9");
    s.Put("ZEMPRIX (LPT)", "BASEPORT", 1, 2);
    s.Put("AUTOPROGRAM", "0", 1, true);
    s.Put("AUTOPROGRAM", "3", 1, false);
    s.Put("CONFIG", "OPTIONS", 0, 6);
    s.Put("CONFIG", "FLASHFILE", 0, "");
    s.Save("GLOBAL", 1);
    s.Save("PROJECTS\\Alpha", 0);

    {
        QSettings raw(File(), QSettings::IniFormat);
        EXPECT_EQ(raw.value("GLOBAL/ENVIRONMENT/LASTDEVICE").toString(), "COP8SBR9");
        EXPECT_EQ(raw.value("GLOBAL/ZEMPRIX (LPT)/BASEPORT").toString(), "2");
        EXPECT_EQ(raw.value("GLOBAL/AUTOPROGRAM/0").toString(), "True");
        EXPECT_EQ(raw.value("PROJECTS/Alpha/CONFIG/OPTIONS").toString(), "6");
    }

    TISPSettings t(backend.get());
    t.Load("GLOBAL", 1);
    t.Load("PROJECTS\\Alpha", 0);
    EXPECT_EQ(t.Get("environment", "lastdevice", "").AsString(), "COP8SBR9");
    EXPECT_EQ(t.Get("ZEMPRIX (LPT)", "BASEPORT", 0).AsInteger(), 2);
    EXPECT_TRUE(t.Get("AUTOPROGRAM", "0", false).AsBoolean());
    EXPECT_FALSE(t.Get("AUTOPROGRAM", "3", true).AsBoolean());
    EXPECT_EQ(t.Get("CONFIG", "OPTIONS", 0).AsInteger(), 6);
    // An empty string is not loaded back.
    EXPECT_EQ(t.Get("CONFIG", "FLASHFILE", "absent").AsString(), "absent");
    for (const auto& e : t.Settings()) EXPECT_TRUE(e.Value.IsString());
    EXPECT_EQ(backend->SubKeys("PROJECTS"), std::vector<std::string>{"Alpha"});

    // AUTOPROGRAM moved to the project: the next global save drops it from GLOBAL.
    t.MoveSection("AUTOPROGRAM", 0);
    t.Save("GLOBAL", 1);
    t.Save("PROJECTS\\Alpha", 0);
    TISPSettings u(backend.get());
    u.Load("GLOBAL", 1);
    EXPECT_EQ(u.Get("AUTOPROGRAM", "0", "none").AsString(), "none");
    EXPECT_EQ(u.Get("ENVIRONMENT", "LASTDEVICE", "").AsString(), "COP8SBR9");
    u.Load("PROJECTS\\Alpha", 0);
    EXPECT_EQ(u.Get("AUTOPROGRAM", "0", "none").AsString(), "True");

    // Loading a key that does not exist gives an empty group.
    u.Load("PROJECTS\\Nobody", 0);
    for (const auto& e : u.Settings()) EXPECT_NE(e.Group, 0);

    backend->DeleteKey("PROJECTS\\Alpha");
    EXPECT_TRUE(backend->SubKeys("PROJECTS").empty());
}

TEST_F(QtSettings, SaveOfAnEmptyGroupLeavesNoSections)
{
    TISPSettings s(backend.get());
    s.Put("A", "x", 1, 1);
    s.Save("GLOBAL", 1);
    s.DeleteGroup(1);
    s.Save("GLOBAL", 1);
    s.Load("GLOBAL", 1);
    EXPECT_TRUE(s.Settings().empty());
}

TEST_F(QtSettings, IniFileFlag)
{
    const std::string ini = (dir.path() + "/plain.ini").toStdString();
    TISPSettings s(backend.get());
    s.Put("SECTION", "Key", 1, "value");
    s.Save(ini, 1, true);
    QSettings raw(QString::fromStdString(ini), QSettings::IniFormat);
    EXPECT_EQ(raw.value("SECTION/Key").toString(), "value");
    TISPSettings t(backend.get());
    t.Load(ini, 1, true);
    EXPECT_EQ(t.Get("section", "key", "").AsString(), "value");
}

TEST_F(QtSettings, EnvironmentOverridesTheLocation)
{
    QTemporaryDir other;
    qputenv("ZEMPRIX_SETTINGS_DIR", other.path().toLocal8Bit());
    TQSettingsBackend fromEnv;
    qunsetenv("ZEMPRIX_SETTINGS_DIR");
    EXPECT_EQ(fromEnv.Location(), (other.path() + "/morvel/ZEMPRIX.conf").toStdString());
}

// A save killed at any moment leaves either the old or the new settings, never a torn file:
// QSettings writes through QSaveFile (a temporary file renamed over the old one).
TEST_F(QtSettings, KillDuringSaveLeavesOldOrNewSettings)
{
    auto save = [&](int generation) {
        TISPSettings s(backend.get());
        for (int section = 0; section < 40; ++section)
            for (int i = 0; i < 20; ++i)
                s.Put("S" + std::to_string(section), "K" + std::to_string(i), 1, generation);
        s.Save("GLOBAL", 1);
    };
    save(0);
    for (int round = 0; round < 12; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int g = 1;; ++g) save(g);
        }
        usleep(static_cast<useconds_t>(3000 + round * 1700));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);

        TISPSettings s(backend.get());
        s.Load("GLOBAL", 1);
        ASSERT_EQ(s.Settings().size(), 800u) << "round " << round;
        const std::string first = s.Settings().front().Value.AsString();
        for (const auto& e : s.Settings()) ASSERT_EQ(e.Value.AsString(), first) << "torn save in round " << round;
    }
}

// The same guarantee without relying on the moment of a kill: a save that cannot be written to
// the end (the file size limit stops it part-way, as a crash or a full disk would) must fail
// loudly and leave the previous settings whole. A save that rewrote the file in place would
// leave it cut off at the limit.
TEST_F(QtSettings, SaveStoppedPartWayKeepsOldSettingsAndFails)
{
    auto fill = [](TISPSettings& s, const std::string& value) {
        for (int section = 0; section < 40; ++section)
            for (int i = 0; i < 20; ++i)
                s.Put("S" + std::to_string(section), "K" + std::to_string(i), 1, value);
    };
    {
        TISPSettings s(backend.get());
        fill(s, "old");
        s.Save("GLOBAL", 1);
    }
    const qint64 oldSize = QFile(File()).size();
    ASSERT_GT(oldSize, 4096);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        // Room for a lock file and about half of the new file, which is twice the old size.
        rlimit limit{static_cast<rlim_t>(oldSize), static_cast<rlim_t>(oldSize)};
        setrlimit(RLIMIT_FSIZE, &limit);
        TISPSettings s(backend.get());
        fill(s, std::string(12, 'n'));
        try {
            s.Save("GLOBAL", 1);
        } catch (const Exception&) {
            _exit(3);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3) << "a save that could not be written reported success";

    TISPSettings s(backend.get());
    s.Load("GLOBAL", 1);
    ASSERT_EQ(s.Settings().size(), 800u);
    for (const auto& e : s.Settings()) ASSERT_EQ(e.Value.AsString(), "old");
}

TEST_F(QtSettings, TwoProgramsSharingTheFileKeepEachOthersChanges)
{
    {
        TISPSettings first(backend.get());
        first.Put("ZEMPRIX (COM)", "BASEPORT", 1, 0);
        first.Put("ZEMPRIX (LPT)", "BASEPORT", 1, 0);
        first.Put("ENVIRONMENT", "LASTDEVICE", 1, "COP8SBR9");
        first.Save("GLOBAL", 1);
    }
    TQSettingsBackend otherBackend(dir.path().toStdString());
    TISPSettings a(backend.get()), b(&otherBackend);
    a.Load("GLOBAL", 1);
    b.Load("GLOBAL", 1);
    a.Put("ZEMPRIX (COM)", "BASEPORT", 1, 3);     // a CLI on the serial port
    b.Put("ZEMPRIX (LPT)", "BASEPORT", 1, 1);     // another on the parallel port
    a.Put("ENVIRONMENT", "LASTDEVICE", 1, "COP8SBE9");
    b.Put("ENVIRONMENT", "LASTDEVICE", 1, "COP8SBR9");
    a.Save("GLOBAL", 1);
    b.Save("GLOBAL", 1);

    TISPSettings after(backend.get());
    after.Load("GLOBAL", 1);
    EXPECT_EQ(after.Get("ZEMPRIX (COM)", "BASEPORT", -1).AsInteger(), 3);
    EXPECT_EQ(after.Get("ZEMPRIX (LPT)", "BASEPORT", -1).AsInteger(), 1);
    EXPECT_EQ(after.Get("ENVIRONMENT", "LASTDEVICE", "").AsString(), "COP8SBR9");  // the last saver's

    // A section this program dropped goes; one another program added meanwhile stays.
    a.MoveSection("AUTOPROGRAM", 0);
    b.Put("NEW", "x", 1, 1);
    b.Save("GLOBAL", 1);
    a.DeleteSection(1, "ZEMPRIX (COM)");
    a.Save("GLOBAL", 1);
    after.Load("GLOBAL", 1);
    EXPECT_EQ(after.Get("ZEMPRIX (COM)", "BASEPORT", -1).AsInteger(), -1);
    EXPECT_EQ(after.Get("NEW", "x", -1).AsInteger(), 1);
}

TEST_F(QtSettings, ACorruptFileNamesItsLineIsNeverSavedOverAndCanBeKeptAside)
{
    QDir().mkpath(dir.path() + "/morvel");
    const std::string text = "[GLOBAL]\nENVIRONMENT\\LASTDEVICE=COP8SBR9\n\x01\x02garbage without an equals sign\n";
    std::ofstream(File().toStdString(), std::ios::binary) << text;
    TISPSettings s(backend.get());
    try {
        s.Load("GLOBAL", 1);
        ADD_FAILURE() << "no error";
    } catch (const ESettingsCorrupt& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find(File().toStdString()), std::string::npos) << what;
        EXPECT_NE(what.find("line 3"), std::string::npos) << what;
        EXPECT_NE(what.find("--no-settings"), std::string::npos) << what;
    }
    s.Put("ENVIRONMENT", "LASTDEVICE", 1, "COP8SBE9");
    EXPECT_THROW(s.Save("GLOBAL", 1), ESettingsCorrupt);
    EXPECT_EQ(ReadAll(File().toStdString()), text);

    const std::string kept = backend->KeepCorruptCopy();
    EXPECT_NE(kept.find("ZEMPRIX.conf.corrupt-20"), std::string::npos) << kept;
    EXPECT_EQ(ReadAll(kept), text);
    s.Save("GLOBAL", 1);
    TISPSettings after(backend.get());
    after.Load("GLOBAL", 1);
    EXPECT_EQ(after.Get("ENVIRONMENT", "LASTDEVICE", "").AsString(), "COP8SBE9");
}

// Too large, a folder, or (as a user other than root) unreadable: refused at once, as a corrupt
// file is, with the reason and the way out, and never saved over.
TEST_F(QtSettings, AFileTooLargeOrUnreadableIsRefusedLikeACorruptOne)
{
    QDir().mkpath(dir.path() + "/morvel");
    struct Case {
        std::function<void()> make;
        std::string reason;
    };
    const std::string path = File().toStdString();
    std::vector<Case> cases = {
        {[&] {
             std::ofstream out(path, std::ios::binary);
             const std::string line = "[GLOBAL]\nA=" + std::string(1000, 'x') + "\n";
             for (int64_t n = 0; n <= kMaxSettingsFileBytes / static_cast<int64_t>(line.size()); ++n) out << line;
         },
         "is too large ("},
        {[&] { QDir().mkpath(File()); }, "cannot be read (it is a folder)"},
    };
    if (geteuid() != 0)
        cases.push_back({[&] {
                             std::ofstream(path) << "[GLOBAL]\nA=1\n";
                             ::chmod(path.c_str(), 0);
                         },
                         "cannot be read ("});
    for (const Case& c : cases) {
        QDir(File()).removeRecursively();
        QFile::remove(File());
        c.make();
        const std::string before = ReadAll(path);
        TISPSettings s(backend.get());
        const auto t0 = std::chrono::steady_clock::now();
        try {
            s.Load("GLOBAL", 1);
            ADD_FAILURE() << "no error for " << c.reason;
        } catch (const ESettingsCorrupt& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(path + " " + c.reason), std::string::npos) << what;
            EXPECT_NE(what.find("--no-settings"), std::string::npos) << what;
        }
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 5.0) << c.reason;
        s.Put("ENVIRONMENT", "LASTDEVICE", 1, "COP8SBE9");
        EXPECT_ANY_THROW(s.Save("GLOBAL", 1)) << c.reason;
        EXPECT_EQ(ReadAll(path), before) << c.reason;
    }
}

TEST_F(QtSettings, AKilledSaveLeavesNeitherAStallingLockNorTemporaries)
{
    QDir().mkpath(dir.path() + "/morvel");
    const QString lockPath = File() + ".lock";
    const pid_t child = fork();
    if (child == 0) {
        QLockFile held(lockPath);
        held.lock();
        std::ofstream((dir.path() + "/morvel/.ZEMPRIX.conf.99999.abc.new").toStdString()) << "half a save";
        kill(getpid(), SIGKILL);
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(QFile::exists(lockPath));

    TISPSettings s(backend.get());
    s.Put("ENVIRONMENT", "LASTDEVICE", 1, "COP8SBR9");
    QElapsedTimer took;
    took.start();
    s.Save("GLOBAL", 1);
    EXPECT_LT(took.elapsed(), 5000);  // not the ten seconds of a live lock
    EXPECT_TRUE(QDir(dir.path() + "/morvel").entryList({"*.new", "*.check"}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(QtSettings, AFailedSaveSaysWhy)
{
    std::ofstream((dir.path() + "/plainfile").toStdString()) << "x";
    TQSettingsBackend below((dir.path() + "/plainfile/inner").toStdString());
    TISPSettings s(&below);
    s.Put("A", "x", 1, 1);
    const std::string why = ErrorOf([&] { s.Save("GLOBAL", 1); });
    EXPECT_NE(why.find("is not a folder"), std::string::npos) << why;
    EXPECT_EQ(why.find("locked"), std::string::npos) << why;

    if (geteuid() == 0) return;  // root may write anywhere
    QDir().mkpath(dir.path() + "/morvel");
    QFile::setPermissions(dir.path() + "/morvel", QFile::ReadOwner | QFile::ExeOwner);
    TISPSettings t(backend.get());
    t.Put("A", "x", 1, 1);
    const std::string denied = ErrorOf([&] { t.Save("GLOBAL", 1); });
    QFile::setPermissions(dir.path() + "/morvel", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_NE(denied.find("permission denied"), std::string::npos) << denied;
}
