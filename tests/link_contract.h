#pragma once
// One suite for both links: the same device operations against the simulated box, in virtual
// time. Each link supplies a rig that builds the box, the link and whatever sits between them.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/devices.h"
#include "store/settings.h"
#include "link/linkhost.h"
#include "link/boxprotocol.h"
#include "link/programmer.h"
#include "base/clock.h"
#include "sim/boxmodel.h"

struct LogHost : ILinkHost {
    std::vector<std::string> log;
    void AppendLog(const std::string& line) override { log.push_back(line); }
};

class LinkRig {
public:
    virtual ~LinkRig() = default;
    virtual TISPProgrammer& Link() = 0;
    // The protocol under the link, for the frame-level checks.
    virtual TBoxProtocol& Protocol() = 0;
    virtual TBoxModel& Box() = 0;
};

struct LinkRigFactory {
    std::string name;
    std::function<std::unique_ptr<LinkRig>(const TDevice&, TISPSettings&, ILinkHost&)> make;
};

inline void PrintTo(const LinkRigFactory& f, std::ostream* os) { *os << f.name; }

// The rigs of the two links, for suites beyond the contract.
LinkRigFactory SerialRigFactory();
LinkRigFactory ParallelRigFactory();

class LinkContract : public ::testing::TestWithParam<LinkRigFactory> {
protected:
    VirtualClock clock;
    ScopedClock scoped{clock};
    TISPSettings settings;
    LogHost host;
    const TDevice* device = nullptr;
    std::unique_ptr<LinkRig> rig;

    void Build(const char* deviceName = "COP8SBR9")
    {
        device = DeviceList().FindDevice(deviceName, 0x04);
        rig.reset();  // one rig at a time: each installs its own port factory
        rig = GetParam().make(*device, settings, host);
    }
    void SetUp() override { Build(); }
    TISPProgrammer& Link() { return rig->Link(); }
    TBoxProtocol& Protocol() { return rig->Protocol(); }
    TBoxModel& Box() { return rig->Box(); }
};
