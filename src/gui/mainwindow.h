#pragma once
// The desktop application's main window: the pages, the toolbar, the status bar with its lamp and
// progress bar, and the menus. It is a thin shell over the application session: every command is
// the session's (or the shared command sequences'), run through one wrapper that hands whatever
// escapes to the session's exception handler, so nothing is ever thrown into Qt's event loop.
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/firmwareupdate.h"
#include "app/productiontests.h"
#include "app/session.h"
#include "app/startup.h"
#include "app/storestation.h"
#include "app/worker.h"
#include "gui/queuedview.h"

class IMessageBoxes;
class ISettingsBackend;
class QAction;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class QUrl;
class TAdvancedFrm;
class TBaseFuseFrame;
class THexWindow;
class TLoadConfigForm;
class TMainActions;
class TOperatorPage;
class TGangPage;
struct TGangSlot;
class QTemporaryDir;
class QFileSystemWatcher;
class QStackedWidget;
class TPrintStatusD;
class TSerialNumDialog;
class TPlugWindow;
class TStatusPanel;

class TMain final : public QMainWindow, public IShellView {
    Q_OBJECT
    friend class TMainActions;  // its handlers are the window's commands

public:
    static constexpr const char* kTitle = "Dezudeda Ruzoduruvezor ZEMPRIX";
    static constexpr const char* kApplicationTitle = "ZEMPRIX";
    // How wide a file path may be in the title and the status line before it is shortened.
    static constexpr int kTitlePathPixels = 140;
    enum TPage { FlashPage = 0, OptionsPage = 1, DeviceInfoPage = 2, StatusPage = 3 };

    // `settings` may be null (defaults, nothing saved). `arguments` are the command line's
    // parameters without the program's name.
    TMain(ISettingsBackend* settings, IMessageBoxes& boxes, const QStringList& arguments, QWidget* parent = nullptr);
    ~TMain() override;

    TAppSession& Session() { return *session_; }
    // The menu and pop-up actions.
    TMainActions& Actions() const { return *actions_; }
    QTabWidget* Pages() const { return pages_; }
    QListWidget* StatusLog() const { return statusLog_; }
    TStatusPanel* StatusPanel() const { return statusPanel_; }
    QProgressBar* Progress() const { return progress_; }
    QComboBox* DeviceSelector() const { return deviceSelector_; }
    QComboBox* ProgrammerSelector() const { return programmerSelector_; }
    QPushButton* ResetButton() const { return resetButton_; }
    QPushButton* SetupButton() const { return setupButton_; }
    // The Device Info page's checksum fields, in the order of ChecksumNames().
    QLineEdit* ChecksumField(int index) const { return checksumFields_[index]; }
    // The start-up request has been handled.
    bool Started() const { return started_; }

    // Runs a command handler on the session's worker: refused while another runs, exceptions
    // reported, rules refreshed. The window's loop turns (repaints, Abort, page switching) until
    // the command ended; what the command shows reaches the window through its call queue.
    TOutcome Command(const std::function<void()>& body);
    // Runs `call` on the window's thread and waits for it: how a command on the worker opens a
    // dialog or touches a widget. At once when already on the window's thread.
    void OnWindow(const std::function<void()>& call);
    // What the window lets the user do now: everything, the commands a waiting plug-and-program
    // loop runs between its polls, or only what cannot disturb the operation.
    enum class TBusy { Idle, PlugWaiting, Busy };
    TBusy BusyState() const;
    // The blink timer's tick: a failure's lamp alternates.
    void BlinkTick();
    // The status bar's second panel: why a pressed shortcut did nothing.
    QString RefusalText() const;

    // Operator mode: the production page instead of the four pages, only Auto Program, plug and
    // program, Abort and leaving enabled. Leaving asks first when `confirm`; remembered in the
    // settings. False when the user chose to stay.
    bool SetOperatorMode(bool on, bool confirm = true);
    bool OperatorMode() const { return operatorMode_; }
    TOperatorPage* OperatorPage() const { return operatorPage_; }
    static constexpr const char* kLeaveOperatorQuestion = "Leave operator mode?";
    // The warning written when the loaded Flash file changes on disk.
    static QString FileChangedText(const QString& path) { return QStringLiteral("Flash file changed on disk: ") + path; }
    // Reads the loaded file's place again (after a load), and tells a change of it as it happens.
    void WatchFlashFile();

    // The gang: one session per port, each on its own worker; empty for the window's box alone.
    void SetGangPorts(const QStringList& ports);
    const QStringList& GangPorts() const { return gangPorts_; }
    TGangPage* GangPage() const { return gangPage_; }
    TAppSession& GangSession(int index);
    // How a gang box's session reaches its port; tests hand in simulated boxes.
    using TGangLinkSetup = std::function<void(TAppSession& session, const std::string& port)>;
    void SetGangLinkSetup(TGangLinkSetup setup) { gangLinkSetup_ = std::move(setup); }
    // Auto Program on every box of the gang at once; the summary line ends it.
    void RunGang();
    // Marks the boxes of the gang on the port the window's own session uses; true when there are.
    bool MarkGangOnWindowsPort();
    // Device > Gang...
    void GangClick();
    // The gang the settings (or a loaded project) name.
    void RestoreGang();
    // Re-evaluates every enabling rule now.
    void UpdateActions();
    // A device command may start: the runner is idle with a programmer and no command runs.
    bool CanOperate() const;

    // IOperationView
    void ShowStatus(TStatusKind kind, const std::string& text) override;
    void AppendLog(const std::string& line) override;
    void SetHourglass(bool on) override;
    void Beep() override;
    void SetBlinkTimer(bool running) override;
    void ShowProgress(int32_t position, int32_t maximum, const std::string& caption) override;
    void SetSelectorsEnabled(bool enabled) override;
    void SetResetCaption(const std::string& caption) override;
    void PumpMessages() override;
    void RepaintStatusBar() override;
    void PopUp(const std::string& message) override;
    void ShowErrorBox(const std::string& message) override;
    bool OfferFirmwareUpdate() override;
    void ShowFirmwareUpdateFailed() override;
    void RecordException(const std::string& message) override;

    // IShellView
    bool RunSetupDialog(const std::vector<std::string>& ports, int& index) override;
    void ClearAdvancedPortList() override;
    void AddAdvancedPort(const std::string& name) override;
    void ShowProgrammerInformation(const std::string& softwareVersion, const std::string& firmware,
                                   const std::vector<std::string>& lines) override;
    void ShowTextReport(const std::vector<std::string>& lines) override;
    void ShowAutoProgramOptions(TAutoProgramSteps& steps) override;
    void ShowMessage(const std::string& text) override;
    void ScrollViewHome() override;
    void ShowOptionsPage() override;
    void ShowFlashPage() override;
    void ShowFileName(const std::string& name) override;

    // The hex view on the Flash page; it follows the session's image by itself.
    void SetFlashView(THexWindow* view);
    THexWindow* FlashView() const { return flashView_; }
    // The option editor's place on the Options page: a factory builds the editor for the
    // session's model on every device switch; without one the page says "No options".
    using TOptionEditorFactory = std::function<TBaseFuseFrame*(TAppSession&, QWidget* parent)>;
    void SetOptionEditorFactory(TOptionEditorFactory factory) { optionEditorFactory_ = std::move(factory); }
    TBaseFuseFrame* OptionEditor() const { return optionEditor_; }

    // The folder of readme.txt and the help file: the program's own unless a test names another.
    void SetProgramFolder(const QString& folder) { programFolder_ = folder; }
    // Where Help > Readme and Help > Help Topics read their files: beside the program (the build
    // tree, an unpacked folder), else in the installed share folder.
    QString ReadmePath() const;
    QString HelpPath() const;
    // Hands a file or web address to the desktop's browser; false when none took it. Tests replace it.
    using TUrlOpener = std::function<bool(const QUrl&)>;
    void SetUrlOpener(TUrlOpener opener) { urlOpener_ = std::move(opener); }

    // The recent-files list, newest first.
    const QStringList& RecentFiles() const { return recent_; }
    // Where "Enable LogFile" writes; empty until the first exception is recorded.
    const QString& LogFilePath() const { return logFilePath_; }

    // Commands (the menu handlers).
    void LoadFlashFile();
    void LoadFlashFileNamed(const QString& path);
    void SaveFlashFile();
    void ReloadFlashFile();
    void ClearFlashBuffer();
    void ViewReadme();
    static QString AboutText();
    // With Shift held the entry reveals the Support menu instead.
    void About(bool shift);
    void HardwareSelectorChange();
    void ResetButtonClick();
    void FileExit();
    void FirmwareUpdate();
    void AutoProgramExecute();
    void SaveWorkspaceExecute();
    void LoadWorkSpaceExecute();
    const std::string& WorkspaceName() const { return workspaceName_; }
    // Runs the saved-configurations dialog; tests answer it without showing it.
    using TConfigurationChooser = std::function<bool(TLoadConfigForm& form, std::string& name, int mode)>;
    void SetConfigurationChooser(TConfigurationChooser chooser) { chooser_ = std::move(chooser); }
    TLoadConfigForm* LoadConfigForm() const { return loadConfigForm_; }
    // Runs the window's modal dialogs (Auto Program Options); tests answer them without a loop.
    void SetDialogRunner(std::function<void(QDialog&)> runner) { dialogRunner_ = std::move(runner); }
    // Runs a modal dialog through the runner when one is set; the dialog's result.
    int RunDialog(QDialog& dialog);
    // "Serial Numbers": the serial-number dialog, then the Flash page redrawn.
    void SerialNumbersClick();
    // The dialogs kept for the whole run once first opened (null until then).
    TSerialNumDialog* SerialNumDialog() const { return serialDialog_; }
    TAdvancedFrm* AdvancedForm() const { return advancedForm_; }
    TPrintStatusD* PrintStatusD() const { return printStatus_; }
    // Which device a port entry of the setup dialog stands for on this machine; tests replace it.
    using TPortIdentifier = std::function<QString(const QString& entry)>;
    void SetPortIdentifier(TPortIdentifier identifier) { portIdentifier_ = std::move(identifier); }
    void PlugAndProgClick();
    TPlugWindow* PlugWindow() const { return plugWindow_; }
    // How long the updater may run before it is terminated (tests shorten it).
    void SetFirmwareLimitMs(uint32_t ms) { firmwareLimitMs_ = ms; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void customEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The window's side of a command: while one runs the views show copies the worker publishes,
    // the editors are read-only, and nothing the window does touches the session's models.
    void BeginBusy();
    void EndBusy();
    void PublishImage();
    // From any thread: the window drains its queue at its loop's next turn (while a command runs
    // the drain timer does it anyway; idle, this is what brings late calls in).
    void WakeWindow();
    // Invoked by name, so that the wake posted from a worker carries no object of ours across
    // threads: Qt's event queue synchronises in a way ThreadSanitizer cannot see.
    Q_INVOKABLE void DrainWindowQueue();
    void FlashFileChanged(const QString& path);
    void RefreshOperatorPage();
    // On the worker before each board: the changed file is reloaded, or not, as the user says.
    void AskAboutChangedFile();
    void DeviceSwitched();
    void ImageChanged();
    void BuildPages();
    void BuildToolBar();
    void BuildStatusBar();
    void FillSelectors();
    void ApplyFlashViewColours();
    void PageChanged(int index);
    void FillDeviceInfo();
    void SetTitleSuffix(const QString& path);
    void AddRecentFile(const QString& path);
    void LoadRecentFiles();
    void RebuildRecentMenu();
    void StoreRecentFiles();
    // The log file every status line goes to: ZEMPRIX_LOG_FILE, else the menu entry's file when
    // it is checked, else none.
    QString LogFileTarget() const;
    void WriteLogFile(const QString& line);
    void RunFirmwareUpdate();
    void RunAdvancedForm();
    // On the worker: points the session's Auto Program at the production record and store the
    // options name, if any; false, with the reason shown, when the store cannot be reached or its
    // pool read.
    bool AttachProductionRecord();
    // On the worker: keeps the store open from one run to the next while the options name the
    // same one.
    void OpenStore(const std::string& location);

    IMessageBoxes& boxes_;
    // Before the session, which talks to the window through them.
    TCallQueue ui_{[this] { WakeWindow(); }};
    TQueuedShellView queuedView_{*this, ui_};
    std::unique_ptr<TAppSession> session_;
    QTimer* drainTimer_ = nullptr;
    int busyDepth_ = 0;
    bool deviceSwitchPending_ = false;
    bool selectorsEnabled_ = true;
    // The lamp's blink is the window's own: the runner's figures live on the worker.
    TStatusKind shownKind_ = sk_none;
    bool blinkPhase_ = false;
    // What the hex view shows while a command runs, and the worker's latest copy of the image.
    std::unique_ptr<THexList> shownImage_;
    std::mutex publishMutex_;
    std::unique_ptr<THexList> published_;
    bool publishQueued_ = false;
    TSubscription imagePublisher_;
    std::unique_ptr<TQueuedPlugWindow> queuedPlug_;
    TStartupSwitches switches_;
    bool startRequested_ = false;
    int startupRetries_ = 0;
    bool started_ = false;
    bool hourglass_ = false;

    QStackedWidget* central_ = nullptr;
    TOperatorPage* operatorPage_ = nullptr;
    bool operatorMode_ = false;
    QFileSystemWatcher* fileWatcher_ = nullptr;
    QString watchedFile_;
    bool fileWarned_ = false;
    TSubscription boardDone_;
    QTabWidget* pages_ = nullptr;
    TGangPage* gangPage_ = nullptr;
    QStringList gangPorts_;
    std::vector<std::unique_ptr<TGangSlot>> gang_;
    TGangLinkSetup gangLinkSetup_;
    std::unique_ptr<QTemporaryDir> gangPoolDir_;
    QWidget* flashPage_ = nullptr;
    THexWindow* flashView_ = nullptr;
    QWidget* optionsPage_ = nullptr;
    QLabel* noOptions_ = nullptr;
    TBaseFuseFrame* optionEditor_ = nullptr;
    TOptionEditorFactory optionEditorFactory_;
    QListWidget* statusLog_ = nullptr;
    QLineEdit* checksumFields_[5] = {};
    QLabel* deviceName_ = nullptr;
    QLabel* codeMemory_ = nullptr;
    QLabel* memorySize_ = nullptr;
    QLabel* programmerType_ = nullptr;

    QComboBox* deviceSelector_ = nullptr;
    QComboBox* programmerSelector_ = nullptr;
    QPushButton* resetButton_ = nullptr;
    QPushButton* setupButton_ = nullptr;
    TStatusPanel* statusPanel_ = nullptr;
    QLabel* secondPanel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTimer* blinkTimer_ = nullptr;
    TPlugWindow* plugWindow_ = nullptr;
    TLoadConfigForm* loadConfigForm_ = nullptr;
    TConfigurationChooser chooser_;
    std::function<void(QDialog&)> dialogRunner_;
    TUrlOpener urlOpener_;
    TSerialNumDialog* serialDialog_ = nullptr;
    TAdvancedFrm* advancedForm_ = nullptr;
    TPrintStatusD* printStatus_ = nullptr;
    TPortIdentifier portIdentifier_;
    std::string workspaceName_;

    TMainActions* actions_ = nullptr;
    QStringList recent_;
    QStringList openFilters_;
    QStringList saveFilters_;
    int saveFilter_ = 0;
    QString titleFile_;
    QString logFilePath_;
    QStringList advancedPorts_;
    QString programFolder_;
    std::unique_ptr<IUpdaterProcess> updater_ = CreateUpdaterProcess();
    uint32_t firmwareLimitMs_ = TFirmwareUpdate::kLimitMs;
    production::TTestRandom random_;  // seeded once per program run, so test images repeat
    TSubscription deviceSwitched_, imageChanged_, productionRecord_;
    // Declared in the order they depend on each other, so they go in the reverse one.
    // Shared with the worker, which reads the day's counters from it.
    std::shared_ptr<IProductionStore> store_;
    std::string storeLocation_;
    std::unique_ptr<TStoreStation> storeStation_;
    TSubscription storeRecord_;
};
