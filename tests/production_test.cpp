// The workshop's test commands: reproducible test images, the device list text and the series
// over a scripted programmer in virtual time.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/autoprogram.h"
#include "app/productiontests.h"
#include "fakeprogrammer.h"
#include "image/serialnum.h"
#include "store/settings.h"

namespace {

struct Production : CommandFixture {
    TISPSettings settings;
    TSerialNum serial;
    TAutoProgram autoProgram{ctx, serial, settings};
    production::TTestRandom random;
    std::vector<std::string> boxes;

    void SetUp() override
    {
        CommandFixture::SetUp();
        // Erase and program only: a run needs at least one step.
        for (int i = 0; i < TAutoProgramSteps::kCount; ++i)
            settings.Put(TAutoProgramSteps::kSection, std::to_string(i), kGlobalGroup, i == TAutoProgramSteps::stErase);
    }
    size_t LogCount(const std::string& prefix) const
    {
        return size_t(std::count_if(runner.Log().begin(), runner.Log().end(),
                                    [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
};

}  // namespace

TEST_F(Production, RandomDataIsTheSameEveryRunAndNeverBlankZeroOrTheOptionByte)
{
    const TDevice& device = *project.Device();
    project.Flash.SetValue(project.Flash.Size() - 1, 0x2D);
    production::RandomData(project.Flash, device, random);
    const std::vector<uint8_t> first = project.Flash.Values();
    EXPECT_EQ(first.back(), 0x2D);
    EXPECT_EQ(std::count(first.begin(), first.end() - 1, 0x00), 0);
    EXPECT_EQ(std::count(first.begin(), first.end() - 1, 0xFF), 0);
    EXPECT_GT(std::count(first.begin(), first.end(), 0xA5), 0);  // the zeros drawn

    production::TTestRandom again;
    THexList other;
    other.SetSize(project.Flash.Size());
    production::RandomData(other, device, again);
    EXPECT_TRUE(std::equal(first.begin(), first.end() - 1, other.Values().begin()));
    // The generator: seed * 134775813 + 1, the value the upper half of seed * n.
    production::TTestRandom r;
    EXPECT_EQ(r.Below(255), 0u);  // seed 1
    EXPECT_EQ(r.Seed(), 1u);
    EXPECT_EQ(r.Below(0x100), 134775814u >> 24);
}

TEST_F(Production, PagedTestFileMarksEveryPageAndStopsAtTheImagesEnd)
{
    const TDevice& device = *project.Device();
    const uint32_t page = static_cast<uint32_t>(device.PageSize());
    production::PagedTestFile(project.Flash, device);
    EXPECT_EQ(project.Flash.GetValue(0), 0x00);
    EXPECT_EQ(project.Flash.GetValue(page - 1), 0xDE);           // NOT 1 AND DF
    EXPECT_EQ(project.Flash.GetValue(page + 1), 0x01);
    EXPECT_EQ(project.Flash.GetValue(2 * page - 2), 0xDD | 0x80);  // odd page: bit 7 set
    EXPECT_EQ(project.Flash.GetValue(2), 0xFF);

    // An image shorter than the device ends the fill at the first address outside it.
    THexList shorter;
    shorter.SetSize(page + 3);
    production::PagedTestFile(shorter, device);
    EXPECT_EQ(shorter.GetValue(page + 1), 0x01);
    EXPECT_EQ(shorter.GetValue(page + 2), 0xFF);

    const std::string list = production::DeviceListText(0x04);
    EXPECT_EQ(list.substr(list.size() - 2), "\r\n");
    EXPECT_NE(list.find("COP8SBR9\r\n"), std::string::npos);
}

TEST_F(Production, FlashWriteTestsCountsBadPatternsAndStopsWhenTheEraseFails)
{
    const production::TMessage box = [&](const std::string& m) { boxes.push_back(m); };
    EXPECT_EQ(runner.Run([&] { production::FlashWriteTests(ctx, random, box); }), TOutcome::Completed);
    EXPECT_EQ(runner.StatusKind(), sk_completed);
    EXPECT_EQ(runner.StatusText(), "Prep3: Complete - 0 patterns failed, total of 0 bytes of invalid data - 00:00");
    EXPECT_EQ(std::count(programmer.calls.begin(), programmer.calls.end(), "ProgramFlash"), 6);

    // The blank check and the paged file pass; every random image fails with three bad bytes.
    int verifies = 0;
    programmer.onCall = [&](const std::string& call) {
        if (call != "VerifyFlash" || ++verifies < 3) return;
        for (uint32_t a = 0; a < 3; ++a) project.Flash.SetStatus(a, ps_failed);
        throw EVerifyError("Verify Failed");
    };
    runner.Run([&] { production::FlashWriteTests(ctx, random, box); });
    EXPECT_EQ(runner.StatusKind(), sk_completed);
    EXPECT_EQ(runner.StatusText(), "Prep3: Complete - 5 patterns failed, total of 15 bytes of invalid data - 00:00");

    programmer.onCall = nullptr;
    programmer.failOn = "VerifyFlash";
    EXPECT_EQ(runner.Run([&] { production::FlashWriteTests(ctx, random, box); }), TOutcome::Failed);
    EXPECT_EQ(boxes, std::vector<std::string>{"Test1: Failed - Device would not erase, cannot continue"});
    EXPECT_EQ(runner.StatusKind(), sk_failed);
    EXPECT_EQ(runner.StatusText(), "Test1: Failed - Device would not erase, cannot continue");
}

TEST_F(Production, SeriesCountFailuresAndAnAbortEndsThem)
{
    runner.Run([&] { production::TestAllFreqs(ctx, autoProgram); });
    EXPECT_EQ(LogCount("Starting "), 24u);
    EXPECT_EQ(runner.Log()[1], "Starting 25Khz - 33.3Khz test");
    EXPECT_EQ(runner.StatusKind(), sk_completed);
    EXPECT_EQ(runner.StatusText(), "Autoprogram failed 0/24 - " + TOperationRunner::FormatElapsed(runner.ElapsedSeconds()) );
    EXPECT_EQ(options.PGMTIM(), 23);

    int erases = 0;
    programmer.onCall = [&](const std::string& call) {
        if (call == "EraseDevice" && ++erases % 2 == 0) throw EISPException("ISP timed out during operation");
    };
    runner.Run([&] { production::AutoProgramSeries(ctx, autoProgram); });
    EXPECT_EQ(runner.StatusKind(), sk_completed);
    EXPECT_EQ(runner.StatusText().rfind("Autoprogram failed 12/25 ", 0), 0u) << runner.StatusText();

    // An abort confirmed during a run ends the series there.
    erases = 0;
    programmer.onCall = [&](const std::string& call) {
        if (call != "EraseDevice" || ++erases != 3) return;
        runner.RequestAbort();
        throw EAbortOp("Operation Aborted");
    };
    runner.Run([&] { production::AutoProgramSeries(ctx, autoProgram); });
    EXPECT_EQ(erases, 3);
    EXPECT_EQ(runner.StatusKind(), sk_completed);
    EXPECT_EQ(runner.StatusText().rfind("Autoprogram failed 0/25 ", 0), 0u) << runner.StatusText();
}
