#pragma once
// `zemprix-cli doctor`: why a port cannot be used, and the fix for each cause. The checks read
// /dev, /sys, /proc and /etc/group under a root (a prepared tree in tests) for a given user.
#include <string>
#include <sys/types.h>
#include <vector>

struct TSystemView {
    std::string Root;  // prefix of every system path; empty for the machine itself
    std::string UserName;
    uid_t Uid = 0;
    std::vector<gid_t> Groups;  // the groups this login session has
    // The machine and the user running this program.
    static TSystemView Current();
};

enum class TCheckStatus { Ok, Warn, Fail };

struct TCheck {
    std::string Name;
    TCheckStatus Status = TCheckStatus::Ok;
    std::string Message;
    std::string Fix;  // what to do; empty when nothing needs doing
};

// The device nodes of the serial and parallel ports and whether this user may open them.
std::vector<TCheck> CheckPortNodes(const TSystemView& system);
// Processes holding a port open, and services known to grab USB serial adapters.
std::vector<TCheck> CheckPortHolders(const TSystemView& system);
// The ppdev module and the lp printer driver.
std::vector<TCheck> CheckParallelDrivers(const TSystemView& system);
// Whether a folder is (or can be made) writable for a file in it.
TCheck CheckFolder(const std::string& name, const std::string& folder);

// Writes the checks as text lines ("ok", "warn", "FAIL", each followed by its fix).
std::string ChecksText(const std::vector<TCheck>& checks);
std::string ChecksJson(const std::vector<TCheck>& checks);
bool AnyFailed(const std::vector<TCheck>& checks);

void RegisterPortCommands();
