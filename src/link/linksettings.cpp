// Both box links keep the same settings under the section named after their hardware kind.
#include "store/settings.h"
#include "link/linkcontext.h"
#include "link/smartparallel.h"
#include "link/smartserial.h"

namespace {

void LoadBoxLinkSettings(const TISPProgrammer& link, uint8_t& optionsSetting)
{
    TLinkWide& w = link.Context().Wide();
    if (TISPSettings* s = link.SettingsStore()) {
        const std::string& section = link.HardwareName();
        w.PortIndex = static_cast<uint16_t>(s->Get(section, "BASEPORT", 0).AsInteger(0));
        w.PGMTIME = static_cast<uint8_t>(s->Get(section, "PGMTIME", 93).AsInteger(93));
        w.BusyTime = static_cast<uint8_t>(s->Get(section, "BusyTime", 127).AsInteger(127));
        w.LptMode = static_cast<uint8_t>(s->Get(section, "LPT_Mode", 1).AsInteger(1));
        optionsSetting = static_cast<uint8_t>(s->Get(section, "OPTIONS", 6).AsInteger(6));
    }
}

void SaveBoxLinkSettings(const TISPProgrammer& link, uint8_t optionsSetting)
{
    TISPSettings* s = link.SettingsStore();
    if (!s) return;
    const TLinkWide& w = link.Context().Wide();
    const std::string& section = link.HardwareName();
    s->Put(section, "BASEPORT", kGlobalGroup, static_cast<int>(w.PortIndex));
    s->Put(section, "PGMTIME", kGlobalGroup, static_cast<int>(w.PGMTIME));
    s->Put(section, "BusyTime", kGlobalGroup, static_cast<int>(w.BusyTime));
    s->Put(section, "LPT_Mode", kGlobalGroup, static_cast<int>(w.LptMode));
    s->Put(section, "OPTIONS", kGlobalGroup, static_cast<int>(optionsSetting));
}

}  // namespace

void TSmartParallel::LoadSettings()
{
    LoadBoxLinkSettings(*this, OptionsSetting);
    Transport().MaxReadTimeout = 50000;
    MaxWriteTimeout = 50000;
}

void TSmartParallel::SaveSettings() { SaveBoxLinkSettings(*this, OptionsSetting); }

void TSmartSerial::LoadSettings()
{
    LoadBoxLinkSettings(*this, OptionsSetting);
    MaxReadTimeout = 50000;
    MaxWriteTimeout = 50000;
}

void TSmartSerial::SaveSettings() { SaveBoxLinkSettings(*this, OptionsSetting); }
