#pragma once
// The same programmer box on a serial port: whole bytes at 115200 baud instead of pin bits.
#include "link/smartparallel.h"

class TSmartSerial : public TSmartParallel {
public:
    TSmartSerial() = default;
};
