#pragma once
// A trace of the bytes exchanged with the box, for `zemprix-cli -v` and for finding out what a box
// in the field answers. Runs of bytes in one direction are gathered into one timestamped line
// ("12:04:05.123 > W0000..." to the box, "<" from it); printable characters stand as they are and
// the others as <HH>. Off unless a sink is set, and then it costs a flag test per byte.
#include <cstdint>
#include <functional>
#include <string>

using TLinkTraceSink = std::function<void(const std::string& line)>;

// An empty sink switches the trace off (after writing out what is gathered).
void SetLinkTrace(TLinkTraceSink sink);
bool LinkTraceOn();
void TraceLinkByte(char direction, uint8_t value);
void TraceLinkBytes(char direction, const std::string& bytes);
// Writes out the line being gathered.
void FlushLinkTrace();
