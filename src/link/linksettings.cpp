#include "image/settings.h"
#include "link/linkcontext.h"
#include "link/smartparallel.h"

void TSmartParallel::LoadSettings()
{
    TLinkWide& w = Context().Wide();
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
    const TLinkWide& w = Context().Wide();
    const std::string& section = HardwareName();
    s->Put(section, "BASEPORT", kGlobalGroup, static_cast<int>(w.PortIndex));
    s->Put(section, "PGMTIME", kGlobalGroup, static_cast<int>(w.PGMTIME));
    s->Put(section, "BusyTime", kGlobalGroup, static_cast<int>(w.BusyTime));
    s->Put(section, "LPT_Mode", kGlobalGroup, static_cast<int>(w.LptMode));
    s->Put(section, "OPTIONS", kGlobalGroup, static_cast<int>(OptionsSetting));
}
