#pragma once
// The option byte editor without widgets: the item indexes of its choices, the programming-clock
// selection and the two texts it shows. The GUI binds its controls to this model and the CLI
// drives it directly, so both produce the same option byte and the same timing text.
#include <cstdint>
#include <functional>
#include <string>

#include "base/observers.h"
#include "devices/optionbyte.h"

struct TClockRange {
    const char* Text;
    uint8_t PGMTIME;
    uint16_t TENCYC;
};

// The timing values a clock range gives, which the link sends to the box.
struct TTiming {
    uint8_t PGMTIME = 0;
    uint16_t TENCYC = 0;
    uint8_t BusyTime = 0;
};

// The target clock ranges offered by `PGMTIM`, in list order.
constexpr int kClockRangeCount = 24;
extern const TClockRange kClockRanges[kClockRangeCount];

// Captions of the clock source choices; codes 5 to 7 of the option byte have none.
constexpr int kClockSourceCount = 5;
extern const char* const kClockSources[kClockSourceCount];

class TBaseFuseForm {
public:
    TBaseFuseForm();

    // Two-way choices: the item index is the bit value of the option byte.
    int Security = 0;
    int Watchdog = 1;
    int HaltMode = 1;
    int FlexBit = 0;
    int AccessCompMode = 0;
    // Clock source item index, -1 when the byte holds a code without an item.
    int ClockSelector = 0;

    // The Flash image whose last byte mirrors the option byte; may be null.
    void BindImage(IOptionByteMirror* image) { image_ = image; }

    uint8_t GetOptions() const;
    void SetOptions(uint8_t value);
    // Refreshes the display text and mirrors the byte into the bound image.
    void DisplayOptionByte();
    // "06h - 00000110b"
    const std::string& Label5() const { return label5_; }

    // The click handlers of the choices: set the item and redisplay, as a click on the widget does.
    void SecurityClick(int item);
    void WatchdogClick(int item);
    void HaltModeClick(int item);
    void FlexBitClick(int item);
    void AccessCompModeClick(int item);
    void ClockSelectorChange(int item);

    // Table lookups. A row outside the table (no selection) answers for the last row.
    static uint8_t GetSpeed(int row);
    static uint16_t GetTenCyc(int row);
    // First row whose PGMTIME equals the first two hex characters of `text`; 0 when none does.
    static int GetSpeedIndex(const std::string& text);

    // The selected clock range, -1 for none. Selecting does not recompute the timing: the owner
    // calls PGMTIMChange afterwards, as a user's choice in the list does.
    int PGMTIM() const { return pgmtim_; }
    void SelectPGMTIM(int row);
    // Timing text from the selected row, then its values handed on through OnTimingChange.
    // With no row selected the last row's values are used: it is the range a stored selection
    // beyond the table came closest to.
    void PGMTIMChange();
    // The values of the timing text in use, whenever PGMTIMChange sets them (never for a text
    // that is only shown). The session hands them to the link.
    std::function<void(const TTiming&)> OnTimingChange;

    // The timing text sent to the programmer before every Flash and option operation.
    const std::string& Label4() const { return label4_; }
    // Shows a timing text read from the device without changing the values in use.
    void SetTimingText(const std::string& text);

    // Told after every change of what the editor shows, so that its widgets can repaint.
    TObservers<> OnChange;

private:
    void Changed();

    IOptionByteMirror* image_ = nullptr;
    int pgmtim_ = -1;
    std::string label4_;
    std::string label5_;
};
