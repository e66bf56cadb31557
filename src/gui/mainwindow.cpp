#include "gui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QKeyEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGuiApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "app/boardnumbers.h"
#include "app/commands.h"
#include "app/desktoplink.h"
#include "app/projects.h"
#include "devices/devices.h"
#include "gui/mainactions.h"
#include "gui/messageboxes.h"
#include "gui/loadconfigform.h"
#include "gui/gangpage.h"
#include "gui/operatorpage.h"
#include "gui/plugwindow.h"
#include "gui/statuspanel.h"
#include "views/optioneditorwidget.h"
#include "views/hexview.h"
#include "image/checksum.h"
#include "image/hexfile.h"
#include "link/hardware.h"
#include "link/portidentity.h"
#include "link/programmer.h"

namespace {

// The start-up request, posted from the first showing so that it runs once the window is on screen.
const QEvent::Type kStartupRequest = static_cast<QEvent::Type>(QEvent::User + 25);


QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TMain::TMain(ISettingsBackend* settings, IMessageBoxes& boxes, const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent),
      boxes_(boxes),
      session_(std::make_unique<TAppSession>(queuedView_, settings)),
      programFolder_(QCoreApplication::applicationDirPath())
{
    ui_.SetOwner(std::this_thread::get_id());
    UseQtWorkerThread(*session_);
    std::vector<std::string> parameters;
    for (const QString& a : arguments) parameters.push_back(a.toStdString());
    switches_ = ParseStartupSwitches(parameters);

    setWindowTitle(kTitle);
    BuildPages();
    BuildToolBar();
    BuildStatusBar();
    actions_ = new TMainActions(*this);
    // A hex file dropped on the window loads like File > Load.
    setAcceptDrops(true);
    // The Flash page's hex view and the option editor on the Options page.
    auto* hexView = new THexWindow;
    hexView->setObjectName(QStringLiteral("FlashViewer"));
    SetFlashView(hexView);
    ApplyFlashViewColours();
    SetOptionEditorFactory([](TAppSession& session, QWidget* parent) -> TBaseFuseFrame* {
        auto* editor = new TBaseFuseFrame(session.Options(), parent);
        editor->DisableClockSelector();
        editor->HideAccessCompMode();
        return editor;
    });
    plugWindow_ = new TPlugWindow(this);
    plugWindow_->SetOnMessage([this] {
        operatorPage_->ShowPlugState(QStringLiteral("Plug and Program Mode: ") +
                                     (plugWindow_->isVisible() ? plugWindow_->Message() : QStringLiteral("off")));
        UpdateActions();
    });
    queuedPlug_ = std::make_unique<TQueuedPlugWindow>(*plugWindow_, ui_, *session_);
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
    connect(blinkTimer_, &QTimer::timeout, this, [this] { BlinkTick(); });
    // While a command runs the window drains what the worker hands it a few milliseconds apart;
    // idle, the timer stops and the window sleeps.
    drainTimer_ = new QTimer(this);
    drainTimer_->setInterval(4);
    connect(drainTimer_, &QTimer::timeout, this, [this] { ui_.Drain(); });
    // A refused shortcut says why; the filter sees keys for the window's own widgets only.
    qApp->installEventFilter(this);

    deviceSwitched_ = session_->DeviceSwitched.Subscribe([this] {
        // On the worker the views follow once the command ended.
        if (!ui_.OnOwner())
            deviceSwitchPending_ = true;
        else
            DeviceSwitched();
    });
    imageChanged_ = session_->Project().Flash.Changed.Subscribe([this] { ImageChanged(); });
    // Each finished board reaches the operator page from the worker.
    boardDone_ = session_->AutoProgram().OnBoardDone.Subscribe([this](const TAutoProgram::TBoard& board) {
        TOperatorPage::TBoardResult result{board.Ok, QString::fromStdString(board.SerialPlaced),
                                           QString::fromStdString(board.Failure)};
        ui_.Post([this, result] { operatorPage_->ShowBoard(result); });
    });
    session_->AutoProgram().BeforeBoard = [this] { AskAboutChangedFile(); };
    fileWatcher_ = new QFileSystemWatcher(this);
    connect(fileWatcher_, &QFileSystemWatcher::fileChanged, this, [this](const QString& path) { FlashFileChanged(path); });
    RebuildRecentMenu();
    pages_->setCurrentIndex(FlashPage);
    UpdateActions();
}

TMain::~TMain()
{
    // A command still waiting for an answer from the window gets none; then the worker ends.
    ui_.Close();
    session_->Worker().Stop();
    if (hourglass_) QApplication::restoreOverrideCursor();
}


// ---- construction ------------------------------------------------------------------------------

void TMain::BuildPages()
{
    central_ = new QStackedWidget(this);
    setCentralWidget(central_);
    pages_ = new QTabWidget(central_);
    central_->addWidget(pages_);
    operatorPage_ = new TOperatorPage(central_);
    central_->addWidget(operatorPage_);
    central_->setCurrentWidget(pages_);
    // A page of its own once the gang has boxes.
    gangPage_ = new TGangPage(pages_);
    gangPage_->hide();

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

// ---- the command wrapper and the enabling rules ---------------------------------------------

TOutcome TMain::Command(const std::function<void()>& body)
{
    if (BusyState() == TBusy::Busy) return TOutcome::Refused;
    BeginBusy();
    TOutcome outcome = TOutcome::Refused;
    bool finished = false;
    QEventLoop loop;
    // The outcome comes back through the window's queue, after everything the command showed.
    session_->Start(body, [this, &outcome, &finished, &loop](TOutcome o) {
        ui_.Post([&outcome, &finished, &loop, o] {
            outcome = o;
            finished = true;
            loop.quit();
        });
    });
    // The window's own loop turns while the worker runs: repaints, Abort, page switching.
    while (!finished) loop.exec();
    EndBusy();
    UpdateActions();
    return outcome;
}

void TMain::OnWindow(const std::function<void()>& call) { ui_.Call(call); }

void TMain::WakeWindow()
{
    QMetaObject::invokeMethod(this, "DrainWindowQueue", Qt::QueuedConnection);
}

void TMain::DrainWindowQueue() { ui_.Drain(); }

TMain::TBusy TMain::BusyState() const
{
    if (busyDepth_ == 0) return TBusy::Idle;
    // The plug-and-program loop alone, waiting for a board: its commands run between two polls.
    if (busyDepth_ == 1 && plugWindow_ && plugWindow_->isVisible() && plugWindow_->Waiting()) return TBusy::PlugWaiting;
    return TBusy::Busy;
}

QString TMain::RefusalText() const { return secondPanel_ ? secondPanel_->text() : QString(); }

void TMain::BeginBusy()
{
    if (busyDepth_++ > 0) return;
    THexList& image = session_->Project().Flash;
    // The hex view shows a read-only copy; the worker's later copies replace it.
    shownImage_ = std::make_unique<THexList>(image);
    shownImage_->SetReadOnly(true);
    if (flashView_ && flashView_->Data() == &image) flashView_->Rebind(shownImage_.get());
    if (optionEditor_) optionEditor_->SetLive(false);
    imagePublisher_ = image.Changed.Subscribe([this] { PublishImage(); });
    drainTimer_->start();
    UpdateActions();
}

void TMain::EndBusy()
{
    if (--busyDepth_ > 0) return;
    ui_.Drain();
    drainTimer_->stop();
    imagePublisher_.Reset();
    {
        std::lock_guard<std::mutex> lock(publishMutex_);
        published_.reset();
        publishQueued_ = false;
    }
    if (deviceSwitchPending_) {
        deviceSwitchPending_ = false;
        DeviceSwitched();
    } else {
        const TDevice* device = session_->Device();
        const bool hasFlash = device && device->FlashSize() >= 1;
        if (flashView_ && flashView_->Data() == shownImage_.get())
            flashView_->Rebind(hasFlash ? &session_->Project().Flash : nullptr);
        if (optionEditor_) optionEditor_->SetLive(true);
    }
    shownImage_.reset();
    if (pages_->currentIndex() == DeviceInfoPage) FillDeviceInfo();
    WatchFlashFile();
    RefreshOperatorPage();
}

void TMain::WatchFlashFile()
{
    const TFileStamp& loaded = session_->Commands().LoadedFile;
    const QString path = QString::fromStdString(loaded.Path);
    if (path != watchedFile_) {
        if (!watchedFile_.isEmpty()) fileWatcher_->removePath(watchedFile_);
        watchedFile_ = path;
        fileWarned_ = false;
    }
    if (!path.isEmpty() && !fileWatcher_->files().contains(path) && QFileInfo::exists(path)) fileWatcher_->addPath(path);
    // Reloaded, or the user chose to keep the image: the warning has been answered.
    if (!loaded.Changed()) {
        fileWarned_ = false;
        operatorPage_->ShowFileWarning(QString());
    }
}

void TMain::FlashFileChanged(const QString& path)
{
    if (path != watchedFile_) return;
    // A file replaced by a rename leaves the watcher: follow the new one at the same path.
    if (!fileWatcher_->files().contains(path) && QFileInfo::exists(path)) fileWatcher_->addPath(path);
    if (fileWarned_) return;
    fileWarned_ = true;
    const QString text = FileChangedText(path);
    AppendLog(text.toStdString());
    secondPanel_->setText(text);
    operatorPage_->ShowFileWarning(text);
}

void TMain::AskAboutChangedFile()
{
    ReloadIfChanged(session_->Commands(), [this](const std::string& file) {
        const QString path = QString::fromStdString(file);
        bool reload = false;
        OnWindow([&] {
            FlashFileChanged(path);
            reload = boxes_.AskYesNo(this, kApplicationTitle,
                                     FileChangedText(path) + QStringLiteral("\n\nReload it before programming? No programs "
                                                                             "the image loaded before."));
        });
        return reload;
    });
}

void TMain::RefreshOperatorPage()
{
    if (!operatorMode_ || busyDepth_ > 0) return;
    const THexList& image = session_->Project().Flash;
    TOperatorPage::TImage facts;
    if (const TDevice* device = session_->Device()) facts.Device = Q(device->Name());
    const QString file = QString::fromStdString(session_->Commands().LoadedFile.Path);
    if (!file.isEmpty()) {
        facts.File = file;
        facts.Size = image.Size();
        facts.Crc32 = Q(DigestText(ChecksumByName("CRC-32")->Compute(image.Values())));
        facts.FileTime = QFileInfo(file).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        facts.Suspect = Q(session_->Commands().LoadedChecksumWarning);
    }
    operatorPage_->ShowImage(facts);
    // With a production store the counters are the station's for the day, every program of it
    // counted; read on the worker, since a server may take its time to answer.
    if (std::shared_ptr<IProductionStore> store = store_) {
        session_->Worker().Post([this, store] {
            TRecordFilter today;
            today.Since = QDateTime::currentDateTimeUtc().date().toString(Qt::ISODate).toStdString();
            today.Station = StationName();
            int64_t passed = 0, failed = 0;
            try {
                for (const TDaySummary& day : store->Summary(today)) {
                    passed += day.Passed;
                    failed += day.Failed;
                }
            } catch (const std::exception&) {
                return;  // the session's own counters stay
            }
            ui_.Post([this, passed, failed] { operatorPage_->ShowStoredCounts(passed, failed); });
        });
    }
}

bool TMain::SetOperatorMode(bool on, bool confirm)
{
    if (on == operatorMode_) return true;
    if (!on && confirm && !boxes_.AskYesNo(this, kApplicationTitle, QString::fromLatin1(kLeaveOperatorQuestion))) {
        UpdateActions();
        return false;
    }
    operatorMode_ = on;
    central_->setCurrentWidget(on ? static_cast<QWidget*>(operatorPage_) : pages_);
    session_->Settings().Put("ENVIRONMENT", "OPERATORMODE", kGlobalGroup, on);
    try {
        session_->Settings().Save(TISPSettings::kGlobalKey, kGlobalGroup);
    } catch (const std::exception&) {
        // Remembered at the next save; the mode itself works.
    }
    RefreshOperatorPage();
    UpdateActions();
    return true;
}

// On the worker, when the image changed: a copy for the window, folded until the window took it.
void TMain::PublishImage()
{
    auto copy = std::make_unique<THexList>(session_->Project().Flash);
    std::lock_guard<std::mutex> lock(publishMutex_);
    published_ = std::move(copy);
    if (publishQueued_) return;
    publishQueued_ = true;
    ui_.Post([this] {
        std::unique_ptr<THexList> latest;
        {
            std::lock_guard<std::mutex> taken(publishMutex_);
            latest = std::move(published_);
            publishQueued_ = false;
        }
        if (latest && shownImage_) *shownImage_ = *latest;
        if (pages_->currentIndex() == DeviceInfoPage) FillDeviceInfo();
    });
}

bool TMain::CanOperate() const
{
    return BusyState() == TBusy::Idle && session_->Runner().CanOperate() && !session_->CommandRunning();
}

void TMain::UpdateActions()
{
    if (actions_) actions_->UpdateActions();
}

// ---- IOperationView ----------------------------------------------------------------------------

void TMain::ShowStatus(TStatusKind kind, const std::string& text)
{
    // A failure shows red first, then alternates with the blink timer.
    if (kind == sk_failed) blinkPhase_ = true;
    shownKind_ = kind;
    statusPanel_->SetBlinkPhase(blinkPhase_ || kind != sk_failed);
    statusPanel_->SetStatus(kind, Q(text));
    secondPanel_->setText(QString());
}

void TMain::AppendLog(const std::string& line)
{
    WriteLogFile(Q(line));
    operatorPage_->AppendLog(Q(line));
    auto* item = new QListWidgetItem(Q(line));
    item->setToolTip(item->text());  // a line wider than the page is cut short on screen
    statusLog_->addItem(item);
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
    selectorsEnabled_ = enabled;
    UpdateActions();
}

void TMain::SetResetCaption(const std::string& caption) { resetButton_->setText(Q(caption)); }

void TMain::PumpMessages() { QCoreApplication::processEvents(); }

void TMain::RepaintStatusBar()
{
    statusPanel_->SetBlinkPhase(blinkPhase_ || shownKind_ != sk_failed);
    statusPanel_->update();
}

void TMain::BlinkTick()
{
    if (shownKind_ != sk_failed) return;
    blinkPhase_ = !blinkPhase_;
    RepaintStatusBar();
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
    if (!actions_ || !actions_->EnableLogFile->isChecked()) return {};
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

void TMain::ScrollViewHome()
{
    if (flashView_) flashView_->ScrollHome();
}

void TMain::ShowOptionsPage() { pages_->setCurrentIndex(OptionsPage); }

void TMain::ShowFlashPage()
{
    if (pages_->isTabEnabled(FlashPage)) pages_->setCurrentIndex(FlashPage);
}

void TMain::ShowFileName(const std::string& name) { SetTitleSuffix(Q(name)); }

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
    if (flashView_) flashView_->SetData(hasFlash ? &session_->Project().Flash : nullptr);
    pages_->setCurrentIndex(hasFlash ? FlashPage : OptionsPage);
    UpdateActions();
}

void TMain::SetFlashView(THexWindow* view)
{
    if (flashView_) flashView_->deleteLater();
    flashView_ = view;
    if (!view) return;
    flashPage_->layout()->addWidget(view);
    view->SetPopUpMenu(actions_->FlashPopup);
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
    THexWindow* hex = flashView_;
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
    // While a command runs the models are the worker's; the image gets its option byte at the end.
    if (BusyState() == TBusy::Idle) commands::CopyOptionByte(session_->Commands());
    if (index == StatusPage && statusLog_->count() > 0) statusLog_->setCurrentRow(statusLog_->count() - 1);
    if (index == DeviceInfoPage) FillDeviceInfo();
    if (index == FlashPage) SetTitleSuffix(Q(shownImage_ ? shownImage_->FileName() : session_->Project().Flash.FileName()));
    UpdateActions();
}

// The checksums follow the image while they are on screen; elsewhere the page fills them when shown.
void TMain::ImageChanged()
{
    if (pages_->currentIndex() == DeviceInfoPage) FillDeviceInfo();
}

void TMain::FillDeviceInfo()
{
    const THexList& image = shownImage_ ? *shownImage_ : session_->Project().Flash;
    for (size_t i = 0; i < 5; ++i)
        checksumFields_[i]->setText(Q(DigestText(ChecksumByName(ChecksumNames()[i])->Compute(image.Values()))));
    // The rest is the session's own: filled again once the command ended.
    if (shownImage_) return;
    const TDevice* device = session_->Device();
    deviceName_->setText(QStringLiteral("Dezudeda Ruzoduruvezor ") + (device ? Q(device->Name()) : QString()));
    const uint32_t size = image.Size();
    codeMemory_->setText(QStringLiteral("00000000 - ") +
                         // An empty image shows the unsigned wrap of its last address: FFFFFFFF.
                         QStringLiteral("%1").arg(static_cast<uint32_t>(size - 1u), 8, 16, QLatin1Char('0')).toUpper());
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

// ---- commands ----------------------------------------------------------------------------------

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
    // While anything runs the button is Abort; the question does not stop the worker.
    if (BusyState() == TBusy::Busy) {
        if (boxes_.AskYesNo(this, kApplicationTitle, QStringLiteral("Are you sure you want to cancel the operation?"))) {
            session_->Runner().RequestAbort();
            for (size_t i = 0; i < gang_.size(); ++i) GangSession(static_cast<int>(i)).Runner().RequestAbort();
        }
        return;
    }
    Command([this] { commands::Reset(session_->Commands()); });
}

void TMain::FileExit() { close(); }

void TMain::AutoProgramExecute()
{
    // With a gang, F5 runs every box of it at once.
    if (!gang_.empty()) return RunGang();
    // The store is reached on the worker too: a server slow to answer never freezes the window.
    Command([this] {
        if (AttachProductionRecord()) session_->AutoProgram().AutoProgramExecute();
    });
}

void TMain::PlugAndProgClick()
{
    Command([this] {
        if (AttachProductionRecord()) session_->AutoProgram().PlugAndProgram(*queuedPlug_);
    });
}

void TMain::FirmwareUpdate()
{
    Command([this] { RunFirmwareUpdate(); });
}

// On the worker: the device and hardware in place are what the selectors show.
void TMain::RunFirmwareUpdate()
{
    const TDevice* device = session_->Device();
    const TISPProgrammer* p = session_->Programmer();
    TFirmwareUpdate::Run(
        *session_, *updater_, programFolder_.toStdString(), device ? device->Name() : std::string(),
        p ? p->HardwareName() : std::string(),
        [this](const std::string& text) { OnWindow([&] { boxes_.Inform(this, kApplicationTitle, Q(text)); }); },
        firmwareLimitMs_);
}

// ---- window events -----------------------------------------------------------------------------

void TMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
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
    LoadRecentFiles();
    RestoreGang();
    if (switches_.Operator || session_->Settings().Get("ENVIRONMENT", "OPERATORMODE", false).AsBoolean(false))
        SetOperatorMode(true, false);
    started_ = true;
}

void TMain::closeEvent(QCloseEvent* event)
{
    if (busyDepth_ > 0 || !session_->CanClose()) {
        // The operation goes on while the refusal is on screen.
        boxes_.WarnWithoutWaiting(this, kApplicationTitle,
                                  QStringLiteral("Can't exit while programming operation in progress"));
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

void TMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
}

bool TMain::eventFilter(QObject* watched, QEvent* event)
{
    // A shortcut of a disabled action reaches the focused widget as a plain key: while a command
    // runs, say why nothing happens instead of dropping it silently.
    if (event->type() == QEvent::KeyPress && busyDepth_ > 0 && actions_) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (QAction* refused = actions_->DisabledFor(QKeySequence(key->keyCombination()))) {
                secondPanel_->setText(QStringLiteral("%1 is not available while an operation runs")
                                          .arg(refused->text().remove(QLatin1Char('&'))));
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
