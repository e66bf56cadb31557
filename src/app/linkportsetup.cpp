#include "app/linkportsetup.h"

#include "base/hextext.h"
#include "devices/optioneditor.h"
#include "link/linkcontext.h"
#include "lpt/advanced.h"
#include "lpt/portunit.h"

static_assert(kLptModeCount == mb_count, "one mode button per LPT mode");

namespace {

// The value of `count` hex characters of `text` from `first`, or -1 when they are not hex.
long HexField(const std::string& text, size_t first, size_t count)
{
    if (text.size() < first + count) return -1;
    long value = 0;
    for (size_t i = first; i < first + count; ++i) {
        if (!hex::IsHexDigit(text[i])) return -1;
        value = value * 16 + hex::DigitValueAnyCase(text[i]);
    }
    return value;
}

TPortDetails Details(const TVicLPT& lpt)
{
    TPortDetails d;
    d.Present = lpt.PortUsable();
    d.BaseAddress = lpt.BaseAddress();
    d.IrqNumber = lpt.IrqNumber();
    d.DmaChannel = lpt.DmaChannel();
    d.LptMode = lpt.LptMode();
    return d;
}

}  // namespace

TLinkPortSetup::TLinkPortSetup(TLinkContext& link, TBaseFuseForm& options, std::function<void(const std::string&)> log)
    : link_(link), options_(options), log_(std::move(log))
{
}

int TLinkPortSetup::PortIndex() const { return link_.Wide().PortIndex; }

double TLinkPortSetup::CpuSpeedMHz() { return link_.Timer().ExactCPUSpeed(); }

TPortSetupMark TLinkPortSetup::Mark()
{
    const TLinkWide& w = link_.Wide();
    TPortSetupMark mark;
    mark.PortIndex = w.PortIndex;
    mark.LptMode = w.LptMode;
    mark.PGMTIME = w.PGMTIME;
    mark.TENCYC = w.TENCYC;
    mark.BusyTime = w.BusyTime;
    mark.TimingText = options_.Label4();
    mark.HadUnit = link_.HasLpt();
    if (mark.HadUnit) {
        mark.UnitPort = link_.Lpt().CurrentPort();
        mark.UnitMode = link_.Lpt().LptMode();
    }
    return mark;
}

void TLinkPortSetup::RestorePort(const TPortSetupMark& mark)
{
    link_.Wide().PortIndex = mark.PortIndex;
    link_.Lpt().SelectPort(mark.PortIndex + 1);
}

TPortDetails TLinkPortSetup::CurrentPort() { return Details(link_.Lpt()); }

TPortDetails TLinkPortSetup::SelectPort(int index)
{
    TLinkWide& w = link_.Wide();
    TVicLPT& lpt = link_.Lpt();
    w.PortIndex = static_cast<uint16_t>(index);
    lpt.SelectPort(index + 1);
    w.PortIndex = static_cast<uint16_t>(lpt.CurrentPort() - 1);
    return Details(lpt);
}

TPortDetails TLinkPortSetup::RefreshPort()
{
    const TLinkWide& w = link_.Wide();
    TVicLPT& lpt = link_.Lpt();
    const TTimingValues timing{w.PGMTIME, w.TENCYC, w.BusyTime};
    const TPortInfo info = ::RefreshPortInfo(lpt, w.PortIndex, timing, link_.Timer(), log_);
    TPortDetails d = Details(lpt);
    for (int i = 0; i < kLptModeCount; ++i) d.ModeOffered[size_t(i)] = info.Enabled[size_t(i)];
    d.LptMode = info.Checked + 1;
    return d;
}

TPortDetails TLinkPortSetup::SwitchPort(int index)
{
    link_.Lpt().SelectPort(index + 1);
    link_.Wide().PortIndex = static_cast<uint16_t>(index);
    return RefreshPort();
}

void TLinkPortSetup::SetLptMode(int mode) { link_.Lpt().SetLptMode(static_cast<uint8_t>(mode)); }

void TLinkPortSetup::ReadTimingText()
{
    TLinkWide& w = link_.Wide();
    const std::string& text = options_.Label4();
    const long pgmtime = HexField(text, 0, 2);
    const long tencyc = HexField(text, 2, 4);
    if (pgmtime >= 0) w.PGMTIME = static_cast<uint8_t>(pgmtime);
    if (tencyc >= 0) w.TENCYC = static_cast<uint16_t>(tencyc);
}

TPortTiming TLinkPortSetup::Timing()
{
    if (link_.Wide().PGMTIME != 0) ReadTimingText();
    return {link_.Wide().PGMTIME, link_.Wide().TENCYC};
}

TPortTiming TLinkPortSetup::Defaults()
{
    options_.PGMTIMChange();
    ReadTimingText();
    link_.Wide().LptMode = 1;
    link_.Lpt().SetLptMode(1);
    return {link_.Wide().PGMTIME, link_.Wide().TENCYC};
}

void TLinkPortSetup::Accept(int portIndex, const TPortTiming& typed)
{
    TLinkWide& w = link_.Wide();
    if (portIndex >= 0) w.PortIndex = static_cast<uint16_t>(portIndex);
    w.PGMTIME = typed.PGMTIME;
    w.TENCYC = typed.TENCYC;
    options_.SetTimingText(hex::Hex(w.PGMTIME, 2) + hex::Hex(w.TENCYC, 4) + hex::Hex(w.BusyTime, 2));
    w.LptMode = link_.Lpt().LptMode();
}
