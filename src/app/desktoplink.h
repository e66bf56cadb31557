#pragma once
// The desktop program's links: QSerialPort as the serial port, and the processor-timer figures
// measured while the window comes up.
#include <memory>

class TAppSession;

class TDesktopLink {
public:
    // Starts measuring the timer figures on a worker thread: the parallel link logs them after
    // connecting, and the three busy tenths of a second need not hold up the window.
    TDesktopLink();
    ~TDesktopLink();
    TDesktopLink(const TDesktopLink&) = delete;
    TDesktopLink& operator=(const TDesktopLink&) = delete;

    // Every serial link of the session opens a QSerialPort, and the session's timer figures are
    // this measurement's (one machine, so every session may share it).
    void Install(TAppSession& session);

private:
    struct TData;
    std::unique_ptr<TData> d_;
};
