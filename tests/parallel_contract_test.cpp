// The link contract suite run for the parallel link: the bit layer over the simulated chipset
// with the box on its connector.
#include "link_contract.h"

#include "link/linkcontext.h"
#include "link/smartparallel.h"
#include "lpt/portunit.h"
#include "sim/lptchipset.h"

namespace {

// The parallel Connect writes the port-details block to the status log; the contract's log
// checks are about failure lines, so the block is kept out of the shared host's log (its
// contents are tested in parallel_link_test.cpp).
class PortBlockFilter final : public ILinkHost {
public:
    explicit PortBlockFilter(ILinkHost& inner) : inner_(inner) {}
    void PumpMessages() override { inner_.PumpMessages(); }
    void AppendLog(const std::string& line) override
    {
        if (rulesLeft_ > 0) {
            if (line == "============================") --rulesLeft_;
            return;
        }
        if (heldEmpty_) {
            heldEmpty_ = false;
            if (line == "Current selected LPT details") {
                rulesLeft_ = 6;
                return;
            }
            inner_.AppendLog("");
        }
        if (line.empty()) {
            heldEmpty_ = true;
            return;
        }
        inner_.AppendLog(line);
    }

private:
    ILinkHost& inner_;
    bool heldEmpty_ = false;
    int rulesLeft_ = 0;
};

class ParallelRig final : public LinkRig {
public:
    ParallelRig(const TDevice& d, TISPSettings& s, ILinkHost& h) : chipset_(std::make_shared<TLptChipset>(d)), host_(h)
    {
        link_.Context().ReplaceLpt(std::make_unique<TVicLPT>(CreateSimPortIo(chipset_)));
        link_.SetHardwareName("ZEMPRIX (LPT)");
        link_.SetSettingsStore(&s);
        link_.SetHost(&host_);
        link_.SetDevice(&d);
    }
    ~ParallelRig() override
    {
        // The pin layer must have kept the handshake whatever the test did to the box.
        EXPECT_TRUE(chipset_->Violations().empty()) << chipset_->Violations().front();
        link_.Context().ReleaseLpt();
    }
    TISPProgrammer& Link() override { return link_; }
    TBoxProtocol& Protocol() override { return link_.Protocol(); }
    TBoxModel& Box() override { return chipset_->Box(); }

private:
    std::shared_ptr<TLptChipset> chipset_;
    PortBlockFilter host_;
    TSmartParallel link_;
};

}  // namespace

LinkRigFactory ParallelRigFactory()
{
    return {"Parallel", [](const TDevice& d, TISPSettings& s, ILinkHost& h) {
                return std::unique_ptr<LinkRig>(new ParallelRig(d, s, h));
            }};
}

INSTANTIATE_TEST_SUITE_P(Parallel, LinkContract, ::testing::Values(ParallelRigFactory()),
                         [](const auto& info) { return info.param.name; });
