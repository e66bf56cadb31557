#include "lpt/tiraltimer.h"

#include "base/clock.h"

TTiralTimer::TTiralTimer(const TCpuSources& sources) : cpuid_(sources)
{
    IClock& clock = sources.Clock ? *sources.Clock : Clock();
    const int64_t frequency = clock.PerformanceFrequency();
    if (frequency > 0) {
        quantumExists_ = true;
        quantumFrequency_ = frequency;
        quantumMin_ = 1e6 / static_cast<double>(frequency);
    }
    if (cpuid_.HasTimeStamp()) {
        tickExists_ = true;
        const int64_t first = MeasureTimeStampSecond(sources);
        stampMin_ = first > 0 ? 1e6 / static_cast<double>(first) : 0;
        stampFrequency_ = MeasureTimeStampSecond(sources);
    }
    cpuSpeed_ = cpuid_.SpeedMHz();
}

TTiralTimerMeasurement MeasureTiralTimerAsync()
{
    // The steady clock, not whatever clock is installed now; the worker owns it, so it lives as
    // long as the measurement however late in the program's exit that ends.
    return std::async(std::launch::async, [] {
               const auto steady = std::make_shared<SteadyClock>();
               TCpuSources sources = PlatformCpuSources();
               sources.Clock = steady.get();
               return std::shared_ptr<const TTiralTimer>(std::make_shared<TTiralTimer>(sources));
           }).share();
}
