// The CLI's option parser on arbitrary arguments (split at NUL bytes): a usage error is the
// only way it may refuse them, and what it accepts must be within the documented ranges.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli.h"

// The command table lives with the commands, which need the whole program; only the help text
// reads it, and the parser never does.
std::vector<const TCliCommand*> Commands() { return {}; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> arguments(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.emplace_back();
        } else {
            arguments.back() += static_cast<char>(data[i]);
        }
    }
    try {
        const TCliOptions o = ParseCommandLine(arguments);
        if (o.clockRow < -1 || o.clockRow > 23) std::abort();
        if (o.optionByte < -1 || o.optionByte > 255) std::abort();
        if (o.format < 1 || o.format > 10) std::abort();
        if (!o.port.empty() && !IsValidPort(o.port)) std::abort();
    } catch (const TUsageError& e) {
        if (e.message.empty()) std::abort();
    }
    for (const std::string& a : arguments) {
        const int f = ParseFormat(a);
        if (f != -1 && (f < 1 || f > 10)) std::abort();
        IsValidPort(a);
    }
    return 0;
}
