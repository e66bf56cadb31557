#include "lpt/cpuinstr.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>

bool CpuidLeaf1(uint32_t& edx)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    edx = d;
    return true;
}

uint64_t ReadTimeStampCounter() { return __rdtsc(); }

#else

bool CpuidLeaf1(uint32_t& edx)
{
    edx = 0;
    return false;
}

uint64_t ReadTimeStampCounter() { return 0; }

#endif
