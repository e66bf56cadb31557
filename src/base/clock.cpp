#include "base/clock.h"

#include <chrono>
#include <thread>

namespace {
using Steady = std::chrono::steady_clock;
const Steady::time_point kStart = Steady::now();
SteadyClock gSteady;
std::atomic<IClock*> gClock{&gSteady};
}  // namespace

int64_t SteadyClock::PerformanceCounter()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now() - kStart).count();
}

int64_t SteadyClock::PerformanceFrequency() { return 1'000'000'000; }

uint32_t SteadyClock::TickCount()
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - kStart).count();
    return static_cast<uint32_t>(ms);
}

int64_t SteadyClock::Milliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - kStart).count();
}

void SteadyClock::Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

IClock& Clock() { return *gClock.load(); }

void SetClock(IClock* clock) { gClock.store(clock ? clock : &gSteady); }

ScopedClock::ScopedClock(IClock& clock) : previous_(&Clock()) { SetClock(&clock); }

ScopedClock::~ScopedClock() { SetClock(previous_); }
