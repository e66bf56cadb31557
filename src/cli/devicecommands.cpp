// The commands that talk to the programmer box. They will run through TOperationRunner with
// the text view so that they print the GUI's status lines; until then each says so and fails.
#include "cli.h"

namespace {

int NotAvailable(TCliContext& c)
{
    c.Runner().FailOp(c.Options().command + ": not available yet");
    c.Result().Set("error", "not available yet");
    return kExitFailed;
}

}  // namespace

void RegisterDeviceCommands()
{
    struct Row {
        const char* name;
        const char* arguments;
        const char* summary;
        size_t count;
    };
    static const Row kRows[] = {
        {"info", "", "show the programmer's information report", 0},
        {"erase", "", "erase the device's Flash", 0},
        {"program", "FILE", "load FILE and program it with the option byte", 1},
        {"verify", "FILE", "load FILE and verify the device against it (exit 3 on a mismatch)", 1},
        {"read", "FILE", "read the device's Flash and save it to FILE in --format", 1},
        {"read-options", "", "read the option byte", 0},
        {"write-options", "HH", "write the option byte HH", 1},
        {"read-timing", "", "read the programming timing", 0},
        {"write-timing", "", "write the timing of the --clock row", 0},
        {"run", "", "release the target to run", 0},
        {"auto", "FILE", "auto-program FILE with the --steps given", 1},
    };
    for (const Row& r : kRows) RegisterCommand({r.name, r.arguments, r.summary, r.count, NotAvailable});
}
