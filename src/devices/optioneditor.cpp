#include "devices/optioneditor.h"

#include "base/hextext.h"

const TClockRange kClockRanges[kClockRangeCount] = {
    {"25Khz - 33.3Khz", 0x01, 0x11FC},    {"37.5Khz - 50Khz", 0x02, 0x0E18},
    {"50Khz - 66.67Khz", 0x03, 0x08FC},   {"62.5Khz - 83.3Khz", 0x04, 0x0730},
    {"75khz - 100khz", 0x05, 0x05FC},     {"100.khz - 133khz", 0x07, 0x047C},
    {"112.5khz - 150khz", 0x08, 0x03FC},  {"150khz - 200khz", 0x0B, 0x02FC},
    {"200khz - 266.67khz", 0x0F, 0x023C}, {"225khz - 300khz", 0x11, 0x01FC},
    {"300khz - 400khz", 0x17, 0x017C},    {"375khz - 500khz", 0x1D, 0x0130},
    {"500khz - 666.67khz", 0x27, 0x00E3}, {"600khz - 800khz", 0x2F, 0x00BC},
    {"800khz - 1.067Mhz", 0x3F, 0x008C},  {"1Mhz - 1.33Mhz", 0x47, 0x0070},
    {"1.125Mhz - 1.5Mhz", 0x48, 0x0063},  {"1.5Mhz - 2Mhz", 0x4B, 0x0049},
    {"2Mhz - 2.67Mhz", 0x4F, 0x0036},     {"2.625Mhz - 3.5Mhz", 0x54, 0x0028},
    {"3.5Mhz - 4.67Mhz", 0x5B, 0x001D},   {"4.5Mhz - 6Mhz", 0x63, 0x0016},
    {"6Mhz - 8Mhz", 0x6F, 0x0010},        {"7.5Mhz - 10Mhz", 0x7B, 0x000C},
};

const char* const kClockSources[kClockSourceCount] = {
    "Internal RC Oscillator",
    "RC Oscillator with External R",
    "Crystal Oscillator with integrated 1Mohm feedback resistor",
    "Crystal Oscillator with user supplied feedback resistor",
    "External User Supplied Clock",
};

namespace {
// Value of a run of hex digits; a run holding anything else (or cut short) counts as 0, as an
// unparsable number would.
uint32_t HexField(const std::string& text, size_t pos, size_t len)
{
    if (pos + len > text.size()) return 0;
    uint32_t v = 0;
    for (size_t i = pos; i < pos + len; ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return 0;
        v = v * 16 + static_cast<uint32_t>(hex::DigitValue(c));
    }
    return v;
}

const TClockRange& Row(int row)
{
    return (row >= 0 && row < kClockRangeCount) ? kClockRanges[row] : kClockRanges[kClockRangeCount - 1];
}

int Bit(uint8_t value, int bit) { return (value >> bit) & 1; }
}  // namespace

TBaseFuseForm::TBaseFuseForm() { DisplayOptionByte(); }

uint8_t TBaseFuseForm::GetOptions() const
{
    // A clock selection of -1 sets all three clock bits, as its two's complement does.
    const unsigned c = static_cast<unsigned>(ClockSelector);
    unsigned v = 0;
    v |= (AccessCompMode & 1u) << 7;
    v |= (Security & 1u) << 5;
    v |= (Watchdog & 1u) << 2;
    v |= (HaltMode & 1u) << 1;
    v |= (FlexBit & 1u);
    v |= (c & 3u) << 3;
    v |= (c & 4u) << 4;
    return static_cast<uint8_t>(v);
}

void TBaseFuseForm::SetOptions(uint8_t value)
{
    AccessCompMode = Bit(value, 7);
    Security = Bit(value, 5);
    Watchdog = Bit(value, 2);
    HaltMode = Bit(value, 1);
    FlexBit = Bit(value, 0);
    const int code = Bit(value, 6) * 4 + Bit(value, 4) * 2 + Bit(value, 3);
    ClockSelector = code < kClockSourceCount ? code : -1;
    DisplayOptionByte();
}

void TBaseFuseForm::DisplayOptionByte()
{
    const uint8_t b = GetOptions();
    label5_ = hex::Hex2(b) + "h - " + hex::ByteToBits(b) + "b";
    if (image_) image_->MirrorOptionByte(b);
    Changed();
}

void TBaseFuseForm::SecurityClick(int item)
{
    Security = item;
    DisplayOptionByte();
}

void TBaseFuseForm::WatchdogClick(int item)
{
    Watchdog = item;
    DisplayOptionByte();
}

void TBaseFuseForm::HaltModeClick(int item)
{
    HaltMode = item;
    DisplayOptionByte();
}

void TBaseFuseForm::FlexBitClick(int item)
{
    FlexBit = item;
    DisplayOptionByte();
}

void TBaseFuseForm::AccessCompModeClick(int item)
{
    AccessCompMode = item;
    DisplayOptionByte();
}

void TBaseFuseForm::ClockSelectorChange(int item)
{
    ClockSelector = (item >= 0 && item < kClockSourceCount) ? item : -1;
    DisplayOptionByte();
}

uint8_t TBaseFuseForm::GetSpeed(int row) { return Row(row).PGMTIME; }

uint16_t TBaseFuseForm::GetTenCyc(int row) { return Row(row).TENCYC; }

int TBaseFuseForm::GetSpeedIndex(const std::string& text)
{
    const uint32_t speed = HexField(text, 0, 2);
    for (int row = 0; row < kClockRangeCount; ++row)
        if (kClockRanges[row].PGMTIME == speed) return row;
    return 0;
}

void TBaseFuseForm::SelectPGMTIM(int row) { pgmtim_ = (row >= 0 && row < kClockRangeCount) ? row : -1; }

void TBaseFuseForm::PGMTIMChange()
{
    label4_ = hex::Hex2(GetSpeed(pgmtim_)) + hex::Hex4(GetTenCyc(pgmtim_)) + "FF";
    TTiming timing;
    timing.PGMTIME = static_cast<uint8_t>(HexField(label4_, 0, 2));
    timing.TENCYC = static_cast<uint16_t>(HexField(label4_, 2, 4));
    timing.BusyTime = static_cast<uint8_t>(HexField(label4_, 6, 2));
    if (OnTimingChange) OnTimingChange(timing);
    Changed();
}

void TBaseFuseForm::SetTimingText(const std::string& text)
{
    label4_ = text;
    Changed();
}

void TBaseFuseForm::Changed()
{
    OnChange.Notify();
}
