#pragma once
// The clock seam: performance counter, tick counter and sleeps. Production code runs on the
// steady clock; tests install a VirtualClock so that waits cost nothing and time-outs are exact.
#include <atomic>
#include <cstdint>

class IClock {
public:
    virtual ~IClock() = default;
    // High-resolution counter and its counts per second (0 when there is none).
    virtual int64_t PerformanceCounter() = 0;
    virtual int64_t PerformanceFrequency() = 0;
    // Milliseconds since some start, wrapping at 2^32 like the system tick counter.
    virtual uint32_t TickCount() = 0;
    // Milliseconds since some start without wrapping, for timing operations of any length.
    virtual int64_t Milliseconds() { return TickCount(); }
    virtual void Sleep(uint32_t ms) = 0;
};

class SteadyClock final : public IClock {
public:
    int64_t PerformanceCounter() override;
    int64_t PerformanceFrequency() override;
    uint32_t TickCount() override;
    int64_t Milliseconds() override;
    void Sleep(uint32_t ms) override;
};

// Time moves only when told to: Sleep advances it at once, and every counter read advances it
// by a small step so that a busy-wait on the counter reaches its limit after a bounded number
// of polls instead of spinning for ever.
class VirtualClock final : public IClock {
public:
    static constexpr int64_t kFrequency = 1'000'000'000;  // nanoseconds
    explicit VirtualClock(int64_t stepPerReadNs = 1000) : step_(stepPerReadNs) {}
    int64_t PerformanceCounter() override { return now_.fetch_add(step_) + step_; }
    int64_t PerformanceFrequency() override { return kFrequency; }
    uint32_t TickCount() override { return static_cast<uint32_t>(now_.load() / 1'000'000); }
    int64_t Milliseconds() override { return now_.load() / 1'000'000; }
    void Sleep(uint32_t ms) override { Advance(static_cast<int64_t>(ms) * 1'000'000); }
    void Advance(int64_t ns) { now_.fetch_add(ns); }
    int64_t NowNs() const { return now_.load(); }
    double NowSeconds() const { return static_cast<double>(now_.load()) / 1e9; }
    void SetStepPerRead(int64_t ns) { step_ = ns; }

private:
    std::atomic<int64_t> now_{0};
    int64_t step_;
};

// The process-wide clock. Defaults to a SteadyClock; tests swap in a VirtualClock.
IClock& Clock();
void SetClock(IClock* clock);  // nullptr restores the steady clock

// Installs a clock for one scope and restores the previous one afterwards.
class ScopedClock {
public:
    explicit ScopedClock(IClock& clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    IClock* previous_;
};
