// The headless programs must run where no display library is installed: neither may link Qt
// Widgets or Qt Gui, whatever the desktop application links.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "e2e_support.h"

namespace {

std::string Output(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

}  // namespace

TEST(Layering, HeadlessProgramsLinkNoWidgetsOrGui)
{
    for (const std::string& exe : {CliPath(), BoxsimPath()}) {
        const std::string libs = Output("ldd '" + exe + "' 2>&1");
        ASSERT_NE(libs.find("libc.so"), std::string::npos) << exe << "\n" << libs;
        EXPECT_EQ(libs.find("libQt6Widgets"), std::string::npos) << exe;
        EXPECT_EQ(libs.find("libQt6Gui"), std::string::npos) << exe;
    }
}


// The production CLI carries no simulator: a simulated port cannot be picked by accident on a
// production line. The simulator's build of it does.
TEST(Layering, OnlyTheSimulatorsBuildOfTheCliLinksTheSimulator)
{
    const std::string production = Output("nm -C '" + CliPath() + "' 2>&1");
    ASSERT_NE(production.find("main"), std::string::npos) << production.substr(0, 200);
    EXPECT_EQ(production.find("TBoxModel"), std::string::npos);
    EXPECT_EQ(production.find("AddSimPortBackend"), std::string::npos);
    EXPECT_NE(Output("nm -C '" + SimCliPath() + "' 2>&1").find("AddSimPortBackend"), std::string::npos);
}
