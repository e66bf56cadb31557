// The headless programs must run where no display library is installed: neither may link Qt
// Widgets or Qt Gui, whatever the desktop application links. And every include points down the
// layers, so that a lower layer never grows a dependency on a higher one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "e2e_support.h"
#include "test_support.h"

TEST(Layering, HeadlessProgramsLinkNoWidgetsOrGui)
{
    for (const std::string& exe : {CliPath(), BoxsimPath()}) {
        const std::string libs = CommandOutput("ldd '" + exe + "' 2>&1");
        ASSERT_NE(libs.find("libc.so"), std::string::npos) << exe << "\n" << libs;
        EXPECT_EQ(libs.find("libQt6Widgets"), std::string::npos) << exe;
        EXPECT_EQ(libs.find("libQt6Gui"), std::string::npos) << exe;
    }
}


// The production CLI carries no simulator: a simulated port cannot be picked by accident on a
// production line. The simulator's build of it does.
TEST(Layering, OnlyTheSimulatorsBuildOfTheCliLinksTheSimulator)
{
    const std::string production = CommandOutput("nm -C '" + CliPath() + "' 2>&1");
    ASSERT_NE(production.find("main"), std::string::npos) << production.substr(0, 200);
    EXPECT_EQ(production.find("TBoxModel"), std::string::npos);
    EXPECT_EQ(production.find("AddSimPortBackend"), std::string::npos);
    EXPECT_NE(CommandOutput("nm -C '" + SimCliPath() + "' 2>&1").find("AddSimPortBackend"), std::string::npos);
}

namespace {

// The folders of src/ and the folders each may include from (besides its own). The window reaches
// the link and the port layer through the application session; of the link it sees only what the
// session hands out: the abstract programmer, the hardware table's names and the port identities.
const std::map<std::string, std::set<std::string>> kMayInclude = {
    {"base", {}},
    {"store", {"base"}},
    {"devices", {"base"}},
    {"image", {"base", "store", "devices"}},
    {"lpt", {"base"}},
    {"link", {"base", "store", "devices", "image", "lpt"}},
    {"app", {"base", "store", "devices", "image", "lpt", "link"}},
    {"views", {"base", "devices", "image", "app"}},
    {"gui", {"base", "store", "devices", "image", "app", "views"}},
    {"cli", {"base", "store", "devices", "image", "lpt", "link", "app"}},
    {"sim", {"base", "devices", "image", "lpt", "link"}},
};

const std::map<std::string, std::set<std::string>> kAlsoMayInclude = {
    {"gui", {"link/programmer.h", "link/hardware.h", "link/portidentity.h"}},
};

bool Allowed(const std::string& folder, const std::string& header)
{
    const auto also = kAlsoMayInclude.find(folder);
    return also != kAlsoMayInclude.end() && also->second.count(header) != 0;
}

// The header of an #include "..." line, or empty for any other line.
std::string QuotedInclude(const std::string& line)
{
    size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line[at] != '#') return {};
    at = line.find_first_not_of(" \t", at + 1);
    if (at == std::string::npos || line.compare(at, 7, "include") != 0) return {};
    const size_t open = line.find('"', at + 7);
    const size_t close = open == std::string::npos ? open : line.find('"', open + 1);
    if (close == std::string::npos || line.find_first_not_of(" \t", at + 7) != open) return {};
    return line.substr(open + 1, close - open - 1);
}

}  // namespace

TEST(Layering, IncludesPointDownTheLayers)
{
    namespace fs = std::filesystem;
    const fs::path src = fs::path(ZEMPRIX_SOURCE_DIR) / "src";
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        const fs::path path = entry.path();
        if (!entry.is_regular_file() || (path.extension() != ".h" && path.extension() != ".cpp")) continue;
        const std::string folder = path.lexically_relative(src).begin()->string();
        const auto rule = kMayInclude.find(folder);
        ASSERT_NE(rule, kMayInclude.end()) << "a folder the layering does not know: " << folder;
        ++files;
        // The simulator's build of the command line is the one program made of both.
        const bool simCli = folder == "sim" && path.filename() == "clisim_main.cpp";
        std::ifstream in(path);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            const std::string header = QuotedInclude(line);
            const size_t slash = header.find('/');
            if (slash == std::string::npos) continue;
            const std::string target = header.substr(0, slash);
            if (target == folder || rule->second.count(target) || Allowed(folder, header) || (simCli && target == "cli"))
                continue;
            ADD_FAILURE() << path.lexically_relative(src).string() << ":" << number << " includes from " << target
                          << "/, which " << folder << "/ may not use";
        }
    }
    EXPECT_GT(files, 100);
}
