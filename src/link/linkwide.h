#pragma once
// Values shared by both link classes, the option editor and the port dialogs: one set per
// session, in its link context. A value loaded for one hardware kind stays in effect until the
// other kind loads its own.
#include <cstdint>

struct TLinkWide {
    uint16_t PortIndex = 0;  // zero-based: 0 = LPT1 (parallel) or COM1 (serial)
    uint8_t LptMode = 1;     // handed to SetLptMode by the parallel Connect
    uint8_t PGMTIME = 93;
    uint16_t TENCYC = 0;
    uint8_t BusyTime = 127;
    int32_t LinkKind = 0;    // 2 parallel, 1 serial: selects the required firmware version
};
