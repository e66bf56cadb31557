// zemprix-boxsim: the programmer box simulator on a pseudo-terminal, for end-to-end runs of the
// serial link (and anything else that opens a serial port path).
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "devices/devices.h"
#include "base/hextext.h"
#include "sim/boxmodel.h"
#include "sim/lptchipset.h"
#include "sim/lptserver.h"
#include "sim/pty.h"
#include "sim/ptyserver.h"

namespace {

struct TBoxsimOptions {
    std::string device = "COP8SBR9";
    TBoxFaults faults;
    TPtyServeOptions serve;
    bool log = false;
    bool help = false;
    long lptPort = -1;  // serve a simulated parallel port on this TCP port instead of a terminal
};

// One row per command-line flag: a new flag is one more row (and a field above).
struct TFlag {
    const char* name;
    const char* argument;  // nullptr for a switch
    const char* help;
    std::function<bool(TBoxsimOptions&, const std::string&)> apply;  // false = bad argument
};

bool ParseCount(const std::string& text, long& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return false;
    value = std::stol(text);
    return true;
}

const std::vector<TFlag>& Flags()
{
    static const std::vector<TFlag> flags = {
        {"--device", "NAME", "simulated target device (default COP8SBR9)",
         [](TBoxsimOptions& o, const std::string& v) { o.device = v; return true; }},
        {"--ident", "TEXT", "identification announced and answered to \"S\" (default ZEMPRIX01)",
         [](TBoxsimOptions& o, const std::string& v) { o.faults.identification = v; return true; }},
        {"--firmware", "TEXT", "firmware version answered to \"v\" (default 0009)",
         [](TBoxsimOptions& o, const std::string& v) { o.faults.firmware = v; return true; }},
        {"--hardware", "TEXT", "hardware version answered to \"V\" (default 0001)",
         [](TBoxsimOptions& o, const std::string& v) { o.faults.hardware = v; return true; }},
        {"--error-code", "C",
         "answer the next command that ends with a response mark with \"?\" and C (! # % M T V m)",
         [](TBoxsimOptions& o, const std::string& v) {
             if (v.size() != 1 || v[0] == 0) return false;
             o.faults.errorCode = static_cast<uint8_t>(v[0]);
             return true;
         }},
        {"--error-command", "L",
         "keep the --error-code answer for the first command with letter L",
         [](TBoxsimOptions& o, const std::string& v) {
             if (v.size() != 1 || v[0] == 0) return false;
             o.faults.errorCommand = v[0];
             return true;
         }},
        {"--silent-after", "N", "go silent after sending N more bytes",
         [](TBoxsimOptions& o, const std::string& v) { return ParseCount(v, o.faults.silentAfter); }},
        {"--stuck-address", "HEX", "a Flash address whose byte never programs",
         [](TBoxsimOptions& o, const std::string& v) {
             if (v.empty() || v.size() > 8) return false;
             for (char c : v) {
                 if (!hex::IsHexDigit(c)) return false;
             }
             o.faults.stuckAddress = static_cast<long>(hex::DWord(hex::ToUpper(v)));
             return true;
         }},
        {"--no-target", nullptr, "no target on the box: Flash and option commands answer \"?m\"",
         [](TBoxsimOptions& o, const std::string&) { o.faults.targetAbsent = true; return true; }},
        {"--timing-needs-target", nullptr, "without a target the timing write \"T\" answers \"?m\" too",
         [](TBoxsimOptions& o, const std::string&) { o.faults.timingNeedsTarget = true; return true; }},
        {"--state", "FILE",
         "load Flash and timing from FILE if it exists; save them there after changes and at exit",
         [](TBoxsimOptions& o, const std::string& v) { o.serve.statePath = v; return !v.empty(); }},
        {"--poke-file", "FILE",
         "control channel: when FILE appears, each line \"AAAA VV [VV ...]\" (hex) is stored into "
         "Flash from address AAAA on, a line \"detach\" or \"attach\" takes the target board off or puts "
         "it back, then FILE is removed; create it by renaming a finished file",
         [](TBoxsimOptions& o, const std::string& v) { o.serve.pokePath = v; return !v.empty(); }},
        {"--pace", nullptr, "model wire time both ways: 115200 baud, 11 bits per character",
         [](TBoxsimOptions& o, const std::string&) { o.serve.pace = true; return true; }},
        {"--strict", nullptr,
         "exit with status 3 at the first protocol violation (printed on stderr)",
         [](TBoxsimOptions& o, const std::string&) { o.serve.strict = true; return true; }},
        {"--lpt-server", "PORT",
         "serve the box on a simulated parallel port at 127.0.0.1:PORT (0 = any free port) for "
         "ZEMPRIX_PORTIO=remote:127.0.0.1:PORT; the first line of stdout is the address",
         [](TBoxsimOptions& o, const std::string& v) { return ParseCount(v, o.lptPort) && o.lptPort <= 65535; }},
        {"--log", nullptr, "print every command received on stderr",
         [](TBoxsimOptions& o, const std::string&) { o.log = true; return true; }},
        {"--help", nullptr, "show this text",
         [](TBoxsimOptions& o, const std::string&) { o.help = true; return true; }},
    };
    return flags;
}

void PrintUsage(std::ostream& out)
{
    out << "usage: zemprix-boxsim [OPTIONS]\n"
           "Serves a simulated programmer box on a new pseudo-terminal. The first line of stdout\n"
           "is the terminal's path; open it as the serial port. Stops on SIGTERM or SIGINT.\n\n";
    for (const TFlag& f : Flags()) {
        std::string head = std::string("  ") + f.name + (f.argument ? std::string(" ") + f.argument : "");
        if (head.size() < 22) head.resize(22, ' ');
        out << head << " " << f.help << "\n";
    }
    out << "\nExit status: 0 stopped, 1 failure, 2 bad usage, 3 protocol violation (--strict).\n";
}

// Accepts "--flag value" and "--flag=value".
bool ParseArguments(int argc, char** argv, TBoxsimOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            inlineValue = true;
        }
        const TFlag* flag = nullptr;
        for (const TFlag& f : Flags()) {
            if (arg == f.name) flag = &f;
        }
        if (!flag) {
            error = "unknown option " + arg;
            return false;
        }
        if (flag->argument && !inlineValue) {
            if (i + 1 >= argc) {
                error = arg + " needs " + flag->argument;
                return false;
            }
            value = argv[++i];
        } else if (!flag->argument && inlineValue) {
            error = arg + " takes no value";
            return false;
        }
        if (!flag->apply(options, value)) {
            error = "bad value for " + arg + ": " + value;
            return false;
        }
    }
    return true;
}

int g_wakeWrite = -1;

extern "C" void OnStopSignal(int)
{
    const char byte = 1;
    const ssize_t ignored = ::write(g_wakeWrite, &byte, 1);
    (void)ignored;
}

bool InstallStopSignals(int& wakeRead)
{
    int fds[2];
    if (::pipe(fds) != 0) return false;
    fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    wakeRead = fds[0];
    g_wakeWrite = fds[1];
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

int main(int argc, char** argv)
{
    TBoxsimOptions options;
    std::string error;
    if (!ParseArguments(argc, argv, options, error)) {
        std::cerr << "zemprix-boxsim: " << error << " (see --help)" << std::endl;
        return 2;
    }
    if (options.help) {
        PrintUsage(std::cout);
        return 0;
    }
    const TDevice* device = DeviceList().FindDevice(options.device, 0xFF);
    if (!device) {
        std::cerr << "zemprix-boxsim: unknown device " << options.device << std::endl;
        return 2;
    }

    TBoxModel box(*device);
    box.Faults() = options.faults;
    const std::string& state = options.serve.statePath;
    if (!state.empty() && FileExists(state) && !box.LoadState(state)) {
        // Refuse rather than start blank and overwrite someone's saved target.
        std::cerr << "zemprix-boxsim: " << state << " is not a saved state for " << device->Name()
                  << std::endl;
        return 1;
    }
    if (options.log) {
        box.SetTrace([](const std::string& line) { std::cerr << "zemprix-boxsim: > " << line << std::endl; });
    }

    int wakeRead = -1;
    if (!InstallStopSignals(wakeRead)) {
        std::cerr << "zemprix-boxsim: cannot set up signal handling: " << std::strerror(errno) << std::endl;
        return 1;
    }
    if (options.lptPort >= 0) {
        return RunLptServer(std::make_shared<TLptChipset>(box), static_cast<uint16_t>(options.lptPort), wakeRead,
                            options.serve.statePath, std::cout, std::cerr);
    }
    TPty pty;
    if (!pty.Open(error)) {
        std::cerr << "zemprix-boxsim: " << error << std::endl;
        return 1;
    }
    std::cout << pty.SlavePath() << std::endl;  // endl flushes: the caller waits for this line

    TPtyServer server(box, pty.MasterFd(), wakeRead, options.serve, std::cerr);
    return server.Run();
}
