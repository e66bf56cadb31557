#pragma once
// A trace of the bytes exchanged with the box, for `zemprix-cli -v` and for finding out what a box
// in the field answers. Runs of bytes in one direction are gathered into one timestamped line
// ("12:04:05.123 > W0000..." to the box, "<" from it); printable characters stand as they are and
// the others as <HH>. Off unless a sink is set, and then it costs a flag test per byte. Each
// session's link context holds one.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

using TLinkTraceSink = std::function<void(const std::string& line)>;

class TLinkTrace {
public:
    // An empty sink switches the trace off (after writing out what is gathered).
    void SetSink(TLinkTraceSink sink);
    bool On() const { return on_.load(std::memory_order_relaxed); }
    void Byte(char direction, uint8_t value);
    void Bytes(char direction, const std::string& bytes);
    // Writes out the line being gathered.
    void Flush();

private:
    void FlushLocked();
    void AddLocked(char direction, uint8_t value);

    std::atomic<bool> on_{false};
    std::mutex mutex_;
    TLinkTraceSink sink_;
    char direction_ = 0;
    std::string text_;
    size_t count_ = 0;
    std::string stamp_;
};
