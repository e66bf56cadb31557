#pragma once
// The longest pause of the window's event loop, for the tests that run operations in it.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>

// The longest time the window's loop did not turn, while it is being measured.
class TGapMeter {
public:
    TGapMeter()
    {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, since_.elapsed());
            since_.restart();
        });
        since_.start();
        timer_.start();
    }
    // Counts the pause still running too: a handler that blocked the loop until just now.
    qint64 LongestMs() const { return timer_.isActive() ? std::max(longest_, since_.elapsed()) : longest_; }
    // The meter turns the loop without pause: stopped while processor time is measured.
    void Stop() { timer_.stop(); }
    void Resume()
    {
        since_.restart();
        timer_.start();
    }

private:
    QTimer timer_;
    QElapsedTimer since_;
    qint64 longest_ = 0;
};

// A loose bound: a busy machine may stretch a gap, not to this.
constexpr qint64 kGapBoundMs = 200;
