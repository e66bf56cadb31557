// A write-and-read-back of whatever the reader loads from arbitrary text: anything it loads
// must survive the writer unchanged. hexfile_load_fuzz covers the reader alone, faster.
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
    // The first byte picks the image size (the device sizes, an odd one, none) and the format
    // of the write-back.
    static const uint32_t kSizes[] = {0x800, 0x1000, 0x2000, 0x8000, 0x11, 0};
    static const int kFormats[] = {1, 4, 7, 8, 9, 10};
    const uint32_t imageSize = kSizes[data[0] % 6];
    const int writeFormat = kFormats[(data[0] / 6) % 6];
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

    const std::vector<std::string> lines = TFileLoader::SplitLines(text);
    const int format = TFileLoader::DetectFormat(std::string(), &lines);
    if (format < -2 || format > 10) std::abort();

    THexList image;
    image.SetSize(imageSize);
    const int result = TFileLoader::LoadLines(lines, image);
    if (result != 0 && result != -1) std::abort();
    if (result != 0) return 0;

    // Words cannot describe the last byte of an odd-sized image without a byte past its end.
    if (writeFormat == 9 && imageSize % 2 != 0) return 0;
    const std::string saved = TFileLoader::SaveText(image, writeFormat);
    THexList back;
    back.SetSize(imageSize);
    if (TFileLoader::LoadLines(TFileLoader::SplitLines(saved), back) != 0) std::abort();
    if (back.Values() != image.Values()) std::abort();
    return 0;
}
