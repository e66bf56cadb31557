// Settings read through the persistent backend from arbitrary INI text: whatever the file
// holds, Load, the value conversions and Save must neither crash nor raise anything but the
// system's own exceptions.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "store/qsettingsbackend.h"
#include "store/settings.h"
#include "base/isperrors.h"

namespace {

std::string Directory()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/zemprix_settings_fuzzXXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made) std::abort();
        return std::string(made);
    }();
    return dir;
}

void Exercise(TISPSettings& store, const std::string& key, uint8_t group, bool iniFile)
{
    try {
        store.Load(key, group, iniFile);
        for (const TSetting& s : store.Settings()) {
            const TSettingValue v = store.Get(s.Section, s.Ident, TSettingValue());
            (void)v.AsString();
            (void)v.AsInteger(7);
            (void)v.AsBoolean(true);
        }
        (void)store.Get("ZEMPRIX (LPT)", "BASEPORT", 0).AsInteger();
        store.Save(key, group, iniFile);
    } catch (const Exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string dir = Directory();
    TQSettingsBackend backend(dir);
    const std::string native = backend.Location();
    const std::string ini = dir + "/project.ini";
    std::filesystem::create_directories(std::filesystem::path(native).parent_path());
    for (const std::string& path : {native, ini}) {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    TISPSettings store(&backend);
    Exercise(store, TISPSettings::kGlobalKey, kGlobalGroup, false);
    Exercise(store, std::string(TISPSettings::kProjectsKey) + "\\fuzz", kProjectGroup, false);
    Exercise(store, ini, kProjectGroup, true);
    try {
        for (const std::string& k : backend.SubKeys(TISPSettings::kProjectsKey)) (void)k;
    } catch (const Exception&) {
    }
    return 0;
}
