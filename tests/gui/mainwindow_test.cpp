// The main window over a scripted programmer: start-up after showing, the status lamp, the
// enabling rules against shortcuts, abort, the exit guard, files and the selectors.
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMenuBar>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

#include "fakeprogrammer.h"
#include "app/autoprogram.h"
#include "app/projects.h"
#include "gui/mainactions.h"
#include "gui/mainwindow.h"
#include "gui/autoprogramdialog.h"
#include "gui/infodialogs.h"
#include "gui/portdialogs.h"
#include "gui/serialnumdialog.h"
#include "app/productionrecord.h"
#include "lpt/portunit.h"
#include "lpt_fakeports.h"
#include "views/hexedit.h"
#include <QButtonGroup>
#include <QAbstractButton>
#include <QPlainTextEdit>
#include "gui/loadconfigform.h"
#include "gui/plugwindow.h"
#include "gui/messageboxes.h"
#include "store/productionstore.h"
#include "image/serialnum.h"
#include "gui/statuspanel.h"
#include "views/optioneditorwidget.h"
#include "views/hexview.h"
#include "image/hexfile.h"
#include "store/qsettingsbackend.h"
#include "store/settings.h"
#include "link/linkcontext.h"
#include "link/hardware.h"

namespace {

constexpr const char* kFake = "TEST (FAKE)";

int& CreatedCount()
{
    static int created = 0;
    return created;
}

TFakeProgrammer*& Current()
{
    static TFakeProgrammer* current = nullptr;
    return current;
}

// Given to every programmer the fake hardware row builds.
std::function<void(const std::string&)>& NextOnCall()
{
    static std::function<void(const std::string&)> onCall;
    return onCall;
}

// Answers every box and dialog from a script and remembers what was asked.
struct ScriptedBoxes final : IMessageBoxes {
    QStringList asked;
    bool yes = true;
    QString openPath, savePath;
    int saveFilter = 0;
    bool AskYesNo(QWidget*, const QString&, const QString& text) override
    {
        asked << text;
        return yes;
    }
    bool ok = false;
    bool AskOkCancel(QWidget*, const QString&, const QString& text) override
    {
        asked << text;
        return ok;
    }
    void Inform(QWidget*, const QString&, const QString& text) override { asked << text; }
    void Warn(QWidget*, const QString&, const QString& text) override { asked << text; }
    QStringList notWaiting;  // shown by a box that does not hold the caller
    void WarnWithoutWaiting(QWidget*, const QString&, const QString& text) override
    {
        asked << text;
        notWaiting << text;
    }
    void Error(QWidget*, const QString&, const QString& text) override { asked << text; }
    QString OpenFile(QWidget*, const QString&, const QStringList&, int&) override { return openPath; }
    QString SaveFile(QWidget*, const QString&, const QStringList& filters, int& filter, const QString&) override
    {
        EXPECT_EQ(filters.size(), 10);
        filter = saveFilter;
        return savePath;
    }
};

struct MainWindow : ::testing::Test {
    VirtualClock clock;
    ScopedClock scoped{clock};
    TMemorySettingsBackend backend;
    ScriptedBoxes boxes;
    QTemporaryDir dir;
    TFakeHardware hardware{kFake, [](TLinkContext&) {
        auto p = std::make_unique<TFakeProgrammer>();
        p->SetHasInformation(true);
        p->onCall = NextOnCall();
        Current() = p.get();
        ++CreatedCount();
        return std::unique_ptr<TISPProgrammer>(std::move(p));
    }, true};
    std::unique_ptr<TMain> window;

    void SetUp() override
    {
        TISPSettings store(&backend);
        store.Put("ENVIRONMENT", "LASTHARDWARE", kGlobalGroup, kFake);
        store.Put("ENVIRONMENT", "LASTDEVICE", kGlobalGroup, "COP8SBR9");
        store.Save(TISPSettings::kGlobalKey, kGlobalGroup);
    }
    void TearDown() override
    {
        window.reset();
        Current() = nullptr;
        NextOnCall() = nullptr;
    }

    // Shows the window and lets the posted start-up run.
    void Start(const QStringList& arguments = {})
    {
        window = std::make_unique<TMain>(&backend, boxes, arguments);
        window->Session().SetHardwareTable(hardware.table);
        // A modal dialog nobody answers would hang the test: one that a test does not expect fails it.
        window->SetDialogRunner([](QDialog& dialog) {
            ADD_FAILURE() << "unexpected dialog " << dialog.windowTitle().toStdString();
            dialog.accept();
        });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        (void)QTest::qWaitForWindowActive(window.get());
        QTRY_VERIFY_WITH_TIMEOUT(window->Started(), 5000);
    }
    TFakeProgrammer& Fake() { return *Current(); }
    std::string Status() { return window->Session().Runner().StatusText(); }
    TStatusKind Kind() { return window->Session().Runner().StatusKind(); }
    QStringList Log() const
    {
        QStringList lines;
        for (int i = 0; i < window->StatusLog()->count(); ++i) lines << window->StatusLog()->item(i)->text();
        return lines;
    }
    size_t Count(const std::string& call) { return size_t(std::count(Fake().calls.begin(), Fake().calls.end(), call)); }
    std::string Path(const char* name) const { return dir.path().toStdString() + "/" + name; }
};

}  // namespace

TEST_F(MainWindow, StartsUpOnceTheWindowIsOnScreen)
{
    bool visibleAtConnect = false;
    NextOnCall() = [&](const std::string& call) {
        // On the session's worker: the window answers through its own thread.
        if (call == "Connect") window->OnWindow([&] { visibleAtConnect = window->isVisible(); });
    };
    window = std::make_unique<TMain>(&backend, boxes, QStringList{"/Q"});
    window->Session().SetHardwareTable(hardware.table);
    EXPECT_EQ(Current(), nullptr);  // nothing connects before the window is shown
    window->show();
    QTRY_VERIFY_WITH_TIMEOUT(window->Started(), 5000);
    EXPECT_TRUE(visibleAtConnect);
    EXPECT_TRUE(Fake().calls.size() > 3);
    EXPECT_EQ(Fake().calls.back(), "LoadSettings");

    const QStringList log = Log();
    ASSERT_GE(log.size(), 4);
    EXPECT_EQ(log[0], "Invalid Commandline Parameter - !");
    EXPECT_EQ(log[1], "Version: v" ZEMPRIX_FILE_VERSION " Loaded");
    EXPECT_TRUE(log.contains("Device Selected=COP8SBR9"));
    EXPECT_TRUE(log.back().startsWith("ISP Initialized; Detected Device:  - 00:")) << log.back().toStdString();
    EXPECT_EQ(window->StatusPanel()->LampColour(), QColor(0, 255, 64));
    EXPECT_EQ(window->DeviceSelector()->currentText(), "COP8SBR9");
    EXPECT_TRUE(window->Pages()->isTabEnabled(TMain::FlashPage));
    EXPECT_EQ(window->ResetButton()->text(), "Reset");
    EXPECT_EQ(window->Progress()->format(), "Ready...");
}

TEST_F(MainWindow, ShortcutsNeverStartWhatTheRulesForbid)
{
    Start();
    TOperationRunner& runner = window->Session().Runner();
    runner.SetBusy(true);
    window->UpdateActions();
    QTest::keyClick(window.get(), Qt::Key_F6);
    QTest::keyClick(window.get(), Qt::Key_F9);
    EXPECT_EQ(Count("VerifyFlash"), 0u);
    EXPECT_EQ(Count("RunTarget"), 0u);
    EXPECT_FALSE(window->Actions().FlashVerify->isEnabled());
    EXPECT_FALSE(window->SetupButton()->isEnabled());

    runner.SetBusy(false);
    window->UpdateActions();
    QTest::keyClick(window.get(), Qt::Key_F6);
    EXPECT_EQ(Count("VerifyFlash"), 1u);
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "Flash: Verify Complete - 00:00");
    // Reload has nothing to reload yet.
    EXPECT_FALSE(window->Actions().FileReloadFlash->isEnabled());
    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "Flash: Verify Complete - 00:00");

    // F12 and F10 switch pages, and the View menu's checks follow.
    QTest::keyClick(window.get(), Qt::Key_F12);
    EXPECT_EQ(window->Pages()->currentIndex(), TMain::OptionsPage);
    EXPECT_TRUE(window->Actions().ViewOptionByte->isChecked());
    QTest::keyClick(window.get(), Qt::Key_F10);
    EXPECT_EQ(window->Pages()->currentIndex(), TMain::FlashPage);
    EXPECT_FALSE(window->Actions().ViewOptionByte->isChecked());
}

TEST_F(MainWindow, AFailureBlinksAndPopsUpOnlyWhenAsked)
{
    Start();
    Fake().failOn = "EraseDevice";
    Fake().failure = [] { throw EISPException("ISP timed out during operation"); };
    window->Actions().DeviceErase->trigger();
    EXPECT_EQ(Kind(), sk_failed);
    EXPECT_EQ(Status(), "ISP timed out during operation");
    EXPECT_TRUE(boxes.asked.isEmpty());
    const QColor first = window->StatusPanel()->LampColour();
    window->BlinkTick();
    const QColor second = window->StatusPanel()->LampColour();
    EXPECT_NE(first, second);
    EXPECT_TRUE((first == QColor(255, 0, 0) && second == QColor(0, 0, 0)) ||
                (first == QColor(0, 0, 0) && second == QColor(255, 0, 0)));

    window->Actions().PopUpWarnings->trigger();
    window->Actions().DeviceErase->trigger();
    ASSERT_EQ(boxes.asked.size(), 1);
    EXPECT_EQ(boxes.asked[0], "ISP timed out during operation");
}

TEST_F(MainWindow, ResetWhileBusyAsksAndAbortsAtTheNextProgressCall)
{
    Start();
    window->Session().Project().Flash.SetValue(0, 0x12);
    QString captionDuring;
    Fake().onCall = [&](const std::string& call) {
        if (call != "ProgramFlash") return;
        // The programmer runs on the session's worker; the click happens on the window's thread.
        window->OnWindow([&] {
            captionDuring = window->ResetButton()->text();
            QTest::mouseClick(window->ResetButton(), Qt::LeftButton);
        });
        Fake().OnProgress()(10, 100);
    };
    boxes.yes = false;
    window->Actions().FlashProgram->trigger();
    EXPECT_EQ(captionDuring, "Abort");
    EXPECT_EQ(boxes.asked, QStringList{"Are you sure you want to cancel the operation?"});
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "Flash: Programming Complete - 00:00");

    boxes.yes = true;
    window->Actions().FlashProgram->trigger();
    EXPECT_EQ(Kind(), sk_failed);
    EXPECT_EQ(Status(), "Operation Cancelled by user");
    EXPECT_EQ(window->ResetButton()->text(), "Reset");
    // Not busy: the button resets the box instead.
    Fake().onCall = nullptr;
    QTest::mouseClick(window->ResetButton(), Qt::LeftButton);
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "Reset: Complete - Detected Device:  - 00:00");
}

TEST_F(MainWindow, TheWindowStaysWhileACommandRunsAndSavesTheEnvironmentWhenItCloses)
{
    Start();
    bool closedDuring = true;
    Fake().onCall = [&](const std::string& call) {
        if (call == "EraseDevice") window->OnWindow([&] { closedDuring = window->close(); });
    };
    window->Actions().DeviceErase->trigger();
    EXPECT_FALSE(closedDuring);
    EXPECT_TRUE(boxes.asked.contains("Can't exit while programming operation in progress"));
    EXPECT_TRUE(boxes.notWaiting.contains("Can't exit while programming operation in progress"));
    Fake().onCall = nullptr;

    window->Session().Options().SelectPGMTIM(7);
    EXPECT_TRUE(window->close());
    TISPSettings reread(&backend);
    reread.Load(TISPSettings::kGlobalKey, kGlobalGroup);
    EXPECT_EQ(reread.Get("TimeSelected", "Time", -1).AsInteger(-1), 7);
    EXPECT_EQ(reread.Get("ENVIRONMENT", "LASTDEVICE", std::string()).AsString(), "COP8SBR9");
    EXPECT_EQ(Fake().calls.back(), "Disconnect");
}

TEST_F(MainWindow, LoadReloadAndSaveFlashFiles)
{
    Start();
    std::ofstream(Path("in.hex")) << ":0400100001020304E2\n:00000001FF\n";
    boxes.openPath = QString::fromStdString(Path("in.hex"));
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status().rfind("Flash File Load: File loaded (", 0), 0u) << Status();
    EXPECT_TRUE(window->windowTitle().startsWith(QString(TMain::kTitle) + " - Flash: "));
    EXPECT_EQ(window->RecentFiles(), QStringList{boxes.openPath});
    EXPECT_EQ(window->Session().Project().Flash.GetValue(0x11), 0x02);
    EXPECT_TRUE(window->Actions().FileReloadFlash->isEnabled());
    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "Flash: File Reloaded - 00:00");

    // The fourth entry of the save dialog is the writer's format 4.
    boxes.saveFilter = 3;
    boxes.savePath = QString::fromStdString(Path("out.s19"));
    window->Actions().FileSaveFlash->trigger();
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status().rfind("Flash: File Saved (", 0), 0u) << Status();
    EXPECT_EQ(TFileLoader::DetectFormat(Path("out.s19")) > 0, true);

    // A save that cannot happen says so instead of "Saved".
    boxes.savePath = QString::fromStdString(Path("in.hex") + "/below-a-file.hex");
    window->Actions().FileSaveFlash->trigger();
    EXPECT_EQ(Kind(), sk_failed);
    EXPECT_EQ(Status().rfind("Flash: Save Failed (", 0), 0u) << Status();

    boxes.savePath.clear();
    window->Actions().FileSaveFlash->trigger();
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "Flash: Save Cancelled - 00:00");

    // A missing file fails and leaves the title alone.
    const QString title = window->windowTitle();
    window->LoadFlashFileNamed(QString::fromStdString(Path("missing.hex")));
    EXPECT_EQ(Kind(), sk_failed);
    EXPECT_EQ(Status(), "Flash File Load: File load failed");
    EXPECT_EQ(window->windowTitle(), title);
}

TEST_F(MainWindow, DeviceInfoPageShowsTheImagesFacts)
{
    Start();
    window->Pages()->setCurrentIndex(TMain::DeviceInfoPage);
    const QLineEdit* crc32 = window->ChecksumField(2);
    const QLineEdit* crc16 = window->ChecksumField(0);
    ASSERT_TRUE(crc32 && crc16);
    EXPECT_EQ(crc32->text().size(), 8);
    EXPECT_EQ(crc16->text().size(), 4);
    const QString before = crc32->text();
    window->Session().Project().Flash.SetValue(0, 0x00);
    window->Pages()->setCurrentIndex(TMain::StatusPage);
    window->Pages()->setCurrentIndex(TMain::DeviceInfoPage);
    EXPECT_NE(crc32->text(), before);  // shown again, computed again
    const QString shown = crc32->text();
    window->Session().Project().Flash.SetValue(1, 0x00);  // on screen, the page follows the image
    EXPECT_NE(crc32->text(), shown);
    const QString page = [&] {
        QStringList texts;
        for (const QLabel* l : window->Pages()->widget(TMain::DeviceInfoPage)->findChildren<QLabel*>()) texts << l->text();
        return texts.join('|');
    }();
    EXPECT_TRUE(page.contains("Dezudeda Ruzoduruvezor COP8SBR9")) << page.toStdString();
    EXPECT_TRUE(page.contains("00000000 - 00007FFF"));
    EXPECT_TRUE(page.contains("32768 bytes"));
    EXPECT_TRUE(page.contains(kFake));

    window->Session().Project().Flash.SetSize(0);  // the last address of nothing wraps
    window->Pages()->setCurrentIndex(TMain::StatusPage);
    window->Pages()->setCurrentIndex(TMain::DeviceInfoPage);
    QStringList empty;
    for (const QLabel* l : window->Pages()->widget(TMain::DeviceInfoPage)->findChildren<QLabel*>()) empty << l->text();
    EXPECT_TRUE(empty.contains("00000000 - FFFFFFFF")) << empty.join('|').toStdString();
    EXPECT_TRUE(empty.contains("0 bytes"));
}

TEST_F(MainWindow, ChoosingADeviceSwitchesAndChoosingTheSameOneDoesNothing)
{
    Start();
    QComboBox* devices = window->DeviceSelector();
    const int same = devices->currentIndex();
    const size_t connects = Count("Connect");
    emit devices->activated(same);
    EXPECT_EQ(Count("Connect"), connects);
    EXPECT_EQ(window->ProgrammerSelector()->currentText(), kFake);

    const int other = devices->findText("COP8SBE9");
    ASSERT_GE(other, 0);
    devices->setCurrentIndex(other);
    emit devices->activated(other);
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "ISP Initialized: Detected Device:  - 00:00");
    EXPECT_EQ(window->Session().Device()->Name(), "COP8SBE9");
    EXPECT_EQ(window->DeviceSelector()->currentText(), "COP8SBE9");
    EXPECT_TRUE(Log().contains(QString("Attempting to switch to Device:COP8SBE9 Hardware:") + kFake));
}

// The package puts the program in usr/bin and its readme and help under usr/share/zemprix; files
// beside the program (the build tree, an unpacked folder) win over the installed ones.
TEST_F(MainWindow, ReadmeAndHelpFoundInTheInstalledLayout)
{
    Start();
    const QString root = dir.path() + "/usr";
    ASSERT_TRUE(QDir().mkpath(root + "/bin") && QDir().mkpath(root + "/share/zemprix/doc"));
    window->SetProgramFolder(root + "/bin");
    EXPECT_EQ(window->HelpPath(), root + "/share/zemprix/doc/index.html");  // named when missing
    window->UpdateActions();
    EXPECT_FALSE(window->Actions().HelpReadme->isEnabled());

    std::ofstream((root + "/share/zemprix/readme.txt").toStdString()) << "installed\n";
    std::ofstream((root + "/share/zemprix/doc/index.html").toStdString()) << "<p>installed</p>\n";
    EXPECT_EQ(window->ReadmePath(), root + "/share/zemprix/readme.txt");
    EXPECT_EQ(window->HelpPath(), root + "/share/zemprix/doc/index.html");
    window->UpdateActions();
    window->Actions().HelpReadme->trigger();
    EXPECT_EQ(Log().first(), "installed");
    // A line too wide for the page can still be read whole.
    const QString wide = QString("wide ").repeated(80);
    window->Session().Runner().AppendLog(wide.toStdString());
    EXPECT_EQ(window->StatusLog()->item(window->StatusLog()->count() - 1)->toolTip(), wide);

    ASSERT_TRUE(QDir().mkpath(root + "/bin/doc"));
    std::ofstream((root + "/bin/readme.txt").toStdString()) << "beside\n";
    std::ofstream((root + "/bin/doc/index.html").toStdString()) << "<p>beside</p>\n";
    EXPECT_EQ(window->ReadmePath(), root + "/bin/readme.txt");
    EXPECT_EQ(window->HelpPath(), root + "/bin/doc/index.html");

    // Help Topics hands the file to the browser; when none takes it, a box names the file.
    QList<QUrl> opened;
    bool browser = true;
    window->SetUrlOpener([&](const QUrl& url) {
        opened << url;
        return browser;
    });
    boxes.asked.clear();
    window->Actions().HelpTopics->trigger();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(root + "/bin/doc/index.html"));
    EXPECT_TRUE(boxes.asked.isEmpty());
    browser = false;
    window->Actions().HelpTopics->trigger();
    ASSERT_EQ(boxes.asked.size(), 1);
    EXPECT_TRUE(boxes.asked[0].contains("No web browser")) << boxes.asked[0].toStdString();
    EXPECT_TRUE(boxes.asked[0].contains(root + "/bin/doc/index.html"));
}

TEST_F(MainWindow, ReadmeLogFileAndRecentFiles)
{
    Start();
    window->SetProgramFolder(dir.path());
    window->UpdateActions();
    EXPECT_FALSE(window->Actions().HelpReadme->isEnabled());
    std::ofstream(Path("readme.txt")) << "first line\nsecond line\n";
    window->UpdateActions();
    window->Actions().HelpReadme->trigger();
    EXPECT_EQ(Log(), (QStringList{"first line", "second line", "README: File Loaded Successfully - 00:00"}));
    EXPECT_EQ(window->Pages()->currentIndex(), TMain::StatusPage);

    // With "Enable LogFile" checked, every status line and every exception goes to the log file,
    // timestamped, after a header; a restart appends.
    Fake().failOn = "EraseDevice";
    window->Actions().DeviceErase->trigger();
    EXPECT_TRUE(window->LogFilePath().isEmpty());
    window->Actions().EnableLogFile->trigger();
    window->Actions().DeviceErase->trigger();
    QFile log(window->LogFilePath());
    EXPECT_TRUE(window->LogFilePath().endsWith("/state/zemprix/zemprix.log")) << window->LogFilePath().toStdString();
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], "ZEMPRIX programmer " ZEMPRIX_FILE_VERSION);
    EXPECT_TRUE(lines[1].endsWith(" Erase: Erasing Device")) << lines[1].toStdString();
    EXPECT_TRUE(lines.filter(" Exception: Verify Failed").size() == 1) << lines.join('|').toStdString();
    EXPECT_TRUE(lines.back().endsWith(" Verify Failed")) << lines.back().toStdString();
    EXPECT_EQ(lines[1].mid(4, 1), "-");  // a date first
    Fake().failOn.clear();

    // Successful loads join the recent files, newest first, at most five; the list survives a restart.
    for (int i = 0; i < 7; ++i) {
        const std::string name = Path(("f" + std::to_string(i) + ".hex").c_str());
        std::ofstream(name) << ":0100000001FE\n:00000001FF\n";
        window->LoadFlashFileNamed(QString::fromStdString(name));
    }
    ASSERT_EQ(window->RecentFiles().size(), 5);
    EXPECT_TRUE(window->RecentFiles().front().endsWith("f6.hex"));
    EXPECT_TRUE(window->close());
    Start();
    EXPECT_EQ(window->RecentFiles().size(), 5);
    EXPECT_TRUE(window->RecentFiles().front().endsWith("f6.hex"));
}

TEST_F(MainWindow, ShiftAboutRevealsTheSupportMenu)
{
    Start();
    QAction* support = nullptr;
    for (QAction* a : window->menuBar()->actions())
        if (a->text() == "Support") support = a;
    ASSERT_NE(support, nullptr);
    EXPECT_FALSE(support->isVisible());
    window->About(false);
    EXPECT_FALSE(support->isVisible());
    ASSERT_EQ(boxes.asked.size(), 1);
    EXPECT_TRUE(boxes.asked[0].contains("Version: v" ZEMPRIX_FILE_VERSION));
    // The description line ends after its dash; the name is not repeated there.
    EXPECT_TRUE(boxes.asked[0].startsWith("ZEMPRIX\nHardware Support:\nZEMPRIX - \n")) << boxes.asked[0].toStdString();

    window->About(true);
    EXPECT_TRUE(support->isVisible());
    EXPECT_FALSE(window->Actions().EncodeFile->isEnabled());

    window->Actions().CopyDeviceList->trigger();
    const QString list = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(list.contains("COP8SBR9\r\n")) << list.toStdString();

    // No step stored: each run would ask for its steps; the dialog is answered with its defaults.
    int asked = 0;
    window->SetDialogRunner([&](QDialog& dialog) {
        ++asked;
        dialog.accept();
    });
    window->Actions().TestAllFreqs->trigger();
    EXPECT_EQ(asked, 24);
    const QStringList log = Log();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const QString& l) { return l.startsWith("Starting "); }), 24);
}

namespace {

// An updater script in `folder` with `body` after the shebang.
void WriteUpdater(const QString& folder, const std::string& body)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QString::fromStdString(TFirmwareUpdate::UpdaterName()));
    std::ofstream(path.toStdString()) << "#!/bin/sh\n" << body << "\n";
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

TEST_F(MainWindow, FirmwareUpdateRunsTheUpdaterWithItsArgumentsAndAlwaysReconnects)
{
    Start();
    const QString folder = dir.filePath("program folder");  // a blank in the path
    window->SetProgramFolder(folder);

    // No updater: cancelled, yet a fresh programmer is connected.
    const int before = CreatedCount();
    window->FirmwareUpdate();
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "Firmware Update: Cancelled - 00:00");
    EXPECT_EQ(CreatedCount(), before + 1);
    EXPECT_EQ(Fake().calls.back().rfind("WriteTiming ", 0), 0u);

    // The updater gets the firmware folder and version as two arguments, no shell in between.
    const std::string argsFile = Path("args");
    WriteUpdater(folder, "for a in \"$@\"; do echo \"$a\"; done > '" + argsFile + "'");
    window->FirmwareUpdate();
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "Firmware Update: Complete - 00:00");
    std::ifstream in(argsFile);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "firmware/cop8\n0009\n");
    EXPECT_TRUE(boxes.asked.contains(TFirmwareUpdate::kCompleteMessage));

    // One that outlives the limit is ended and the update counts as run.
    WriteUpdater(folder, "exec sleep 30");
    window->SetFirmwareLimitMs(300);
    QElapsedTimer elapsed;
    elapsed.start();
    window->FirmwareUpdate();
    EXPECT_LT(elapsed.elapsed(), 10000);
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "Firmware Update: Complete - 00:00");
}

TEST_F(MainWindow, TheFirmwareOfferRunsTheUpdateAndSaysWhenItDidNotHelp)
{
    Start();
    window->SetProgramFolder(dir.path());
    NextOnCall() = [](const std::string& call) {
        if (call == "Connect") throw EFirmwareMisMatch("Your ISP needs a firmware update");
    };
    Fake().onCall = NextOnCall();
    boxes.ok = false;
    QTest::mouseClick(window->ResetButton(), Qt::LeftButton);
    EXPECT_EQ(Kind(), sk_failed);
    EXPECT_EQ(Status(), "Firmware Update Required");
    boxes.ok = true;
    boxes.asked.clear();
    QTest::mouseClick(window->ResetButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.asked.size(), 2);
    EXPECT_EQ(boxes.asked[0], TOperationRunner::kFirmwareQuestion);
    EXPECT_EQ(boxes.asked[1], TOperationRunner::kFirmwareFailed);
    EXPECT_EQ(Kind(), sk_failed);
    EXPECT_EQ(Status(), "Firmware Update Required");
    EXPECT_FALSE(window->Session().Runner().Busy());
    EXPECT_EQ(window->ResetButton()->text(), "Reset");
}

TEST_F(MainWindow, AutoProgramAndThePlugAndProgramWindow)
{
    Start();
    TISPSettings& store = window->Session().Settings();
    for (int i = 0; i < TAutoProgramSteps::kCount; ++i)
        store.Put(TAutoProgramSteps::kSection, std::to_string(i), kGlobalGroup, i == TAutoProgramSteps::stErase);
    QTest::keyClick(window.get(), Qt::Key_F5);
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status().rfind("Auto Program: Complete (2 devices programmed this session)", 0), 0u) << Status();
    EXPECT_EQ(Count("EraseDevice"), 2u);

    // Waiting for a board that never comes; Cancel in the tool window ends the mode.
    bool shownWhileWaiting = false;
    QString message;
    QTimer::singleShot(100, window.get(), [&] {
        shownWhileWaiting = window->PlugWindow()->isVisible();
        message = window->PlugWindow()->Message();
        QTest::mouseClick(window->PlugWindow()->CancelButton(), Qt::LeftButton);
    });
    QTest::keyClick(window.get(), Qt::Key_F8);
    EXPECT_TRUE(shownWhileWaiting);
    EXPECT_EQ(message, "Waiting for Target Board");
    EXPECT_FALSE(window->PlugWindow()->isVisible());
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "Plug and Prog: Aborted");
}

TEST_F(MainWindow, ProjectsThroughTheSavedConfigurationsDialog)
{
    Start();
    // Saving: OK stays disabled while the name is empty or would nest keys.
    window->SetConfigurationChooser([&](TLoadConfigForm& form, std::string& name, int mode) {
        form.Prepare(name, static_cast<TLoadConfigForm::TMode>(mode));
        EXPECT_EQ(form.windowTitle(), "Save Configuration");
        EXPECT_FALSE(form.OkButton()->isEnabled());
        QTest::keyClicks(form.NameField(), "a/b");
        EXPECT_FALSE(form.OkButton()->isEnabled());
        form.NameField()->clear();
        QTest::keyClicks(form.NameField(), "Line A");
        EXPECT_TRUE(form.OkButton()->isEnabled());
        name = form.Result();
        return true;
    });
    window->Actions().SaveWorkspace->trigger();
    EXPECT_EQ(window->WorkspaceName(), "Line A");
    window->SetConfigurationChooser([&](TLoadConfigForm& form, std::string& name, int) {
        name = "Line B";
        (void)form;
        return true;
    });
    window->Actions().SaveWorkspace->trigger();

    // Loading: OK needs a selection; Delete removes at once, even when the dialog is cancelled.
    window->SetConfigurationChooser([&](TLoadConfigForm& form, std::string& name, int mode) {
        form.Prepare(name, static_cast<TLoadConfigForm::TMode>(mode));
        EXPECT_EQ(form.windowTitle(), "Load Configuration");
        EXPECT_TRUE(form.NameField()->isReadOnly());
        EXPECT_EQ(form.List()->count(), 2);
        EXPECT_FALSE(form.OkButton()->isEnabled());
        form.List()->setCurrentRow(1);
        QTest::mouseClick(form.DeleteButton(), Qt::LeftButton);
        EXPECT_EQ(form.List()->count(), 1);
        return false;
    });
    window->Actions().LoadWorkSpace->trigger();
    EXPECT_EQ(projects::Names(window->Session()).size(), 1u);

    window->SetConfigurationChooser([&](TLoadConfigForm& form, std::string& name, int mode) {
        form.Prepare(name, static_cast<TLoadConfigForm::TMode>(mode));
        form.List()->setCurrentRow(0);
        EXPECT_TRUE(form.OkButton()->isEnabled());
        name = form.Result();
        return true;
    });
    window->Actions().LoadWorkSpace->trigger();
    EXPECT_EQ(Kind(), sk_completed);
    EXPECT_EQ(Status(), "Workspace loaded successfully - 00:00");
    EXPECT_TRUE(Log().contains("Project Load Complete - 00:00"));
    EXPECT_EQ(window->WorkspaceName(), projects::Names(window->Session()).front());
}

TEST_F(MainWindow, ACorruptSettingsFileStartsOnDefaultsAndIsKeptBeforeTheSave)
{
    QDir().mkpath(dir.filePath("corrupt/morvel"));
    const QString file = dir.filePath("corrupt/morvel/ZEMPRIX.conf");
    std::ofstream(file.toStdString()) << "[GLOBAL]\nENVIRONMENT\\LASTHARDWARE=" << kFake << "\nbroken line\n";
    TQSettingsBackend real(dir.filePath("corrupt").toStdString());
    // The hardware comes from the command line: defaults would pick a real port.
    window = std::make_unique<TMain>(&real, boxes, QStringList{QString("/M:") + kFake});
    window->Session().SetHardwareTable(hardware.table);
    window->show();
    QTRY_VERIFY_WITH_TIMEOUT(window->Started(), 5000);
    const QStringList log = Log();
    EXPECT_TRUE(log.front().startsWith("Settings: started on defaults - The settings file ")) << log.front().toStdString();
    EXPECT_TRUE(log.front().contains("line 3"));
    // The remedy is one the window takes: it has no switch to skip the settings.
    EXPECT_TRUE(log.front().contains("repair or remove the file")) << log.front().toStdString();
    EXPECT_FALSE(log.front().contains("--no-settings"));
    const QStringList kept = QDir(dir.filePath("corrupt/morvel")).entryList({"ZEMPRIX.conf.corrupt-*"});
    ASSERT_EQ(kept.size(), 1);
    window->Session().Runner().SetBusy(false);
    EXPECT_TRUE(window->close());
    TISPSettings reread(&real);
    EXPECT_NO_THROW(reread.Load(TISPSettings::kGlobalKey, kGlobalGroup));
}

TEST_F(MainWindow, TheHexViewAndTheOptionEditorAreBoundToTheSession)
{
    Start();
    THexWindow* hex = window->FlashView();
    ASSERT_NE(hex, nullptr);
    EXPECT_EQ(hex->Data(), &window->Session().Project().Flash);
    TBaseFuseFrame* editor = window->OptionEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_FALSE(editor->ClockSelector()->isEnabled());
    EXPECT_TRUE(editor->AccessCompModeBox()->isHidden());
    // A Read Options shows the device's byte in the editor's label.
    Fake().deviceOptions = 0x2D;
    window->Actions().OptionsRead->trigger();
    EXPECT_EQ(window->Pages()->currentIndex(), TMain::OptionsPage);
    EXPECT_EQ(editor->Label5()->text(), "2Dh - 00101101b");
    // A device switch rebuilds the editor on the same model.
    const int other = window->DeviceSelector()->findText("COP8SBE9");
    window->DeviceSelector()->setCurrentIndex(other);
    emit window->DeviceSelector()->activated(other);
    QCoreApplication::processEvents();
    EXPECT_NE(window->OptionEditor(), nullptr);
    EXPECT_EQ(hex->Data()->Size(), 0x2000u);
}

TEST_F(MainWindow, AutoProgramOptionsAreCheckedInTheirDialogAndAFirstRunAsksForThem)
{
    Start();
    // No step stored: F5 opens the dialog first; the steps ticked there run and are remembered.
    int shown = 0;
    window->SetDialogRunner([&](QDialog& dialog) {
        ++shown;
        auto& options = static_cast<TAutoProgramDialog&>(dialog);
        EXPECT_EQ(dialog.windowTitle(), "Auto Program Options");
        ASSERT_EQ(options.List()->count(), 7);
        EXPECT_EQ(options.List()->item(5)->text(), "Increment Serial Number");
        for (int i = 0; i < 7; ++i) EXPECT_EQ(options.List()->item(i)->checkState(), Qt::Unchecked);
        options.List()->item(1)->setCheckState(Qt::Checked);  // Erase Device
        QTest::keyClick(&dialog, Qt::Key_Escape);              // no way out but OK
        EXPECT_EQ(dialog.result(), 0);
        QTest::mouseClick(options.OkButton(), Qt::LeftButton);
    });
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(Count("EraseDevice"), 1u);
    EXPECT_TRUE(window->Session().Settings().Get("AUTOPROGRAM", "1", false).AsBoolean());
    EXPECT_FALSE(window->Session().Settings().Get("AUTOPROGRAM", "0", true).AsBoolean());
    // With a step on, the next run does not ask.
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(Count("EraseDevice"), 2u);
    // The menu entry shows the stored choice.
    window->SetDialogRunner([&](QDialog& dialog) {
        EXPECT_EQ(static_cast<TAutoProgramDialog&>(dialog).List()->item(1)->checkState(), Qt::Checked);
        dialog.accept();
    });
    window->Actions().AutoProgramOptions->trigger();
}

TEST_F(MainWindow, SerialNumbersAndTheProductionRecordInAutoProgram)
{
    Start();
    // The dialog places the number and the Flash page shows it.
    window->SetDialogRunner([&](QDialog& dialog) {
        auto& serial = static_cast<TSerialNumDialog&>(dialog);
        EXPECT_EQ(dialog.windowTitle(), "Serial Number Generation");
        serial.Mode()->button(1)->click();
        serial.Location()->setText("100");
        serial.CurrentSerial()->setText("ABCD");
        QTest::mouseClick(serial.OkButton(), Qt::LeftButton);
    });
    window->Actions().SerialNumbers->trigger();
    const THexList& image = window->Session().Project().Flash;
    EXPECT_EQ(image.GetValue(0x100), 0xAB);
    EXPECT_EQ(image.GetValue(0x101), 0xCD);
    EXPECT_EQ(window->Pages()->currentIndex(), TMain::FlashPage);

    // Program and Increment Serial Number, with a record file named in the options.
    const QString record = dir.filePath("boards.csv");
    window->SetDialogRunner([&](QDialog& dialog) {
        auto& options = static_cast<TAutoProgramDialog&>(dialog);
        options.List()->item(TAutoProgramSteps::stProgramFlash)->setCheckState(Qt::Checked);
        options.List()->item(TAutoProgramSteps::stIncrementSerial)->setCheckState(Qt::Checked);
        options.RecordFile()->setText(record);
        QTest::mouseClick(options.OkButton(), Qt::LeftButton);
    });
    window->Actions().AutoProgramOptions->trigger();
    EXPECT_EQ(window->Session().Settings().Get("PRODUCTIONRECORD", "FILE", "").AsString(), record.toStdString());
    QTest::keyClick(window.get(), Qt::Key_F5);
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_EQ(window->Session().Serial().heCurrentSerial, 0xABCFu);
    EXPECT_EQ(image.GetValue(0x101), 0xCF);
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], TProductionRecord::kHeader);
    EXPECT_TRUE(lines[1].contains(",COP8SBR9,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(",ABCD,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].contains(",ABCE,")) << lines[2].toStdString();

    // Clearing the name stops the record.
    window->SetDialogRunner([&](QDialog& dialog) {
        auto& options = static_cast<TAutoProgramDialog&>(dialog);
        EXPECT_EQ(options.RecordFile()->text(), record);
        options.RecordFile()->clear();
        QTest::mouseClick(options.OkButton(), Qt::LeftButton);
    });
    window->Actions().AutoProgramOptions->trigger();
    QTest::keyClick(window.get(), Qt::Key_F5);
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()).count('\n'), 3);
}

// A line's numbers: the options name the production store, the serial-number dialog chooses one of
// its pools, and each F5 takes the pool's next number and leaves the board's record in the store.
TEST_F(MainWindow, AutoProgramTakesNumbersFromAStorePoolAndRecordsEachBoard)
{
    Start();
    const std::string db = dir.filePath("line.sqlite").toStdString();
    {
        TSerialPoolRow pool;
        pool.Name = "line";
        pool.Start = 0x0500;
        pool.Location = 0x100;
        OpenProductionStore(db)->CreatePool(pool);
    }
    window->SetDialogRunner([&](QDialog& dialog) {
        auto& options = static_cast<TAutoProgramDialog&>(dialog);
        options.List()->item(TAutoProgramSteps::stProgramFlash)->setCheckState(Qt::Checked);
        options.List()->item(TAutoProgramSteps::stIncrementSerial)->setCheckState(Qt::Checked);
        options.Database()->setText(QString::fromStdString(db));
        QTest::mouseClick(options.OkButton(), Qt::LeftButton);
    });
    window->Actions().AutoProgramOptions->trigger();
    EXPECT_EQ(window->Session().Settings().Get("PRODUCTIONRECORD", "DATABASE", "").AsString(), db);
    window->SetDialogRunner([&](QDialog& dialog) {
        auto& serial = static_cast<TSerialNumDialog&>(dialog);
        EXPECT_FALSE(serial.PoolChoice()->isHidden());
        serial.Mode()->button(1)->click();
        ASSERT_EQ(serial.PoolChoice()->count(), 2);
        serial.PoolChoice()->setCurrentIndex(1);
        // The pool gives size, location and number.
        EXPECT_FALSE(serial.Location()->isEnabled());
        QTest::mouseClick(serial.OkButton(), Qt::LeftButton);
    });
    window->Actions().SerialNumbers->trigger();
    EXPECT_EQ(window->Session().Serial().Pool, "line");
    QTest::keyClick(window.get(), Qt::Key_F5);
    QTest::keyClick(window.get(), Qt::Key_F5);
    auto store = OpenProductionStore(db);
    EXPECT_EQ(store->Numbers("line", "committed"), (std::vector<uint64_t>{0x500, 0x501}));
    const auto records = store->Records({});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Serial, "0500");
    EXPECT_EQ(records[1].Serial, "0501");
    EXPECT_EQ(records[0].Device, "COP8SBR9");
    EXPECT_EQ(records[0].Result, "ok");

    // A store that cannot be reached stops the run before the box, with the reason.
    window->Session().Settings().Put("PRODUCTIONRECORD", "DATABASE", kGlobalGroup,
                                     std::string("postgresql://x@/line?host=") + dir.filePath("none").toStdString());
    boxes.asked.clear();
    const size_t programmed = Count("ProgramFlash");
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_EQ(Count("ProgramFlash"), programmed);
    ASSERT_EQ(boxes.asked.size(), 1);
    EXPECT_TRUE(boxes.asked[0].contains("cannot connect")) << boxes.asked[0].toStdString();
}

TEST_F(MainWindow, TheLinksDialogsOpenThroughTheWindow)
{
    Start();
    auto io = std::make_unique<FakeRegisterFile>();
    auto config = std::make_unique<FakeConfigSource>();
    io->ports[0x378].kind = FakeKind::spp;
    config->ports["LPT1"] = PortAt(0x378, 7);
    window->Session().LinkContext().ReplaceLpt(std::make_unique<TVicLPT>(std::move(io), std::move(config)));
    window->SetPortIdentifier([](const QString& entry) { return entry == "COM2" ? QString("/dev/ttyUSB0") : QString(); });

    // Setup: the entries, their identities and the advanced button only when the menu says so.
    int index = 0;
    window->SetDialogRunner([&](QDialog& dialog) {
        auto& setup = static_cast<TfispVask&>(dialog);
        EXPECT_EQ(dialog.windowTitle(), "ISP Configuration");
        EXPECT_FALSE(setup.Button3()->isEnabled());
        EXPECT_EQ(setup.PortSelector()->count(), 2);
        setup.PortSelector()->setCurrentIndex(1);
        emit setup.PortSelector()->activated(1);
        EXPECT_EQ(setup.Identity()->text(), "/dev/ttyUSB0");
        QTest::mouseClick(setup.OkButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(window->RunSetupDialog({"COM1", "COM2"}, index));
    EXPECT_EQ(index, 1);

    window->Actions().EnableAdvanced->setChecked(true);
    window->ClearAdvancedPortList();
    window->AddAdvancedPort("LPT1");
    int advancedShown = 0;
    window->SetDialogRunner([&](QDialog& dialog) {
        if (auto* advanced = qobject_cast<TAdvancedFrm*>(&dialog)) {
            ++advancedShown;
            EXPECT_EQ(advanced->PortSelector()->count(), 1);
            dialog.reject();
            return;
        }
        auto& setup = static_cast<TfispVask&>(dialog);
        EXPECT_TRUE(setup.Button3()->isEnabled());
        QTest::mouseClick(setup.Button3(), Qt::LeftButton);
        QTest::mouseClick(setup.CancelButton(), Qt::LeftButton);
    });
    index = 0;
    EXPECT_FALSE(window->RunSetupDialog({"LPT1"}, index));
    EXPECT_EQ(advancedShown, 1);
    EXPECT_NE(window->AdvancedForm(), nullptr);

    // The two reports.
    window->SetDialogRunner([&](QDialog& dialog) {
        auto& stat = static_cast<TFISPStat&>(dialog);
        EXPECT_EQ(stat.SoftRev()->text(), ZEMPRIX_FILE_VERSION);
        EXPECT_EQ(stat.AddInfo()->item(0)->text(), "Printer Port: LPT1 Port Address:378");
        dialog.accept();
    });
    window->ShowProgrammerInformation(ZEMPRIX_FILE_VERSION, "0009", {"Printer Port: LPT1 Port Address:378"});
    window->SetDialogRunner([&](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Information");
        dialog.accept();
    });
    window->ShowTextReport({"======== Programmer Connection ======="});
    EXPECT_EQ(window->PrintStatusD()->Memo1()->toPlainText(), "======== Programmer Connection =======");
    window->Session().LinkContext().ReleaseLpt();
}

TEST_F(MainWindow, TheFlashPageStaysReadableOnADarkTheme)
{
    Start();
    THexWindow* hex = window->FlashView();
    ASSERT_NE(hex, nullptr);
    // Pixels clearly lighter than the view's own background, below the first row (the cursor's cell
    // is white on black).
    auto lightInk = [](QWidget* widget, int left, int top, int right) {
        const QImage shot = widget->grab().toImage();
        const int face = QColor(shot.pixel(1, 1)).lightness();
        int n = 0;
        for (int y = top; y < shot.height(); ++y)
            for (int x = left; x < right && x < shot.width(); ++x) n += QColor(shot.pixel(x, y)).lightness() > face + 60;
        return n;
    };
    // The status text, right of the lamp.
    QWidget* panel = window->StatusPanel();
    auto statusInk = [&] { return lightInk(panel, 4 + panel->height(), 0, panel->width()); };
    // The hex rows below the first (the cursor's cell is white on black).
    auto hexInk = [&] {
        return lightInk(hex->viewport(), 0, THexLayout::kMargin + 2 * hex->Layout().h, hex->Layout().BufferWidth());
    };
    ASSERT_FALSE(window->Session().Runner().StatusText().empty());
    EXPECT_EQ(hexInk(), 0);
    EXPECT_EQ(statusInk(), 0);

    QPalette dark = window->palette();
    dark.setColor(QPalette::Button, QColor(48, 48, 48));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    window->setPalette(dark);
    EXPECT_GT(hexInk(), 500);
    EXPECT_GT(statusInk(), 20);

    // Back to a light theme: the classic dark digits and text again.
    window->setPalette(QPalette(QColor(220, 220, 220)));
    EXPECT_EQ(hexInk(), 0);
    EXPECT_EQ(statusInk(), 0);
}
