#include "link/hardware.h"
#include "link/smartparallel.h"
#include "link/smartserial.h"

void RegisterDefaultHardware()
{
    if (HardwareIndex(kHardwareLpt) >= 0) return;
    RegisterHardware(kHardwareLpt, SetOf({2}), [] { return std::make_unique<TSmartParallel>(); }, true);
    RegisterHardware(kHardwareCom, SetOf({2}), [] { return std::make_unique<TSmartSerial>(); }, true);
}
