#include "gui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGuiApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "app/commands.h"
#include "app/projects.h"
#include "devices/devices.h"
#include "gui/messageboxes.h"
#include "gui/autoprogramdialog.h"
#include "gui/infodialogs.h"
#include "gui/portdialogs.h"
#include "gui/serialnumdialog.h"
#include "gui/loadconfigform.h"
#include "gui/plugwindow.h"
#include "gui/statuspanel.h"
#include "views/fuseform.h"
#include "views/hexview.h"
#include "image/checksum.h"
#include "image/hexfile.h"
#include "link/hardware.h"
#include "link/linkwide.h"
#include "link/portidentity.h"
#include "link/programmer.h"
#include "app/productionrecord.h"
#include "lpt/LptUnit.h"
#include "lpt/tiraltimer.h"

namespace {

// The start-up request, posted from the first showing so that it runs once the window is on screen.
const QEvent::Type kStartupRequest = static_cast<QEvent::Type>(QEvent::User + 25);

constexpr int kRecentFiles = 5;
const char* const kRecentSection = "main.MRU";
constexpr const char* kApplicationTitle = "ZEMPRIX";
constexpr int kTitlePathPixels = 140;

// The support pages: the product page of the chip family, the maker's site and its download page.
struct TSupportLink {
    const char* caption;
    const char* url;
};
const TSupportLink kSupportLinks[] = {
    {"COP8 Website", "https://www.zemprix.example/cop8"},
    {"Tarvo Website", "https://www.zemprix.example/"},
    {"Software Updates", "https://www.zemprix.example/support"},
};

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TMain::TMain(ISettingsBackend* settings, IMessageBoxes& boxes, const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent),
      boxes_(boxes),
      session_(std::make_unique<TAppSession>(*this, settings)),
      programFolder_(QCoreApplication::applicationDirPath())
{
    std::vector<std::string> parameters;
    for (const QString& a : arguments) parameters.push_back(a.toStdString());
    switches_ = ParseStartupSwitches(parameters);

    setWindowTitle(kTitle);
    BuildPages();
    BuildToolBar();
    BuildStatusBar();
    BuildMenus();
    // A hex file dropped on the window loads like File > Load.
    setAcceptDrops(true);
    // The Flash page's hex view and the option editor on the Options page.
    auto* hexView = new THexWindow;
    hexView->setObjectName(QStringLiteral("FlashViewer"));
    SetFlashView(hexView);
    ApplyFlashViewColours();
    SetOptionEditorFactory([](TAppSession& session, QWidget* parent) -> QWidget* {
        auto* editor = new TBaseFuseFrame(session.Options(), parent);
        editor->DisableClockSelector();
        editor->HideAccessCompMode();
        return editor;
    });
    plugWindow_ = new TPlugWindow(this);
    loadConfigForm_ = new TLoadConfigForm(
        {[this] { return projects::Names(*session_); }, [this](const std::string& name) { projects::Delete(*session_, name); }},
        this);
    resize(780, 560);

    // The file dialogs' lists: the writer's ten formats, and "Auto Detect" first when opening.
    openFilters_ << QStringLiteral("Auto Detect (Intel, Motorola, Tektronix) (*)");
    for (int id = 1; id <= 10; ++id) saveFilters_ << Q(TFileLoader::FormatName(id)) + QStringLiteral(" (*)");
    openFilters_ << saveFilters_;

    // The setup dialog says which device each COMn and LPTn stands for on this machine.
    portIdentifier_ = [](const QString& entry) -> QString {
        const QString upper = entry.toUpper();
        const int n = upper.mid(3).toInt();
        if (upper.startsWith(QLatin1String("COM"))) {
            for (const TSerialPortIdentity& p : ListSerialPortIdentities())
                if (p.ComNumber == n) return QString::fromStdString(DescribeSerialPort(p));
            return entry + QStringLiteral(": no such port on this machine");
        }
        if (upper.startsWith(QLatin1String("LPT")))
            for (const TParallelPortIdentity& p : ListParallelPortIdentities())
                if (p.LptNumber == n) return QString::fromStdString(DescribeParallelPort(p));
        return QString();
    };
    blinkTimer_ = new QTimer(this);
    blinkTimer_->setInterval(500);
    // The exception handler's firmware-update offer runs the same command as the menu.
    session_->Runner().SetFirmwareUpdate([this] { RunFirmwareUpdate(); });
    connect(blinkTimer_, &QTimer::timeout, this, [this] { session_->Runner().BlinkTick(); });

    RebuildRecentMenu();
    pages_->setCurrentIndex(FlashPage);
    UpdateActions();
}

TMain::~TMain()
{
    if (hourglass_) QApplication::restoreOverrideCursor();
}

QAction* TMain::Action(const QString& name) const { return findChild<QAction*>(name); }

// ---- construction ------------------------------------------------------------------------------

void TMain::BuildPages()
{
    pages_ = new QTabWidget(this);
    setCentralWidget(pages_);

    flashPage_ = new QWidget;
    auto* flashLayout = new QVBoxLayout(flashPage_);
    flashLayout->setContentsMargins(0, 0, 0, 0);
    pages_->addTab(flashPage_, QStringLiteral("Flash Memory"));

    optionsPage_ = new QWidget;
    auto* optionsLayout = new QVBoxLayout(optionsPage_);
    optionsLayout->setContentsMargins(0, 0, 0, 0);
    noOptions_ = new QLabel(QStringLiteral("No options"), optionsPage_);
    noOptions_->setAlignment(Qt::AlignCenter);
    optionsLayout->addWidget(noOptions_);
    pages_->addTab(optionsPage_, QStringLiteral("Options Register"));

    auto* info = new QWidget;
    auto* infoLayout = new QVBoxLayout(info);
    auto* sums = new QGroupBox(QStringLiteral("Flash Buffer Checksums:"), info);
    auto* sumsForm = new QFormLayout(sums);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const char* const fieldNames[5] = {"CRC16Standard", "CRC16CCITT", "CRC32", "XOR16", "XOR32"};
    for (int i = 0; i < 5; ++i) {
        checksumFields_[i] = new QLineEdit(sums);
        checksumFields_[i]->setObjectName(fieldNames[i]);
        checksumFields_[i]->setReadOnly(true);
        checksumFields_[i]->setFont(fixed);
        sumsForm->addRow(Q(ChecksumNames()[static_cast<size_t>(i)]), checksumFields_[i]);
    }
    infoLayout->addWidget(sums);
    auto* facts = new QFormLayout;
    deviceName_ = new QLabel(info);
    codeMemory_ = new QLabel(info);
    memorySize_ = new QLabel(info);
    programmerType_ = new QLabel(info);
    facts->addRow(QStringLiteral("Device:"), deviceName_);
    facts->addRow(QStringLiteral("Code Memory:"), codeMemory_);
    facts->addRow(QStringLiteral("Memory Size:"), memorySize_);
    facts->addRow(QStringLiteral("Programmer Type:"), programmerType_);
    infoLayout->addLayout(facts);
    infoLayout->addStretch();
    pages_->addTab(info, QStringLiteral("Device Info"));

    statusLog_ = new QListWidget;
    statusLog_->setObjectName(QStringLiteral("StatusLog"));
    statusLog_->setFont(fixed);
    statusLog_->setUniformItemSizes(true);
    pages_->addTab(statusLog_, QStringLiteral("Status"));

    connect(pages_, &QTabWidget::currentChanged, this, &TMain::PageChanged);
}

void TMain::BuildToolBar()
{
    QToolBar* bar = addToolBar(QStringLiteral("Toolbar"));
    bar->setObjectName(QStringLiteral("ToolBar"));
    bar->setMovable(false);
    deviceSelector_ = new QComboBox(bar);
    deviceSelector_->setObjectName(QStringLiteral("DeviceSelector"));
    deviceSelector_->setMinimumContentsLength(12);
    bar->addWidget(deviceSelector_);
    auto* label = new QLabel(QStringLiteral("Programmer: "), bar);
    bar->addWidget(label);
    programmerSelector_ = new QComboBox(bar);
    programmerSelector_->setObjectName(QStringLiteral("ProgrammerSelector"));
    programmerSelector_->setMinimumContentsLength(14);
    label->setBuddy(programmerSelector_);
    bar->addWidget(programmerSelector_);
    resetButton_ = new QPushButton(QStringLiteral("Reset"), bar);
    resetButton_->setObjectName(QStringLiteral("ResetButton"));
    bar->addWidget(resetButton_);
    setupButton_ = new QPushButton(QStringLiteral("&Setup"), bar);
    setupButton_->setObjectName(QStringLiteral("SetupButton"));
    bar->addWidget(setupButton_);

    // Only the user's own choice switches; refilling the lists does not.
    connect(deviceSelector_, QOverload<int>::of(&QComboBox::activated), this, [this] { HardwareSelectorChange(); });
    connect(programmerSelector_, QOverload<int>::of(&QComboBox::activated), this,
            [this] { HardwareSelectorChange(); });
    connect(resetButton_, &QPushButton::clicked, this, [this] { ResetButtonClick(); });
    connect(setupButton_, &QPushButton::clicked, this, [this] {
        if (!CanOperate() || !session_->Programmer() || !session_->Programmer()->HasSetup()) return;
        Command([this] { commands::Setup(session_->Commands()); });
    });
}

void TMain::BuildStatusBar()
{
    statusPanel_ = new TStatusPanel(this);
    statusPanel_->setObjectName(QStringLiteral("StatusPanel"));
    secondPanel_ = new QLabel(this);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("Progress"));
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setFormat(QStringLiteral("Ready..."));
    progress_->setMaximumWidth(220);
    statusBar()->addWidget(statusPanel_, 1);
    statusBar()->addWidget(secondPanel_);
    statusBar()->addPermanentWidget(progress_);
}

QAction* TMain::AddAction(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& shortcut,
                          std::function<void()> handler, std::function<bool()> rule)
{
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    action->setShortcut(shortcut);
    // Shortcuts work on every page and inside the pages' own controls.
    action->setShortcutContext(Qt::WindowShortcut);
    if (menu) menu->addAction(action);
    addAction(action);
    // The rule is checked again when the action fires: a shortcut pressed between two
    // evaluations must not start what the rule forbids.
    connect(action, &QAction::triggered, this, [this, handler = std::move(handler), rule] {
        if (rule && !rule()) return;
        handler();
        UpdateActions();
    });
    if (rule) rules_.emplace_back(action, rule);
    return action;
}

void TMain::BuildMenus()
{
    auto can = [this] { return CanOperate(); };
    auto device = [this](void (*command)(TCommandContext&)) {
        return [this, command] { Command([this, command] { command(session_->Commands()); }); };
    };
    auto flashDevice = [this] { return session_->Device() && session_->Device()->FlashSize() > 0; };

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QMenu* load = file->addMenu(QStringLiteral("&Load"));
    AddAction(load, "FileLoadFlash", QStringLiteral("Flashfile..."), QKeySequence(Qt::CTRL | Qt::Key_O),
              [this] { LoadFlashFile(); });
    recentMenu_ = load->addMenu(QStringLiteral("Recent Files"));
    connect(recentMenu_, &QMenu::aboutToShow, this, [this] {
        // Files that are gone since they were loaded are dropped from the list.
        const QStringList before = recent_;
        recent_.clear();
        for (const QString& path : before)
            if (QFileInfo::exists(path)) recent_ << path;
        if (recent_ != before) StoreRecentFiles();
    });
    QMenu* save = file->addMenu(QStringLiteral("&Save"));
    AddAction(save, "FileSaveFlash", QStringLiteral("FlashFile"), {}, [this] { SaveFlashFile(); });
    QMenu* reload = file->addMenu(QStringLiteral("&Reload"));
    AddAction(reload, "FileReloadFlash", QStringLiteral("FlashFile"), QKeySequence(Qt::CTRL | Qt::Key_R),
              [this] { ReloadFlashFile(); }, [this] { return !session_->Project().Flash.FileName().empty(); });
    file->addSeparator();
    QMenu* project = file->addMenu(QStringLiteral("Project Settings"));
    AddAction(project, "SaveWorkspace", QStringLiteral("Save Project Settings"), {}, [this] { SaveWorkspaceExecute(); });
    AddAction(project, "LoadWorkSpace", QStringLiteral("Load Project Settings"), {}, [this] { LoadWorkSpaceExecute(); });
    file->addSeparator();
    AddAction(file, "FileExit", QStringLiteral("Exit"), {}, [this] { FileExit(); });

    QMenu* dev = menuBar()->addMenu(QStringLiteral("&Device"));
    AddAction(dev, "DeviceErase", QStringLiteral("Erase"), {}, device(&commands::Erase), can);
    QMenu* program = dev->addMenu(QStringLiteral("Program"));
    AddAction(program, "FlashProgram", QStringLiteral("Flash"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F6),
              device(&commands::ProgramFlash), can);
    AddAction(program, "OptionsProgram", QStringLiteral("Options"), {}, device(&commands::ProgramOptions), can);
    AddAction(program, "WriteDeviceTime", QStringLiteral("Write Device Time"),
              QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F7), device(&commands::WriteDeviceTime),
              [this] { return session_->Programmer() != nullptr; });
    QMenu* read = dev->addMenu(QStringLiteral("Read"));
    AddAction(read, "FlashRead", QStringLiteral("Flash"), QKeySequence(Qt::CTRL | Qt::Key_F6),
              device(&commands::ReadFlash), can);
    AddAction(read, "ReadDeviceTime", QStringLiteral("Read Device Time"), QKeySequence(Qt::CTRL | Qt::Key_F7),
              device(&commands::ReadDeviceTime), [this] { return session_->Programmer() != nullptr; });
    AddAction(read, "OptionsRead", QStringLiteral("Options"), {}, device(&commands::ReadOptions), can);
    QMenu* verify = dev->addMenu(QStringLiteral("Verify"));
    AddAction(verify, "FlashVerify", QStringLiteral("Flash"), QKeySequence(Qt::Key_F6), device(&commands::VerifyFlash),
              can);
    AddAction(dev, "DeviceRun", QStringLiteral("Run"), QKeySequence(Qt::Key_F9), device(&commands::RunTarget), can);
    dev->addSeparator();
    AddAction(dev, "AutoProgram", QStringLiteral("Auto Program"), QKeySequence(Qt::Key_F5),
              [this] { AutoProgramExecute(); }, can);
    AddAction(dev, "AutoProgramOptions", QStringLiteral("Auto Program Options..."), {},
              [this] { session_->AutoProgram().AutoProgramOptionsExecute(); });
    AddAction(dev, "SerialNumbers", QStringLiteral("Serial Numbers"), {}, [this] { SerialNumbersClick(); },
              [this] { return !session_->Runner().Busy(); });
    AddAction(dev, "PlugAndProg", QStringLiteral("Plug and Program Mode"), QKeySequence(Qt::Key_F8),
              [this] { PlugAndProgClick(); }, can);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QAction* a = AddAction(view, "ViewFlash", QStringLiteral("Flash"), QKeySequence(Qt::Key_F10),
                           [this] { pages_->setCurrentIndex(FlashPage); },
                           [this] { return pages_->isTabEnabled(FlashPage); });
    a->setCheckable(true);
    a = AddAction(view, "ViewOptionByte", QStringLiteral("Option Byte"), QKeySequence(Qt::Key_F12),
                  [this] { pages_->setCurrentIndex(OptionsPage); });
    a->setCheckable(true);
    a = AddAction(view, "ViewStatus", QStringLiteral("Status"), {}, [this] { pages_->setCurrentIndex(StatusPage); });
    a->setCheckable(true);
    view->addSeparator();
    AddAction(view, "ViewInformation", QStringLiteral("Information"), {}, device(&commands::Information), [this] {
        return CanOperate() && session_->Programmer()->HasInformation();
    });
    a = AddAction(view, "PopUpWarnings", QStringLiteral("Pop Up Warnings"), {}, [this] {
        session_->Runner().SetPopUpWarnings(Action("PopUpWarnings")->isChecked());
    });
    a->setCheckable(true);

    // The workshop's menu, shown by Shift+About.
    supportMenu_ = menuBar()->addMenu(QStringLiteral("Support"));
    supportMenu_->menuAction()->setVisible(false);
    QMenu* generate = supportMenu_->addMenu(QStringLiteral("Generate Test Files"));
    AddAction(generate, "RandomData", QStringLiteral("Random Data"), {}, [this] {
        if (const TDevice* d = session_->Device()) production::RandomData(session_->Project().Flash, *d, random_);
        RefreshView();
    });
    AddAction(generate, "PagedTestFile", QStringLiteral("Paged Test File"), {}, [this] {
        if (const TDevice* d = session_->Device()) production::PagedTestFile(session_->Project().Flash, *d);
        RefreshView();
    });
    QMenu* tools = supportMenu_->addMenu(QStringLiteral("Build Tools"));
    AddAction(tools, "EncodeFile", QStringLiteral("Encode File"), {}, [] {}, [] { return false; });
    AddAction(tools, "CopyDeviceList", QStringLiteral("Copy device list to clipboard."), {}, [this] {
        if (const TISPProgrammer* p = session_->Programmer())
            QGuiApplication::clipboard()->setText(Q(production::DeviceListText(p->DeviceSetOf())));
    });
    QMenu* tests = supportMenu_->addMenu(QStringLiteral("Test Functions"));
    AddAction(tests, "FlashWriteTests", QStringLiteral("Flash Write Tests"), {}, [this] {
        Command([this] {
            production::FlashWriteTests(session_->Commands(), random_, [this](const std::string& m) {
                boxes_.Inform(this, kApplicationTitle, Q(m));
            });
        });
        RefreshView();
    });
    AddAction(tests, "AutoProgramSeries", QStringLiteral("25 AutoPrograms test"), {}, [this] {
        Command([this] { production::AutoProgramSeries(session_->Commands(), session_->AutoProgram()); });
    });
    AddAction(tests, "TestAllFreqs", QStringLiteral("Test All Freqs"), {}, [this] {
        Command([this] { production::TestAllFreqs(session_->Commands(), session_->AutoProgram()); });
    });
    a = AddAction(supportMenu_, "EnableAdvanced", QStringLiteral("Enable Advanced button"), {}, [] {});
    a->setCheckable(true);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    AddAction(help, "HelpReadme", QStringLiteral("Readme"), {}, [this] { ViewReadme(); },
              [this] { return QFileInfo::exists(ReadmePath()); });
    AddAction(help, "HelpTopics", QStringLiteral("Help Topics"), QKeySequence(Qt::Key_F1), [this] {
        const QString helpFile = HelpPath();
        if (QFileInfo::exists(helpFile))
            QDesktopServices::openUrl(QUrl::fromLocalFile(helpFile));
        else
            boxes_.Inform(this, kApplicationTitle, QStringLiteral("The help file %1 is not installed.").arg(helpFile));
    });
    QMenu* online = help->addMenu(QStringLiteral("Online Support"));
    for (const TSupportLink& link : kSupportLinks) {
        const QString url = QString::fromLatin1(link.url);
        AddAction(online, QStringLiteral("Support ") + link.caption, QString::fromLatin1(link.caption), {},
                  [url] { QDesktopServices::openUrl(QUrl(url)); });
    }
    AddAction(help, "FirmwareUpdate", QStringLiteral("Firmware Update"), {}, [this] { FirmwareUpdate(); }, can);
    QMenu* qa = help->addMenu(QStringLiteral("QA"));
    a = AddAction(qa, "EnableLogFile", QStringLiteral("Enable LogFile"), {}, [] {});
    a->setCheckable(true);
    help->addSeparator();
    AddAction(help, "HelpAbout", QStringLiteral("About"), {}, [this] {
        About(QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier);
    });

    // The Flash page's pop-up menu.
    flashPopup_ = new QMenu(this);
    auto popup = [this](const QString& name, const QString& caption, const QString& twin) {
        QAction* action = flashPopup_->addAction(caption);
        action->setObjectName(name);
        QAction* original = Action(twin);
        connect(action, &QAction::triggered, original, &QAction::trigger);
        rules_.emplace_back(action, [original] { return original->isEnabled(); });
    };
    popup("PopupProgramFlash", QStringLiteral("Program Flash"), QStringLiteral("FlashProgram"));
    popup("PopupReadFlash", QStringLiteral("Read Flash"), QStringLiteral("FlashRead"));
    popup("PopupVerifyFlash", QStringLiteral("Verify Flash"), QStringLiteral("FlashVerify"));
    flashPopup_->addSeparator();
    popup("PopupLoadFlash", QStringLiteral("Load New Flash File"), QStringLiteral("FileLoadFlash"));
    popup("PopupReloadFlash", QStringLiteral("Reload Flash File"), QStringLiteral("FileReloadFlash"));
    QAction* clear = AddAction(nullptr, "PopupClearFlash", QStringLiteral("Clear Flash Buffer"), {},
                               [this] { ClearFlashBuffer(); }, [this, flashDevice] { return flashDevice() && CanOperate(); });
    removeAction(clear);
    flashPopup_->addAction(clear);

    for (QMenu* menu : menuBar()->findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToShow, this, &TMain::UpdateActions);
    connect(flashPopup_, &QMenu::aboutToShow, this, &TMain::UpdateActions);
}

// ---- the command wrapper and the enabling rules ---------------------------------------------

TOutcome TMain::Command(const std::function<void()>& body)
{
    TOutcome outcome = TOutcome::Refused;
    try {
        outcome = session_->Run(body);
    } catch (...) {
        // Run reports everything itself; this only keeps Qt's event loop free of exceptions.
        outcome = session_->Runner().AppException(std::current_exception());
    }
    UpdateActions();
    return outcome;
}

bool TMain::CanOperate() const { return session_->Runner().CanOperate() && !session_->CommandRunning(); }

void TMain::UpdateActions()
{
    for (auto& [action, rule] : rules_) action->setEnabled(rule());
    const int page = pages_->currentIndex();
    if (QAction* a = Action("ViewFlash")) a->setChecked(page == FlashPage);
    if (QAction* a = Action("ViewOptionByte")) a->setChecked(page == OptionsPage);
    if (QAction* a = Action("ViewStatus")) a->setChecked(page == StatusPage);
    const TISPProgrammer* p = session_->Programmer();
    setupButton_->setEnabled(CanOperate() && p && p->HasSetup());
}

// ---- IOperationView ----------------------------------------------------------------------------

void TMain::ShowStatus(const std::string& prefixedText)
{
    statusPanel_->SetBlinkPhase(session_->Runner().BlinkPhase() || prefixedText.rfind("2|", 0) != 0);
    statusPanel_->SetStatusText(Q(prefixedText));
    secondPanel_->setText(QString());
}

void TMain::AppendLog(const std::string& line)
{
    WriteLogFile(Q(line));
    statusLog_->addItem(Q(line));
    if (pages_->currentIndex() == StatusPage) statusLog_->setCurrentRow(statusLog_->count() - 1);
}

void TMain::SetHourglass(bool on)
{
    if (on == hourglass_) return;
    hourglass_ = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TMain::Beep() { QApplication::beep(); }

void TMain::SetBlinkTimer(bool running)
{
    if (running)
        blinkTimer_->start();
    else
        blinkTimer_->stop();
}

void TMain::ShowProgress(int32_t position, int32_t maximum, const std::string& caption)
{
    progress_->setRange(0, std::max(1, maximum));
    progress_->setValue(std::clamp(position, 0, std::max(1, maximum)));
    progress_->setFormat(caption.empty() ? QStringLiteral("%p%") : Q(caption));
}

void TMain::SetSelectorsEnabled(bool enabled)
{
    deviceSelector_->setEnabled(enabled);
    programmerSelector_->setEnabled(enabled);
    setupButton_->setEnabled(enabled);
    UpdateActions();
}

void TMain::SetResetCaption(const std::string& caption) { resetButton_->setText(Q(caption)); }

void TMain::PumpMessages() { QCoreApplication::processEvents(); }

void TMain::RepaintStatusBar()
{
    statusPanel_->SetBlinkPhase(session_->Runner().BlinkPhase() ||
                                session_->Runner().StatusText().rfind("2|", 0) != 0);
    statusPanel_->repaint();
}

void TMain::PopUp(const std::string& message) { boxes_.Inform(this, kApplicationTitle, Q(message)); }

void TMain::ShowErrorBox(const std::string& message) { boxes_.Error(this, kApplicationTitle, Q(message)); }

bool TMain::OfferFirmwareUpdate()
{
    return boxes_.AskOkCancel(this, QStringLiteral("Firmware Update Required"), TOperationRunner::kFirmwareQuestion);
}

void TMain::ShowFirmwareUpdateFailed()
{
    boxes_.Error(this, QStringLiteral("Firmware Update Required"), TOperationRunner::kFirmwareFailed);
}

QString TMain::LogFileTarget() const
{
    // ZEMPRIX_LOG_FILE names the file for a production line; the menu entry's file lies in the
    // user's state folder.
    const QString named = qEnvironmentVariable("ZEMPRIX_LOG_FILE");
    if (!named.isEmpty()) return named;
    QAction* enabled = Action("EnableLogFile");
    if (!enabled || !enabled->isChecked()) return {};
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty()) state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/zemprix/zemprix.log");
}

void TMain::WriteLogFile(const QString& line)
{
    const QString path = LogFileTarget();
    if (path.isEmpty()) return;
    logFilePath_ = path;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    // Appended, never truncated: the file is a production line's record across restarts.
    const bool fresh = !file.exists() || file.size() == 0;
    if (!file.open(QIODevice::Append | QIODevice::Text)) return;
    QByteArray text;
    if (fresh) text += QByteArray("ZEMPRIX programmer ") + ZEMPRIX_FILE_VERSION + '\n';
    text += QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + ' ' + line.toUtf8() + '\n';
    file.write(text);
}

void TMain::RecordException(const std::string& message) { WriteLogFile(QStringLiteral("Exception: ") + Q(message)); }

// ---- IShellView --------------------------------------------------------------------------------

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
    if (QAction* enable = Action("EnableAdvanced"); enable && enable->isChecked()) advanced = [this] { RunAdvancedForm(); };
    TfispVask dialog(session_->LinkContext().Lpt(), session_->LinkContext().Wide(), session_->LinkContext().Timer().ExactCPUSpeed(), advanced, this);
    for (const std::string& p : ports) dialog.AddPortName(Q(p), portIdentifier_ ? portIdentifier_(Q(p)) : QString());
    if (!dialog.Run(index, [this](QDialog& d) { return RunDialog(d); })) return false;
    index = dialog.SelectedIndex();
    return index >= 0;
}

void TMain::RunAdvancedForm()
{
    if (!advancedForm_)
        advancedForm_ = new TAdvancedFrm(session_->LinkContext().Lpt(), session_->LinkContext().Wide(), session_->Options(), session_->LinkContext().Timer(),
                                         [this](const std::string& line) { AppendLog(line); }, this);
    advancedForm_->SetPorts(advancedPorts_);
    advancedForm_->SelectPortEntry(session_->LinkContext().Wide().PortIndex);
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
    RunDialog(*serialDialog_);
    RefreshView();
    ShowFlashPage();
}

void TMain::AttachProductionRecord()
{
    TAutoProgramSteps steps;
    steps.Load(session_->Settings());
    if (steps.RecordFile().empty()) {
        session_->AutoProgram().OnBoardDone = nullptr;
        return;
    }
    // The box as the operator knows it: its port's name.
    const TLinkWide& wide = session_->LinkContext().Wide();
    const std::string port = std::string(wide.LinkKind == 2 ? "LPT" : "COM") + std::to_string(wide.PortIndex + 1);
    TProductionRecord(steps.RecordFile()).Attach(*session_, port);
}

void TMain::ShowMessage(const std::string& text) { boxes_.Inform(this, kApplicationTitle, Q(text)); }

void TMain::RefreshView()
{
    if (auto* hex = qobject_cast<THexWindow*>(flashView_))
        hex->viewport()->update();
    else if (flashView_)
        flashView_->update();
}

void TMain::ScrollViewHome()
{
    if (flashView_) QMetaObject::invokeMethod(flashView_, "ScrollHome", Qt::DirectConnection);
}

void TMain::ShowOptionsPage() { pages_->setCurrentIndex(OptionsPage); }

void TMain::ShowFlashPage()
{
    if (pages_->isTabEnabled(FlashPage)) pages_->setCurrentIndex(FlashPage);
}

void TMain::ShowFileName(const std::string& name) { SetTitleSuffix(Q(name)); }

void TMain::OptionsChanged()
{
    if (optionEditor_) QMetaObject::invokeMethod(optionEditor_, "Refresh", Qt::DirectConnection);
}

void TMain::DeviceSwitched()
{
    // The old editor goes; the model stays with the session.
    if (optionEditor_) {
        optionEditor_->hide();
        optionEditor_->deleteLater();
        optionEditor_ = nullptr;
    }
    if (optionEditorFactory_) optionEditor_ = optionEditorFactory_(*session_, optionsPage_);
    noOptions_->setVisible(optionEditor_ == nullptr);
    if (optionEditor_) {
        optionsPage_->layout()->addWidget(optionEditor_);
        optionEditor_->show();
    }
    FillSelectors();
    const TDevice* device = session_->Device();
    const bool hasFlash = device && device->FlashSize() >= 1;
    pages_->setTabEnabled(FlashPage, hasFlash);
    if (auto* hex = qobject_cast<THexWindow*>(flashView_)) hex->SetData(hasFlash ? &session_->Project().Flash : nullptr);
    pages_->setCurrentIndex(hasFlash ? FlashPage : OptionsPage);
    UpdateActions();
}

void TMain::SetFlashView(QWidget* view)
{
    if (flashView_) flashView_->deleteLater();
    flashView_ = view;
    if (!view) return;
    flashPage_->layout()->addWidget(view);
    if (auto* hex = qobject_cast<THexWindow*>(view)) {
        hex->SetPopUpMenu(flashPopup_);
        return;
    }
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& at) { flashPopup_->popup(view->mapToGlobal(at)); });
}

void TMain::FillSelectors()
{
    const QSignalBlocker deviceBlock(deviceSelector_), programmerBlock(programmerSelector_);
    deviceSelector_->clear();
    programmerSelector_->clear();
    const TISPProgrammer* p = session_->Programmer();
    if (!p) return;
    std::vector<std::string> names = DeviceList().NamesForHardware(p->DeviceSetOf());
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) deviceSelector_->addItem(Q(n));
    for (const std::string& n : session_->Hardware().Names()) programmerSelector_->addItem(Q(n));
    programmerSelector_->setCurrentText(Q(p->HardwareName()));
    if (const TDevice* d = session_->Device()) deviceSelector_->setCurrentText(Q(d->Name()));
}

// The Flash page in the window's button face with the classic colours. On a dark desktop theme the
// same hues are lightened: black digits on a dark face could not be read.
void TMain::ApplyFlashViewColours()
{
    auto* hex = qobject_cast<THexWindow*>(flashView_);
    if (!hex) return;
    const QColor face = palette().color(QPalette::Button);
    const bool dark = face.lightness() < 128;
    const QColor text = dark ? palette().color(QPalette::ButtonText) : QColor(Qt::black);
    hex->SetBackColor(face);
    hex->SetLabelColor(dark ? QColor(150, 170, 255) : QColor(0, 0, 128));
    hex->SetDataColor(text);
    hex->SetAsciiColor(text);
    hex->SetPassColor(dark ? QColor(110, 220, 110) : QColor(0, 128, 0));
    hex->SetErrorColor(dark ? QColor(255, 120, 120) : QColor(255, 0, 0));
}

void TMain::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange) ApplyFlashViewColours();
    QMainWindow::changeEvent(event);
}

// ---- pages, title, recent files ----------------------------------------------------------------

void TMain::PageChanged(int index)
{
    commands::CopyOptionByte(session_->Commands());
    if (index == StatusPage && statusLog_->count() > 0) statusLog_->setCurrentRow(statusLog_->count() - 1);
    if (index == DeviceInfoPage) FillDeviceInfo();
    if (index == FlashPage) SetTitleSuffix(Q(session_->Project().Flash.FileName()));
    UpdateActions();
}

void TMain::FillDeviceInfo()
{
    const THexList& image = session_->Project().Flash;
    for (size_t i = 0; i < 5; ++i) {
        SetHourglass(true);
        checksumFields_[i]->setText(Q(DigestText(ChecksumByName(ChecksumNames()[i])->Compute(image.Values()))));
        SetHourglass(false);
    }
    const TDevice* device = session_->Device();
    deviceName_->setText(QStringLiteral("Dezudeda Ruzoduruvezor ") + (device ? Q(device->Name()) : QString()));
    const uint32_t size = image.Size();
    codeMemory_->setText(QStringLiteral("00000000 - ") +
                         QStringLiteral("%1").arg(size == 0 ? 0u : size - 1, 8, 16, QLatin1Char('0')).toUpper());
    memorySize_->setText(QString::number(size) + QStringLiteral(" bytes"));
    const TISPProgrammer* p = session_->Programmer();
    programmerType_->setText(p ? Q(p->HardwareName()) : QString());
}

void TMain::SetTitleSuffix(const QString& path)
{
    titleFile_ = path;
    if (path.isEmpty()) {
        setWindowTitle(kTitle);
        return;
    }
    const QString shortened = fontMetrics().elidedText(path, Qt::ElideMiddle, kTitlePathPixels);
    setWindowTitle(QStringLiteral("%1 - Flash: %2").arg(kTitle, shortened));
}

void TMain::AddRecentFile(const QString& path)
{
    recent_.removeAll(path);
    recent_.prepend(path);
    while (recent_.size() > kRecentFiles) recent_.removeLast();
    StoreRecentFiles();
}

void TMain::StoreRecentFiles()
{
    TISPSettings& settings = session_->Settings();
    for (int i = 0; i < kRecentFiles; ++i)
        settings.Put(kRecentSection, std::to_string(i), kGlobalGroup,
                     i < recent_.size() ? recent_[i].toStdString() : std::string());
    RebuildRecentMenu();
}

void TMain::RebuildRecentMenu()
{
    recentMenu_->clear();
    int n = 0;
    for (const QString& path : recent_) {
        QAction* a = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(++n).arg(path));
        a->setObjectName(QStringLiteral("Recent%1").arg(n));
        connect(a, &QAction::triggered, this, [this, path] { LoadFlashFileNamed(path); });
    }
    recentMenu_->setEnabled(!recent_.isEmpty());
}

QString TMain::ReadmePath() const
{
    // Beside the program, else where a package installs it.
    const QString beside = QDir(programFolder_).filePath(QStringLiteral("readme.txt"));
    const QString shared = QDir(programFolder_).filePath(QStringLiteral("../share/zemprix/readme.txt"));
    return QFileInfo::exists(beside) || !QFileInfo::exists(shared) ? beside : QDir::cleanPath(shared);
}

QString TMain::HelpPath() const
{
    // The package keeps the help under share/zemprix, since /usr/share/doc may be left out of an
    // installation; share/doc/zemprix is the older place. When none exists the package's place is
    // the one named.
    const QDir folder(programFolder_);
    const QString candidates[] = {folder.filePath(QStringLiteral("doc/index.html")),
                                  folder.filePath(QStringLiteral("../share/zemprix/doc/index.html")),
                                  folder.filePath(QStringLiteral("../share/doc/zemprix/index.html"))};
    for (const QString& candidate : candidates)
        if (QFileInfo::exists(candidate)) return QDir::cleanPath(candidate);
    return QDir::cleanPath(candidates[1]);
}

// ---- commands ----------------------------------------------------------------------------------

void TMain::LoadFlashFile()
{
    ShowFlashPage();
    int filter = 0;
    const QString path = boxes_.OpenFile(this, QStringLiteral("Load Flash"), openFilters_, filter);
    if (!path.isEmpty()) LoadFlashFileNamed(path);
}

void TMain::LoadFlashFileNamed(const QString& path)
{
    // Loading is not an operation (it sets no busy flag), but it must not run inside one.
    if (session_->CommandRunning() || session_->Runner().Busy()) return;
    SetHourglass(true);
    TAppSession::TLoadResult result;
    Command([&] { result = session_->LoadFlashFile(path.toStdString()); });
    SetHourglass(false);
    if (result.ok) AddRecentFile(path);
}

void TMain::SaveFlashFile()
{
    Command([this] {
        TOperationRunner& runner = session_->Runner();
        runner.StartOp("Flash: Saving File");
        int filter = saveFilter_;
        const QString path = boxes_.SaveFile(this, QStringLiteral("Select file for Intel Hex file Save"),
                                             saveFilters_, filter, QStringLiteral("hex"));
        SetHourglass(false);
        if (path.isEmpty()) {
            runner.EndOp("Flash: Save Cancelled");
            return;
        }
        saveFilter_ = std::clamp(filter, 0, 9);
        std::string error;
        const std::string file = path.toStdString();
        const QString shown = fontMetrics().elidedText(path, Qt::ElideMiddle, kTitlePathPixels);
        // A save that did not happen is reported, never shown as saved.
        if (TFileLoader::SaveFile(file, session_->Project().Flash, saveFilter_ + 1, error) != 0) {
            runner.FailOp("Flash: Save Failed (" + shown.toStdString() + ")!" + error);
            return;
        }
        SetTitleSuffix(path);
        runner.EndOp("Flash: File Saved (" + shown.toStdString() + ")");
    });
}

void TMain::ReloadFlashFile()
{
    Command([this] { commands::ReloadFlashFile(session_->Commands()); });
}

void TMain::ClearFlashBuffer()
{
    Command([this] {
        THexList& image = session_->Project().Flash;
        image.Clear();
        if (TISPProgrammer* p = session_->Programmer()) p->PrepareBlankImage(image);
        RefreshView();
    });
}

void TMain::ViewReadme()
{
    Command([this] {
        TOperationRunner& runner = session_->Runner();
        runner.StartOp("README: Loading File");
        runner.ClearLog();
        statusLog_->clear();
        QFile file(ReadmePath());
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QTextStream in(&file);
            while (!in.atEnd()) runner.AppendLog(in.readLine().toStdString());
        }
        pages_->setCurrentIndex(StatusPage);
        runner.EndOp("README: File Loaded Successfully");
    });
}

QString TMain::AboutText()
{
    return QStringLiteral("%1\nHardware Support:\nZEMPRIX - %1\n\nVersion: v%2")
        .arg(QString::fromLatin1(kApplicationTitle), QStringLiteral(ZEMPRIX_FILE_VERSION));
}

void TMain::About(bool shift)
{
    if (shift) {
        supportMenu_->menuAction()->setVisible(true);
        return;
    }
    boxes_.Inform(this, QStringLiteral("About"), AboutText());
}

void TMain::HardwareSelectorChange()
{
    const TISPProgrammer* p = session_->Programmer();
    const std::string hardware = programmerSelector_->currentText().toStdString();
    const std::string device = deviceSelector_->currentText().toStdString();
    if (p && p->HardwareName() == hardware && session_->Device() && session_->Device()->Name() == device) return;
    Command([this, hardware, device] {
        session_->SwitchDevice(device, hardware);
        session_->Runner().StartProgressOp("ISP Initializing:");
        session_->Runner().EndOp("ISP Initialized: Detected Device: ");
    });
    // A failed switch leaves the lists on what is really in place.
    FillSelectors();
}

void TMain::ResetButtonClick()
{
    if (session_->Runner().Busy()) {
        if (boxes_.AskYesNo(this, kApplicationTitle, QStringLiteral("Are you sure you want to cancel the operation?")))
            session_->Runner().RequestAbort();
        return;
    }
    Command([this] { commands::Reset(session_->Commands()); });
}

void TMain::FileExit() { close(); }

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
        workspaceName_ = name;
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
            boxes_.Error(this, kApplicationTitle, Q(message));
        });
        workspaceName_ = name;
        runner.EndOp("Workspace loaded successfully");
    });
}

void TMain::AutoProgramExecute()
{
    AttachProductionRecord();
    Command([this] { session_->AutoProgram().AutoProgramExecute(); });
    RefreshView();
}

void TMain::PlugAndProgClick()
{
    AttachProductionRecord();
    Command([this] { session_->AutoProgram().PlugAndProgram(*plugWindow_); });
    RefreshView();
}

void TMain::FirmwareUpdate()
{
    Command([this] { RunFirmwareUpdate(); });
}

void TMain::RunFirmwareUpdate()
{
    TFirmwareUpdate::Run(
        *session_, *updater_, programFolder_.toStdString(), deviceSelector_->currentText().toStdString(),
        programmerSelector_->currentText().toStdString(),
        [this](const std::string& text) { boxes_.Inform(this, kApplicationTitle, Q(text)); }, firmwareLimitMs_);
}

// ---- window events -----------------------------------------------------------------------------

void TMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    RefreshView();
    if (!startRequested_) {
        startRequested_ = true;
        QCoreApplication::postEvent(this, new QEvent(kStartupRequest));
    }
}

void TMain::customEvent(QEvent* event)
{
    if (event->type() != kStartupRequest) return QMainWindow::customEvent(event);
    // The window is on screen before the start-up talks to the box: until the platform says it
    // is exposed, the request waits a little and comes back.
    if (windowHandle() && !windowHandle()->isExposed() && ++startupRetries_ < 200) {
        QTimer::singleShot(10, this, [this] { QCoreApplication::postEvent(this, new QEvent(kStartupRequest)); });
        return;
    }
    Command([this] { session_->InitialiseIsp(switches_); });
    // The recent files are the window's own memory, kept beside the environment it just loaded.
    recent_.clear();
    for (int i = 0; i < kRecentFiles; ++i) {
        const std::string path =
            session_->Settings().Get(kRecentSection, std::to_string(i), std::string()).AsString();
        if (!path.empty()) recent_ << Q(path);
    }
    RebuildRecentMenu();
    started_ = true;
}

void TMain::closeEvent(QCloseEvent* event)
{
    if (!session_->CanClose()) {
        boxes_.Warn(this, kApplicationTitle, QStringLiteral("Can't exit while programming operation in progress"));
        event->ignore();
        return;
    }
    try {
        session_->SaveEnvironment();
    } catch (const std::exception& e) {
        // The window still closes: keeping it open would not make the save work.
        boxes_.Error(this, kApplicationTitle, QStringLiteral("The settings could not be saved: %1").arg(e.what()));
    }
    event->accept();
}

void TMain::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile()) event->acceptProposedAction();
}

void TMain::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return;
    event->acceptProposedAction();
    ShowFlashPage();
    LoadFlashFileNamed(urls.front().toLocalFile());
}

void TMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    RefreshView();
}
