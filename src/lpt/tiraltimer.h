#pragma once
// What high-resolution time sources the PC has, how fine they are, and the processor speed.
// Measuring takes three busy tenths of a second, so a program may start the measurement on a worker
// thread early and hand the running measurement to its session, which joins it where the figures
// are first needed.
#include <cstdint>
#include <future>
#include <memory>

#include "lpt/cpuid.h"

class TTiralTimer {
public:
    explicit TTiralTimer(const TCpuSources& sources = PlatformCpuSources());

    bool QuantumTimerExists() const { return quantumExists_; }
    int64_t QuantumFrequency() const { return quantumFrequency_; }
    double QuantumTimerMinmicrosec() const { return quantumMin_; }
    bool TickTimerExists() const { return tickExists_; }
    double TimeStampTimerMinmicrosec() const { return stampMin_; }
    int64_t TimeStampFrequency() const { return stampFrequency_; }
    double ExactCPUSpeed() const { return cpuSpeed_; }
    const TCPUID& CPUID() const { return cpuid_; }

private:
    bool quantumExists_ = false;
    int64_t quantumFrequency_ = 0;
    double quantumMin_ = 0;
    TCPUID cpuid_;
    bool tickExists_ = false;
    double stampMin_ = 0;
    int64_t stampFrequency_ = 0;
    double cpuSpeed_ = 0;
};

// A measurement under way on a worker thread (or finished).
using TTiralTimerMeasurement = std::shared_future<std::shared_ptr<const TTiralTimer>>;
// Starts measuring on a worker thread over the steady clock and the platform's sources.
TTiralTimerMeasurement MeasureTiralTimerAsync();
