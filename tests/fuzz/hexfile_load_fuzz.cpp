// Detection and loading of arbitrary text alone: the reader must never touch memory outside
// its lines or the image, and must answer only with its documented results.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/hexfile.h"
#include "image/hexlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    // The first byte picks the image size: the device sizes, an odd one, none.
    static const uint32_t kSizes[] = {0x800, 0x1000, 0x2000, 0x8000, 0x11, 0};
    const uint32_t imageSize = kSizes[data[0] % 6];
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

    const std::vector<std::string> lines = TFileLoader::SplitLines(text);
    const int format = TFileLoader::DetectFormat(std::string(), &lines);
    if (format < -2 || format > 10) std::abort();

    THexList image;
    image.SetSize(imageSize);
    const int result = TFileLoader::LoadLines(lines, image);
    if (result != 0 && result != -1) std::abort();

    // The checksum survey over the same text, for its format and for every other one: counts
    // within the lines, and never an exception out of a short or foreign record.
    const size_t lineCount = lines.size() + 1;
    for (int f = -2; f <= 11; ++f) {
        const TChecksumReport report = TFileLoader::CheckText(text, f);
        if (report.Wrong < 0 || static_cast<size_t>(report.Wrong) > lineCount) std::abort();
        if ((report.Wrong == 0) != (report.FirstLine == 0)) std::abort();
        if (static_cast<size_t>(report.FirstLine) > lineCount) std::abort();
    }
    return 0;
}
