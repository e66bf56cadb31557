// The window during real operations: zemprix-boxsim on a pseudo-terminal, paced at the serial
// line's speed, and the window's own QSerialPort link on the session's worker thread. Every check
// made while an operation runs is made from the window's event loop, which keeps turning.
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/autoprogram.h"
#include "app/desktoplink.h"
#include "gui/mainactions.h"
#include "gui/mainwindow.h"
#include "answers.h"
#include "gapmeter.h"
#include "gui/messageboxes.h"
#include "gui/plugwindow.h"
#include "gui/statuspanel.h"
#include "store/settings.h"
#include "views/hexview.h"
#include "views/optioneditorwidget.h"

namespace {

// Processor time this process used, in milliseconds.
double CpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

class LiveWindow : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (window) {
            window->PlugWindow()->SetCancelled(true);
            QTRY_VERIFY_WITH_TIMEOUT(window->BusyState() == TMain::TBusy::Idle, 15000);
            window.reset();
        }
        KillBox();
        for (pid_t other : others_) {
            kill(other, SIGKILL);
            waitpid(other, nullptr, 0);
        }
        for (int fd : held_) close(fd);
    }

    void StartBox(const std::vector<std::string>& extra = {})
    {
        const std::string boxsim = std::string(ZEMPRIX_BIN_DIR) + "/zemprix-boxsim";
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        box_ = fork();
        if (box_ == 0) {
            // The box ends with the test, whatever ends it, and never holds the test's output open.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(fds[1], 1);
            const int null = open("/dev/null", O_WRONLY);
            if (null >= 0) dup2(null, 2);
            close(fds[0]);
            std::vector<std::string> args = {boxsim, "--pace", "--device", "COP8SBR9"};
            args.insert(args.end(), extra.begin(), extra.end());
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(boxsim.c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        port_.clear();
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n') port_ += c;
        close(fds[0]);
        ASSERT_FALSE(port_.empty()) << "zemprix-boxsim did not start";
        // Held until the test ends, so that a killed box's terminal number is not handed to a box
        // another test starts meanwhile, which the window would then reach under the same name.
        const int hold = open(port_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (hold >= 0) held_.push_back(hold);
        setenv("ZEMPRIX_COM1", port_.c_str(), 1);
    }
    // A second box, for a gang; started before the window's own, which StartBox then names COM1.
    std::string StartOtherBox()
    {
        StartBox();
        others_.push_back(box_);
        box_ = 0;
        return port_;
    }
    void KillBox()
    {
        if (box_ <= 0) return;
        kill(box_, SIGKILL);
        waitpid(box_, nullptr, 0);
        box_ = 0;
    }

    // `connects` false: the box has no target, and the start-up's connection fails without one.
    void StartWindow(bool connects = true)
    {
        window = std::make_unique<TMain>(&settings, boxes, QStringList{QStringLiteral("/M:ZEMPRIX (COM)")});
        UseQtSerialPort(window->Session());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        (void)QTest::qWaitForWindowActive(window.get());
        QTRY_VERIFY_WITH_TIMEOUT(window->Started(), 15000);
        if (connects) {
            ASSERT_EQ(window->Session().Runner().StatusKind(), sk_completed) << window->Session().Runner().StatusText();
        }
    }

    // Runs `check` from the window's loop `ms` after the action starts, then triggers it.
    void During(int ms, QAction* action, std::function<void()> check)
    {
        QTimer::singleShot(ms, window.get(), std::move(check));
        action->trigger();
    }

    // The actions enabled now, by name.
    std::vector<std::string> Enabled() const
    {
        std::vector<std::string> names;
        for (QAction* a : window->findChildren<QAction*>())
            if (a->isEnabled() && !a->objectName().isEmpty()) names.push_back(a->objectName().toStdString());
        std::sort(names.begin(), names.end());
        return names;
    }
    QStringList Log() const
    {
        QStringList lines;
        for (int i = 0; i < window->StatusLog()->count(); ++i) lines << window->StatusLog()->item(i)->text();
        return lines;
    }
    QString Shown() const { return window->StatusPanel()->StatusText(); }
    void SetSteps(std::initializer_list<int> on)
    {
        TISPSettings& store = window->Session().Settings();
        for (int i = 0; i < TAutoProgramSteps::kCount; ++i)
            store.Put(TAutoProgramSteps::kSection, std::to_string(i), kGlobalGroup, std::find(on.begin(), on.end(), i) != on.end());
    }

    TMemorySettingsBackend settings;
    TAnswers boxes;
    std::unique_ptr<TMain> window;
    pid_t box_ = 0;
    std::string port_;
    std::vector<int> held_;
    std::vector<pid_t> others_;
};

// Looking, help, copying and the exit's refusal: all that stays while an operation runs.
const std::vector<std::string> kWhileBusy = {"CopyDeviceList", "FileExit", "HelpAbout", "HelpReadme",
                                             "HelpTopics", "ViewFlash", "ViewOptionByte", "ViewStatus"};

}  // namespace

TEST_F(LiveWindow, ReadAndProgramLeaveTheImageAloneRefuseShortcutsAndAbortCleanly)
{
    StartBox();
    StartWindow();
    THexList& image = window->Session().Project().Flash;
    // After the start-up the view edits the session's own image.
    EXPECT_EQ(window->FlashView()->Data(), &image);
    // A full image: programming and reading it over the paced line take seconds.
    {
        THexList::TBulkChange bulk(image);
        for (uint32_t a = 0; a < image.Size(); ++a) image.SetValue(a, static_cast<uint8_t>(a * 7 + 1));
    }
    const uint8_t first = image.GetValue(0);

    for (QAction* action : {window->Actions().FlashProgram, window->Actions().FlashRead}) {
        SCOPED_TRACE(action->objectName().toStdString());
        std::vector<std::string> enabledDuring;
        bool selectorsDuring = true, editorDuring = true, viewReadOnly = false;
        QString resetCaption, refusal, dropRefusal, shownDuring;
        TGapMeter gaps;
        boxes.yes = true;
        boxes.asked.clear();
        During(300, action, [&] {
            enabledDuring = Enabled();
            selectorsDuring = window->DeviceSelector()->isEnabled() || window->ProgrammerSelector()->isEnabled() ||
                              window->SetupButton()->isEnabled();
            editorDuring = window->OptionEditor() && window->OptionEditor()->isEnabled();
            viewReadOnly = window->FlashView()->ReadOnly();
            shownDuring = Shown();
            // Typing into the hex view at 0000h, and a shortcut that would start a run.
            window->FlashView()->setFocus();
            QTest::keyClicks(window->FlashView(), QStringLiteral("AB"));
            QTest::keyClick(window->FlashView(), Qt::Key_F5);
            refusal = window->RefusalText();
            // A file dropped on the window meanwhile is refused the same way.
            window->LoadFlashFileNamed(QStringLiteral("/nonexistent/dropped.hex"));
            dropRefusal = window->RefusalText();
            resetCaption = window->ResetButton()->text();
            // Abort: the question, then the operation ends at its next progress check.
            QTest::mouseClick(window->ResetButton(), Qt::LeftButton);
        });
        EXPECT_LT(gaps.LongestMs(), kGapBoundMs);
        EXPECT_EQ(enabledDuring, kWhileBusy);
        EXPECT_FALSE(selectorsDuring);
        EXPECT_FALSE(editorDuring);
        EXPECT_TRUE(viewReadOnly);
        EXPECT_TRUE(shownDuring.startsWith(action == window->Actions().FlashRead ? "Flash: Reading" : "Flash: Programming"))
            << shownDuring.toStdString();
        EXPECT_EQ(refusal, "Auto Program is not available while an operation runs");
        EXPECT_EQ(dropRefusal, "Loading a file is not available while an operation runs");
        EXPECT_EQ(resetCaption, "Abort");
        EXPECT_EQ(boxes.asked, QStringList{"Are you sure you want to cancel the operation?"});
        EXPECT_EQ(Shown(), "Operation Cancelled by user");
        EXPECT_EQ(window->ResetButton()->text(), "Reset");
        EXPECT_NE(image.GetValue(0), 0xAB);
        if (action == window->Actions().FlashProgram) {
            EXPECT_EQ(image.GetValue(0), first);
        }
        // Idle again: the rules are the usual ones and the view edits the session's image.
        EXPECT_TRUE(window->Actions().AutoProgramRun->isEnabled());
        EXPECT_TRUE(window->DeviceSelector()->isEnabled());
        EXPECT_FALSE(window->FlashView()->ReadOnly());
        EXPECT_EQ(window->FlashView()->Data(), &image);
    }
    // The abort left programming mode: the box takes the next command.
    window->Actions().OptionsRead->trigger();
    EXPECT_EQ(window->Session().Runner().StatusKind(), sk_completed) << Shown().toStdString();
}

TEST_F(LiveWindow, AutoProgramResetAndADeviceSwitchKeepTheWindowTurning)
{
    StartBox();
    StartWindow();
    SetSteps({TAutoProgramSteps::stErase, TAutoProgramSteps::stProgramOptions});
    std::vector<std::vector<std::string>> samples;
    QTimer sampler;
    sampler.setInterval(150);
    QObject::connect(&sampler, &QTimer::timeout, [&] { samples.push_back(Enabled()); });
    {
        TGapMeter gaps;
        sampler.start();
        QTest::keyClick(window.get(), Qt::Key_F5);
        sampler.stop();
        EXPECT_LT(gaps.LongestMs(), kGapBoundMs);
    }
    EXPECT_TRUE(Shown().startsWith("Auto Program: Complete")) << Shown().toStdString();
    // Between its steps too, nothing but looking is enabled.
    ASSERT_GE(samples.size(), 2u);
    for (const auto& enabled : samples) EXPECT_EQ(enabled, kWhileBusy);

    {
        TGapMeter gaps;
        QTest::mouseClick(window->ResetButton(), Qt::LeftButton);
        EXPECT_LT(gaps.LongestMs(), kGapBoundMs);
        EXPECT_TRUE(Shown().startsWith("Reset: Complete")) << Shown().toStdString();
    }
    {
        TGapMeter gaps;
        QComboBox* devices = window->DeviceSelector();
        const int other = devices->findText(QStringLiteral("COP8SBR9")) == 0 ? 1 : 0;
        const QString chosen = devices->itemText(other);
        devices->setCurrentIndex(other);
        emit devices->activated(other);
        EXPECT_LT(gaps.LongestMs(), kGapBoundMs);
        ASSERT_NE(window->Session().Device(), nullptr);
        EXPECT_EQ(QString::fromStdString(window->Session().Device()->Name()), chosen);
        EXPECT_EQ(devices->currentText(), chosen);
    }
}

TEST_F(LiveWindow, PlugAndProgramRunsCommandsBetweenPollsAndClosingItsWindowEndsTheMode)
{
    StartBox({"--no-target"});
    StartWindow(false);
    bool visible = false, readEnabled = false, selectors = true;
    QString message;
    double cpuMs = 0, wallMs = 0;
    QStringList logAfterRead;
    TGapMeter gaps;
    QTimer::singleShot(300, window.get(), [&] {
        visible = window->PlugWindow()->isVisible();
        message = window->PlugWindow()->Message();
        readEnabled = window->Actions().OptionsRead->isEnabled();
        selectors = window->DeviceSelector()->isEnabled();
        // A command while the loop waits runs on the worker between two polls.
        window->Actions().OptionsRead->trigger();
        logAfterRead = Log();
        // Waiting polls at a steady pace, not flat out.
        gaps.Stop();
        const double cpu = CpuMs();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(1000);
        cpuMs = CpuMs() - cpu;
        wallMs = static_cast<double>(wall.elapsed());
        gaps.Resume();
        window->PlugWindow()->close();
    });
    QTest::keyClick(window.get(), Qt::Key_F8);
    EXPECT_LT(gaps.LongestMs(), kGapBoundMs);
    EXPECT_TRUE(visible);
    EXPECT_EQ(message, "Waiting for Target Board");
    EXPECT_TRUE(readEnabled);
    EXPECT_FALSE(selectors);
    EXPECT_TRUE(std::any_of(logAfterRead.begin(), logAfterRead.end(),
                            [](const QString& l) { return l.startsWith("OPTIONS: Reading"); }))
        << logAfterRead.join('\n').toStdString();
    EXPECT_LT(cpuMs, 0.5 * wallMs) << "processor time while waiting for a board";
    EXPECT_FALSE(window->PlugWindow()->isVisible());
    EXPECT_EQ(Shown(), "Plug and Prog: Aborted");
    EXPECT_EQ(window->BusyState(), TMain::TBusy::Idle);
    EXPECT_TRUE(window->Actions().PlugAndProg->isEnabled());
    EXPECT_FALSE(window->Session().Runner().AutoRunMark());
}

TEST_F(LiveWindow, ABoxKilledWhileTheLoopWaitsEndsTheModeWithItsFailureAndTheProgramIdles)
{
    StartBox({"--no-target"});
    StartWindow(false);
    QTimer::singleShot(300, window.get(), [&] { KillBox(); });
    QTest::keyClick(window.get(), Qt::Key_F8);
    const QStringList log = Log();
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log.back(), "Plug and Prog: Aborted due to error") << log.join('\n').toStdString();
    EXPECT_TRUE(log[log.size() - 2].contains(QString::fromStdString(port_))) << log[log.size() - 2].toStdString();
    EXPECT_FALSE(window->PlugWindow()->isVisible());
    EXPECT_EQ(window->BusyState(), TMain::TBusy::Idle);
    EXPECT_FALSE(window->Session().Runner().AutoRunMark());

    // Idle after the loss: no core spinning on a dead port.
    const double cpu = CpuMs();
    QTest::qWait(500);
    EXPECT_LT(CpuMs() - cpu, 150.0);
    // The next command names the port it cannot open, and the port checks say why after it.
    QTest::mouseClick(window->ResetButton(), Qt::LeftButton);
    EXPECT_EQ(window->Session().Runner().StatusKind(), sk_failed);
    const QStringList after = Log();
    const int failure = after.lastIndexOf(QRegularExpression(".*Could not open communications port.*"));
    ASSERT_GE(failure, 0) << after.join('\n').toStdString();
    EXPECT_TRUE(after[failure].contains(QString::fromStdString(port_))) << after[failure].toStdString();
    const QStringList explained = after.mid(failure + 1);
    EXPECT_TRUE(explained.join('\n').contains(QString::fromStdString("FAIL serial port COM1 = " + port_)))
        << after.join('\n').toStdString();
    EXPECT_TRUE(explained.join('\n').contains("     fix: ")) << after.join('\n').toStdString();
}

TEST_F(LiveWindow, ABoxKilledWhileIdleIsReportedByTheNextCommandAndABoxThatFallsSilentDoesNotFreeze)
{
    StartBox();
    StartWindow();
    KillBox();
    const double cpu = CpuMs();
    QTest::qWait(500);
    EXPECT_LT(CpuMs() - cpu, 150.0);
    window->Actions().OptionsRead->trigger();
    EXPECT_EQ(window->Session().Runner().StatusKind(), sk_failed);
    EXPECT_TRUE(Log().back().contains(QString::fromStdString(port_))) << Log().back().toStdString();
    EXPECT_EQ(window->BusyState(), TMain::TBusy::Idle);

    // A box that stops answering: the link waits out its limit, the window keeps turning.
    StartBox();
    kill(box_, SIGSTOP);
    TGapMeter gaps;
    QTest::mouseClick(window->ResetButton(), Qt::LeftButton);
    EXPECT_LT(gaps.LongestMs(), kGapBoundMs);
    EXPECT_EQ(window->Session().Runner().StatusKind(), sk_failed) << Shown().toStdString();
    kill(box_, SIGCONT);
}

TEST_F(LiveWindow, ASuspectFileIsFlaggedOnTheStatusLineAndInTheLogWhenLoadedAndReloaded)
{
    StartBox();
    StartWindow();
    QTemporaryDir dir;
    const QString suspect = dir.path() + "/suspect.hex";
    const QString good = dir.path() + "/good.hex";
    std::ofstream(suspect.toStdString()) << ":0400100001020304E2\n:0400140005060708C0\n:0400180009000000D0\n:00000001FF\n";
    std::ofstream(good.toStdString()) << ":0400100001020304E2\n:00000001FF\n";
    const QString warning = "Warning: 2 records with a wrong checksum, the first on line 2";

    boxes.openPath = suspect;
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(Shown().startsWith("Flash File Load: File loaded"), 5000);
    EXPECT_TRUE(Shown().contains(warning)) << Shown().toStdString();
    EXPECT_TRUE(Log().back().contains(warning)) << Log().back().toStdString();
    EXPECT_EQ(window->Session().Runner().StatusKind(), sk_completed);  // loaded, only flagged

    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(Shown().startsWith("Flash: File Reloaded"), 5000);
    EXPECT_TRUE(Shown().contains(warning)) << Shown().toStdString();

    boxes.openPath = good;
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(Shown().startsWith("Flash File Load: File loaded") && window->BusyState() == TMain::TBusy::Idle,
                             5000);
    EXPECT_FALSE(Shown().contains("Warning")) << Shown().toStdString();
}

// A gang whose first box is the window's own: the two take turns with the port, so every box of
// the gang runs, run after run, and the window's next command still reaches its box.
TEST_F(LiveWindow, AGangBoxOnTheWindowsOwnPortTakesTurnsWithTheWindow)
{
    const std::string other = StartOtherBox();
    StartBox();
    StartWindow();
    SetSteps({TAutoProgramSteps::stErase});
    window->SetGangPorts({QString::fromStdString(port_), QString::fromStdString(other)});
    for (int run = 0; run < 2; ++run) {
        QTest::keyClick(window.get(), Qt::Key_F5);
        EXPECT_TRUE(Log().back().startsWith("Gang: 2 boxes, 2 passed, 0 failed")) << Log().join('\n').toStdString();
    }
    window->Actions().OptionsRead->trigger();
    EXPECT_EQ(window->Session().Runner().StatusKind(), sk_completed) << Log().join('\n').toStdString();
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_TRUE(Log().back().startsWith("Gang: 2 boxes, 2 passed, 0 failed")) << Log().join('\n').toStdString();
}
