#include "link/hardware.h"
#include "link/smartparallel.h"
#include "link/smartserial.h"

namespace {

std::unique_ptr<TISPProgrammer> MakeParallel(TLinkContext&) { return std::make_unique<TSmartParallel>(); }
std::unique_ptr<TISPProgrammer> MakeSerial(TLinkContext&) { return std::make_unique<TSmartSerial>(); }

constexpr THardware kRows[] = {
    {true, kHardwareLpt, SetOf({2}), &MakeParallel},
    {true, kHardwareCom, SetOf({2}), &MakeSerial},
};
constexpr THardwareTable kTable(kRows, sizeof kRows / sizeof kRows[0]);

}  // namespace

const THardwareTable& BuiltInHardware() { return kTable; }
