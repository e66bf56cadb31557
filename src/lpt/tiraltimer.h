#pragma once
// What high-resolution time sources the PC has, how fine they are, and the processor speed.
// Measuring takes three busy tenths of a second, so the process-wide figures are measured on a worker
// thread started with the program and joined where they are first needed.
#include <cstdint>

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

// Starts measuring the process-wide figures on a worker thread (call once at program start;
// later calls do nothing).
void StartTiralTimer();
// The process-wide figures; waits for the worker, or measures here when none was started.
const TTiralTimer& TiralTimer1();
