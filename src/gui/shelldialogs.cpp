#include "gui/mainwindow.h"

// The shell's dialogs: the link's setup, advanced port, information and report dialogs, the Auto
// Program options, the serial numbers, the saved configurations and the message box.
#include <QAction>

#include "app/productionrecord.h"
#include "app/projects.h"
#include "image/serialnum.h"
#include "link/programmer.h"
#include "gui/autoprogramdialog.h"
#include "gui/infodialogs.h"
#include "gui/loadconfigform.h"
#include "gui/mainactions.h"
#include "gui/messageboxes.h"
#include "gui/portdialogs.h"
#include "gui/serialnumdialog.h"

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

int TMain::RunDialog(QDialog& dialog)
{
    if (!dialogRunner_) return dialog.exec();
    dialog.setResult(QDialog::Rejected);
    dialogRunner_(dialog);
    return dialog.result();
}

bool TMain::RunSetupDialog(const std::vector<std::string>& ports, int& index)
{
    std::function<void()> advanced;
    if (actions_->EnableAdvanced->isChecked()) advanced = [this] { RunAdvancedForm(); };
    TfispVask dialog(session_->PortSetup(), advanced, this);
    for (const std::string& p : ports) dialog.AddPortName(Q(p), portIdentifier_ ? portIdentifier_(Q(p)) : QString());
    if (!dialog.Run(index, [this](QDialog& d) { return RunDialog(d); })) return false;
    index = dialog.SelectedIndex();
    return index >= 0;
}

void TMain::RunAdvancedForm()
{
    if (!advancedForm_) advancedForm_ = new TAdvancedFrm(session_->PortSetup(), this);
    advancedForm_->SetPorts(advancedPorts_);
    advancedForm_->SelectPortEntry(session_->PortSetup().PortIndex());
    RunDialog(*advancedForm_);
}

void TMain::ClearAdvancedPortList() { advancedPorts_.clear(); }

void TMain::AddAdvancedPort(const std::string& name) { advancedPorts_ << Q(name); }

void TMain::ShowProgrammerInformation(const std::string& softwareVersion, const std::string& firmware,
                                      const std::vector<std::string>& lines)
{
    TFISPStat dialog(this);
    dialog.Fill(softwareVersion, firmware, lines);
    RunDialog(dialog);
}

void TMain::ShowTextReport(const std::vector<std::string>& lines)
{
    if (!printStatus_) printStatus_ = new TPrintStatusD(this);
    printStatus_->SetLines(lines);
    RunDialog(*printStatus_);
}

void TMain::ShowAutoProgramOptions(TAutoProgramSteps& steps)
{
    TAutoProgramDialog dialog(steps, this);
    dialog.SetFileChooser([this](const QString&) {
        int filter = 0;
        return boxes_.SaveFile(this, QStringLiteral("Production Record"),
                               {QStringLiteral("CSV files (*.csv)"), QStringLiteral("All files (*)")}, filter,
                               QStringLiteral("csv"));
    });
    RunDialog(dialog);
}

void TMain::SerialNumbersClick()
{
    if (!serialDialog_) serialDialog_ = new TSerialNumDialog(session_->Serial(), session_->Project().Flash, this);
    // The production store's pools, when the Auto Program options name a store.
    std::vector<std::string> pools;
    TAutoProgramSteps steps;
    steps.Load(session_->Settings());
    if (!steps.Database().empty()) {
        // Listed on the worker: a server slow to answer never freezes the window.
        const std::string location = steps.Database();
        Command([this, &pools, location] {
            try {
                OpenStore(location);
                for (const TSerialPoolRow& pool : store_->Pools()) pools.push_back(pool.Name);
            } catch (const std::exception& e) {
                const std::string why = e.what();
                OnWindow([this, why] { ShowMessage(why); });
            }
        });
    }
    serialDialog_->SetPools(pools);
    RunDialog(*serialDialog_);
    ShowFlashPage();
}

void TMain::OpenStore(const std::string& location)
{
    if (store_ && storeLocation_ == location) return;
    storeRecord_.Reset();
    storeStation_.reset();
    store_.reset();
    store_ = OpenProductionStore(location);
    storeLocation_ = location;
}

bool TMain::AttachProductionRecord()
{
    TAutoProgramSteps steps;
    steps.Load(session_->Settings());
    productionRecord_.Reset();
    storeRecord_.Reset();
    storeStation_.reset();
    // The box as the operator knows it: its port's name.
    const TLinkWide& wide = session_->LinkContext().Wide();
    const std::string port = std::string(wide.LinkKind == 2 ? "LPT" : "COM") + std::to_string(wide.PortIndex + 1);
    if (!steps.RecordFile().empty()) productionRecord_ = TProductionRecord(steps.RecordFile()).Attach(*session_, port);
    if (steps.Database().empty()) return true;
    // The store is reached, and the pool read, before the first board: a line that cannot record
    // its boards or hand out numbers does not start.
    try {
        OpenStore(steps.Database());
        TStoreStation::TIdentity id;
        id.Port = port;
        id.Box = session_->Programmer() ? session_->Programmer()->HardwareName() : std::string();
        const TSerialNum& serial = session_->Serial();
        const std::string pool = serial.rgSerialNumMode == TSerialNum::smStoreInFlash ? serial.Pool : std::string();
        storeStation_ = std::make_unique<TStoreStation>(*store_, id, pool);
        storeStation_->PreparePool(*session_);
        storeRecord_ = storeStation_->Attach(*session_, [this](const std::string& why) { session_->Runner().FailOp(why); });
    } catch (const std::exception& e) {
        storeStation_.reset();
        const std::string why = e.what();
        OnWindow([this, why] { ShowMessage(why); });
        return false;
    }
    return true;
}

void TMain::ShowMessage(const std::string& text) { boxes_.Inform(this, kApplicationTitle, Q(text)); }

namespace {
bool Choose(const TMain::TConfigurationChooser& chooser, TLoadConfigForm& form, std::string& name, int mode)
{
    if (chooser) return chooser(form, name, mode);
    return form.SelectConfiguration(name, static_cast<TLoadConfigForm::TMode>(mode));
}
}  // namespace

void TMain::SaveWorkspaceExecute()
{
    std::string name = workspaceName_;
    if (!Choose(chooser_, *loadConfigForm_, name, TLoadConfigForm::Save)) return;
    Command([this, name] {
        projects::StoreProject(*session_, name);
        OnWindow([&] { workspaceName_ = name; });
    });
}

void TMain::LoadWorkSpaceExecute()
{
    std::string name;
    if (!Choose(chooser_, *loadConfigForm_, name, TLoadConfigForm::Load)) return;
    Command([this, name] {
        TOperationRunner& runner = session_->Runner();
        runner.StartOp("Loading Workspace");
        projects::RestoreProject(*session_, name, [this](const std::string& message) {
            OnWindow([&] { boxes_.Error(this, kApplicationTitle, Q(message)); });
        });
        OnWindow([&] { workspaceName_ = name; });
        runner.EndOp("Workspace loaded successfully");
    });
    // The project's gang, if it has one.
    RestoreGang();
}
