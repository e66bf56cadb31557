// Projects over the real settings backend: the exact keys, the Auto Program choices moving
// between the groups, FLASHFILE only when a file was loaded, the message for a missing file and
// names that would nest keys.
#include <gtest/gtest.h>

#include <algorithm>

#include <QSettings>
#include <QTemporaryDir>
#include <fstream>

#include "app/projects.h"
#include "app/session.h"
#include "fakeprogrammer.h"
#include "store/qsettingsbackend.h"
#include "link/linkcontext.h"
#include "link/hardware.h"

namespace {

constexpr const char* kFake = "TEST (PROJECT FAKE)";

struct Projects : ::testing::Test {
    VirtualClock clock;
    ScopedClock scoped{clock};
    QTemporaryDir dir;
    TQSettingsBackend backend{dir.path().toStdString()};
    TNullShellView shell;
    TFakeHardware hardware{kFake, [](TLinkContext&) {
        return std::unique_ptr<TISPProgrammer>(std::make_unique<TFakeProgrammer>());
    }};
    TAppSession session{shell, &backend};
    std::vector<std::string> errors;

    void SetUp() override
    {
        session.SetHardwareTable(hardware.table);
        session.SwitchDevice("COP8SBR9", kFake);
        session.Runner().EndOp("");
    }
    QVariant Raw(const QString& key) const
    {
        QSettings raw(QString::fromStdString(backend.Location()), QSettings::IniFormat);
        return raw.value(key);
    }
    std::string Path(const char* name) const { return dir.path().toStdString() + "/" + name; }
    void Restore(const std::string& name)
    {
        session.Run([&] { projects::RestoreProject(session, name, [&](const std::string& m) { errors.push_back(m); }); });
    }
};

}  // namespace

TEST_F(Projects, StoreWritesTheProjectsKeysAndTakesTheAutoProgramChoices)
{
    TISPSettings& store = session.Settings();
    store.Put("AUTOPROGRAM", "2", kGlobalGroup, true);
    session.Options().SetOptions(0x2D);
    projects::StoreProject(session, "Alpha");
    EXPECT_EQ(Raw("PROJECTS/Alpha/CONFIG/DEVICE").toString(), "COP8SBR9");
    EXPECT_EQ(Raw("PROJECTS/Alpha/CONFIG/HARDWARE").toString(), kFake);
    EXPECT_EQ(Raw("PROJECTS/Alpha/CONFIG/OPTIONS").toString(), "45");
    EXPECT_EQ(Raw("PROJECTS/Alpha/AUTOPROGRAM/2").toString(), "True");
    EXPECT_FALSE(Raw("PROJECTS/Alpha/CONFIG/FLASHFILE").isValid());  // no file loaded
    EXPECT_EQ(store.Get("ENVIRONMENT", "LASTPROJECT", "").AsString(), "Alpha");
    // The choices now belong to the project: a global save no longer writes them.
    store.Save(TISPSettings::kGlobalKey, kGlobalGroup);
    EXPECT_FALSE(Raw("GLOBAL/AUTOPROGRAM/2").isValid());
    EXPECT_EQ(projects::Names(session), std::vector<std::string>{"Alpha"});

    // Restoring moves them back to the global group and applies the project.
    store.Put("CONFIG", "OPTIONS", kProjectGroup, 6);
    session.Options().SetOptions(0x06);
    Restore("Alpha");
    EXPECT_EQ(session.Runner().StatusKind(), sk_completed);
    EXPECT_EQ(session.Runner().StatusText(), "Project Load Complete - 00:00");
    // The project's byte is the stored one; the device switch then shows the device's own.
    EXPECT_EQ(session.StoredOptionByte(), 0x2D);
    store.Save(TISPSettings::kGlobalKey, kGlobalGroup);
    EXPECT_EQ(Raw("GLOBAL/AUTOPROGRAM/2").toString(), "True");
    EXPECT_TRUE(errors.empty());
}

TEST_F(Projects, AFlashFileIsStoredWhenLoadedAndAMissingOneIsReported)
{
    std::ofstream(Path("in.hex")) << ":0400100001020304E2\n:00000001FF\n";
    ASSERT_TRUE(session.LoadFlashFile(Path("in.hex"), true).ok);
    projects::StoreProject(session, "Beta");
    EXPECT_EQ(Raw("PROJECTS/Beta/CONFIG/FLASHFILE").toString().toStdString(), Path("in.hex"));

    session.Project().Flash.Clear();
    Restore("Beta");
    EXPECT_EQ(session.Project().Flash.GetValue(0x11), 0x02);
    EXPECT_TRUE(errors.empty());

    std::remove(Path("in.hex").c_str());
    Restore("Beta");
    EXPECT_EQ(errors, std::vector<std::string>{"Flash: Could not open " + Path("in.hex")});
    EXPECT_EQ(session.Runner().StatusKind(), sk_completed);
    EXPECT_EQ(session.Runner().StatusText(), "Project Load Complete - 00:00");  // the rest still applies
}

TEST_F(Projects, NamesThatWouldNestKeysAreRefusedAndDeleteRemovesAtOnce)
{
    for (const char* bad : {"", "a/b", "..\\GLOBAL", "tab\there"}) {
        EXPECT_FALSE(projects::ValidName(bad)) << bad;
        EXPECT_THROW(projects::StoreProject(session, bad), EISPException);
    }
    EXPECT_TRUE(projects::ValidName("Line 3 (rev B)"));
    projects::StoreProject(session, "Gamma");
    projects::StoreProject(session, "Delta");
    projects::Delete(session, "Gamma");
    EXPECT_EQ(projects::Names(session), std::vector<std::string>{"Delta"});
}

TEST_F(Projects, AProjectsSuspectFileIsFlaggedOrRefusedWhenStrict)
{
    std::ofstream(Path("suspect.hex")) << ":0400100001020304E2\n:0400140005060708C0\n:00000001FF\n";
    ASSERT_TRUE(session.LoadFlashFile(Path("suspect.hex"), true).ok);
    projects::StoreProject(session, "Epsilon");
    session.Runner().ClearLog();
    Restore("Epsilon");
    const std::vector<std::string>& log = session.Runner().Log();
    EXPECT_NE(std::find(log.begin(), log.end(), "Flash File Load - Warning: 1 record with a wrong checksum, on line 2"),
              log.end());
    EXPECT_EQ(session.Project().Flash.GetValue(0x15), 0x06);
    EXPECT_TRUE(errors.empty());

    session.Commands().StrictChecksums = true;
    Restore("Epsilon");
    EXPECT_EQ(errors, std::vector<std::string>{"Flash: Could not open " + Path("suspect.hex") +
                                               " (strict checksums: 1 record with a wrong checksum, on line 2)"});
    EXPECT_NE(session.Project().Flash.GetValue(0x15), 0x06);
}
