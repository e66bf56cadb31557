#pragma once
// Everything the links of one application session share: the link values, the parallel-port unit
// and the backends it may be built on, the processor-timer figures, the serial port factory and
// the port name override, and the byte trace. The session owns one and hands it to its programmer
// and its dialogs; two sessions in one process never see each other's.
#include <memory>
#include <mutex>
#include <string>

#include "link/linktrace.h"
#include "link/linkwide.h"
#include "link/serialport.h"
#include "lpt/portio.h"
#include "lpt/tiraltimer.h"

class TVicLPT;

class TLinkContext {
public:
    TLinkContext();
    // Closes the port unit.
    ~TLinkContext();
    TLinkContext(const TLinkContext&) = delete;
    TLinkContext& operator=(const TLinkContext&) = delete;

    TLinkWide& Wide() { return wide_; }
    const TLinkWide& Wide() const { return wide_; }

    // The parallel-port unit, created on first use over this context's port backends.
    TVicLPT& Lpt();
    bool HasLpt() const { return lpt_ != nullptr; }
    // Hands in a unit of the caller's (a test's scripted backend); null is the same as ReleaseLpt.
    void ReplaceLpt(std::unique_ptr<TVicLPT> lpt);
    // Closes and destroys the unit now (around an external program that needs the port); the
    // next Lpt() creates a fresh one.
    void ReleaseLpt();

    // The backends a unit created here may use: the built-in ones and what the program adds.
    TPortBackends& PortBackends() { return backends_; }
    const TPortBackends& PortBackends() const { return backends_; }

    // The processor-timer figures: a measurement the program started early, else measured here
    // on first use (three busy tenths of a second).
    void SetTimerMeasurement(TTiralTimerMeasurement measurement);
    const TTiralTimer& Timer();

    // The serial link's port: made by the factory (none: opening fails with "No serial port
    // support in this program"), opened by the override name when set, else by "COM" + port index.
    void SetSerialFactory(TSerialPortFactory factory) { serialFactory_ = std::move(factory); }
    std::unique_ptr<ISerialPort> NewSerialPort() const;
    void SetSerialPortName(const std::string& nameOrPath) { serialPortName_ = nameOrPath; }
    const std::string& SerialPortName() const { return serialPortName_; }

    TLinkTrace& Trace() { return trace_; }

private:
    TLinkWide wide_;
    TPortBackends backends_;
    std::unique_ptr<TVicLPT> lpt_;
    std::mutex timerMutex_;
    TTiralTimerMeasurement timer_;
    TSerialPortFactory serialFactory_;
    std::string serialPortName_;
    TLinkTrace trace_;
};
