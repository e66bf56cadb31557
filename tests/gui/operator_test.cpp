// Operator mode and the watched Flash file, driven with real key and mouse events against the
// in-process box simulator (its target attached and detached by the test).
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/autoprogram.h"
#include "devices/devices.h"
#include "gui/gangpage.h"
#include "gui/mainactions.h"
#include "gui/mainwindow.h"
#include "answers.h"
#include "gapmeter.h"
#include "gui/messageboxes.h"
#include "gui/operatorpage.h"
#include "gui/plugwindow.h"
#include "gui/statuspanel.h"
#include "image/serialnum.h"
#include "link/hardware.h"
#include "sim/boxmodel.h"
#include "sim/simserial.h"
#include "store/productionstore.h"
#include "store/settings.h"

namespace {

// The box's target is on the cable while `attached` says so; the flag is read on the worker,
// where the box model lives while a command runs.
class TAttachablePort final : public TSimSerialPort {
public:
    TAttachablePort(TBoxModel& box, const std::atomic<bool>& attached) : TSimSerialPort(box), attached_(attached) {}
    void WriteByte(uint8_t value) override
    {
        Box().Faults().targetAbsent = !attached_;
        TSimSerialPort::WriteByte(value);
    }

private:
    const std::atomic<bool>& attached_;
};

// An Intel hex file of `count` bytes of `value` from address 0.
void WriteHex(const QString& path, uint8_t value, int count)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    for (int at = 0; at < count; at += 16) {
        QByteArray line = QByteArray(":10") + QByteArray::number(at, 16).rightJustified(4, '0').toUpper() + "00";
        uint32_t sum = 0x10 + (at >> 8) + (at & 0xFF);
        for (int i = 0; i < 16; ++i) {
            line += QByteArray::number(value, 16).rightJustified(2, '0').toUpper();
            sum += value;
        }
        line += QByteArray::number((0x100 - (sum & 0xFF)) & 0xFF, 16).rightJustified(2, '0').toUpper() + "\r\n";
        file.write(line);
    }
    file.write(":00000001FF\r\n");
}

class OperatorWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        TISPSettings store(&settings);
        store.Put("ENVIRONMENT", "LASTHARDWARE", kGlobalGroup, kHardwareCom);
        store.Put("ENVIRONMENT", "LASTDEVICE", kGlobalGroup, "COP8SBR9");
        store.Save(TISPSettings::kGlobalKey, kGlobalGroup);
    }
    void TearDown() override
    {
        if (window) {
            window->PlugWindow()->SetCancelled(true);
            QTRY_VERIFY_WITH_TIMEOUT(window->BusyState() == TMain::TBusy::Idle, 10000);
            window.reset();
        }
    }
    void Start(const QStringList& arguments = {})
    {
        window = std::make_unique<TMain>(&settings, boxes, arguments);
        window->Session().LinkContext().SetSerialFactory([this] { return std::make_unique<TAttachablePort>(box, attached); });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        (void)QTest::qWaitForWindowActive(window.get());
        QTRY_VERIFY_WITH_TIMEOUT(window->Started(), 10000);
    }
    // Gang ports "BOX1" to "BOXn" reach in-process boxes of their own, gangBoxes[0] to [n-1].
    void UseGangBoxes(int count)
    {
        for (int i = 0; i < count; ++i) gangBoxes.push_back(std::make_unique<TBoxModel>(*DeviceList().FindDevice("COP8SBR9", 0xFF)));
        window->SetGangLinkSetup([this](TAppSession& s, const std::string& port) {
            TBoxModel& b = *gangBoxes.at(static_cast<size_t>(port.back() - '1'));
            s.LinkContext().SetSerialFactory([&b] { return std::make_unique<TSimSerialPort>(b); });
        });
    }
    void SetSteps(std::initializer_list<int> on)
    {
        TISPSettings& store = window->Session().Settings();
        for (int i = 0; i < TAutoProgramSteps::kCount; ++i)
            store.Put(TAutoProgramSteps::kSection, std::to_string(i), kGlobalGroup, std::find(on.begin(), on.end(), i) != on.end());
    }
    std::vector<std::string> Enabled() const
    {
        std::vector<std::string> names;
        for (QAction* a : window->findChildren<QAction*>())
            if (a->isEnabled() && !a->objectName().isEmpty()) names.push_back(a->objectName().toStdString());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Runs `then` from the window's loop once a log line starts with `start`.
    void WhenLogged(const QString& start, std::function<void()> then)
    {
        auto* poll = new QTimer(window.get());
        poll->setInterval(20);
        QObject::connect(poll, &QTimer::timeout, window.get(), [this, poll, start, then] {
            for (const QString& line : Log())
                if (line.startsWith(start)) {
                    poll->stop();
                    poll->deleteLater();
                    then();
                    return;
                }
        });
        poll->start();
    }
    QStringList Log() const
    {
        QStringList lines;
        for (int i = 0; i < window->StatusLog()->count(); ++i) lines << window->StatusLog()->item(i)->text();
        return lines;
    }

    TMemorySettingsBackend settings;
    TAnswers boxes;
    TBoxModel box{*DeviceList().FindDevice("COP8SBR9", 0xFF)};
    std::atomic<bool> attached{true};
    std::vector<std::unique_ptr<TBoxModel>> gangBoxes;  // outlive the window's gang
    std::unique_ptr<TMain> window;
    QTemporaryDir dir;
};

}  // namespace

TEST_F(OperatorWindow, OperatorModeLeavesOnlyProductionCountsBoardsAndAsksBeforeLeaving)
{
    Start();
    window->Actions().ViewOperatorMode->trigger();
    ASSERT_TRUE(window->OperatorMode());
    auto* central = qobject_cast<QStackedWidget*>(window->centralWidget());
    ASSERT_NE(central, nullptr);
    EXPECT_EQ(central->currentWidget(), window->OperatorPage());
    EXPECT_EQ(Enabled(), (std::vector<std::string>{"AutoProgram", "PlugAndProg", "ViewOperatorMode"}));
    EXPECT_FALSE(window->DeviceSelector()->isEnabled());
    EXPECT_FALSE(window->ProgrammerSelector()->isEnabled());
    EXPECT_FALSE(window->ResetButton()->isEnabled());
    EXPECT_TRUE(window->OperatorPage()->ImageText().contains("COP8SBR9")) << window->OperatorPage()->ImageText().toStdString();
    // A shortcut of the workshop is refused; the operator's F5 runs a board.
    const QString path = dir.filePath("board.hex");
    WriteHex(path, 0x5A, 64);
    EXPECT_EQ(window->Session().Settings().Get("ENVIRONMENT", "OPERATORMODE", false).AsBoolean(false), true);

    SetSteps({TAutoProgramSteps::stErase, TAutoProgramSteps::stProgramOptions});
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_EQ(window->OperatorPage()->Verdict(), "PASS");
    EXPECT_EQ(window->OperatorPage()->Counters(), "Pass 1    Fail 0    Total 1");
    EXPECT_TRUE(window->OperatorPage()->FailureLine().isEmpty());

    // A board that fails: the panel says why, the log is one click away.
    attached = false;
    QTest::keyClick(window.get(), Qt::Key_F5);
    attached = true;
    EXPECT_EQ(window->OperatorPage()->Verdict(), "FAIL");
    EXPECT_EQ(window->OperatorPage()->Counters(), "Pass 1    Fail 1    Total 2");
    EXPECT_FALSE(window->OperatorPage()->FailureLine().isEmpty());
    EXPECT_FALSE(window->OperatorPage()->Log()->isVisible());
    QTest::mouseClick(window->OperatorPage()->LogButton(), Qt::LeftButton);
    EXPECT_TRUE(window->OperatorPage()->Log()->isVisible());
    EXPECT_GT(window->OperatorPage()->Log()->count(), 3);

    // Leaving asks; No stays.
    boxes.yes = false;
    window->Actions().ViewOperatorMode->trigger();
    EXPECT_TRUE(window->OperatorMode());
    EXPECT_TRUE(boxes.asked.contains(TMain::kLeaveOperatorQuestion));
    boxes.yes = true;
    window->Actions().ViewOperatorMode->trigger();
    EXPECT_FALSE(window->OperatorMode());
    EXPECT_EQ(central->currentWidget(), window->Pages());
    EXPECT_TRUE(window->Actions().FlashRead->isEnabled());
    EXPECT_FALSE(window->Session().Settings().Get("ENVIRONMENT", "OPERATORMODE", true).AsBoolean(true));
}

TEST_F(OperatorWindow, OperatorModeComesBackAtStartUpAndWithTheSwitch)
{
    {
        TISPSettings store(&settings);
        store.Load(TISPSettings::kGlobalKey, kGlobalGroup);
        store.Put("ENVIRONMENT", "OPERATORMODE", kGlobalGroup, true);
        store.Save(TISPSettings::kGlobalKey, kGlobalGroup);
    }
    Start();
    EXPECT_TRUE(window->OperatorMode());
    window.reset();
    {
        TISPSettings store(&settings);
        store.Load(TISPSettings::kGlobalKey, kGlobalGroup);
        store.Put("ENVIRONMENT", "OPERATORMODE", kGlobalGroup, false);
        store.Save(TISPSettings::kGlobalKey, kGlobalGroup);
    }
    Start({QStringLiteral("/O")});
    EXPECT_TRUE(window->OperatorMode());
    EXPECT_FALSE(Log().join('\n').contains("Invalid Commandline Parameter"));
}

TEST_F(OperatorWindow, AFileRewrittenDuringPlugAndProgramIsWarnedAboutAndAskedBeforeTheNextBoard)
{
    Start();
    const QString path = dir.filePath("image.hex");
    WriteHex(path, 0x11, 32);
    window->LoadFlashFileNamed(path);
    ASSERT_EQ(window->Session().Project().Flash.GetValue(0x10), 0x11);
    SetSteps({TAutoProgramSteps::stErase, TAutoProgramSteps::stProgramFlash});
    attached = false;

    QString warned, statusBar;
    QTimer::singleShot(150, window.get(), [&] { WriteHex(path, 0x22, 16); });
    QTimer::singleShot(600, window.get(), [&] {
        const QStringList log = Log();
        for (const QString& line : log)
            if (line.startsWith("Flash file changed on disk: ")) warned = line;
        statusBar = window->RefusalText();
        attached = true;  // a board arrives: the question comes before anything is sent
    });
    WhenLogged(QStringLiteral("Auto Program: Complete"), [&] {
        attached = false;
        window->PlugWindow()->close();
    });
    QTest::keyClick(window.get(), Qt::Key_F8);

    EXPECT_EQ(warned, TMain::FileChangedText(path));
    EXPECT_EQ(statusBar, TMain::FileChangedText(path));
    ASSERT_EQ(boxes.asked.size(), 1) << boxes.asked.join('\n').toStdString();
    EXPECT_TRUE(boxes.asked[0].startsWith(TMain::FileChangedText(path)));
    // The board got the new file whole: no byte of the old one beyond the new file's end.
    EXPECT_EQ(box.Flash()[0x00], 0x22) << Log().join('\n').toStdString();
    EXPECT_EQ(box.Flash()[0x0F], 0x22);
    EXPECT_NE(box.Flash()[0x10], 0x11);
    EXPECT_TRUE(Log().join('\n').contains("Flash: File Reloaded"));

    // Answered No: the next board keeps the image read before, and is asked about once only.
    boxes.asked.clear();
    boxes.yes = false;
    WriteHex(path, 0x33, 16);
    QTest::qWait(100);
    QTimer::singleShot(200, window.get(), [&] { attached = true; });
    window->StatusLog()->clear();
    // The mode's end gave the keys back to the main window: F8 works without a click.
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    WhenLogged(QStringLiteral("Auto Program: Complete"), [&] {
        attached = false;
        window->PlugWindow()->close();
    });
    QTest::keyClick(window.get(), Qt::Key_F8);
    EXPECT_EQ(boxes.asked.size(), 1) << Log().join('\n').toStdString();
    EXPECT_EQ(box.Flash()[0x00], 0x22);
}

TEST_F(OperatorWindow, AGangOfThreeRunsAtOnceOneFailingBoxStopsNoOtherAndNumbersAreDistinct)
{
    Start();
    UseGangBoxes(3);
    // Device > Gang...: three ports typed into the dialog.
    window->SetDialogRunner([](QDialog& dialog) {
        auto* entry = dialog.findChild<QLineEdit*>(QStringLiteral("PortEntry"));
        auto* add = dialog.findChild<QPushButton*>(QStringLiteral("AddTyped"));
        for (const char* port : {"BOX1", "BOX2", "BOX3", "BOX2"}) {
            QTest::keyClicks(entry, QString::fromLatin1(port));
            QTest::mouseClick(add, Qt::LeftButton);
        }
        dialog.accept();
    });
    window->Actions().DeviceGang->trigger();
    ASSERT_EQ(window->GangPorts(), (QStringList{"BOX1", "BOX2", "BOX3"}));
    EXPECT_EQ(window->Pages()->currentWidget(), window->GangPage());

    const QString path = dir.filePath("gang.hex");
    WriteHex(path, 0x5A, 64);
    window->LoadFlashFileNamed(path);
    TSerialNum& serial = window->Session().Serial();
    serial.rgSerialNumMode = TSerialNum::smStoreInFlash;
    serial.heSerialLocation = 0x100;
    serial.heCurrentSerial = 0x41;
    SetSteps({TAutoProgramSteps::stErase, TAutoProgramSteps::stProgramFlash, TAutoProgramSteps::stIncrementSerial});
    gangBoxes[1]->Faults().targetAbsent = true;

    QTest::keyClick(window.get(), Qt::Key_F5);

    TGangPage& page = *window->GangPage();
    EXPECT_EQ(page.Cell(0, TGangPage::Result), "Passed");
    EXPECT_EQ(page.Cell(2, TGangPage::Result), "Passed");
    EXPECT_FALSE(page.Cell(1, TGangPage::Result).isEmpty());
    EXPECT_NE(page.Cell(1, TGangPage::Result), "Passed");
    EXPECT_TRUE(page.Cell(1, TGangPage::Serial).isEmpty());
    const QString a = page.Cell(0, TGangPage::Serial), b = page.Cell(2, TGangPage::Serial);
    EXPECT_FALSE(a.isEmpty());
    EXPECT_FALSE(b.isEmpty());
    EXPECT_NE(a, b);
    // Each passing board carries the number its row shows, and the data.
    for (int row : {0, 2}) {
        const std::vector<uint8_t>& flash = gangBoxes[static_cast<size_t>(row)]->Flash();
        EXPECT_EQ(flash[0x10], 0x5A);
        const QString inBox = QStringLiteral("%1%2")
                                  .arg(flash[0x100], 2, 16, QLatin1Char('0'))
                                  .arg(flash[0x101], 2, 16, QLatin1Char('0'))
                                  .toUpper();
        EXPECT_EQ(inBox, page.Cell(row, TGangPage::Serial));
    }
    const QString summary = Log().isEmpty() ? QString() : Log().back();
    EXPECT_TRUE(summary.startsWith("Gang: 3 boxes, 2 passed, 1 failed")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("BOX2: ")) << summary.toStdString();
    // The failed board gave its number back: the next one is the one of 41h..43h not programmed.
    const uint64_t next = window->Session().Serial().heCurrentSerial;
    uint64_t unused = 0;
    for (uint64_t n : {0x41u, 0x42u, 0x43u})
        if (QString::number(n, 16).rightJustified(4, '0') != a && QString::number(n, 16).rightJustified(4, '0') != b) unused = n;
    EXPECT_EQ(next, unused) << summary.toStdString() << " " << a.toStdString() << " " << b.toStdString();
    EXPECT_EQ(window->BusyState(), TMain::TBusy::Idle);

    // The gang is remembered and comes back with the settings.
    EXPECT_EQ(window->Session().Settings().Get("GANG", "PORTS", std::string()).AsString(), "BOX1\nBOX2\nBOX3");
}

TEST_F(OperatorWindow, AGangTakesItsNumbersFromTheStoresPoolAndRecordsEveryBoardThere)
{
    const std::string database = dir.filePath("line.sqlite").toStdString();
    {
        std::unique_ptr<IProductionStore> store = OpenProductionStore(database);
        TSerialPoolRow pool;
        pool.Name = "line";
        pool.Start = 0x500;
        pool.SizeBytes = 2;
        pool.Location = 0x100;
        store->CreatePool(pool);
    }
    Start();
    UseGangBoxes(3);
    window->SetGangPorts({"BOX1", "BOX2", "BOX3"});
    const QString path = dir.filePath("gang.hex");
    WriteHex(path, 0x5A, 64);
    window->LoadFlashFileNamed(path);
    window->Session().Settings().Put(TAutoProgramSteps::kRecordSection, "DATABASE", kGlobalGroup, database);
    TSerialNum& serial = window->Session().Serial();
    serial.rgSerialNumMode = TSerialNum::smStoreInFlash;
    serial.Pool = "line";
    SetSteps({TAutoProgramSteps::stErase, TAutoProgramSteps::stProgramFlash, TAutoProgramSteps::stIncrementSerial});
    gangBoxes[1]->Faults().targetAbsent = true;

    QTest::keyClick(window.get(), Qt::Key_F5);

    TGangPage& page = *window->GangPage();
    EXPECT_EQ(page.Cell(0, TGangPage::Result), "Passed") << Log().join('\n').toStdString();
    EXPECT_EQ(page.Cell(2, TGangPage::Result), "Passed");
    EXPECT_NE(page.Cell(1, TGangPage::Result), "Passed");
    const QString a = page.Cell(0, TGangPage::Serial), b = page.Cell(2, TGangPage::Serial);
    EXPECT_NE(a, b);
    EXPECT_TRUE(a.startsWith("05")) << a.toStdString();
    EXPECT_TRUE(b.startsWith("05")) << b.toStdString();

    std::unique_ptr<IProductionStore> store = OpenProductionStore(database);
    const std::vector<TStoredBoard> records = store->Records({});
    ASSERT_EQ(records.size(), 3u);
    int passed = 0;
    for (const TStoredBoard& r : records) passed += r.Result == "ok";
    EXPECT_EQ(passed, 2);
    EXPECT_EQ(store->Numbers("line", "committed").size(), 2u);
}

TEST_F(OperatorWindow, OperatorCountersAreTheStationsOfTheDayFromTheStore)
{
    const std::string database = dir.filePath("line.sqlite").toStdString();
    {
        // Two boards of this station today, programmed before this window started.
        std::unique_ptr<IProductionStore> store = OpenProductionStore(database);
        for (const char* result : {"ok", "failed"}) {
            TStoredBoard board;
            board.TimeUtc = UtcNow();
            board.Station = StationName();
            board.Device = "COP8SBR9";
            board.Result = result;
            store->FinishBoard(board, std::nullopt, TSerialFate::Released);
        }
    }
    Start();
    window->Session().Settings().Put(TAutoProgramSteps::kRecordSection, "DATABASE", kGlobalGroup, database);
    SetSteps({TAutoProgramSteps::stErase, TAutoProgramSteps::stProgramOptions});
    window->Actions().ViewOperatorMode->trigger();
    ASSERT_TRUE(window->OperatorMode());

    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_EQ(window->OperatorPage()->Verdict(), "PASS") << Log().join('\n').toStdString();
    // The store's count arrives from the worker: the board just programmed and the two before it.
    QTRY_COMPARE_WITH_TIMEOUT(window->OperatorPage()->Counters(), QStringLiteral("Pass 2    Fail 1    Total 3 (store)"), 5000);
}

TEST_F(OperatorWindow, AStoreServerThatDoesNotAnswerIsReportedWithoutFreezingTheWindow)
{
    // A server that takes the connection and never answers: the store waits out its time limit.
    const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(listen(silent, 8), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string url = "postgresql://zemprix@127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/line?connect_timeout=2";

    Start();
    window->Session().Settings().Put(TAutoProgramSteps::kRecordSection, "DATABASE", kGlobalGroup, url);
    SetSteps({TAutoProgramSteps::stErase, TAutoProgramSteps::stProgramOptions});
    const int logged = window->StatusLog()->count();

    // Auto Program: the reason is shown, no board is started, and the window kept turning.
    {
        TGapMeter gaps;
        QTest::keyClick(window.get(), Qt::Key_F5);
        EXPECT_LT(gaps.LongestMs(), kGapBoundMs);
    }
    ASSERT_FALSE(boxes.asked.isEmpty());
    EXPECT_TRUE(boxes.asked.back().contains("cannot connect")) << boxes.asked.back().toStdString();
    EXPECT_EQ(window->StatusLog()->count(), logged) << Log().join('\n').toStdString();
    EXPECT_EQ(window->BusyState(), TMain::TBusy::Idle);
    EXPECT_TRUE(window->Actions().AutoProgramRun->isEnabled());

    // A gang: the run ends with the store's failure before any box starts.
    UseGangBoxes(2);
    window->SetGangPorts({"BOX1", "BOX2"});
    {
        TGapMeter gaps;
        QTest::keyClick(window.get(), Qt::Key_F5);
        EXPECT_LT(gaps.LongestMs(), kGapBoundMs);
    }
    EXPECT_TRUE(Log().back().contains("Gang: Production store")) << Log().join('\n').toStdString();
    EXPECT_TRUE(Log().back().contains("cannot connect")) << Log().back().toStdString();
    EXPECT_EQ(window->GangPage()->Cell(0, TGangPage::Result), QString());
    EXPECT_EQ(window->BusyState(), TMain::TBusy::Idle);
    close(silent);
}
