#pragma once
// The main window's actions: every menu entry and pop-up entry with its caption, shortcut, handler
// and enabling rule, built in one place and enabled by one UpdateActions from the current state.
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <utility>
#include <vector>

class QAction;
class QKeySequence;
class QMenu;
class TMain;

class TMainActions final : public QObject {
    Q_OBJECT
public:
    // Builds the menus into the window's menu bar; the actions belong to the window, so their
    // shortcuts work on every page.
    explicit TMainActions(TMain& window);

    // Applies every enabling rule and the View menu's checks now. While a command runs only what
    // cannot disturb it stays enabled (and, while plug-and-program waits for a board, the
    // commands it runs between two polls).
    void UpdateActions();
    // The disabled action a key sequence stands for, if any.
    QAction* DisabledFor(const QKeySequence& keys) const;

    QMenu* RecentMenu = nullptr;
    QMenu* SupportMenu = nullptr;  // hidden until Shift+About
    QMenu* FlashPopup = nullptr;   // the Flash page's pop-up menu

    // File
    QAction *FileLoadFlash = nullptr, *FileSaveFlash = nullptr, *FileReloadFlash = nullptr, *SaveWorkspace = nullptr, *LoadWorkSpace = nullptr, *FileExit = nullptr;
    // Device
    QAction *DeviceErase = nullptr, *FlashProgram = nullptr, *OptionsProgram = nullptr, *WriteDeviceTime = nullptr, *FlashRead = nullptr, *ReadDeviceTime = nullptr, *OptionsRead = nullptr, *FlashVerify = nullptr, *DeviceRun = nullptr, *AutoProgramRun = nullptr, *AutoProgramOptions = nullptr, *SerialNumbers = nullptr, *PlugAndProg = nullptr, *DeviceGang = nullptr;
    // View
    QAction *ViewFlash = nullptr, *ViewOptionByte = nullptr, *ViewStatus = nullptr, *ViewOperatorMode = nullptr, *ViewInformation = nullptr, *PopUpWarnings = nullptr;
    // Support
    QAction *RandomData = nullptr, *PagedTestFile = nullptr, *EncodeFile = nullptr, *CopyDeviceList = nullptr, *FlashWriteTests = nullptr, *AutoProgramSeries = nullptr, *TestAllFreqs = nullptr, *EnableAdvanced = nullptr;
    // Help
    QAction *HelpReadme = nullptr, *HelpTopics = nullptr, *FirmwareUpdate = nullptr, *EnableLogFile = nullptr, *HelpAbout = nullptr;
    // Flash page pop-up
    QAction *PopupProgramFlash = nullptr, *PopupReadFlash = nullptr, *PopupVerifyFlash = nullptr, *PopupLoadFlash = nullptr, *PopupReloadFlash = nullptr, *PopupClearFlash = nullptr;

private:
    QAction* Add(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& shortcut,
                 std::function<void()> handler, std::function<bool()> rule = {});
    void BuildFileMenu();
    void BuildDeviceMenu();
    void BuildViewMenu();
    void BuildSupportMenu();
    void BuildHelpMenu();
    void BuildFlashPopup();

    bool AllowedWhileBusy(QAction* action, bool plugWaiting) const;
    bool AllowedToOperator(QAction* action, const std::function<bool()>& rule) const;

    TMain& w_;
    std::vector<std::pair<QAction*, std::function<bool()>>> rules_;
    std::vector<QAction*> all_;
    // Pop-up entries and the actions they stand for.
    std::vector<std::pair<QAction*, QAction*>> mirrors_;
    // Each action's state when the window was last idle.
    std::map<QAction*, bool> idleEnabled_;
};
