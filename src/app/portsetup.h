#pragma once
// What the two port dialogs ("ISP Configuration" and "Advanced Settings") show and the choices they
// hand back. The session answers them over its link context and applies every choice to the port
// unit and the link values itself, so a dialog holds no port hardware and no link values.
#include <array>
#include <cstdint>
#include <string>

// SPP, PS/2, EPP, Fast Centronix and ECP: LPT modes 1..5, in the advanced dialog's button order.
constexpr int kLptModeCount = 5;

// The selected parallel port as the dialogs show it.
struct TPortDetails {
    bool Present = false;  // open, found and in a usable mode
    uint16_t BaseAddress = 0;
    uint8_t IrqNumber = 0;
    uint8_t DmaChannel = 0;
    std::array<bool, kLptModeCount> ModeOffered{};  // which mode buttons the port allows
    int LptMode = 0;                                // 1..5, 0 when none
};

// The two write-timing values the advanced dialog edits by hand.
struct TPortTiming {
    uint8_t PGMTIME = 0;
    uint16_t TENCYC = 0;
};

// Where the link stood when a dialog opened; handing it back undoes what the dialog changed.
struct TPortSetupMark {
    uint16_t PortIndex = 0;
    uint8_t LptMode = 0;
    uint8_t PGMTIME = 0;
    uint16_t TENCYC = 0;
    uint8_t BusyTime = 0;
    bool HadUnit = false;  // the port unit existed (else there is nothing on it to put back)
    int UnitPort = 0;      // its current port, 1..7
    uint8_t UnitMode = 0;  // its LPT mode
    std::string TimingText;  // the option editor's timing text
};

class IPortSetup {
public:
    virtual ~IPortSetup() = default;

    // The link's port entry (zero-based) and the measured processor speed.
    virtual int PortIndex() const = 0;
    virtual double CpuSpeedMHz() = 0;

    virtual TPortSetupMark Mark() = 0;
    // The setup dialog's cancel: the link's port and the unit's selection go back.
    virtual void RestorePort(const TPortSetupMark& mark) = 0;

    // The unit's current port as it stands, without selecting anything.
    virtual TPortDetails CurrentPort() = 0;
    // The setup dialog's choice: entry `index` becomes the unit's port and the link's port follows
    // where the unit stands (an entry without a port leaves it where it was).
    virtual TPortDetails SelectPort(int index) = 0;

    // The advanced dialog's live refresh: selects the link's port again, works out its modes and
    // writes the port and timing block to the status log.
    virtual TPortDetails RefreshPort() = 0;
    // The advanced dialog's port choice: entry `index` becomes the link's port, then a refresh.
    virtual TPortDetails SwitchPort(int index) = 0;
    // A mode button: the unit switches at once.
    virtual void SetLptMode(int mode) = 0;
    // The timing values the advanced dialog starts from (the option editor's timing text once the
    // link has values).
    virtual TPortTiming Timing() = 0;
    // The selected clock range's timing and SPP mode.
    virtual TPortTiming Defaults() = 0;
    // OK: the entry (-1 keeps the link's port), the typed values and the unit's mode become the
    // link values, and the timing text follows.
    virtual void Accept(int portIndex, const TPortTiming& typed) = 0;
};
