// The main window after start-up on the simulated serial box: the Flash page, the Device Info page
// and the Status page with the start-up's log.
#include <QTabWidget>
#include <QTest>

#include <QAction>
#include <QListWidget>
#include <QMessageBox>

#include "gui/autoprogramdialog.h"
#include "gui/loadconfigform.h"
#include "gui/mainwindow.h"
#include "gui/plugwindow.h"
#include "gui/messageboxes.h"
#include "devices/devices.h"
#include "image/settings.h"
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

std::unique_ptr<QWidget> StartedWindow(int page, bool afterWork = false)
{
    RegisterDefaultHardware();
    static TBoxModel box(*DeviceList().FindDevice("COP8SBR9", GetHardwareByName(kHardwareCom).DeviceSet));
    static TMemorySettingsBackend backend;
    static TQuietBoxes boxes;
    SetSerialPortFactory([] { return std::make_unique<TSimSerialPort>(box); });
    TISPSettings store(&backend);
    store.Put("ENVIRONMENT", "LASTHARDWARE", kGlobalGroup, kHardwareCom);
    store.Put("ENVIRONMENT", "LASTDEVICE", kGlobalGroup, "COP8SBR9");
    store.Save(TISPSettings::kGlobalKey, kGlobalGroup);

    auto window = std::make_unique<TMain>(&backend, boxes, QStringList{});
    window->resize(900, 600);
    window->show();
    (void)QTest::qWaitForWindowExposed(window.get());
    for (int i = 0; i < 200 && !window->Started(); ++i) QTest::qWait(10);
    if (afterWork) {
        // A program, then a verify against a board on which two bytes changed: the log, the red
        // lamp and the colours of a failed verification.
        window->LoadFlashFileNamed(QStringLiteral(ZEMPRIX_SOURCE_DIR "/examples/demo.hex"));
        window->Action("FlashProgram")->trigger();
        box.Flash()[0x0012] ^= 0x40;
        box.Flash()[0x0013] = 0xFF;
        window->Action("FlashVerify")->trigger();
    }
    window->Pages()->setCurrentIndex(page);
    return window;
}

}  // namespace

ZEMPRIX_SHOT("mainwindow-flash.png") { return StartedWindow(TMain::FlashPage); }
ZEMPRIX_SHOT("mainwindow-flash-verify-failed.png") { return StartedWindow(TMain::FlashPage, true); }
ZEMPRIX_SHOT("mainwindow-status-verify-failed.png") { return StartedWindow(TMain::StatusPage, true); }
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
