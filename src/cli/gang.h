#pragma once
// Several boxes at once: one zemprix-cli process per --port, run concurrently. Their lines are
// prefixed with the port, a table sums the boxes up, and the exit status is the worst of them.
#include <iosfwd>
#include <string>
#include <vector>

struct TCliOptions;

// The environment variable that hands a gang's shared serial-number pool to each box's process.
constexpr const char* kGangSerialPoolVariable = "ZEMPRIX_GANG_SERIAL_POOL";
// The descriptor on which a box's process writes its status lines for the gang's table, one per
// line, whatever -q and --progress show on its stderr. Its presence marks a gang's box.
constexpr const char* kGangStatusVariable = "ZEMPRIX_GANG_STATUS_FD";
// Set when the gang's own stderr is a colour terminal: its boxes colour their lines as if it were theirs.
constexpr const char* kGangColourVariable = "ZEMPRIX_GANG_COLOUR";

// In a gang's box: the status-line descriptor the gang handed down; -1 elsewhere.
int GangStatusFd();
// In a gang's box: sends `line` (made printable) to the gang as the box's latest line.
void ReportToGang(const std::string& line);

// `self` is this program's path, `arguments` the command line without it.
int RunGang(const std::string& self, const std::vector<std::string>& arguments, const TCliOptions& options,
            std::ostream& out, std::ostream& err);

// The worse of two exit statuses: success, a failed verification, a failure, a usage error, then
// an interruption.
int WorseExitCode(int a, int b);
// The command line of one box: every --port replaced by the one given.
std::vector<std::string> SlotArguments(const std::vector<std::string>& arguments, const std::string& port);
