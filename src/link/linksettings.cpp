#include "store/settings.h"
#include "link/linkwide.h"
#include "link/smartparallel.h"

TLinkWide& LinkWide()
{
    static TLinkWide values;
    return values;
}

void TSmartParallel::LoadSettings()
{
    TLinkWide& w = LinkWide();
    if (TISPSettings* s = SettingsStore()) {
        const std::string& section = HardwareName();
        w.PortIndex = static_cast<uint16_t>(s->Get(section, "BASEPORT", 0).AsInteger(0));
        w.PGMTIME = static_cast<uint8_t>(s->Get(section, "PGMTIME", 93).AsInteger(93));
        w.BusyTime = static_cast<uint8_t>(s->Get(section, "BusyTime", 127).AsInteger(127));
        w.LptMode = static_cast<uint8_t>(s->Get(section, "LPT_Mode", 1).AsInteger(1));
        OptionsSetting = static_cast<uint8_t>(s->Get(section, "OPTIONS", 6).AsInteger(6));
    }
    MaxReadTimeout = 50000;
    MaxWriteTimeout = 50000;
}

void TSmartParallel::SaveSettings()
{
    TISPSettings* s = SettingsStore();
    if (!s) return;
    const TLinkWide& w = LinkWide();
    const std::string& section = HardwareName();
    s->Put(section, "BASEPORT", kGlobalGroup, static_cast<int>(w.PortIndex));
    s->Put(section, "PGMTIME", kGlobalGroup, static_cast<int>(w.PGMTIME));
    s->Put(section, "BusyTime", kGlobalGroup, static_cast<int>(w.BusyTime));
    s->Put(section, "LPT_Mode", kGlobalGroup, static_cast<int>(w.LptMode));
    s->Put(section, "OPTIONS", kGlobalGroup, static_cast<int>(OptionsSetting));
}
