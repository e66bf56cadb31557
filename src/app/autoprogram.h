#pragma once
// Auto Program: one production run of the user's chosen steps, counted per session, with the
// run's total time in its completion line.
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "base/observers.h"

class TISPSettings;
class TSerialNum;
struct TCommandContext;

// The step selection of the auto-program options dialog, kept in the settings store under
// section "AUTOPROGRAM", idents "0" to "6".
class TAutoProgramSteps {
public:
    static constexpr int kCount = 7;
    static constexpr const char* kSection = "AUTOPROGRAM";
    enum TStep : int {
        stReload = 0,
        stErase = 1,
        stProgramFlash = 2,
        stVerify = 3,
        stProgramOptions = 4,
        stIncrementSerial = 5,
        stRun = 6,
    };

    static const char* Caption(int step);

    // Remembers the store and reads each step from it; missing values read as off.
    void Load(TISPSettings& store);
    // Writes every step into the store last loaded from (global group).
    void Store();
    // Load, let the user edit the steps (`showModal`), store. OK is the dialog's only way out,
    // so the states are always stored.
    void Execute(TISPSettings& store, const std::function<void(TAutoProgramSteps&)>& showModal);

    bool Checked(int step) const { return checked_.at(static_cast<size_t>(step)); }
    void SetChecked(int step, bool on) { checked_.at(static_cast<size_t>(step)) = on; }
    bool AnyChecked() const;

    // The production record the window appends a CSV line per board to; empty for none. Kept
    // apart from the steps' section, which projects move between groups.
    static constexpr const char* kRecordSection = "PRODUCTIONRECORD";
    const std::string& RecordFile() const { return recordFile_; }
    void SetRecordFile(std::string path) { recordFile_ = std::move(path); }
    // The production store (a PostgreSQL URL or an SQLite file) every board is recorded in, and
    // the serial-number pool of the store the window numbers boards from; empty for none.
    const std::string& Database() const { return database_; }
    void SetDatabase(std::string location) { database_ = std::move(location); }

private:
    TISPSettings* store_ = nullptr;
    std::array<bool, kCount> checked_{};
    std::string recordFile_;
    std::string database_;
};

// The plug-and-program window: a message, a Cancel button the loop polls, never modal.
class IPlugWindow {
public:
    virtual ~IPlugWindow() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual void SetMessage(const std::string& text) = 0;
    virtual bool Cancelled() const = 0;
    virtual void SetCancelled(bool cancelled) = 0;
    // Called between two polls for a board: waits about kPollMs (a steady pace, not flat out)
    // and lets the shell run what it must meanwhile.
    static constexpr int kPollMs = 25;
    virtual void Pump() = 0;
};

class TAutoProgram {
public:
    TAutoProgram(TCommandContext& commands, TSerialNum& serial, TISPSettings& settings)
        : commands_(commands), serial_(serial), settings_(settings)
    {
    }

    // Shows the options dialog modally on the steps; used when a run finds no step on.
    std::function<void(TAutoProgramSteps&)> ShowOptionsDialog;

    // One run (F5). A failing step's exception escapes after the run mark is cleared; the
    // caller reports it through the runner. Does nothing without a programmer.
    void AutoProgramExecute();
    // Device ▸ Auto Program Options...
    void AutoProgramOptionsExecute();

    // Runs attempted since the program started, failed ones included.
    uint32_t DevicesProgrammed() const { return devicesProgrammed_; }
    void CountDevice() { ++devicesProgrammed_; }

    // From the reconnection to the final wait: the part of a run that plug-and-program repeats
    // per board. Expects the run mark to be set.
    void RunSteps(const TAutoProgramSteps& steps);
    std::string CompletionMessage() const;

    // Told once per board a run or the plug-and-program loop finished, passed or failed. A
    // listener that raises is logged; the board's result stands.
    struct TBoard {
        bool Ok = false;
        bool VerifyFailed = false; // failed in the verification, as the exit status tells too
        std::string Failure;       // the failing step's message, as its status line shows it
        std::string Steps;         // "erase+program+verify"
        std::string SerialPlaced;  // the serial number the programmed image carried
        std::string ImageCrc32;    // of the image as its device steps began, serial number included
        // The Flash program step began: a serial number placed for this board may sit in it.
        bool FlashWritten = false;
        int64_t DurationMs = 0;    // from the run's start to its end
    };
    TObservers<const TBoard&> OnBoardDone;
    // Called on the session's thread before each run and each plug-and-program board, before
    // anything is sent: a shell checks here whether the Flash file changed on disk and reloads it
    // (or not) as the user says, so that a board gets the old image or the new one, never a mix.
    std::function<void()> BeforeBoard;
    // Called after the reload, just before the device steps of each board: a production line
    // places the board's own serial number here (the reload would wipe one placed earlier).
    std::function<void()> BeforeDeviceSteps;

    // Plug-and-program mode: waits for a board, programs it, waits for the next, until the
    // window is cancelled or a board fails.
    void PlugAndProgram(IPlugWindow& window);

private:
    TAutoProgramSteps LoadSteps();
    // The parts of a run: the box restarted with the run's start line, the reload, the steps.
    void Reconnect();
    void ReloadStep(const TAutoProgramSteps& steps);
    void DeviceSteps(const TAutoProgramSteps& steps);
    TBoard BoardStart(const TAutoProgramSteps& steps);
    void BoardDone(TBoard board, bool ok, const std::string& failure);
    // A board that failed with `error`: its failure in the status line's words.
    void BoardFailed(TBoard board, std::exception_ptr error);

    TCommandContext& commands_;
    TSerialNum& serial_;
    TISPSettings& settings_;
    uint32_t devicesProgrammed_ = 0;
    // The serial number the board in progress got, taken when its device steps begin.
    std::string serialPlaced_;
    std::string imageCrc32_;
    bool flashWritten_ = false;
    int64_t boardStartMs_ = 0;
};
