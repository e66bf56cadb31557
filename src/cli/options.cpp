// Parsing of the zemprix-cli command line and its help text.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>

#include "cli.h"
#include "base/hextext.h"
#include "image/serialnum.h"

const std::vector<std::string> kAutoSteps = {"reload", "erase", "program", "verify", "options", "serial", "run"};

namespace {

bool AllDigits(const std::string& s, bool hexDigits)
{
    if (s.empty()) return false;
    for (char c : s)
        if (hexDigits ? !hex::IsHexDigit(c) : (c < '0' || c > '9')) return false;
    return true;
}

std::vector<std::string> ParseSteps(const std::string& text)
{
    std::vector<std::string> steps;
    std::stringstream list(text);
    std::string step;
    while (std::getline(list, step, ',')) {
        const std::string lower = [&] {
            std::string s = step;
            for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        }();
        if (std::find(kAutoSteps.begin(), kAutoSteps.end(), lower) == kAutoSteps.end())
            throw TUsageError{"Unknown auto-program step \"" + step + "\" (use reload,erase,program,verify,options,serial,run)"};
        steps.push_back(lower);
    }
    if (steps.empty()) throw TUsageError{"--steps needs at least one step"};
    return steps;
}

}  // namespace

int ParseFormat(const std::string& text)
{
    if (AllDigits(text, false) && text.size() <= 2) {
        const int id = std::stoi(text);
        return id >= 1 && id <= 10 ? id : -1;
    }
    static const std::pair<const char*, int> kNames[] = {{"intel", 1},     {"motorola", 4}, {"ext-tektronix", 7},
                                                        {"tektronix", 8}, {"atmel16", 9},  {"atmel8", 10}};
    for (const auto& [name, id] : kNames)
        if (hex::SameText(text, name)) return id;
    return -1;
}

bool IsValidPort(const std::string& port)
{
    const std::string up = hex::ToUpper(port);
    if (up.size() == 4 && up.compare(0, 3, "COM") == 0) return up[3] >= '1' && up[3] <= '8';
    if (up.size() == 4 && up.compare(0, 3, "LPT") == 0) return up[3] >= '1' && up[3] <= '3';
    if (port.size() > 4 && hex::SameText(port.substr(0, 4), "usb:")) return true;
    return port.size() > 1 && port[0] == '/';
}

namespace {

// An option without a value; false when `arg` is none of them.
bool ApplyFlag(TCliOptions& o, const std::string& arg)
{
    if (arg == "--help" || arg == "-h") o.help = true;
    else if (arg == "--version") o.version = true;
    else if (arg == "--json") o.json = true;
    else if (arg == "--no-settings") o.noSettings = true;
    else if (arg == "--csv") o.csv = true;
    else if (arg == "--strict-checksums") o.strictChecksums = true;
    else if (arg == "--plug-and-prog") o.plugAndProg = true;
    else if (arg == "--reload-on-change") o.reloadOnChange = true;
    else if (arg == "-q" || arg == "--quiet") o.quiet = true;
    else if (arg == "--probe") o.probe = true;
    else if (arg == "-v" || arg == "--verbose") o.verbose = true;
    else return false;
    return true;
}

bool TakesValue(const std::string& arg)
{
    static const char* const kValued[] = {"--hardware", "--device",      "--port",   "--serial-start", "--serial-at",
                                          "--serial-size", "--clock",    "--option-byte", "--format", "--progress",
                                          "--record",   "--log-file",     "--steps", "--db", "--pool",
                                          "--since", "--until", "--station", "--serial", "--start", "--size",
                                          "--at", "--step"};
    return std::find_if(std::begin(kValued), std::end(kValued), [&](const char* v) { return arg == v; }) !=
           std::end(kValued);
}

// What a port name stands for: a path with its links and ".." resolved (a by-id name and the
// node it points to are one box), COMn and LPTn in any case.
std::string SamePortKey(const std::string& port)
{
    if (port.empty() || port[0] != '/') return port.size() == 4 ? hex::ToUpper(port) : port;
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(port, ec);
    return ec ? std::filesystem::path(port).lexically_normal().string() : resolved.string();
}

void ApplyPort(TCliOptions& o, const std::string& port)
{
    if (!IsValidPort(port))
        throw TUsageError{"Invalid port \"" + PrintableText(port) + "\" (COM1..COM8, LPT1..LPT3 or a device path)"};
    const std::string key = SamePortKey(port);
    for (const std::string& earlier : o.ports) {
        if (SamePortKey(earlier) != key) continue;
        if (earlier == port) throw TUsageError{"Port \"" + PrintableText(port) + "\" is given twice"};
        throw TUsageError{"Ports \"" + PrintableText(earlier) + "\" and \"" + PrintableText(port) + "\" are the same port (" +
                          PrintableText(key) + ")"};
    }
    if (o.ports.empty()) o.port = port;
    o.ports.push_back(port);
}

void ApplySerialOption(TCliOptions& o, const std::string& arg, std::string v)
{
    if (arg == "--serial-start") {
        const bool hexForm = v.size() > 2 && (v.rfind("0x", 0) == 0 || v.rfind("0X", 0) == 0);
        const std::string digits = hexForm ? v.substr(2) : v;
        if (!AllDigits(digits, hexForm) || digits.size() > (hexForm ? 8u : 10u) ||
            std::stoull(digits, nullptr, hexForm ? 16 : 10) > 0xFFFFFFFFull)
            throw TUsageError{"Invalid serial number \"" + v + "\" (0..4294967295, or 0x0..0xFFFFFFFF)"};
        o.serialStart = static_cast<int64_t>(std::stoull(digits, nullptr, hexForm ? 16 : 10));
    } else if (arg == "--serial-at") {
        if (v.rfind("0x", 0) == 0 || v.rfind("0X", 0) == 0) v = v.substr(2);
        if (!AllDigits(v, true) || v.size() > 6) throw TUsageError{"Invalid serial number address \"" + v + "\" (hex)"};
        o.serialAt = static_cast<int64_t>(std::stoul(v, nullptr, 16));
    } else {
        if (v != "2" && v != "3" && v != "4") throw TUsageError{"Invalid serial number size \"" + v + "\" (2, 3 or 4 bytes)"};
        o.serialSize = v[0] - '0';
    }
}

// A date "YYYY-MM-DD" or a UTC time "YYYY-MM-DDTHH:MM:SSZ", as the store keeps its times.
bool IsStoreTime(const std::string& v)
{
    static const char kDate[] = "dddd-dd-dd", kTime[] = "dddd-dd-ddTdd:dd:ddZ";
    const std::string pattern = v.size() == 10 ? kDate : v.size() == 20 ? kTime : "";
    if (pattern.empty()) return false;
    for (size_t i = 0; i < v.size(); ++i)
        if (pattern[i] == 'd' ? (v[i] < '0' || v[i] > '9') : v[i] != pattern[i]) return false;
    return true;
}

// A number in decimal or 0x hex up to `max`; -1 when it is none.
int64_t StoreNumber(std::string v, uint64_t max)
{
    const bool hexForm = v.size() > 2 && (v.rfind("0x", 0) == 0 || v.rfind("0X", 0) == 0);
    if (hexForm) v = v.substr(2);
    if (!AllDigits(v, hexForm) || v.size() > 10) return -1;
    const uint64_t n = std::stoull(v, nullptr, hexForm ? 16 : 10);
    return n > max ? -1 : static_cast<int64_t>(n);
}

bool ApplyStoreValue(TCliOptions& o, const std::string& arg, const std::string& v)
{
    if (arg == "--db" || arg == "--pool" || arg == "--station") {
        if (v.empty()) throw TUsageError{arg + " needs a value"};
        (arg == "--db" ? o.db : arg == "--pool" ? o.pool : o.station) = v;
    } else if (arg == "--since" || arg == "--until") {
        if (!IsStoreTime(v)) throw TUsageError{"Invalid " + arg.substr(2) + " \"" + v + "\" (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ, UTC)"};
        (arg == "--since" ? o.since : o.until) = v;
    } else if (arg == "--serial" || arg == "--start") {
        const int64_t n = StoreNumber(v, 0xFFFFFFFFull);
        if (n < 0) throw TUsageError{"Invalid serial number \"" + v + "\" (0..4294967295, or 0x0..0xFFFFFFFF)"};
        (arg == "--serial" ? o.recordSerial : o.poolStart) = n;
    } else if (arg == "--size") {
        if (v != "2" && v != "3" && v != "4") throw TUsageError{"Invalid serial number size \"" + v + "\" (2, 3 or 4 bytes)"};
        o.poolSize = v[0] - '0';
    } else if (arg == "--at") {
        std::string digits = v;
        if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) digits = digits.substr(2);
        if (!AllDigits(digits, true) || digits.size() > 6) throw TUsageError{"Invalid serial number address \"" + v + "\" (hex)"};
        o.poolAt = static_cast<int64_t>(std::stoul(digits, nullptr, 16));
    } else if (arg == "--step") {
        const int64_t n = StoreNumber(v, 0xFFFFFFFFull);
        if (n < 1) throw TUsageError{"Invalid step \"" + v + "\" (1..4294967295)"};
        o.poolStep = n;
    } else {
        return false;
    }
    return true;
}

void ApplyValue(TCliOptions& o, const std::string& arg, const std::string& v)
{
    if (ApplyStoreValue(o, arg, v)) return;
    if (arg == "--hardware" || arg == "--device") {
        // An empty name would silently mean "the remembered one".
        if (v.empty()) throw TUsageError{arg + " needs a name"};
        (arg == "--hardware" ? o.hardware : o.device) = v;
    } else if (arg == "--port") {
        ApplyPort(o, v);
    } else if (arg.rfind("--serial-", 0) == 0) {
        ApplySerialOption(o, arg, v);
    } else if (arg == "--clock") {
        if (!AllDigits(v, false) || v.size() > 2 || std::stoi(v) > 23)
            throw TUsageError{"Invalid clock range row \"" + v + "\" (0..23)"};
        o.clockRow = std::stoi(v);
    } else if (arg == "--option-byte") {
        if (!AllDigits(v, true) || v.size() > 2) throw TUsageError{"Invalid option byte \"" + v + "\" (two hex digits)"};
        o.optionByte = static_cast<int>(hex::Word(hex::ToUpper(v)));
    } else if (arg == "--format") {
        o.format = ParseFormat(v);
        if (o.format < 0)
            throw TUsageError{"Invalid format \"" + v + "\" (1..10, intel, motorola, ext-tektronix, tektronix, atmel16, atmel8)"};
    } else if (arg == "--progress") {
        if (v != "json" && v != "text") throw TUsageError{"Invalid progress format \"" + v + "\" (json or text)"};
        o.progressJson = v == "json";
    } else if (arg == "--record" || arg == "--log-file") {
        if (v.empty()) throw TUsageError{arg + " needs a file name"};
        (arg == "--record" ? o.recordFile : o.logFile) = v;
    } else {
        o.steps = ParseSteps(v);
        o.stepsGiven = true;
    }
}

// Options that belong together or to one command.
void CheckCombinations(const TCliOptions& o)
{
    if (o.plugAndProg && !o.command.empty() && o.command != "auto")
        throw TUsageError{"--plug-and-prog belongs to the auto command"};
    if (o.reloadOnChange && !o.command.empty() && o.command != "auto")
        throw TUsageError{"--reload-on-change belongs to the auto command"};
    if (o.probe && o.command != "doctor") throw TUsageError{"--probe belongs to the doctor command"};
    // Elsewhere no board is recorded: the file would stay empty without a word.
    if (!o.recordFile.empty() && !o.command.empty() && o.command != "auto")
        throw TUsageError{"--record belongs to the auto command"};
    if (!o.pool.empty()) {
        if (o.command != "auto" || std::find(o.steps.begin(), o.steps.end(), "serial") == o.steps.end())
            throw TUsageError{"--pool belongs to the auto command with the serial step"};
        if (o.serialStart >= 0 || o.serialAt >= 0)
            throw TUsageError{"--pool gives the serial numbers: leave out --serial-start and --serial-at"};
    }
    if (!o.db.empty() && o.command != "auto" && o.command != "records" && o.command != "pool")
        throw TUsageError{"--db belongs to the auto, records and pool commands"};
    if ((!o.since.empty() || !o.until.empty() || !o.station.empty() || o.recordSerial >= 0 || o.csv) &&
        o.command != "records")
        throw TUsageError{"--since, --until, --station, --serial and --csv belong to the records command"};
    if (o.csv && o.json) throw TUsageError{"--csv and --json exclude each other"};
    if ((o.poolStart >= 0 || o.poolAt >= 0) && o.command != "pool")
        throw TUsageError{"--start, --size, --at and --step belong to pool create"};
    if ((o.serialStart >= 0) != (o.serialAt >= 0))
        throw TUsageError{"--serial-start and --serial-at go together"};
    if (o.serialAt >= 0 && (o.command != "auto" || std::find(o.steps.begin(), o.steps.end(), "serial") == o.steps.end()))
        throw TUsageError{"Serial numbers belong to the auto command with the serial step"};
    if (o.serialStart >= 0) {
        TSerialNum serial;
        serial.rgSerialNumSize = o.serialSize - 2;
        serial.heCurrentSerial = static_cast<uint32_t>(o.serialStart);
        if (!serial.Fits())
            throw TUsageError{"--serial-start does not fit in " + std::to_string(o.serialSize) +
                              " bytes: choose a larger --serial-size"};
    }
    static const char* const kGangCommands[] = {"info", "erase", "program", "verify", "read-options", "write-options",
                                               "read-timing", "write-timing", "run", "auto"};
    if (o.ports.size() > 1 &&
        std::find_if(std::begin(kGangCommands), std::end(kGangCommands), [&](const char* c) { return o.command == c; }) ==
            std::end(kGangCommands))
        throw TUsageError{"Several --port are for device commands that write nothing to a file (" + o.command + ")"};
}

}  // namespace

TCliOptions ParseCommandLine(const std::vector<std::string>& arguments)
{
    TCliOptions o;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string arg = arguments[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (o.command.empty()) o.command = arg;
            else o.args.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        if (ApplyFlag(o, arg)) continue;
        if (!TakesValue(arg)) throw TUsageError{"Unknown option " + arg};
        if (!hasValue) {
            if (i + 1 >= arguments.size()) throw TUsageError{arg + " needs a value"};
            value = arguments[++i];
        }
        ApplyValue(o, arg, value);
    }
    CheckCombinations(o);
    return o;
}

std::string HelpText()
{
    std::string text =
        "Usage: zemprix-cli [OPTIONS] COMMAND [ARGS...]\n"
        "\n"
        "Options:\n"
        "  --hardware NAME   \"ZEMPRIX (LPT)\", \"ZEMPRIX (COM)\", or lpt / com (case-insensitive)\n"
        "  --port PORT       COM1..COM8 / LPT1..LPT3, a device path (/dev/ttyUSB0, /dev/parport0,\n"
        "                    /dev/serial/by-id/...) or usb:VID:PID[:SERIAL] (see the ports command);\n"
        "                    give it several times to run the command on every box at once (a gang):\n"
        "                    lines are prefixed with [PORT], a table ends the run, the exit status is\n"
        "                    the worst box's (ok < verify failed < failed < usage < interrupted)\n"
        "  --device NAME     target device, case-insensitive (see the devices command)\n"
        "  --clock ROW       programming clock range row 0..23 (default: remembered row, else 23)\n"
        "  --option-byte HH  option byte for program / write-options / auto (default: remembered, else 06)\n"
        "  --format F        output format for read / convert: 1..10 or intel, motorola,\n"
        "                    ext-tektronix, tektronix, atmel16, atmel8 (default intel)\n"
        "  --steps LIST      auto-program steps: reload,erase,program,verify,options,serial,run\n"
        "  --plug-and-prog   auto: program board after board as each is attached; Ctrl+C ends the\n"
        "                    mode like the Cancel button (after the board in progress)\n"
        "  --reload-on-change  auto: when the Flash file changes on disk, reload it before the next\n"
        "                    board without asking (else a terminal is asked, a script keeps the image)\n"
        "  --json            print one JSON object with the result on stdout at the end\n"
        "  --progress json   one JSON object per line on stderr for every status line, progress step\n"
        "                    and the result: {\"type\":\"status\"|\"progress\"|\"result\", \"port\":...}\n"
        "  -q, --quiet       print failure lines only\n"
        "  --log-file FILE   append the status lines, timestamped, to FILE\n"
        "  --record FILE     auto: append one CSV line per board (time, port, device, image, CRC-32,\n"
        "                    serial, steps, result, failure); both files are checked before the\n"
        "                    first board (exit 2 when they cannot be written)\n"
        "  --serial-start N  auto with the serial step: the first board's serial number (decimal or\n"
        "                    0x hex); each passed board takes the next, a gang shares one sequence\n"
        "  --serial-at ADDR  where the number goes in the image (hex), big-endian, before the\n"
        "                    option byte in the image's last byte\n"
        "  --serial-size N   its size in bytes: 2 (default), 3 or 4\n"
        "  --db URL|PATH     the production store: postgresql://USER@HOST[:PORT]/DB[?host=SOCKETDIR]\n"
        "                    for a line's server (password from ~/.pgpass or PGPASSWORD), or an\n"
        "                    SQLite file; else ZEMPRIX_DB, else the Auto Program options' store.\n"
        "                    auto records every board there; records and pool use the default\n"
        "                    SQLite file under the data folder when none is named\n"
        "  --pool NAME       auto with the serial step: each board's number is reserved from the\n"
        "                    store's pool NAME, committed when it passes, given back when it failed\n"
        "                    before its Flash was written, spoiled when it failed after\n"
        "  --since DATE, --until DATE\n"
        "                    records: boards from / up to DATE (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ, UTC)\n"
        "  --station NAME    records: one station's boards (its host name)\n"
        "  --serial N        records: the board with serial number N (decimal or 0x hex)\n"
        "  --csv             records: CSV instead of the table\n"
        "  --start N, --size BYTES, --at ADDR, --step N\n"
        "                    pool create: the first number, its size (2, 3 or 4), where it goes in\n"
        "                    the image (hex) and the step between numbers (default 1)\n"
        "  --probe           doctor: also connect to the box and report its identification\n"
        "  -v, --verbose     add a timestamped trace of every command and answer exchanged with the box\n"
        "  --no-settings     neither read nor write stored settings\n"
        "  --strict-checksums\n"
        "                    refuse a Flash file with a wrong record checksum (without it the file\n"
        "                    loads and its load line warns)\n"
        "  --help, --version\n"
        "\n"
        "Commands:\n";
    for (const TCliCommand* c : Commands()) {
        const std::string arguments = c->arguments;
        std::string head = "  " + std::string(c->name) + (arguments.empty() ? "" : " " + arguments);
        if (head.size() < 28) head.resize(28, ' ');
        else head += "  ";
        text += head + c->summary + "\n";
    }
    text +=
        "\n"
        "Status lines go to stderr, command data to stdout. NO_COLOR turns the colour of failure and\n"
        "completion lines off. ZEMPRIX_COMn names the device COMn stands for; ZEMPRIX_SETTINGS_DIR\n"
        "holds the settings in DIR/morvel/ZEMPRIX.conf instead of the user's own. ZEMPRIX_DB names\n"
        "the production store as --db does.\n"
        "Exit status: 0 success, 1 operation failed, 2 bad usage or argument, 3 verification failed,\n"
        "130 / 143 cancelled by Ctrl+C / SIGTERM (the operation is aborted as the Abort button does; a\n"
        "second Ctrl+C ends at once).\n";
    return text;
}
