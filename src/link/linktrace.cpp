#include "link/linktrace.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "base/hextext.h"

namespace {

constexpr size_t kLineBytes = 64;

std::string Stamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    const long ms = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec, ms);
    return text;
}

}  // namespace

void TLinkTrace::FlushLocked()
{
    if (count_ == 0) return;
    const std::string line = stamp_ + ' ' + direction_ + ' ' + text_;
    text_.clear();
    count_ = 0;
    if (sink_) sink_(line);
}

void TLinkTrace::AddLocked(char direction, uint8_t value)
{
    if (direction != direction_ || count_ >= kLineBytes) {
        FlushLocked();
        direction_ = direction;
    }
    if (count_ == 0) stamp_ = Stamp();
    if (value >= 0x20 && value < 0x7F && value != '<') text_ += static_cast<char>(value);
    else text_ += "<" + hex::Hex2(value) + ">";
    ++count_;
}

void TLinkTrace::SetSink(TLinkTraceSink sink)
{
    std::lock_guard<std::mutex> lock(mutex_);
    FlushLocked();
    sink_ = std::move(sink);
    on_ = static_cast<bool>(sink_);
}

void TLinkTrace::Byte(char direction, uint8_t value)
{
    if (!On()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    AddLocked(direction, value);
}

void TLinkTrace::Bytes(char direction, const std::string& bytes)
{
    if (!On()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (char c : bytes) AddLocked(direction, static_cast<uint8_t>(c));
}

void TLinkTrace::Flush()
{
    std::lock_guard<std::mutex> lock(mutex_);
    FlushLocked();
}
