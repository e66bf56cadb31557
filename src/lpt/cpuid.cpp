#include "lpt/cpuid.h"

#include <cmath>
#include <fstream>

#include "base/clock.h"
#include "lpt/cpuinstr.h"

TCpuSources PlatformCpuSources()
{
    TCpuSources s;
    s.Leaf1 = CpuidLeaf1;
    s.TimeStamp = ReadTimeStampCounter;
    s.ReportedMHz = [] { return ReadCpuInfoMHz(); };
    return s;
}

double ReadCpuInfoMHz(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 7, "cpu MHz") != 0) continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) return 0;
        try {
            const double mhz = std::stod(line.substr(colon + 1));
            return mhz > 0 ? mhz : 0;
        } catch (...) {
            return 0;
        }
    }
    return 0;
}

int64_t MeasureTimeStampSecond(const TCpuSources& sources, int64_t windowMs)
{
    IClock& clock = sources.Clock ? *sources.Clock : Clock();
    const int64_t frequency = clock.PerformanceFrequency();
    if (frequency <= 0 || !sources.TimeStamp || windowMs <= 0) return 0;
    // Each time-stamp read sits between two counter reads and is taken at their midpoint, and
    // the count is scaled by the counter ticks that really passed: a tenth of a second then gives
    // the per-second figure as exactly as a whole second does, at a tenth of the wait.
    const int64_t before0 = clock.PerformanceCounter();
    const uint64_t tsc0 = sources.TimeStamp();
    const int64_t after0 = clock.PerformanceCounter();
    const int64_t window = frequency * windowMs / 1000;
    while (clock.PerformanceCounter() - before0 < window) {
    }
    const int64_t before1 = clock.PerformanceCounter();
    const uint64_t tsc1 = sources.TimeStamp();
    const int64_t after1 = clock.PerformanceCounter();
    const double elapsed = static_cast<double>(before1 + after1 - before0 - after0) / 2;
    if (elapsed <= 0) return 0;
    return static_cast<int64_t>(std::llround(static_cast<double>(tsc1 - tsc0) * static_cast<double>(frequency) / elapsed));
}

TCPUID::TCPUID(const TCpuSources& sources)
{
    uint32_t edx = 0;
    if (sources.Leaf1 && sources.Leaf1(edx)) {
        cpuid_ = true;
        fpu_ = (edx & (1u << 0)) != 0;
        tsc_ = (edx & (1u << 4)) != 0;
        apic_ = (edx & (1u << 9)) != 0;
    }
    if (tsc_ && speedHz_ == 0) {
        speedHz_ = MeasureTimeStampSecond(sources);
        measuredMHz_ = static_cast<double>(speedHz_) / 1e6;
    }
    if (speedHz_ == 0 && sources.ReportedMHz) {
        const double mhz = sources.ReportedMHz();
        if (mhz >= 1) speedHz_ = static_cast<int64_t>(std::llround(mhz * 1e6));
    }
}

double TCPUID::SpeedMHz() const
{
    if (measuredMHz_ > 0) return measuredMHz_;
    if (speedHz_ > 0) return static_cast<double>(speedHz_) / 1e6;
    return 0;
}
