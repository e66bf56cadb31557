// Settings store timings: save and load of a global group of 10 k to 140 k keys through the INI
// backend, to show that both stay linear in the number of keys. 140 k keys come near the largest
// file the store reads (4 MB); more would be refused as too large.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include "store/qsettingsbackend.h"
#include "store/settings.h"

namespace {

double MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    std::printf("%-10s %12s %12s %14s\n", "keys", "save ms", "load ms", "load+save/key");
    for (int keys : {10'000, 40'000, 80'000, 140'000}) {
        QTemporaryDir dir;
        TQSettingsBackend backend(dir.path().toStdString());
        TISPSettings store(&backend);
        // 100 idents per section, as a store with many hardware sections would hold them.
        for (int i = 0; i < keys; ++i)
            store.Put("SECTION" + std::to_string(i / 100), "IDENT" + std::to_string(i % 100), kGlobalGroup, i);
        try {
            auto start = std::chrono::steady_clock::now();
            store.Save(TISPSettings::kGlobalKey, kGlobalGroup);
            const double save = MsSince(start);
            TISPSettings again(&backend);
            start = std::chrono::steady_clock::now();
            again.Load(TISPSettings::kGlobalKey, kGlobalGroup);
            const double load = MsSince(start);
            std::printf("%-10d %12.1f %12.1f %12.2f us\n", keys, save, load, 1000.0 * (save + load) / keys);
        } catch (const std::exception& e) {
            std::printf("%-10d %s\n", keys, e.what());
            return 1;
        }
    }
    return 0;
}
