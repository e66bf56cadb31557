// The main window after start-up on the simulated serial box: the Flash page, the Device Info page
// and the Status page with the start-up's log.
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <thread>
#include <QTest>

#include <QAction>
#include <QListWidget>
#include <QMessageBox>

#include "app/linkportsetup.h"
#include "gui/autoprogramdialog.h"
#include "gui/infodialogs.h"
#include "gui/portdialogs.h"
#include "gui/serialnumdialog.h"
#include "devices/optioneditor.h"
#include "image/hexlist.h"
#include "image/serialnum.h"
#include "link/linkcontext.h"
#include "link/linkwide.h"
#include "lpt/portunit.h"
#include "lpt/tiraltimer.h"
#include "lpt_fakeports.h"
#include "gui/loadconfigform.h"
#include "gui/mainactions.h"
#include "gui/mainwindow.h"
#include "gui/gangpage.h"
#include "gui/operatorpage.h"
#include "gui/plugwindow.h"
#include "app/autoprogram.h"
#include "sim/boxmodel.h"
#include "gui/messageboxes.h"
#include "devices/devices.h"
#include "store/settings.h"
#include "link/hardware.h"
#include "link/serialport.h"
#include "shots.h"
#include "sim/simserial.h"

namespace {

// Pictures never wait for a person: every box is answered at once.
struct TQuietBoxes final : IMessageBoxes {
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
    bool AskOkCancel(QWidget*, const QString&, const QString&) override { return false; }
    void Inform(QWidget*, const QString&, const QString&) override {}
    void Warn(QWidget*, const QString&, const QString&) override {}
    void Error(QWidget*, const QString&, const QString&) override {}
    QString OpenFile(QWidget*, const QString&, const QStringList&, int&) override { return {}; }
    QString SaveFile(QWidget*, const QString&, const QStringList&, int&, const QString&) override { return {}; }
};

// A box that answers at a serial line's pace, so that an operation lasts long enough to be seen.
class TSlowSimPort final : public TSimSerialPort {
public:
    using TSimSerialPort::TSimSerialPort;
    void WriteByte(uint8_t value) override
    {
        std::this_thread::sleep_for(std::chrono::microseconds(90));
        TSimSerialPort::WriteByte(value);
    }
};

std::unique_ptr<QWidget> StartedWindow(int page, bool afterWork = false, bool slow = false)
{
    static TBoxModel box(*DeviceList().FindDevice("COP8SBR9", GetHardwareByName(kHardwareCom).DeviceSet));
    static TMemorySettingsBackend backend;
    static TQuietBoxes boxes;
    TISPSettings store(&backend);
    store.Put("ENVIRONMENT", "LASTHARDWARE", kGlobalGroup, kHardwareCom);
    store.Put("ENVIRONMENT", "LASTDEVICE", kGlobalGroup, "COP8SBR9");
    store.Save(TISPSettings::kGlobalKey, kGlobalGroup);

    auto window = std::make_unique<TMain>(&backend, boxes, QStringList{});
    if (slow)
        window->Session().LinkContext().SetSerialFactory([] { return std::make_unique<TSlowSimPort>(box); });
    else
        window->Session().LinkContext().SetSerialFactory([] { return std::make_unique<TSimSerialPort>(box); });
    window->resize(900, 600);
    window->show();
    (void)QTest::qWaitForWindowExposed(window.get());
    for (int i = 0; i < 200 && !window->Started(); ++i) QTest::qWait(10);
    if (afterWork) {
        // A program, then a verify against a board on which two bytes changed: the log, the red
        // lamp and the colours of a failed verification.
        window->LoadFlashFileNamed(QStringLiteral(ZEMPRIX_SOURCE_DIR "/examples/demo.hex"));
        window->Actions().FlashProgram->trigger();
        box.Flash()[0x0012] ^= 0x40;
        box.Flash()[0x0013] = 0xFF;
        window->Actions().FlashVerify->trigger();
    }
    window->Pages()->setCurrentIndex(page);
    return window;
}

}  // namespace

ZEMPRIX_SHOT("mainwindow-flash.png") { return StartedWindow(TMain::FlashPage); }
ZEMPRIX_SHOT("mainwindow-flash-verify-failed.png") { return StartedWindow(TMain::FlashPage, true); }
ZEMPRIX_SHOT("mainwindow-status-verify-failed.png") { return StartedWindow(TMain::StatusPage, true); }
// On a dark desktop theme.
ZEMPRIX_SHOT("mainwindow-flash-verify-failed-dark.png")
{
    auto window = StartedWindow(TMain::FlashPage, true);
    QPalette dark(QColor(53, 53, 53), QColor(42, 42, 42));
    dark.setColor(QPalette::WindowText, QColor(225, 225, 225));
    dark.setColor(QPalette::ButtonText, QColor(225, 225, 225));
    dark.setColor(QPalette::Text, QColor(225, 225, 225));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    window->setPalette(dark);
    return window;
}
ZEMPRIX_SHOT("mainwindow-options.png") { return StartedWindow(TMain::OptionsPage); }

ZEMPRIX_SHOT("dialog-about.png")
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::Information, QStringLiteral("About"), TMain::AboutText());
    return box;
}
ZEMPRIX_SHOT("mainwindow-deviceinfo.png") { return StartedWindow(TMain::DeviceInfoPage); }
ZEMPRIX_SHOT("mainwindow-status.png") { return StartedWindow(TMain::StatusPage); }

ZEMPRIX_SHOT("dialog-saveconfiguration.png")
{
    auto form = std::make_unique<TLoadConfigForm>(
        TLoadConfigForm::TStore{[] { return std::vector<std::string>{"Line A", "Line B (rev 2)", "Field returns"}; },
                                [](const std::string&) {}});
    form->Prepare("Line B (rev 2)", TLoadConfigForm::Save);
    form->List()->setCurrentRow(1);
    return form;
}

namespace {

// The window and what lies on it (an open menu, the plug-and-program window), grabbed while a
// command runs: the picture outlives the command.
std::unique_ptr<QWidget> Composed(TMain& window, QWidget* above)
{
    QPixmap picture = window.grab();
    if (above && above->isVisible()) {
        QPainter painter(&picture);
        const QPixmap top = above->grab();
        // A tool window has no place of its own on the offscreen screen: centred, as it shows.
        const QPoint at = above->isWindow() && !qobject_cast<QMenu*>(above)
                              ? QPoint((picture.width() - top.width()) / 2, (picture.height() - top.height()) / 2)
                              : window.mapFromGlobal(above->mapToGlobal(QPoint(0, 0)));
        painter.drawPixmap(at, top);
    }
    auto label = std::make_unique<QLabel>();
    label->setPixmap(picture);
    label->setFixedSize(picture.size());
    return label;
}

}  // namespace

// Programming: the lamp, the progress, Abort, the greyed selectors and the Device menu's greyed commands.
ZEMPRIX_SHOT("mainwindow-programming.png")
{
    auto owner = StartedWindow(TMain::FlashPage, false, true);
    auto* window = static_cast<TMain*>(owner.get());
    THexList& image = window->Session().Project().Flash;
    {
        THexList::TBulkChange bulk(image);
        for (uint32_t a = 0; a < image.Size(); ++a) image.SetValue(a, static_cast<uint8_t>(a * 7 + 1));
    }
    std::unique_ptr<QWidget> picture;
    QTimer::singleShot(600, window, [&] {
        QMenu* device = window->Actions().DeviceErase->associatedObjects().isEmpty()
                            ? nullptr
                            : qobject_cast<QMenu*>(window->Actions().DeviceErase->associatedObjects().first());
        if (device) {
            device->popup(window->mapToGlobal(QPoint(60, window->menuBar()->height())));
            QTest::qWait(100);
        }
        picture = Composed(*window, device);
        if (device) device->hide();
        window->Session().Runner().RequestAbort();
    });
    window->Actions().FlashProgram->trigger();
    return picture;
}

// Plug-and-program mode waiting for the board on the cable to be unplugged.
ZEMPRIX_SHOT("mainwindow-plugandprogram.png")
{
    auto owner = StartedWindow(TMain::FlashPage);
    auto* window = static_cast<TMain*>(owner.get());
    std::unique_ptr<QWidget> picture;
    QTimer::singleShot(400, window, [&] {
        picture = Composed(*window, window->PlugWindow());
        window->PlugWindow()->close();
    });
    window->PlugAndProgClick();
    return picture;
}

// Operator mode: idle, after a board that passed and after one that failed.
ZEMPRIX_SHOT("operator-idle.png")
{
    auto owner = StartedWindow(TMain::FlashPage);
    auto* window = static_cast<TMain*>(owner.get());
    window->LoadFlashFileNamed(QStringLiteral(ZEMPRIX_SOURCE_DIR "/examples/demo.hex"));
    window->SetOperatorMode(true, false);
    return owner;
}

ZEMPRIX_SHOT("operator-pass.png")
{
    auto owner = StartedWindow(TMain::FlashPage);
    auto* window = static_cast<TMain*>(owner.get());
    window->LoadFlashFileNamed(QStringLiteral(ZEMPRIX_SOURCE_DIR "/examples/demo.hex"));
    window->SetOperatorMode(true, false);
    window->OperatorPage()->ShowBoard({true, QStringLiteral("00000042"), QString()});
    window->OperatorPage()->ShowBoard({true, QStringLiteral("00000043"), QString()});
    return owner;
}

ZEMPRIX_SHOT("operator-fail.png")
{
    auto owner = StartedWindow(TMain::FlashPage);
    auto* window = static_cast<TMain*>(owner.get());
    window->LoadFlashFileNamed(QStringLiteral(ZEMPRIX_SOURCE_DIR "/examples/demo.hex"));
    window->SetOperatorMode(true, false);
    window->OperatorPage()->ShowBoard({true, QStringLiteral("00000042"), QString()});
    window->OperatorPage()->ShowBoard(
        {false, QString(), QStringLiteral("Flash: Verify Failed at 0012h - read 7Fh, expected 3Fh")});
    window->OperatorPage()->ShowFileWarning(TMain::FileChangedText(QStringLiteral("/home/line/firmware/board-v3.hex")));
    return owner;
}

// The file-changed warning in the status bar and the log of the four-page window.
ZEMPRIX_SHOT("mainwindow-file-changed.png")
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("board-v3.hex"));
    QFile::remove(path);
    QFile::copy(QStringLiteral(ZEMPRIX_SOURCE_DIR "/examples/demo.hex"), path);
    auto owner = StartedWindow(TMain::StatusPage);
    auto* window = static_cast<TMain*>(owner.get());
    window->LoadFlashFileNamed(path);
    window->Pages()->setCurrentIndex(TMain::StatusPage);
    QFile file(path);
    if (file.open(QIODevice::Append)) file.write(":00000001FF\r\n");
    file.close();
    for (int i = 0; i < 50 && !window->RefusalText().startsWith(QStringLiteral("Flash file changed")); ++i) QTest::qWait(10);
    return owner;
}

// A gang of three boxes after a run: one of them failed.
ZEMPRIX_SHOT("mainwindow-gang.png")
{
    auto owner = StartedWindow(TMain::FlashPage);
    auto* window = static_cast<TMain*>(owner.get());
    static std::vector<std::unique_ptr<TBoxModel>> boxes;
    boxes.clear();
    for (int i = 0; i < 3; ++i) boxes.push_back(std::make_unique<TBoxModel>(*DeviceList().FindDevice("COP8SBR9", 0xFF)));
    boxes[1]->Faults().targetAbsent = true;
    window->SetGangLinkSetup([](TAppSession& s, const std::string& port) {
        TBoxModel& b = *boxes.at(static_cast<size_t>(port.back() - '0') % 3);
        s.LinkContext().SetSerialFactory([&b] { return std::make_unique<TSimSerialPort>(b); });
    });
    window->SetGangPorts({QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB1"), QStringLiteral("/dev/ttyUSB2")});
    window->LoadFlashFileNamed(QStringLiteral(ZEMPRIX_SOURCE_DIR "/examples/demo.hex"));
    TSerialNum& serial = window->Session().Serial();
    serial.rgSerialNumMode = TSerialNum::smStoreInFlash;
    serial.heSerialLocation = 0x100;
    serial.heCurrentSerial = 0x1000;
    TISPSettings& store = window->Session().Settings();
    for (int i = 0; i < TAutoProgramSteps::kCount; ++i)
        store.Put(TAutoProgramSteps::kSection, std::to_string(i), kGlobalGroup,
                  i == TAutoProgramSteps::stErase || i == TAutoProgramSteps::stProgramFlash ||
                      i == TAutoProgramSteps::stIncrementSerial);
    window->RunGang();
    window->Pages()->setCurrentWidget(window->GangPage());
    return owner;
}

ZEMPRIX_SHOT("plugwindow.png")
{
    auto window = std::make_unique<TPlugWindow>(nullptr);
    window->SetMessage("Unplug ISP cable to program a target");
    return window;
}

ZEMPRIX_SHOT("dialog-autoprogramoptions.png")
{
    static TAutoProgramSteps steps;
    for (int i : {1, 2, 3, 4}) steps.SetChecked(i, true);
    return std::make_unique<TAutoProgramDialog>(steps);
}

namespace {

// Two parallel ports on a scripted register file: an ECP port at 378h and an EPP port at 278h.
// A link over a scripted register file: LPT1 an ECP port at 378h, LPT2 an EPP port at 278h.
TLinkContext& ShotLink()
{
    static TLinkContext link;
    static const bool made = [] {
        auto io = std::make_unique<FakeRegisterFile>();
        auto config = std::make_unique<FakeConfigSource>();
        io->ports[0x378].kind = FakeKind::ecp;
        io->ports[0x278].kind = FakeKind::epp;
        config->ports["LPT1"] = PortAt(0x378, 7);
        config->ports["LPT2"] = PortAt(0x278, 5, 3);
        auto unit = std::make_unique<TVicLPT>(std::move(io), std::move(config));
        unit->OpenDriver(1);
        link.ReplaceLpt(std::move(unit));
        // A fixed processor speed: the picture stays the same on every machine.
        TCpuSources cpu;
        cpu.Leaf1 = [](uint32_t&) { return false; };
        cpu.TimeStamp = [] { return uint64_t{0}; };
        cpu.ReportedMHz = [] { return 2400.0; };
        std::promise<std::shared_ptr<const TTiralTimer>> timer;
        timer.set_value(std::make_shared<const TTiralTimer>(cpu));
        link.SetTimerMeasurement(timer.get_future().share());
        return true;
    }();
    (void)made;
    return link;
}

TBaseFuseForm& ShotOptions()
{
    static TBaseFuseForm options;
    return options;
}

TLinkPortSetup& ShotPortSetup()
{
    static TLinkPortSetup setup(ShotLink(), ShotOptions(), [](const std::string&) {});
    return setup;
}

}  // namespace

ZEMPRIX_SHOT("dialog-ispconfiguration.png")
{
    auto dialog = std::make_unique<TfispVask>(ShotPortSetup(), [] {});
    for (int n = 1; n <= 8; ++n)
        dialog->AddPortName(QStringLiteral("COM%1").arg(n),
                            n == 1 ? QStringLiteral("COM1 = /dev/ttyUSB0 (0403:6001 FT232R USB UART, serial A10K5XYZ)")
                                   : QString());
    ShotLink().Wide().PortIndex = 0;
    dialog->Run(0, [](QDialog&) { return int(QDialog::Rejected); });
    return dialog;
}

ZEMPRIX_SHOT("dialog-advancedsettings.png")
{
    ShotOptions().SelectPGMTIM(23);
    ShotOptions().PGMTIMChange();
    auto form = std::make_unique<TAdvancedFrm>(ShotPortSetup());
    form->SetPorts({QStringLiteral("LPT1"), QStringLiteral("LPT2")});
    return form;
}

ZEMPRIX_SHOT("dialog-programmerinformation.png")
{
    auto dialog = std::make_unique<TFISPStat>();
    dialog->Fill(ZEMPRIX_FILE_VERSION, "0009",
                 {"Printer Port: LPT1 Port Address:378", "Printer Port Driver: OK",
                  "======== General Information =======", "Programmer ID: ZEMPRIX01", "Hardware Version: 0102",
                  "Device Selected: COP8SBR9"});
    return dialog;
}

ZEMPRIX_SHOT("dialog-information.png")
{
    auto dialog = std::make_unique<TPrintStatusD>();
    dialog->SetLines({"======== Programmer Connection =======", "Hardware Selected: ZEMPRIX (COM)",
                      "Connection Method: Serial Port", "Port Number: 1", "Driver Status: Connected",
                      "Max Read Timeout: 1000", "Max Write Timeout: 1000", "======== General Information =======",
                      "Programmer ID: ZEMPRIX01", "Hardware Version: 0102", "Firmware Version: 0009",
                      "======== Device Information =======", "Device Selected: COP8SBR9"});
    return dialog;
}

ZEMPRIX_SHOT("dialog-serialnumbers.png")
{
    static THexList image;
    image.SetSize(0x8000);
    static TSerialNum serial;
    serial.rgSerialNumMode = TSerialNum::smStoreInFlash;
    serial.rgSerialNumSize = TSerialNum::ssThreeBytes;
    serial.heCurrentSerial = 0x12345;
    serial.heSerialLocation = 0x7F00;
    return std::make_unique<TSerialNumDialog>(serial, image);
}

ZEMPRIX_SHOT("dialog-loadconfiguration.png")
{
    auto form = std::make_unique<TLoadConfigForm>(
        TLoadConfigForm::TStore{[] { return std::vector<std::string>{"Line A", "Line B (rev 2)", "Field returns"}; },
                                [](const std::string&) {}});
    form->Prepare("", TLoadConfigForm::Load);
    form->List()->setCurrentRow(0);
    return form;
}
