// Nothing in the libraries may keep state for the whole process: every session carries its own.
// The object files must hold no writable static data beyond a short list of known exceptions,
// and the old process-wide accessors must not come back under their names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// Writable static objects the libraries may keep, each with why it is not session state.
struct TAllowed {
    const char* name;  // a part of the demangled symbol
    const char* reason;
};
const TAllowed kAllowed[] = {
    {"(anonymous namespace)::gClock", "the clock seam: tests put a virtual clock in for the whole process"},
    {"(anonymous namespace)::gSteady", "the clock seam's default clock"},
    {"(anonymous namespace)::kStart", "the clock seam's start of the process"},
    {"::Add(unsigned char const*, unsigned long)::table", "a checksum's constant lookup table, computed on first use"},
    {"ChecksumNames[abi:cxx11]()::names", "constant list of the checksum names"},
    {"DeviceList()::list", "the constant device table, built on first use"},
    {"NullLinkHost()::host", "a do-nothing link host without any state"},
    {"kAutoSteps[abi:cxx11]", "constant list of the auto-program step names"},
    {"(anonymous namespace)::received", "a signal goes to the process: its handler may only set a flag"},
    {"(anonymous namespace)::gTerminate", "a signal goes to the process: its handler may only set a flag"},
    {"(anonymous namespace)::gSignalCount", "a signal goes to the process: its handler may only count it"},
};

bool Allowed(std::string symbol)
{
    const std::string guard = "guard variable for ";
    if (symbol.rfind(guard, 0) == 0) symbol = symbol.substr(guard.size());
    for (const TAllowed& a : kAllowed)
        if (symbol.find(a.name) != std::string::npos) return true;
    return false;
}

// Writable data objects (.data, .bss and their thread-local kinds; not the read-only-after-
// relocation tables) defined in an archive, demangled.
std::vector<std::string> WritableObjects(const std::string& archive)
{
    std::vector<std::string> found;
    std::istringstream table(CommandOutput("objdump -t '" + archive + "' | c++filt"));
    // address, seven flag characters, section, size, name
    for (std::string line; std::getline(table, line);) {
        const size_t space = line.find(' ');
        if (space == std::string::npos || space == 0 || line.size() < space + 10 ||
            line.find_first_not_of("0123456789abcdef") != space)
            continue;
        const std::string flags = line.substr(space + 1, 7);
        std::istringstream rest(line.substr(space + 9));
        std::string section, size;
        if (!(rest >> section >> size)) continue;
        std::string name;
        std::getline(rest >> std::ws, name);
        if (flags.find('O') == std::string::npos) continue;
        const bool writable = section.rfind(".data", 0) == 0 || section.rfind(".bss", 0) == 0 ||
                              section.rfind(".tdata", 0) == 0 || section.rfind(".tbss", 0) == 0;
        if (!writable) continue;
        if (section.rfind(".data.rel.ro", 0) == 0) continue;
        if (name.rfind(".hidden ", 0) == 0) name = name.substr(8);
        // The compiler's own references to exception type information.
        if (name.rfind("DW.ref.", 0) == 0) continue;
        // AddressSanitizer's one-definition markers beside every global, const tables too.
        if (name.rfind("__odr_asan", 0) == 0 || name.rfind("___asan_gen_", 0) == 0) continue;
        found.push_back(name + "  [" + section + "]");
    }
    return found;
}

}  // namespace

TEST(NoGlobals, TheLibrariesHoldNoWritableStaticData)
{
    const std::string bin = ZEMPRIX_BIN_DIR;
    for (const std::string lib : {"/libzemprix_core.a", "/libzemprix_sim.a", "/libzemprix_qt.a", "/cli/libzemprix_cli.a"}) {
        const std::string archive = bin + lib;
        ASSERT_TRUE(std::filesystem::exists(archive)) << archive;
        const std::vector<std::string> writable = WritableObjects(archive);
        // The reading itself must work: the core's clock seam is there to be seen.
        if (lib == "/libzemprix_core.a") {
            EXPECT_TRUE(std::any_of(writable.begin(), writable.end(),
                                    [](const std::string& s) { return s.find("gClock") != std::string::npos; }));
        }
        for (const std::string& symbol : writable)
            EXPECT_TRUE(Allowed(symbol)) << lib << ": writable static data " << symbol
                                         << " (keep it in the session's context, or make it a const table)";
    }
}

TEST(NoGlobals, TheOldProcessWideAccessorsAreGone)
{
    const std::filesystem::path src = std::filesystem::path(ZEMPRIX_TEST_DATA) / ".." / ".." / "src";
    ASSERT_TRUE(std::filesystem::is_directory(src)) << src;
    static const char* const kOld[] = {
        "LinkWide",         "VicLPT",           "InstallVicLPT",           "DestroyVicLPT",      "TiralTimer1",
        "StartTiralTimer",  "SetSerialPortFactory", "CreateSerialPort",     "SetSerialPortOverride",
        "SerialPortOverride", "RegisterPortBackend", "CreatePortBackend",   "PortBackendRegistered",
        "SetLinkTrace",     "TraceLinkByte",    "TraceLinkBytes",          "RegisterHardware",   "ClearHardwareTable",
        "RegisterDefaultHardware", "RegisterCommand", "RegisterSimPortBackends", "SimLptChipset"};
    // The name called as a function: not part of a longer name, followed by "(".
    auto called = [](const std::string& line, const std::string& name) {
        auto identifier = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
        for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + 1)) {
            if (at > 0 && identifier(line[at - 1])) continue;
            const size_t after = line.find_first_not_of(" \t", at + name.size());
            if (after != std::string::npos && line[after] == '(') return true;
        }
        return false;
    };
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(src)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".cpp" && ext != ".h") continue;
        ++files;
        std::ifstream in(entry.path());
        int lineNo = 0;
        for (std::string line; std::getline(in, line);) {
            ++lineNo;
            for (const char* name : kOld)
                if (called(line, name)) ADD_FAILURE() << entry.path().string() << ":" << lineNo << ": " << name << " is back: " << line;
        }
    }
    EXPECT_GT(files, 50);
}
