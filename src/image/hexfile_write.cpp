// Hex file writing: the image as Intel, Motorola, Tektronix or Atmel generic text.
#include <cstdint>
#include <exception>
#include <string>

#include "image/hexfile.h"
#include "store/atomicfile.h"
#include "image/hexlist.h"
#include "base/hextext.h"

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

int TFileLoader::SaveFile(const std::string& fileName, const THexList& image, int formatId)
{
    std::string error;
    return SaveFile(fileName, image, formatId, error);
}

int TFileLoader::SaveFile(const std::string& fileName, const THexList& image, int formatId, std::string& error)
{
    try {
        SaveFileOrThrow(fileName, image, formatId);
        error.clear();
        return 0;
    } catch (const std::exception& e) {
        error = e.what();
        return 1;
    } catch (...) {
        error = "Could not save " + fileName;
        return 1;
    }
}

void TFileLoader::SaveFileOrThrow(const std::string& fileName, const THexList& image, int formatId)
{
    try {
        atomicfile::ReplaceContents(fileName, SaveText(image, formatId));
    } catch (const std::exception& e) {
        throw EFileLoader("Could not save " + fileName + ": " + e.what());
    }
}
