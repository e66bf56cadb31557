// The fault matrix, on both links in virtual time: every box error code answered to every command
// letter each operation sends, silence at sampled byte offsets, an absent target and an abort at
// sampled progress points. Each case must end with its message, within its time limit, and leave
// the programmer able to run the next operation.
#include "link_contract.h"
#include "test_support.h"

#include <algorithm>
#include <set>

#include "base/isperrors.h"
#include "image/hexlist.h"

namespace {

struct Operation {
    const char* name;
    std::function<void(TISPProgrammer&, THexList&)> run;
    bool synchronises;  // starts with the "I" / "rFFFF" exchange
};

const std::vector<Operation>& Operations()
{
    static const std::vector<Operation> ops = {
        {"erase", [](TISPProgrammer& l, THexList&) { l.EraseDevice(); }, true},
        {"program", [](TISPProgrammer& l, THexList& img) { l.ProgramFlash(img); }, true},
        {"verify", [](TISPProgrammer& l, THexList& img) { l.VerifyFlash(img); }, true},
        {"read", [](TISPProgrammer& l, THexList& img) {
             THexList out;
             out.SetSize(img.Size());
             l.ReadFlash(out);
         }, true},
        {"read options", [](TISPProgrammer& l, THexList&) { (void)l.ReadOptions(); }, true},
        {"program options", [](TISPProgrammer& l, THexList&) { l.ProgramOptions(0x2D); }, true},
        {"write timing", [](TISPProgrammer& l, THexList&) { l.WriteTiming("7B000CFF"); }, false},
        {"read timing", [](TISPProgrammer& l, THexList&) { (void)l.ReadTiming(); }, false},
        {"run", [](TISPProgrammer& l, THexList&) { l.RunTarget(); }, true},
    };
    return ops;
}

const char* const kErrorTexts[][2] = {
    {"!", "Command not known here"}, {"#", "Invalid number sent"}, {"%", "BlankCheck Failed"},
    {"M", "illegal attempt to use microwire"}, {"T", "Program/erase BUSY timed out"},
    {"V", "Your target device failed verification"}, {"m", "Microwire exchange out of sync"},
    {"Q", TBoxProtocol::kCommFailed},  // a code the box does not have
};

class FaultMatrix : public LinkContract {
protected:
    THexList image;

    void SetUp() override
    {
        LinkContract::SetUp();
        // Coarse steps keep each 30-second wait of the parallel link to a few hundred thousand polls.
        clock.SetStepPerRead(100'000);
        image.SetSize(static_cast<uint32_t>(device->FlashSize()));
        // A few used pages, not the whole device: the matrix runs every case under the sanitizers.
        for (uint32_t a = 0x100; a < 0x300; ++a) image.SetValue(a, static_cast<uint8_t>(a * 13 + 1));
        image.SetValue(image.Size() - 1, 0x06);
    }
    double Seconds() { return double(clock.PerformanceCounter()) / double(clock.PerformanceFrequency()); }

    // The letters an operation sends, from a clean run on a connected box.
    std::set<char> LettersOf(const Operation& op)
    {
        std::set<char> letters;
        Box().SetTrace([&](const std::string& line) {
            if (!line.empty()) letters.insert(line[0]);
        });
        op.run(Link(), image);
        Box().SetTrace(nullptr);
        letters.erase('I');  // a ping is never answered with a response mark
        return letters;
    }

    // After a failure: the same programmer runs the operation again, cleanly.
    void ExpectRecovery(const Operation& op, const std::string& what)
    {
        Box().Faults() = TBoxFaults();
        Link().SetOnProgress(nullptr);
        EXPECT_NO_THROW(op.run(Link(), image)) << what;
        EXPECT_FALSE(Box().ProgrammingMode()) << what;
    }
};

std::string Expected(const Operation& op, char letter, const std::string& code, const std::string& mapped)
{
    // The synchronising "rFFFF" meets the error before the operation's own read.
    if (letter == 'r' && op.synchronises) return TBoxProtocol::kTimedOut;
    // A refused block is read back byte by byte and fails as a verification.
    if (letter == 'W' && code == "V" && std::string(op.name) == "program") return "Program Flash: Verification Failed";
    return mapped;
}

}  // namespace

TEST_P(FaultMatrix, EveryErrorCodeToEveryCommandLetter)
{
    ASSERT_TRUE(Link().Connect());
    for (const Operation& op : Operations()) {
        for (char letter : LettersOf(op)) {
            for (const auto& entry : kErrorTexts) {
                const std::string what = std::string(op.name) + " '" + letter + "' ?" + entry[0];
                Box().Faults().errorCommand = letter;
                Box().Faults().errorCode = static_cast<uint8_t>(entry[0][0]);
                const double start = Seconds();
                EXPECT_EQ(ErrorOf([&] { op.run(Link(), image); }), Expected(op, letter, entry[0], entry[1])) << what;
                EXPECT_LT(Seconds() - start, 65.0) << what;
                ExpectRecovery(op, what);
            }
        }
    }
}

TEST_P(FaultMatrix, SilenceAtSampledOffsetsEndsInATimeOutOrBrokenExchange)
{
    ASSERT_TRUE(Link().Connect());
    for (const Operation& op : Operations()) {
        for (long offset : {0L, 1L, 3L, 9L, 40L, 300L}) {
            const std::string what = std::string(op.name) + " silent after " + std::to_string(offset);
            Box().Faults().silentAfter = offset;
            const double start = Seconds();
            const std::string error = ErrorOf([&] { op.run(Link(), image); });
            if (error != "(no exception)") {  // short operations may be done before the offset
                EXPECT_TRUE(error == TBoxProtocol::kTimedOut || error == TBoxProtocol::kCommFailed ||
                            error == "ISP Failed to connect" || error.find("not responding") != std::string::npos)
                    << what << ": " << error;
            }
            EXPECT_LT(Seconds() - start, 200.0) << what;
            ExpectRecovery(op, what);
        }
    }
}

TEST_P(FaultMatrix, AnAbsentTargetAndAbortsAtSampledProgressPoints)
{
    ASSERT_TRUE(Link().Connect());
    for (const Operation& op : Operations()) {
        if (!op.synchronises) continue;
        Box().Faults().targetAbsent = true;
        const std::string error = ErrorOf([&] { op.run(Link(), image); });
        // Running the target needs no answer from it.
        EXPECT_TRUE(error == "Microwire exchange out of sync" || error == TBoxProtocol::kTimedOut ||
                    (std::string(op.name) == "run" && error == "(no exception)"))
            << op.name << ": " << error;
        ExpectRecovery(op, std::string(op.name) + " without a target");
    }
    Link().ProgramFlash(image);  // the device holds the image, so a verify after an abort passes
    for (const char* name : {"read", "verify", "program"}) {
        const Operation& op = *std::find_if(Operations().begin(), Operations().end(),
                                            [&](const Operation& o) { return std::string(o.name) == name; });
        for (int after : {1, 2, 5, 17}) {
            int calls = 0;
            Link().SetOnProgress([&](int32_t, int32_t) {
                if (++calls == after) throw EAbortOp("Operation Aborted");
            });
            const std::string error = ErrorOf([&] { op.run(Link(), image); });
            EXPECT_TRUE(error == "Operation Aborted" || error == "(no exception)") << name << " " << after << ": " << error;
            ExpectRecovery(op, std::string(name) + " aborted at call " + std::to_string(after));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Links, FaultMatrix, ::testing::Values(SerialRigFactory(), ParallelRigFactory()),
                         [](const auto& info) { return info.param.name; });
