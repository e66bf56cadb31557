#pragma once
// Processor identification and speed. The speed is one second of time-stamp ticks counted
// against the performance counter, or, without a time-stamp counter, the figure the operating
// system reports (/proc/cpuinfo "cpu MHz" on Linux).
#include <cstdint>
#include <functional>
#include <string>

class IClock;

// Where the processor facts come from; tests replace each piece.
struct TCpuSources {
    std::function<bool(uint32_t& edx)> Leaf1;
    std::function<uint64_t()> TimeStamp;
    std::function<double()> ReportedMHz;  // the operating system's figure; 0 when unknown
    IClock* Clock = nullptr;               // nullptr: the process clock
};
TCpuSources PlatformCpuSources();

// "cpu MHz" of the first processor in a cpuinfo file; 0 when absent or unreadable.
double ReadCpuInfoMHz(const std::string& path = "/proc/cpuinfo");

// Ticks of the time-stamp counter per second of the performance counter, measured over a
// window of `windowMs`; 0 when the clock has no performance counter.
int64_t MeasureTimeStampSecond(const TCpuSources& sources, int64_t windowMs = 100);

class TCPUID {
public:
    explicit TCPUID(const TCpuSources& sources = PlatformCpuSources());

    bool CpuidSupported() const { return cpuid_; }
    bool HasFpu() const { return fpu_; }
    bool HasTimeStamp() const { return tsc_; }
    bool HasApic() const { return apic_; }
    int64_t SpeedHz() const { return speedHz_; }
    // Measured MHz when there is a measurement, else the reported figure, else 0.
    double SpeedMHz() const;
    const std::string& Vendor() const { return vendor_; }
    const std::string& Description() const { return description_; }

private:
    bool cpuid_ = false;
    bool fpu_ = false;
    bool tsc_ = false;
    bool apic_ = false;
    int64_t speedHz_ = 0;
    double measuredMHz_ = 0;
    std::string vendor_ = "Unknown Vendor";
    std::string description_ = "Not Intel";
};
