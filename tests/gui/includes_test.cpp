// The window and its dialogs reach the links only through the application layer: a widget that
// includes the port unit or the link values could change them behind the session's back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

TEST(GuiIncludes, OnlyTheApplicationLayerAndTheModelsBelowIt)
{
    const std::set<std::string> layers = {"app", "views", "devices", "image", "store", "base", "gui"};
    // What the window still takes from the links directly.
    const std::set<std::string> allowed = {"link/programmer.h", "link/hardware.h", "link/portidentity.h"};
    const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(ZEMPRIX_SOURCE_DIR) + "/src/gui")) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".h" && ext != ".cpp") continue;
        ++files;
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            std::smatch m;
            if (!std::regex_search(line, m, include)) continue;
            const std::string path = m[1];
            const size_t slash = path.find('/');
            const std::string layer = slash == std::string::npos ? std::string() : path.substr(0, slash);
            EXPECT_TRUE(layers.count(layer) || allowed.count(path))
                << entry.path().filename().string() << " includes " << path;
        }
    }
    EXPECT_GT(files, 10);
}
