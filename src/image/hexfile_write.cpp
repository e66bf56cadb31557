// Hex file writing: the image as Intel, Motorola, Tektronix or Atmel generic text.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "image/hexfile.h"
#include "image/hexlist.h"
#include "image/hextext.h"

namespace {

constexpr const char* kEol = "\r\n";
constexpr uint64_t kBlockSize = 16;

// Reads the image with addresses past its end counted as blank: TopAddress rounds up to a
// 16-byte block, which an image of odd size does not fill.
class TImageReader {
public:
    explicit TImageReader(const THexList& image) : values_(image.Values()) {}
    uint8_t At(uint64_t address) const { return address < values_.size() ? values_[address] : THexList::kBlank; }
    uint64_t End(const THexList& image) const { return static_cast<uint64_t>(image.TopAddress() + 1); }

private:
    const std::vector<uint8_t>& values_;
};

// The used part of one 16-byte block: from its start up to its last non-FF byte.
struct TBlock {
    uint64_t address;
    std::vector<uint8_t> data;
};

// Calls emit for every block of the range 0 .. TopAddress that is not all FF, in ascending order.
template <typename Emit>
void ForEachBlock(const THexList& image, Emit emit)
{
    const TImageReader reader(image);
    const uint64_t end = reader.End(image);
    TBlock block;
    for (uint64_t start = 0; start < end; start += kBlockSize) {
        size_t used = 0;
        for (size_t i = 0; i < kBlockSize; ++i)
            if (reader.At(start + i) != THexList::kBlank) used = i + 1;
        if (used == 0) continue;
        block.address = start;
        block.data.assign(used, 0);
        for (size_t i = 0; i < used; ++i) block.data[i] = reader.At(start + i);
        emit(block);
    }
}

void CheckFits(uint64_t address, uint64_t limit, const char* format)
{
    if (address > limit)
        throw EFileLoader(std::string("Address ") + hex::Hex(address, 8) + " does not fit a " + format + " record");
}

std::string IntelRecord(unsigned type, unsigned address, const std::vector<uint8_t>& data)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::string line = ":" + hex::Hex2(static_cast<unsigned>(data.size())) + hex::Hex4(address) + hex::Hex2(type);
    for (uint8_t b : data) {
        line += hex::Hex2(b);
        sum += b;
    }
    return line + hex::Hex2((0x100 - (sum & 0xFF)) & 0xFF) + kEol;
}

std::string WriteIntel(const THexList& image)
{
    auto upperRecord = [](uint64_t upper) {
        return IntelRecord(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
    };
    std::string out;
    if (image.TopAddress() > 0xFFFF) out += upperRecord(0);
    uint64_t current = 0;
    ForEachBlock(image, [&](const TBlock& block) {
        CheckFits(block.address, 0xFFFFFFFF, "Intel");
        const uint64_t upper = block.address >> 16;
        if (upper <= 3) {
            // Below 40000h each step up to the block's segment gets its own record, which is
            // the established output of this writer.
            while (current < upper) out += upperRecord(++current);
        } else if (upper != current) {
            out += upperRecord(upper);
            current = upper;
        }
        out += IntelRecord(0x00, static_cast<unsigned>(block.address & 0xFFFF), block.data);
    });
    return out + ":00000001FF" + kEol;
}

std::string WriteMotorola(const THexList& image)
{
    std::string out;
    int addressBytes = 2;
    ForEachBlock(image, [&](const TBlock& block) {
        CheckFits(block.address, 0xFFFFFFFF, "Motorola");
        if (block.address >= 0x10000 && addressBytes < 3) addressBytes = 3;
        if (block.address >= 0x1000000) addressBytes = 4;
        const unsigned count = static_cast<unsigned>(block.data.size()) + static_cast<unsigned>(addressBytes) + 1;
        unsigned sum = count;
        std::string line = "S" + std::to_string(addressBytes - 1) + hex::Hex2(count) +
                           hex::Hex(block.address, 2 * addressBytes);
        for (int i = 0; i < addressBytes; ++i) sum += static_cast<unsigned>(block.address >> (8 * i)) & 0xFF;
        for (uint8_t b : block.data) {
            line += hex::Hex2(b);
            sum += b;
        }
        out += line + hex::Hex2(~sum & 0xFF) + kEol;
    });
    return out + "S9030000FC" + kEol;
}

unsigned DigitSum(const std::string& digits)
{
    unsigned sum = 0;
    for (char c : digits) sum += static_cast<unsigned>(hex::DigitValue(c));
    return sum & 0xFF;
}

std::string WriteExtTektronix(const THexList& image)
{
    std::string out;
    ForEachBlock(image, [&](const TBlock& block) {
        // Five address digits, or as many as a wider address needs (the record says how many).
        const std::string address = hex::Hex(block.address, 5);
        std::string data;
        for (uint8_t b : block.data) data += hex::Hex2(b);
        const std::string length = hex::Hex2(static_cast<unsigned>(data.size() + 6 + address.size()));
        const std::string tail = hex::Hex(address.size(), 1) + address + data;
        const unsigned sum = (DigitSum(length) + 6 + DigitSum(tail)) & 0xFF;
        out += "%" + length + "6" + hex::Hex2(sum) + tail + kEol;
    });
    return out + "%0E81E800000000" + kEol;
}

std::string WriteTektronix(const THexList& image)
{
    std::string out;
    ForEachBlock(image, [&](const TBlock& block) {
        CheckFits(block.address, 0xFFFF, "Tektronix");
        const std::string header = hex::Hex4(static_cast<unsigned>(block.address)) +
                                   hex::Hex2(static_cast<unsigned>(block.data.size()));
        std::string data;
        for (uint8_t b : block.data) data += hex::Hex2(b);
        out += "/" + header + hex::Hex2(DigitSum(header)) + data + hex::Hex2(DigitSum(data)) + kEol;
    });
    return out + "/00000000" + kEol;
}

std::string WriteAtmelWords(const THexList& image)
{
    std::string out;
    const TImageReader reader(image);
    const uint64_t end = reader.End(image);
    for (uint64_t w = 0; 2 * w < end; ++w) {
        const uint8_t lo = reader.At(2 * w);
        const uint8_t hi = reader.At(2 * w + 1);
        if (lo == THexList::kBlank && hi == THexList::kBlank) continue;
        CheckFits(w, 0xFFFFFF, "Atmel word");
        out += hex::Hex(w, 6) + ":" + hex::Hex2(hi) + hex::Hex2(lo) + kEol;
    }
    return out;
}

std::string WriteAtmelBytes(const THexList& image)
{
    std::string out;
    const TImageReader reader(image);
    const uint64_t end = reader.End(image);
    for (uint64_t a = 0; a < end; ++a) {
        const uint8_t value = reader.At(a);
        if (value == THexList::kBlank) continue;
        CheckFits(a, 0xFFFF, "Atmel byte");
        out += hex::Hex4(static_cast<unsigned>(a)) + ":" + hex::Hex2(value) + kEol;
    }
    return out;
}

}  // namespace

std::string TFileLoader::SaveText(const THexList& image, int formatId)
{
    switch (formatId) {
    case ff_IntelIntellex:
    case ff_IntelMCS86:
    case ff_IntelHex32:
        return WriteIntel(image);
    case ff_MotorolaExorciser:
    case ff_MotorolaExormacs:
    case ff_Motorola32:
        return WriteMotorola(image);
    case ff_ExtTektronix:
        return WriteExtTektronix(image);
    case ff_Tektronix:
        return WriteTektronix(image);
    case ff_Atmel16:
        return WriteAtmelWords(image);
    case ff_Atmel8:
        return WriteAtmelBytes(image);
    default:
        return {};
    }
}

namespace {

// A name beside the target that no other save in this process uses at the same time.
std::filesystem::path TemporaryBeside(const std::filesystem::path& target)
{
    static std::atomic<unsigned> counter{0};
    const auto stamp = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::filesystem::path tmp = target;
    tmp += ".~" + hex::Hex(stamp & 0xFFFFFFFF, 8) + hex::Hex(counter++, 4);
    return tmp;
}

void WriteInPlace(const std::filesystem::path& target, const std::string& fileName, const std::string& text)
{
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) throw EFileLoader("Cannot open for writing: " + fileName);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) throw EFileLoader("Cannot write: " + fileName);
}

// Writes the whole text to a temporary file and renames it over the target, so a save that
// fails on the way leaves any earlier file as it was.
void ReplaceFile(const std::string& fileName, const std::string& text)
{
    std::filesystem::path target(fileName);
    std::error_code ec;
    const auto given = std::filesystem::status(target, ec);
    if (std::filesystem::is_directory(given)) throw EFileLoader("Cannot save over a folder: " + fileName);
    // A pipe or a device (standard output, a terminal) is written into: renaming a file over it
    // would destroy it instead.
    if (std::filesystem::exists(given) && !std::filesystem::is_regular_file(given)) {
        WriteInPlace(target, fileName, text);
        return;
    }
    // A file the user may not write stays as it is, as it would when written in place.
    if (std::filesystem::exists(given) && !std::ofstream(target, std::ios::binary | std::ios::app))
        throw EFileLoader("File cannot be written: " + fileName);
    if (std::filesystem::is_symlink(target, ec)) target = std::filesystem::weakly_canonical(target);
    const std::filesystem::path tmp = TemporaryBeside(target);
    try {
        {
            std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
            if (!out) throw EFileLoader("Cannot create file beside " + fileName);
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            out.close();
            if (!out) throw EFileLoader("Cannot write file beside " + fileName);
        }
        // The new file takes the place of the old one, so it keeps the old one's permissions.
        const auto previous = std::filesystem::status(target, ec);
        if (!ec && std::filesystem::exists(previous)) std::filesystem::permissions(tmp, previous.permissions(), ec);
        std::filesystem::rename(tmp, target);
    } catch (...) {
        std::filesystem::remove(tmp, ec);
        throw;
    }
}

}  // namespace

int TFileLoader::SaveFile(const std::string& fileName, const THexList& image, int formatId)
{
    try {
        ReplaceFile(fileName, SaveText(image, formatId));
        return 0;
    } catch (...) {
        return 1;
    }
}
