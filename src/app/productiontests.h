#pragma once
// The workshop's test commands: test images for the Flash, the device list as text, and the
// series that program, verify and count failures. Plain C++ over the command context, so the
// window's Support menu and any other front end run the same sequences.
#include <cstdint>
#include <functional>
#include <string>

#include "devices/devices.h"

class THexList;
class TAutoProgram;
struct TCommandContext;

namespace production {

// The pseudo-random numbers of Random Data: the same sequence in every run of the program.
class TTestRandom {
public:
    // A value below n.
    uint32_t Below(uint32_t n);
    uint32_t Seed() const { return seed_; }

private:
    uint32_t seed_ = 0;
};

// Every address but the last (the option byte) gets a value that is neither 00h nor FFh.
void RandomData(THexList& image, const TDevice& device, TTestRandom& random);
// Two marker bytes per page, at distances from its ends that grow with the page number.
void PagedTestFile(THexList& image, const TDevice& device);
// The names of the devices of `set`, one per line, each line ended by CR LF.
std::string DeviceListText(TByteSet set);

// The message boxes the tests show; `message` is the box's text.
using TMessage = std::function<void(const std::string& message)>;

// Erase, verify blank, program and verify the paged file, then five random images; ends with the
// count of failed patterns and bad bytes. Only verification failures are results; anything else
// escapes.
void FlashWriteTests(TCommandContext& ctx, TTestRandom& random, const TMessage& message);
// 25 Auto Program runs with the failures counted; a confirmed abort ends the series.
void AutoProgramSeries(TCommandContext& ctx, TAutoProgram& autoProgram);
// One Auto Program run for every clock range, in list order.
void TestAllFreqs(TCommandContext& ctx, TAutoProgram& autoProgram);

}  // namespace production
