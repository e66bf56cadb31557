#pragma once
// Why a port cannot be used, and the fix for each cause: the port checks of `zemprix-cli doctor`,
// and the explanation a session adds to a port that failed to open. The checks read /dev, /sys,
// /proc and /etc/group under a root (a prepared tree in tests) for a given user.
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct TSystemView {
    std::string Root;  // prefix of every system path; empty for the machine itself
    std::string UserName;
    uid_t Uid = 0;
    std::vector<gid_t> Groups;  // the groups this login session has
    // The machine and the user running this program.
    static TSystemView Current();
    // Current(), with the root a ZEMPRIX_SYSTEM_ROOT variable names (tests point it at a tree).
    static TSystemView FromEnvironment();
};

enum class TCheckStatus { Ok, Warn, Fail };
enum class TCheckLink { None, Serial, Parallel };

struct TCheck {
    TCheck() = default;
    TCheck(std::string name, TCheckStatus status, std::string message, std::string fix,
           TCheckLink link = TCheckLink::None, std::string device = {})
        : Name(std::move(name)), Status(status), Message(std::move(message)), Fix(std::move(fix)), Link(link),
          Device(std::move(device))
    {
    }

    std::string Name;
    TCheckStatus Status = TCheckStatus::Ok;
    std::string Message;
    std::string Fix;  // what to do; empty when nothing needs doing
    TCheckLink Link = TCheckLink::None;  // the kind of port the finding matters for
    std::string Device;                  // the port's node; empty when it is about the whole kind
};

// The port the box is set to be on.
struct TPortInUse {
    TCheckLink Link = TCheckLink::Serial;
    std::string Name;    // "COM2", "LPT1" or a device path
    std::string Device;  // its node; empty when no port of that name is on this machine
};

// The port a name stands for: "COMn" and "LPTn" by the system's port lists, anything else as a
// path on this machine.
TPortInUse FindPortInUse(const TSystemView& system, TCheckLink link, const std::string& name);

// The device nodes of the serial and parallel ports and whether this user may open them.
std::vector<TCheck> CheckPortNodes(const TSystemView& system);
// Processes holding a port open, and services known to grab USB serial adapters. `portPath` is
// the box's port when given as a path (outside the tree), which is watched even when the system
// does not list it.
std::vector<TCheck> CheckPortHolders(const TSystemView& system, const std::string& portPath = {});
// USB serial adapters whose latency timer holds each short answer of the box for more than 1 ms.
std::vector<TCheck> CheckAdapterLatency(const TSystemView& system);
// The ppdev module and the lp printer driver.
std::vector<TCheck> CheckParallelDrivers(const TSystemView& system);

// Whether the port in use is on this machine.
TCheck CheckPortInUse(const TPortInUse& port);
// A failure that concerns another port than the one in use (or the other kind of link) is only a
// warning: a busy modem on another adapter must not fail the box's checks.
void FocusOnPortInUse(std::vector<TCheck>& checks, const TSystemView& system, const TPortInUse& port);

// The findings that explain why `port` could not be opened (missing, no permission, held by
// another program, a driver not loaded), with their fixes; empty when the checks find nothing.
std::vector<TCheck> DiagnosePortOpenFailure(const TSystemView& system, const TPortInUse& port);

// "ok", "warn" or "FAIL".
const char* CheckStatusWord(TCheckStatus status);
// Writes the checks as text lines ("ok", "warn", "FAIL", each followed by its fix).
std::string ChecksText(const std::vector<TCheck>& checks);
bool AnyFailed(const std::vector<TCheck>& checks);
