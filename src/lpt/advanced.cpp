#include "lpt/advanced.h"

#include <cmath>

#include "base/hextext.h"
#include "lpt/portunit.h"
#include "lpt/tiraltimer.h"

const std::array<const char*, mb_count> kLptModeLogNames = {"SPP Mode", "PS2 Mode", "EPP Mode",
                                                            "Fast Centronix Mode", "ECP Mode"};

namespace {

const char* const kRule = "============================";

std::string Rounded(double v) { return std::to_string(std::llround(v)); }

}  // namespace

TPortInfo RefreshPortInfo(TVicLPT& lpt, uint16_t portIndex, const TTimingValues& timing,
                          const TTiralTimer& timer, const TLogSink& log)
{
    TPortInfo info;
    for (int i = 0; i < 6; ++i) {
        lpt.SelectPort(portIndex + 1);
        info.Status = lpt.PortUsable() ? "Present" : "Not present";
    }
    const uint8_t h = lpt.HardwareMode();
    const bool u = lpt.PortUsable();
    info.Enabled[mb_spp] = u && (h == 1 || h == 5);
    info.Enabled[mb_ps2] = u && (h == 2 || h == 5);
    info.Enabled[mb_epp] = u && (h == 3 || (h == 5 && lpt.EppSupported()));
    info.Enabled[mb_fast_centronix] = u && h == 5;
    info.Enabled[mb_ecp] = u && h == 5;
    const uint8_t mode = lpt.LptMode();
    info.Checked = mode >= 1 && mode <= 5 ? mode - 1 : -1;
    info.BaseAddress = hex::Hex4(lpt.BaseAddress()) + "h";
    info.IrqNumber = hex::Hex2(lpt.IrqNumber()) + "h";
    info.DmaChannel = hex::Hex2(lpt.DmaChannel()) + "h";
    if (log)
        for (const std::string& line : PortInfoLogLines(info, timing, timer)) log(line);
    return info;
}

std::vector<std::string> PortInfoLogLines(const TPortInfo& info, const TTimingValues& timing,
                                          const TTiralTimer& timer)
{
    std::vector<std::string> lines = {"", "Current selected LPT details", kRule,
                                      "BasePortAddress=" + info.BaseAddress,
                                      "IRQNumber      =" + info.IrqNumber,
                                      "DMAChannel     =" + info.DmaChannel,
                                      "", "LPT modes", kRule};
    for (int b = 0; b < mb_count; ++b)
        if (info.Enabled[b]) lines.push_back(kLptModeLogNames[b]);
    lines.insert(lines.end(), {"", "LPT mode selected", kRule});
    if (info.Checked >= 0) lines.push_back(kLptModeLogNames[info.Checked]);
    lines.insert(lines.end(), {"", kRule});
    lines.push_back("PGMTIME =" + hex::Hex2(timing.PGMTIME));
    lines.push_back("TENCYC  =" + hex::Hex4(timing.TENCYC));
    lines.push_back("BusyTime=" + hex::Hex2(timing.BusyTime));
    lines.push_back("CPUspeed=" + Rounded(timer.ExactCPUSpeed()));
    lines.push_back("MinQuant=" + Rounded(timer.QuantumTimerMinmicrosec()));
    lines.push_back("MinStamp=" + Rounded(timer.TimeStampTimerMinmicrosec()));
    lines.push_back(kRule);
    if (timer.TickTimerExists()) lines.push_back("TimeStamp Timer Exists");
    if (timer.QuantumTimerExists()) lines.push_back("Quantum Timer Exists");
    lines.push_back(kRule);
    return lines;
}
