#pragma once
// The advanced port dialog's model: RefreshPortInfo selects the port again, works out which LPT
// modes it offers, fills the dialog's labels and writes the port and timing block to the status
// log. The dialog widget only shows the result.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TVicLPT;
class TTiralTimer;

enum TLptModeButton { mb_spp = 0, mb_ps2, mb_epp, mb_fast_centronix, mb_ecp, mb_count };

struct TPortInfo {
    std::string Status;  // "Present" / "Not present"
    std::array<bool, mb_count> Enabled{};
    int Checked = -1;  // a TLptModeButton, or -1 for LPT mode 0
    std::string BaseAddress;  // "0378h"
    std::string IrqNumber;    // "07h"
    std::string DmaChannel;   // "00h"
};

struct TTimingValues {
    uint8_t PGMTIME = 0;
    uint16_t TENCYC = 0;
    uint8_t BusyTime = 0;
};

using TLogSink = std::function<void(const std::string& line)>;

// Mode names as the log writes them, in button order.
extern const std::array<const char*, mb_count> kLptModeLogNames;

// Selects port portIndex + 1 six times (the first may switch ports, the rest detect again),
// then reports it. Every line goes to `log`.
TPortInfo RefreshPortInfo(TVicLPT& lpt, uint16_t portIndex, const TTimingValues& timing,
                          const TTiralTimer& timer, const TLogSink& log);
// The status-log block alone, from an already refreshed port.
std::vector<std::string> PortInfoLogLines(const TPortInfo& info, const TTimingValues& timing,
                                          const TTiralTimer& timer);
