#include "link/linktrace.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>

#include "base/hextext.h"

namespace {

constexpr size_t kLineBytes = 64;

std::atomic<bool> gOn{false};
std::mutex gMutex;
TLinkTraceSink gSink;
char gDirection = 0;
std::string gText;
size_t gCount = 0;
std::string gStamp;

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

void FlushLocked()
{
    if (gCount == 0) return;
    const std::string line = gStamp + ' ' + gDirection + ' ' + gText;
    gText.clear();
    gCount = 0;
    if (gSink) gSink(line);
}

void AddLocked(char direction, uint8_t value)
{
    if (direction != gDirection || gCount >= kLineBytes) {
        FlushLocked();
        gDirection = direction;
    }
    if (gCount == 0) gStamp = Stamp();
    if (value >= 0x20 && value < 0x7F && value != '<') gText += static_cast<char>(value);
    else gText += "<" + hex::Hex2(value) + ">";
    ++gCount;
}

}  // namespace

void SetLinkTrace(TLinkTraceSink sink)
{
    std::lock_guard<std::mutex> lock(gMutex);
    FlushLocked();
    gSink = std::move(sink);
    gOn = static_cast<bool>(gSink);
}

bool LinkTraceOn() { return gOn.load(std::memory_order_relaxed); }

void TraceLinkByte(char direction, uint8_t value)
{
    if (!LinkTraceOn()) return;
    std::lock_guard<std::mutex> lock(gMutex);
    AddLocked(direction, value);
}

void TraceLinkBytes(char direction, const std::string& bytes)
{
    if (!LinkTraceOn()) return;
    std::lock_guard<std::mutex> lock(gMutex);
    for (char c : bytes) AddLocked(direction, static_cast<uint8_t>(c));
}

void FlushLinkTrace()
{
    std::lock_guard<std::mutex> lock(gMutex);
    FlushLocked();
}
