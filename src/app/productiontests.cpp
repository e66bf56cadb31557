#include "app/productiontests.h"

#include <algorithm>
#include <memory>
#include <string>

#include "app/autoprogram.h"
#include "app/commands.h"
#include "base/clock.h"
#include "base/isperrors.h"
#include "devices/optioneditor.h"
#include "image/hexlist.h"
#include "link/programmer.h"

namespace production {

uint32_t TTestRandom::Below(uint32_t n)
{
    seed_ = seed_ * 134775813u + 1u;
    return static_cast<uint32_t>((static_cast<uint64_t>(seed_) * n) >> 32);
}

void RandomData(THexList& image, const TDevice& device, TTestRandom& random)
{
    const int64_t last = std::min<int64_t>(device.FlashSize(), image.Size()) - 2;
    THexList::TBulkChange bulk(image);
    for (int64_t a = 0; a <= last; ++a) {
        const uint32_t v = random.Below(255);
        image.SetValue(static_cast<uint32_t>(a), static_cast<uint8_t>(v == 0 ? 0xA5 : v));
    }
}

void PagedTestFile(THexList& image, const TDevice& device)
{
    THexList::TBulkChange bulk(image);
    image.Clear();
    const int64_t page = device.PageSize();
    if (page <= 0) return;
    const int64_t pages = device.FlashSize() / page;
    for (int64_t i = 0; i < pages; ++i) {
        const int64_t first = i * page + i;
        if (first < 0 || first >= image.Size()) return;
        image.SetValue(static_cast<uint32_t>(first), static_cast<uint8_t>(i % 256));
        const int64_t second = i * page + page - 1 - i;
        if (second < 0 || second >= image.Size()) return;
        uint8_t b = static_cast<uint8_t>(~(i + 1) & 0xDF);
        if (i % 2 == 1) b |= 0x80;
        image.SetValue(static_cast<uint32_t>(second), b);
    }
}

std::string DeviceListText(TByteSet set)
{
    std::string text;
    for (const std::string& name : DeviceList().NamesForHardware(set)) text += name + "\r\n";
    return text;
}

namespace {

uint32_t FailedBytes(const THexList& image)
{
    uint32_t n = 0;
    for (TProgStatus s : image.Status())
        if (s.Has(ps_failed)) ++n;
    return n;
}

// Ends a test whose verification failed: the box, then the failure line.
void Stop(TCommandContext& ctx, const TMessage& message, const std::string& text)
{
    if (message) message(text);
    ctx.Runner.FailOp(text);
}

}  // namespace

void FlashWriteTests(TCommandContext& ctx, TTestRandom& random, const TMessage& message)
{
    TISPProgrammer* p = ctx.Programmer();
    const TDevice* device = ctx.Project.Device();
    if (!p || !device) return;
    THexList& image = ctx.Project.Flash;
    TOperationRunner& runner = ctx.Runner;

    // The views see the image after the paged file and after the random patterns, not per byte.
    auto bulk = std::make_unique<THexList::TBulkChange>(image);
    runner.StartOp("Prep1: Clearing Flash & Erasing Device");
    image.Clear();
    p->PrepareBlankImage(image);
    p->EraseDevice();
    runner.EndOp("Prep1: Complete");

    runner.StartOp("Test1: Verifying Flash is empty");
    try {
        p->VerifyFlash(image);
    } catch (const EVerifyError&) {
        return Stop(ctx, message, "Test1: Failed - Device would not erase, cannot continue");
    }

    runner.StartOp("Prep2: Paged Test File");
    PagedTestFile(image, *device);
    commands::CopyOptionByte(ctx);
    bulk.reset();
    bulk = std::make_unique<THexList::TBulkChange>(image);
    runner.EndOp("Prep2: Complete");

    runner.StartOp("Test2: Programming Paged Test File");
    try {
        p->ProgramFlash(image);
        p->VerifyFlash(image);
    } catch (const EVerifyError&) {
        return Stop(ctx, message, "Test2: Failed - Verification of Page File failed");
    }

    runner.StartOp("Prep3: Testing flash with 5 different random files");
    int failedPatterns = 0;
    uint64_t badBytes = 0;
    for (int pattern = 0; pattern < 5; ++pattern) {
        try {
            p->EraseDevice();
            RandomData(image, *device, random);
            commands::CopyOptionByte(ctx);
            p->ProgramFlash(image);
            p->VerifyFlash(image);
        } catch (const EVerifyError&) {
            ++failedPatterns;
            badBytes += FailedBytes(image);
        }
    }
    bulk.reset();
    runner.EndOp("Prep3: Complete - " + std::to_string(failedPatterns) + " patterns failed, total of " +
                 std::to_string(badBytes) + " bytes of invalid data");
}

void AutoProgramSeries(TCommandContext& ctx, TAutoProgram& autoProgram)
{
    TOperationRunner& runner = ctx.Runner;
    runner.StartOp("25 autoprograms test");
    int failed = 0;
    for (int run = 0; run < 25; ++run) {
        try {
            Clock().Sleep(100);
            autoProgram.AutoProgramExecute();
            Clock().Sleep(100);
        } catch (...) {
            if (runner.AbortRequested()) break;
            ++failed;
        }
    }
    runner.EndOp("Autoprogram failed " + std::to_string(failed) + "/25 ");
}

void TestAllFreqs(TCommandContext& ctx, TAutoProgram& autoProgram)
{
    TOperationRunner& runner = ctx.Runner;
    TBaseFuseForm& editor = ctx.Options;
    const int ranges = kClockRangeCount;
    runner.StartOp(std::to_string(ranges) + " autoprograms test");
    int failed = 0;
    for (int k = 0; k < ranges; ++k) {
        const std::string text = kClockRanges[k].Text;
        try {
            Clock().Sleep(100);
            editor.SelectPGMTIM(k);
            runner.AppendLog("Starting " + text + " test");
            editor.PGMTIMChange();
            TISPProgrammer* p = ctx.Programmer();
            if (!p) throw EISPException("No programmer");
            p->Synchronise();
            p->WriteTiming(editor.Label4());
            editor.SetOptions(p->ReadOptions());
            autoProgram.AutoProgramExecute();
            Clock().Sleep(100);
        } catch (...) {
            if (runner.AbortRequested()) break;
            ++failed;
            runner.AppendLog(text + " test Failed");
        }
    }
    runner.EndOp("Autoprogram failed " + std::to_string(failed) + "/" + std::to_string(ranges));
}

}  // namespace production
