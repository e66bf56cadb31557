// Hex file timings: load and save of a full 32 KB image in each format, the load of a 1 MiB
// Intel file against srec_cat converting the same file to binary, in the same run, and the time
// and peak memory of loading 64 MiB files of hostile content.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "image/hexfile.h"
#include "image/hexlist.h"

namespace fs = std::filesystem;

namespace {

// Best of `runs` wall-clock times in milliseconds: the least disturbed by the machine's other work.
double BestMs(int runs, const std::function<void()>& work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

THexList RandomImage(uint32_t size)
{
    std::mt19937 rng(42);
    THexList image;
    image.SetSize(size);
    for (uint32_t a = 0; a < size; ++a) image.SetValue(a, static_cast<uint8_t>(rng() % 255));  // no FF: every record full
    return image;
}

// Loads `file` in a child process and reports the wall-clock seconds and the child's peak
// resident memory in MiB, so that each case is measured alone. False when the load failed.
bool MeasureLoad(const std::string& file, double& seconds, double& peakMiB)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        int code = 0;
        try {
            THexList image;
            image.SetSize(0x8000);
            TFileLoader::LoadFile(file, image);
        } catch (...) {
            code = 1;
        }
        _exit(code);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return false;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    seconds = took.count();
    peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// `unit` repeated as often as it fits into `size` bytes.
std::string Repeated(const std::string& unit, size_t size)
{
    std::string text;
    text.reserve(size);
    while (text.size() + unit.size() <= size) text += unit;
    return text;
}

void WriteFile(const std::string& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

int main()
{
    const fs::path dir = fs::temp_directory_path() / "zemprix-hexfile-bench";
    fs::create_directories(dir);
    int failures = 0;

    std::printf("Full 32 KB image (no blank bytes), best of 20 runs\n");
    std::printf("%-26s %10s %10s %10s\n", "format", "save ms", "load ms", "file KB");
    const THexList image = RandomImage(0x8000);
    for (int id : {1, 4, 7, 8, 9, 10}) {
        const std::string file = (dir / ("image." + std::to_string(id))).string();
        const double save = BestMs(20, [&] { failures += TFileLoader::SaveFile(file, image, id); });
        THexList back;
        back.SetSize(0x8000);
        const double load = BestMs(20, [&] { failures += TFileLoader::LoadFile(file, back) != 0; });
        if (back.Values() != image.Values()) ++failures;
        std::printf("%-26s %10.3f %10.3f %10.1f\n", TFileLoader::FormatName(id).c_str(), save, load,
                    static_cast<double>(fs::file_size(file)) / 1024.0);
    }

    // 1 MiB of Intel text: 16 data bytes make a 45-byte line, so about 364 KB of data.
    const uint32_t bigSize = 0x5B000;
    const THexList big = RandomImage(bigSize);
    const std::string hexFile = (dir / "big.hex").string();
    const std::string binFile = (dir / "big.bin").string();
    failures += TFileLoader::SaveFile(hexFile, big, 1);
    THexList loaded;
    loaded.SetSize(bigSize);
    const double ours = BestMs(10, [&] { failures += TFileLoader::LoadFile(hexFile, loaded) != 0; });
    if (loaded.Values() != big.Values()) ++failures;
    const std::string command = "srec_cat '" + hexFile + "' -intel -o '" + binFile + "' -binary > /dev/null 2>&1";
    int srecStatus = 0;
    const double theirs = BestMs(10, [&] { srecStatus |= std::system(command.c_str()); });
    // srec_cat's own start-up, to see how much of its time is the conversion.
    const std::string tinyFile = (dir / "tiny.hex").string();
    failures += TFileLoader::SaveFile(tinyFile, RandomImage(16), 1);
    const std::string tinyCommand = "srec_cat '" + tinyFile + "' -intel -o '" + binFile + "' -binary > /dev/null 2>&1";
    const double startup = BestMs(10, [&] { srecStatus |= std::system(tinyCommand.c_str()); });
    std::printf("\n1 MiB Intel file (%.2f MiB, %u data bytes), best of 10 runs\n",
                static_cast<double>(fs::file_size(hexFile)) / (1024.0 * 1024.0), bigSize);
    std::printf("  LoadFile:                 %8.2f ms\n", ours);
    if (srecStatus != 0) {
        std::printf("  srec_cat to binary:       not available (status %d)\n", srecStatus);
    } else {
        std::printf("  srec_cat to binary:       %8.2f ms (includes starting the process)\n", theirs);
        std::printf("  ratio LoadFile/srec_cat:  %8.2f\n", ours / theirs);
        std::printf("  srec_cat on a 16-byte file: %6.2f ms; ratio without it: %.2f\n", startup,
                    theirs > startup ? ours / (theirs - startup) : 0.0);
    }

    // Files at the size limit that a careless reader turns into gigabytes of line objects. Each
    // is made, written and freed before its child starts: a child counts the parent's resident
    // pages in its peak.
    std::printf("\n64 MiB hostile files, LoadFile in a child process, one run each\n");
    std::printf("%-34s %10s %14s\n", "content", "seconds", "peak RSS MiB");
    const std::pair<const char*, std::string> cases[] = {
        {"newlines", "\n"},
        {"carriage returns", "\r"},
        {"CR LF pairs", "\r\n"},
        {"one line, no newline (Intel mark)", ""},
        {"NUL bytes", std::string(1, '\0')},
        {"'0000:00' Atmel lines", "0000:00\n"},
        {"Intel records at address 0", ":10000000" + std::string(32, '0') + "F0\n"},
    };
    const std::string file = (dir / "hostile.txt").string();
    for (const auto& [name, unit] : cases) {
        WriteFile(file, unit.empty() ? ":" + std::string(TFileLoader::kMaxFileSize - 1, '0')
                                     : Repeated(unit, TFileLoader::kMaxFileSize));
        double seconds = 0;
        double peak = 0;
        if (!MeasureLoad(file, seconds, peak)) ++failures;
        std::printf("%-34s %10.2f %14.1f\n", name, seconds, peak);
    }

    fs::remove_all(dir);
    if (failures != 0) std::printf("\n%d FAILURES (a save, a load or a comparison)\n", failures);
    return failures == 0 ? 0 : 1;
}
