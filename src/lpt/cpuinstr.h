#pragma once
// The processor's identification and time-stamp instructions, where the build target has them.
#include <cstdint>

// Leaf 1 of the identification instruction: false when the processor has none.
bool CpuidLeaf1(uint32_t& edx);
// The time-stamp counter; only meaningful when leaf 1 reports it (EDX bit 4).
uint64_t ReadTimeStampCounter();
