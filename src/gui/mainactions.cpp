#include "gui/mainactions.h"

#include <QAction>
#include <algorithm>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>

#include "app/commands.h"
#include "devices/devices.h"
#include "gui/mainwindow.h"
#include "link/programmer.h"

namespace {

bool FlashDevice(TMain& w) { return w.Session().Device() && w.Session().Device()->FlashSize() > 0; }
}  // namespace

TMainActions::TMainActions(TMain& window) : QObject(&window), w_(window)
{
    BuildFileMenu();
    BuildDeviceMenu();
    BuildViewMenu();
    BuildSupportMenu();
    BuildHelpMenu();
    BuildFlashPopup();
    for (QMenu* menu : w_.menuBar()->findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToShow, this, &TMainActions::UpdateActions);
    connect(FlashPopup, &QMenu::aboutToShow, this, &TMainActions::UpdateActions);
}

QAction* TMainActions::Add(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& shortcut,
                           std::function<void()> handler, std::function<bool()> rule)
{
    auto* action = new QAction(caption, &w_);
    action->setObjectName(name);
    action->setShortcut(shortcut);
    // Shortcuts work on every page and inside the pages' own controls.
    action->setShortcutContext(Qt::WindowShortcut);
    if (menu) menu->addAction(action);
    w_.addAction(action);
    all_.push_back(action);
    // The rule is checked again when the action fires: a shortcut pressed between two
    // evaluations must not start what the rule forbids.
    connect(action, &QAction::triggered, this, [this, action, handler = std::move(handler), rule] {
        if (w_.OperatorMode() ? !AllowedToOperator(action, rule)
            : w_.BusyState() != TMain::TBusy::Idle ? !AllowedWhileBusy(action, w_.BusyState() == TMain::TBusy::PlugWaiting)
                                                   : rule && !rule())
            return;
        handler();
        UpdateActions();
    });
    if (rule) rules_.emplace_back(action, rule);
    return action;
}

bool TMainActions::AllowedWhileBusy(QAction* action, bool plugWaiting) const
{
    // Looking, copying, help and the exit's refusal never disturb an operation.
    if (action == ViewFlash || action == ViewOptionByte || action == ViewStatus || action == HelpReadme ||
        action == HelpTopics || action == HelpAbout || action == CopyDeviceList || action == FileExit)
        return action != ViewFlash || w_.Pages()->isTabEnabled(TMain::FlashPage);
    if (!plugWaiting) return false;
    // The commands a waiting plug-and-program loop runs between two polls, as they were allowed
    // when the window was last idle. What changes the hardware, the settings or the projects waits.
    static const char* const kBetweenPolls[] = {
        "DeviceErase", "FlashProgram", "OptionsProgram", "WriteDeviceTime", "FlashRead", "ReadDeviceTime",
        "OptionsRead", "FlashVerify", "DeviceRun", "ViewInformation", "FileLoadFlash", "FileSaveFlash",
        "FileReloadFlash", "PopupClearFlash"};
    for (const char* name : kBetweenPolls)
        if (action->objectName() == QLatin1String(name)) {
            const auto it = idleEnabled_.find(action);
            return it == idleEnabled_.end() || it->second;
        }
    return false;
}

bool TMainActions::AllowedToOperator(QAction* action, const std::function<bool()>& rule) const
{
    // An operator runs boards and may leave the mode; Abort is the Reset button.
    if (w_.BusyState() != TMain::TBusy::Idle) return false;
    if (action == ViewOperatorMode) return true;
    if (action == AutoProgramRun || action == PlugAndProg) return !rule || rule();
    return false;
}

QAction* TMainActions::DisabledFor(const QKeySequence& keys) const
{
    for (QAction* action : all_)
        if (!action->isEnabled() && !action->shortcut().isEmpty() && action->shortcut().matches(keys) == QKeySequence::ExactMatch)
            return action;
    return nullptr;
}

void TMainActions::UpdateActions()
{
    const TMain::TBusy busy = w_.BusyState();
    ViewOperatorMode->setChecked(w_.OperatorMode());
    if (w_.OperatorMode()) {
        for (QAction* action : all_) {
            const auto rule = std::find_if(rules_.begin(), rules_.end(), [action](const auto& r) { return r.first == action; });
            action->setEnabled(AllowedToOperator(action, rule == rules_.end() ? std::function<bool()>() : rule->second));
        }
        for (auto& [popup, original] : mirrors_) popup->setEnabled(false);
    } else if (busy == TMain::TBusy::Idle) {
        for (QAction* action : all_) action->setEnabled(true);
        for (auto& [action, rule] : rules_) action->setEnabled(rule());
        for (auto& [popup, original] : mirrors_) popup->setEnabled(original->isEnabled());
        for (QAction* action : all_) idleEnabled_[action] = action->isEnabled();
    } else {
        const bool waiting = busy == TMain::TBusy::PlugWaiting;
        for (QAction* action : all_) action->setEnabled(AllowedWhileBusy(action, waiting));
        for (auto& [popup, original] : mirrors_) popup->setEnabled(original->isEnabled());
    }
    const bool idle = busy == TMain::TBusy::Idle;
    // An operator's selectors are locked, and the Reset button is there only to abort.
    const bool choose = idle && w_.selectorsEnabled_ && !w_.OperatorMode();
    w_.DeviceSelector()->setEnabled(choose);
    w_.ProgrammerSelector()->setEnabled(choose);
    w_.ResetButton()->setEnabled(!w_.OperatorMode() || busy == TMain::TBusy::Busy);
    const int page = w_.Pages()->currentIndex();
    ViewFlash->setChecked(page == TMain::FlashPage);
    ViewOptionByte->setChecked(page == TMain::OptionsPage);
    ViewStatus->setChecked(page == TMain::StatusPage);
    const TISPProgrammer* p = idle ? w_.Session().Programmer() : nullptr;
    w_.SetupButton()->setEnabled(choose && w_.CanOperate() && p && p->HasSetup());
}

void TMainActions::BuildFileMenu()
{
    QMenu* file = w_.menuBar()->addMenu(QStringLiteral("&File"));
    QMenu* load = file->addMenu(QStringLiteral("&Load"));
    FileLoadFlash = Add(load, "FileLoadFlash", QStringLiteral("Flashfile..."), QKeySequence(Qt::CTRL | Qt::Key_O),
              [this] { w_.LoadFlashFile(); });
    RecentMenu = load->addMenu(QStringLiteral("Recent Files"));
    connect(RecentMenu, &QMenu::aboutToShow, this, [this] {
        // Files that are gone since they were loaded are dropped from the list.
        const QStringList before = w_.recent_;
        w_.recent_.clear();
        for (const QString& path : before)
            if (QFileInfo::exists(path)) w_.recent_ << path;
        if (w_.recent_ != before) w_.StoreRecentFiles();
    });
    QMenu* save = file->addMenu(QStringLiteral("&Save"));
    FileSaveFlash = Add(save, "FileSaveFlash", QStringLiteral("FlashFile"), {}, [this] { w_.SaveFlashFile(); });
    QMenu* reload = file->addMenu(QStringLiteral("&Reload"));
    FileReloadFlash = Add(reload, "FileReloadFlash", QStringLiteral("FlashFile"), QKeySequence(Qt::CTRL | Qt::Key_R),
              [this] { w_.ReloadFlashFile(); }, [this] { return !w_.session_->Project().Flash.FileName().empty(); });
    file->addSeparator();
    QMenu* project = file->addMenu(QStringLiteral("Project Settings"));
    SaveWorkspace = Add(project, "SaveWorkspace", QStringLiteral("Save Project Settings"), {}, [this] { w_.SaveWorkspaceExecute(); });
    LoadWorkSpace = Add(project, "LoadWorkSpace", QStringLiteral("Load Project Settings"), {}, [this] { w_.LoadWorkSpaceExecute(); });
    file->addSeparator();
    FileExit = Add(file, "FileExit", QStringLiteral("Exit"), {}, [this] { w_.FileExit(); });
}

void TMainActions::BuildDeviceMenu()
{
    auto can = [this] { return w_.CanOperate(); };
    auto device = [this](void (*command)(TCommandContext&)) {
        return [this, command] { w_.Command([this, command] { command(w_.session_->Commands()); }); };
    };
    QMenu* dev = w_.menuBar()->addMenu(QStringLiteral("&Device"));
    DeviceErase = Add(dev, "DeviceErase", QStringLiteral("Erase"), {}, device(&commands::Erase), can);
    QMenu* program = dev->addMenu(QStringLiteral("Program"));
    FlashProgram = Add(program, "FlashProgram", QStringLiteral("Flash"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F6),
              device(&commands::ProgramFlash), can);
    OptionsProgram = Add(program, "OptionsProgram", QStringLiteral("Options"), {}, device(&commands::ProgramOptions), can);
    WriteDeviceTime = Add(program, "WriteDeviceTime", QStringLiteral("Write Device Time"),
              QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F7), device(&commands::WriteDeviceTime),
              [this] { return w_.session_->Programmer() != nullptr; });
    QMenu* read = dev->addMenu(QStringLiteral("Read"));
    FlashRead = Add(read, "FlashRead", QStringLiteral("Flash"), QKeySequence(Qt::CTRL | Qt::Key_F6),
              device(&commands::ReadFlash), can);
    ReadDeviceTime = Add(read, "ReadDeviceTime", QStringLiteral("Read Device Time"), QKeySequence(Qt::CTRL | Qt::Key_F7),
              device(&commands::ReadDeviceTime), [this] { return w_.session_->Programmer() != nullptr; });
    OptionsRead = Add(read, "OptionsRead", QStringLiteral("Options"), {}, device(&commands::ReadOptions), can);
    QMenu* verify = dev->addMenu(QStringLiteral("Verify"));
    FlashVerify = Add(verify, "FlashVerify", QStringLiteral("Flash"), QKeySequence(Qt::Key_F6), device(&commands::VerifyFlash),
              can);
    DeviceRun = Add(dev, "DeviceRun", QStringLiteral("Run"), QKeySequence(Qt::Key_F9), device(&commands::RunTarget), can);
    dev->addSeparator();
    AutoProgramRun = Add(dev, "AutoProgram", QStringLiteral("Auto Program"), QKeySequence(Qt::Key_F5),
              [this] { w_.AutoProgramExecute(); }, can);
    AutoProgramOptions = Add(dev, "AutoProgramOptions", QStringLiteral("Auto Program Options..."), {},
              [this] { w_.session_->AutoProgram().AutoProgramOptionsExecute(); });
    SerialNumbers = Add(dev, "SerialNumbers", QStringLiteral("Serial Numbers"), {}, [this] { w_.SerialNumbersClick(); },
              [this] { return !w_.session_->Runner().Busy(); });
    PlugAndProg = Add(dev, "PlugAndProg", QStringLiteral("Plug and Program Mode"), QKeySequence(Qt::Key_F8),
              [this] { w_.PlugAndProgClick(); }, can);
    dev->addSeparator();
    DeviceGang = Add(dev, "DeviceGang", QStringLiteral("Gang..."), {}, [this] { w_.GangClick(); });
}

void TMainActions::BuildViewMenu()
{
    auto device = [this](void (*command)(TCommandContext&)) {
        return [this, command] { w_.Command([this, command] { command(w_.session_->Commands()); }); };
    };
    QMenu* view = w_.menuBar()->addMenu(QStringLiteral("&View"));
    QAction* a = ViewFlash = Add(view, "ViewFlash", QStringLiteral("Flash"), QKeySequence(Qt::Key_F10),
                           [this] { w_.pages_->setCurrentIndex(TMain::FlashPage); },
                           [this] { return w_.pages_->isTabEnabled(TMain::FlashPage); });
    a->setCheckable(true);
    a = ViewOptionByte = Add(view, "ViewOptionByte", QStringLiteral("Option Byte"), QKeySequence(Qt::Key_F12),
                  [this] { w_.pages_->setCurrentIndex(TMain::OptionsPage); });
    a->setCheckable(true);
    a = ViewStatus = Add(view, "ViewStatus", QStringLiteral("Status"), {}, [this] { w_.pages_->setCurrentIndex(TMain::StatusPage); });
    a->setCheckable(true);
    view->addSeparator();
    a = ViewOperatorMode = Add(view, "ViewOperatorMode", QStringLiteral("Operator Mode"), {}, [this] {
        w_.SetOperatorMode(!w_.OperatorMode());
    });
    a->setCheckable(true);
    view->addSeparator();
    ViewInformation = Add(view, "ViewInformation", QStringLiteral("Information"), {}, device(&commands::Information), [this] {
        return w_.CanOperate() && w_.session_->Programmer()->HasInformation();
    });
    a = PopUpWarnings = Add(view, "PopUpWarnings", QStringLiteral("Pop Up Warnings"), {}, [this] {
        w_.session_->Runner().SetPopUpWarnings(PopUpWarnings->isChecked());
    });
    a->setCheckable(true);
}

void TMainActions::BuildFlashPopup()
{
    // The Flash page's pop-up menu.
    FlashPopup = new QMenu(&w_);
    auto popup = [this](const QString& name, const QString& caption, QAction* original) {
        QAction* action = FlashPopup->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, original, &QAction::trigger);
        mirrors_.emplace_back(action, original);
        return action;
    };
    PopupProgramFlash = popup("PopupProgramFlash", QStringLiteral("Program Flash"), FlashProgram);
    PopupReadFlash = popup("PopupReadFlash", QStringLiteral("Read Flash"), FlashRead);
    PopupVerifyFlash = popup("PopupVerifyFlash", QStringLiteral("Verify Flash"), FlashVerify);
    FlashPopup->addSeparator();
    PopupLoadFlash = popup("PopupLoadFlash", QStringLiteral("Load New Flash File"), FileLoadFlash);
    PopupReloadFlash = popup("PopupReloadFlash", QStringLiteral("Reload Flash File"), FileReloadFlash);
    PopupClearFlash = Add(nullptr, "PopupClearFlash", QStringLiteral("Clear Flash Buffer"), {},
                               [this] { w_.ClearFlashBuffer(); }, [this] { return FlashDevice(w_) && w_.CanOperate(); });
    w_.removeAction(PopupClearFlash);
    FlashPopup->addAction(PopupClearFlash);
}
