#include "test_support.h"
#include "link_contract.h"

#include "image/hexlist.h"
#include "base/hextext.h"
#include "base/isperrors.h"
#include "link/linkcontext.h"
#include "link/smartserial.h"
#include "sim/simserial.h"

namespace {


THexList ImageFor(const TDevice& d)
{
    THexList img;
    img.SetSize(static_cast<uint32_t>(d.FlashSize()));
    return img;
}

// Pseudo-random bytes that are neither 00 nor FF, so every block is used.
void FillRandom(THexList& img, uint32_t seed)
{
    for (uint32_t a = 0; a < img.Size(); ++a) {
        seed = seed * 134775813u + 1;
        img.SetValue(a, static_cast<uint8_t>(1 + (seed >> 24) % 254));
    }
}

}  // namespace

TEST_P(LinkContract, ConnectsAndIdentifies)
{
    EXPECT_TRUE(Link().Connect());
    EXPECT_EQ(Link().ReadProgrammerId(), "ZEMPRIX01");
    EXPECT_TRUE(Protocol().Synced);
    EXPECT_TRUE(Box().Violations().empty());
}

// A device switch or a project load connects a link that is connected already.
TEST_P(LinkContract, ConnectingAgainRestartsTheBox)
{
    ASSERT_TRUE(Link().Connect());
    EXPECT_TRUE(Link().Connect());
    EXPECT_EQ(Link().ReadOptions(), Box().Flash().back());
    EXPECT_TRUE(Box().Violations().empty());
}

TEST_P(LinkContract, ProgramsReadsAndVerifiesAFull32KImage)
{
    Link().Connect();
    THexList img = ImageFor(*device);
    FillRandom(img, 7);
    Link().EraseDevice();
    Link().ProgramFlash(img);
    EXPECT_EQ(Box().Flash(), img.Values());
    for (uint32_t a = 0; a < img.Size(); ++a) ASSERT_EQ(img.GetStatus(a), TProgStatus(ps_verified)) << a;

    THexList back = ImageFor(*device);
    Link().ReadFlash(back);
    EXPECT_EQ(back.Values(), img.Values());
    for (uint32_t a = 0; a < back.Size(); ++a)
        EXPECT_EQ(back.GetStatus(a), TProgStatus(a % 0x800 == 0 ? ps_read : ps_normal)) << a;

    Link().VerifyFlash(img);
    EXPECT_TRUE(host.log.empty());
    EXPECT_TRUE(Box().Violations().empty()) << Box().Violations().front();
}

TEST_P(LinkContract, VerifyReportsEachDifferingByte)
{
    Link().Connect();
    THexList img = ImageFor(*device);
    FillRandom(img, 3);
    img.SetValue(0x1A0, 0x3C);
    Link().EraseDevice();
    Link().ProgramFlash(img);
    Box().Flash()[0x1A0] = 0x00;
    Box().Flash()[0x7FF0] = 0x00;
    EXPECT_EQ(ErrorOf([&] { Link().VerifyFlash(img); }), "Flash: Verification Failed");
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.log[0], "Verify Failed at 01A0h: Read 00h - Should have been 3Ch");
    EXPECT_EQ(host.log[1].substr(0, 33), "Verify Failed at 7FF0h: Read 00h ");
    EXPECT_EQ(img.GetStatus(0x1A0), TProgStatus(ps_failed));
    EXPECT_EQ(img.GetStatus(0x1A1), TProgStatus(ps_verified));
    EXPECT_THROW(Link().VerifyFlash(img), EVerifyError);
}

TEST_P(LinkContract, OnlyUsedAreasAreProgrammedAndVerified)
{
    Link().Connect();
    THexList img = ImageFor(*device);
    for (uint32_t a = 0; a < img.Size(); ++a) img.SetValue(a, 0);
    img.SetValue(0x1234, 0x5A);
    // Old data around the page that holds the byte.
    for (uint32_t a = 0x1100; a < 0x1300; ++a) Box().Flash()[a] = 0xA5;
    Box().ClearCommands();
    Link().ProgramFlash(img);
    // Only the page holding the byte is erased and written, from its start up to the byte's
    // block; the page before it is never touched (it was not erased in this run).
    EXPECT_EQ(Box().Flash()[0x1234], 0x5A);
    EXPECT_EQ(Box().Flash()[0x1200], 0x00);
    EXPECT_EQ(Box().Flash()[0x11C0], 0xA5);
    EXPECT_EQ(Box().Flash()[0x11FF], 0xA5);
    EXPECT_EQ(Box().Flash()[0x1240], 0xFF);
    EXPECT_EQ(Box().Flash()[0x1280], 0xA5);
    const std::string c = Box().Commands();
    EXPECT_EQ(std::count(c.begin(), c.end(), 'z'), 1);
    EXPECT_EQ(std::count(c.begin(), c.end(), 'W'), 4);
    EXPECT_TRUE(Box().Violations().empty()) << Box().Violations().front();

    // 00h counts as empty: only the chunk holding the byte is read back (and must match).
    for (uint32_t a = 0x1000; a < 0x1800; ++a) Box().Flash()[a] = img.GetValue(a);
    Box().ClearCommands();
    Link().VerifyFlash(img);
    EXPECT_EQ(std::count(Box().Commands().begin(), Box().Commands().end(), 'R'), 1);
}

TEST_P(LinkContract, BlankImageOnlyEntersAndLeavesProgrammingMode)
{
    Link().Connect();
    THexList img = ImageFor(*device);
    Box().ClearCommands();
    Link().ProgramFlash(img);
    const std::string c = Box().Commands();
    EXPECT_EQ(c.substr(c.size() - 4), "=%:$");
    EXPECT_EQ(c.find('W'), std::string::npos);
    EXPECT_FALSE(Box().ProgrammingMode());
}

TEST_P(LinkContract, AStuckByteFailsProgrammingButTheRestIsWritten)
{
    Link().Connect();
    THexList img = ImageFor(*device);
    FillRandom(img, 11);
    Link().EraseDevice();
    Box().Faults().stuckAddress = 0x2345;
    EXPECT_EQ(ErrorOf([&] { Link().ProgramFlash(img); }), "Program Flash: Verification Failed");
    ASSERT_EQ(host.log.size(), 1u);
    EXPECT_EQ(host.log[0], "Verify Failed at 2345h: Read FFh - Should have been " + hex::Hex2(img.GetValue(0x2345)) + "h");
    EXPECT_EQ(img.GetStatus(0x2345), TProgStatus(ps_failed));
    EXPECT_EQ(img.GetStatus(0x2346), TProgStatus(ps_verified));
    EXPECT_EQ(Box().Flash()[0x7FFE], img.GetValue(0x7FFE));
    EXPECT_FALSE(Box().ProgrammingMode());
}

TEST_P(LinkContract, ProgramOptionsKeepsTheRestOfTheLastPage)
{
    for (const char* name : {"COP8SBR9", "COP8SBE9"}) {
        Build(name);
        Link().Connect();
        THexList img = ImageFor(*device);
        FillRandom(img, 5);
        Link().EraseDevice();
        Link().ProgramFlash(img);
        std::vector<std::string> trace;
        Box().SetTrace([&](const std::string& line) { trace.push_back(line); });
        Link().ProgramOptions(0x5A);
        Box().SetTrace(nullptr);
        const uint32_t size = static_cast<uint32_t>(device->FlashSize());
        const uint32_t page = static_cast<uint32_t>(device->PageSize());
        // Read, erase, read again, the page in pieces of 20h bytes with the option byte as 00h,
        // then the option byte alone.
        std::vector<std::string> expected = {"rFFFF", "R" + hex::Hex4(size - page) + hex::Hex4(page),
                                             "z" + hex::Hex4(size - page),
                                             "R" + hex::Hex4(size - page) + hex::Hex4(page)};
        for (uint32_t k = 0; k < page / 32; ++k) {
            std::string data;
            for (uint32_t a = size - page + 32 * k; a < size - page + 32 * (k + 1); ++a)
                data += a == size - 1 ? "00" : hex::Hex2(img.GetValue(a));
            expected.push_back("W" + hex::Hex4(size - page + 32 * k) + "20" + data);
        }
        expected.push_back("w" + hex::Hex4(size - 1) + "5A");
        ASSERT_GE(trace.size(), expected.size()) << name;
        EXPECT_EQ(std::vector<std::string>(trace.end() - static_cast<std::ptrdiff_t>(expected.size()), trace.end()),
                  expected)
            << name;
        for (uint32_t a = size - static_cast<uint32_t>(device->PageSize()); a < size - 1; ++a)
            ASSERT_EQ(Box().Flash()[a], img.GetValue(a)) << name << " " << a;
        EXPECT_EQ(Box().Flash()[size - 1], 0x5A);
        EXPECT_EQ(Link().ReadOptions(), 0x5A);
        EXPECT_TRUE(Box().Violations().empty());
    }
}

TEST_P(LinkContract, TimingRunAndResynchronisation)
{
    Link().Connect();
    Link().WriteTiming("7B000CFF");
    EXPECT_EQ(Box().Timing(), "7B000CFF");
    EXPECT_EQ(Link().ReadTiming(), "7B000CFF");
    Link().RunTarget();
    EXPECT_TRUE(Box().Running());
    EXPECT_FALSE(Protocol().Synced);
    Link().EraseDevice();  // pings again first
    EXPECT_TRUE(Protocol().Synced);
}

TEST_P(LinkContract, EveryBoxErrorCodeGivesItsException)
{
    struct Case {
        char code;
        std::string message;
        bool verify;
    } cases[] = {
        {'!', "Command not known here", false},       {'#', "Invalid number sent", false},
        {'%', "BlankCheck Failed", false},             {'M', "illegal attempt to use microwire", false},
        {'T', "Program/erase BUSY timed out", false},  {'V', "Your target device failed verification", true},
        {'m', "Microwire exchange out of sync", false},
    };
    Link().Connect();
    // After a refusal the next timing command synchronises first: aim the error at the "T".
    Box().Faults().errorCommand = 'T';
    for (const auto& c : cases) {
        Box().Faults().errorCode = static_cast<uint8_t>(c.code);
        try {
            Link().WriteTiming("7B000CFF");  // acked
            ADD_FAILURE() << "no exception for " << c.code;
        } catch (const EVerifyError& e) {
            EXPECT_TRUE(c.verify);
            EXPECT_EQ(e.what(), c.message);
        } catch (const EISPException& e) {
            EXPECT_FALSE(c.verify);
            EXPECT_EQ(e.what(), c.message);
            EXPECT_EQ(e.HardwareName(), Link().HardwareName());
        }
        EXPECT_FALSE(Protocol().Synced);
    }
    // A block read answered with an error in place of the data.
    Box().Faults().errorCommand = 0;
    Box().Faults().errorCode = '#';
    THexList img = ImageFor(*device);
    EXPECT_EQ(ErrorOf([&] { Protocol().ReadBlock(img.Values().data(), 'R', 0, 16); }), "Invalid number sent");
    // The error code reaching the synchronising read of an operation reads as a time-out.
    Box().Faults().errorCode = 'T';
    EXPECT_EQ(ErrorOf([&] { Link().EraseDevice(); }), "ISP timed out during operation");
    Link().EraseDevice();  // and the link recovers
}

TEST_P(LinkContract, ASilentBoxFailsWithinTheLinksLimit)
{
    Link().Connect();
    THexList img = ImageFor(*device);
    FillRandom(img, 1);
    Box().Faults().silentAfter = 100;
    const double t0 = clock.NowSeconds();
    const std::string error = ErrorOf([&] { Link().ProgramFlash(img); });
    EXPECT_TRUE(error == "Communications with ISP failed during this operation" ||
                error == "ISP timed out during operation" ||
                error == "ISP is not responding, check your communications settings" ||
                error == "LPT port not found or in use by another program" ||
                error == "Your ISP needs a firmware update")
        << error;
    EXPECT_LT(clock.NowSeconds() - t0, 120.0);
}

TEST_P(LinkContract, WrongIdentificationOrFirmwareNeedsAnUpdate)
{
    Box().Faults().identification = "ZEMPRIX02";
    EXPECT_EQ(ErrorOf([&] { Link().Connect(); }), "Your ISP needs a firmware update");
    Build();
    Box().Faults().firmware = "0008";
    EXPECT_THROW(Link().Connect(), EFirmwareMisMatch);
}

// An error answer to Connect's firmware query says the box is not set up to talk, whatever the
// code: a "V" there is no failed verification (no target was read).
TEST_P(LinkContract, AnErrorAnswerToTheFirmwareQueryIsABoxNotResponding)
{
    for (char code : {'V', '!', 'T', 'Q'}) {
        Build();
        Box().Faults().errorCommand = 'v';
        Box().Faults().errorCode = static_cast<uint8_t>(code);
        try {
            Link().Connect();
            ADD_FAILURE() << "connected despite ?" << code;
        } catch (const EISPException& e) {
            EXPECT_STREQ(e.what(), TBoxProtocol::kNotResponding) << code;
            EXPECT_TRUE(e.HardwareName().empty()) << code;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "?" << code << " gave " << e.what();
        }
    }
}

TEST_P(LinkContract, AnAbortStillLeavesProgrammingMode)
{
    Link().Connect();
    THexList img = ImageFor(*device);
    FillRandom(img, 9);
    int calls = 0;
    Link().SetOnProgress([&](int32_t position, int32_t) {
        if (++calls > 1 && position >= 0x300) throw EAbortOp();
    });
    EXPECT_THROW(Link().ProgramFlash(img), EAbortOp);
    EXPECT_FALSE(Box().ProgrammingMode());
    const std::string c = Box().Commands();
    EXPECT_EQ(c.substr(c.size() - 2), ":$");
    EXPECT_EQ(img.GetStatus(0x2FF), TProgStatus(ps_verified));
    EXPECT_EQ(img.GetStatus(0x400), TProgStatus(ps_normal));
    EXPECT_TRUE(Box().Violations().empty());
}

// A block the box refuses is its error, raised after programming mode is left; an answer that is
// neither a mark nor an error is a broken exchange. Neither passes as programmed.
TEST_P(LinkContract, ARefusedBlockFailsProgrammingAndTheNextRunSucceeds)
{
    Link().Connect();
    THexList img = ImageFor(*device);
    FillRandom(img, 21);
    Box().Faults().errorCommand = 'W';
    Box().Faults().errorCode = 'T';
    EXPECT_EQ(ErrorOf([&] { Link().ProgramFlash(img); }), "Program/erase BUSY timed out");
    EXPECT_FALSE(Box().ProgrammingMode());
    EXPECT_EQ(Box().Commands().substr(Box().Commands().size() - 2), ":$");

    Box().Faults().blockAnswer = 'Q';
    EXPECT_EQ(ErrorOf([&] { Link().ProgramFlash(img); }), "Communications with ISP failed during this operation");
    EXPECT_FALSE(Box().ProgrammingMode());

    Link().ProgramFlash(img);
    EXPECT_EQ(Box().Flash(), img.Values());
    EXPECT_TRUE(Box().Violations().empty()) << Box().Violations().front();
}

// Noise where a byte's two hex digits belong fails the read instead of storing an invented 00h.
TEST_P(LinkContract, NoiseInAReadFailsItInsteadOfInventingData)
{
    Link().Connect();
    for (uint32_t a = 0; a < Box().Flash().size(); ++a) Box().Flash()[a] = static_cast<uint8_t>(a * 7 + 1);
    const char* failed = "Communications with ISP failed during this operation";
    THexList out = ImageFor(*device);
    Box().Faults().readNoiseAt = 0x345;
    EXPECT_EQ(ErrorOf([&] { Link().ReadFlash(out); }), failed);
    THexList expected = ImageFor(*device);
    expected.Values() = Box().Flash();
    Box().Faults().readNoiseAt = 0x345;
    EXPECT_EQ(ErrorOf([&] { Link().VerifyFlash(expected); }), failed);
    Box().Faults().readNoiseAt = static_cast<long>(device->OptionAddress());
    EXPECT_EQ(ErrorOf([&] { Link().ReadOptions(); }), failed);

    Link().ReadFlash(out);
    EXPECT_EQ(out.Values(), Box().Flash());
}

// While the box erases a page the shell keeps hearing from the link, so an abort is seen there;
// the closing commands still go out.
TEST_P(LinkContract, AnAbortDuringAPageEraseIsSeenAndProgrammingModeIsLeft)
{
    Link().Connect();
    THexList img = ImageFor(*device);
    FillRandom(img, 5);
    int erases = 0;
    Box().SetTrace([&](const std::string& line) { erases += !line.empty() && line[0] == 'z'; });
    Link().SetOnProgress([&](int32_t position, int32_t) {
        if (position == -1 && erases == 2) throw EAbortOp();
    });
    EXPECT_THROW(Link().ProgramFlash(img), EAbortOp);
    EXPECT_EQ(erases, 2);
    EXPECT_FALSE(Box().ProgrammingMode());
    Link().SetOnProgress(nullptr);
    Box().SetTrace(nullptr);
    Link().ProgramFlash(img);
    EXPECT_EQ(Box().Flash(), img.Values());
}

// Plug-and-program asks whether a board is on the cable: a one-byte read of address 0.
TEST_P(LinkContract, TargetPresentTellsAnAttachedBoardFromAnAbsentOne)
{
    Link().Connect();
    EXPECT_EQ(Link().TargetPresent(), 1);
    Box().Faults().targetAbsent = true;
    EXPECT_EQ(Link().TargetPresent(), 0);
    EXPECT_EQ(Link().TargetPresent(), 0);
    Box().Faults().targetAbsent = false;
    EXPECT_EQ(Link().TargetPresent(), 1);
    Box().Faults().silentAfter = 0;  // the box itself gone: a failure, not "no board"
    EXPECT_THROW(Link().TargetPresent(), EISPException);
    Box().Faults().silentAfter = -1;
    EXPECT_EQ(Link().TargetPresent(), 1);
    EXPECT_TRUE(Box().Violations().empty());
}

TEST_P(LinkContract, ReadOptionsAsksForTheLastAddress)
{
    Link().Connect();
    Box().Flash()[0x7FFF] = 0x06;
    Box().SetTrace([&](const std::string& line) { host.log.push_back(line); });
    EXPECT_EQ(Link().ReadOptions(), 0x06);
    EXPECT_NE(std::find(host.log.begin(), host.log.end(), "r7FFF"), host.log.end());
}

// ---- the serial link's rig ----

namespace {
class SerialRig final : public LinkRig {
public:
    SerialRig(const TDevice& d, TISPSettings& s, ILinkHost& h) : box_(d), install_(context_, box_)
    {
        link_.SetContext(&context_);
        link_.SetHardwareName("ZEMPRIX (COM)");
        link_.SetSettingsStore(&s);
        link_.SetHost(&h);
        link_.SetDevice(&d);
    }
    TISPProgrammer& Link() override { return link_; }
    TBoxProtocol& Protocol() override { return link_.Protocol(); }
    TBoxModel& Box() override { return box_; }

private:
    TLinkContext context_;
    TBoxModel box_;
    TSimSerialInstall install_;
    TSmartSerial link_;
};
}  // namespace

LinkRigFactory SerialRigFactory()
{
    return {"Serial", [](const TDevice& d, TISPSettings& s, ILinkHost& h) {
                return std::unique_ptr<LinkRig>(new SerialRig(d, s, h));
            }};
}

INSTANTIATE_TEST_SUITE_P(Serial, LinkContract, ::testing::Values(SerialRigFactory()),
                         [](const auto& info) { return info.param.name; });
