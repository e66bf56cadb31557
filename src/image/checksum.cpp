// CRC-16 (ARC), the register-style CRC-16 CCITT, CRC-32 and the two rotate-and-XOR sums.
#include "image/checksum.h"

#include <array>

#include "base/hextext.h"

namespace {

using Table16 = std::array<uint16_t, 256>;
using Table32 = std::array<uint32_t, 256>;

Table16 MakeReflected16(uint16_t poly)
{
    Table16 t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t v = static_cast<uint16_t>(i);
        for (int k = 0; k < 8; ++k) v = static_cast<uint16_t>((v & 1) ? (v >> 1) ^ poly : v >> 1);
        t[i] = v;
    }
    return t;
}

Table16 MakeForward16(uint16_t poly)
{
    Table16 t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t v = static_cast<uint16_t>(i << 8);
        for (int k = 0; k < 8; ++k) v = static_cast<uint16_t>((v & 0x8000) ? (v << 1) ^ poly : v << 1);
        t[i] = v;
    }
    return t;
}

Table32 MakeReflected32(uint32_t poly)
{
    Table32 t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint32_t v = i;
        for (int k = 0; k < 8; ++k) v = (v & 1) ? (v >> 1) ^ poly : v >> 1;
        t[i] = v;
    }
    return t;
}

std::vector<uint8_t> Digest16(uint16_t s) { return {static_cast<uint8_t>(s), static_cast<uint8_t>(s >> 8)}; }
std::vector<uint8_t> Digest32(uint32_t s)
{
    return {static_cast<uint8_t>(s), static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s >> 16), static_cast<uint8_t>(s >> 24)};
}

uint16_t Rotl16(uint16_t v, int n) { return static_cast<uint16_t>((v << n) | (v >> (16 - n))); }
uint32_t Rotl32(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

class TCrc16Standard final : public TChecksum {
public:
    std::string Name() const override { return "CRC-16 Standard"; }
    void Begin() override { s_ = 0; }
    void Add(const uint8_t* data, size_t length) override
    {
        static const Table16 table = MakeReflected16(0xA001);
        for (size_t i = 0; i < length; ++i) s_ = static_cast<uint16_t>((s_ >> 8) ^ table[(s_ ^ data[i]) & 0xFF]);
    }
    std::vector<uint8_t> Finish() override { return Digest16(s_); }

private:
    uint16_t s_ = 0;
};

// Feeds each byte in at the low end and the byte shifted out at the top through the table,
// without the trailing zero bytes of the textbook form; hence not the usual CCITT value.
class TCrc16Ccitt final : public TChecksum {
public:
    std::string Name() const override { return "CRC-16 CCITT"; }
    void Begin() override { s_ = 0xFFFF; }
    void Add(const uint8_t* data, size_t length) override
    {
        static const Table16 table = MakeForward16(0x1021);
        for (size_t i = 0; i < length; ++i) {
            const unsigned out = s_ >> 8;
            s_ = static_cast<uint16_t>(((s_ << 8) & 0xFFFF) | data[i]);
            s_ = static_cast<uint16_t>(s_ ^ table[out]);
        }
    }
    std::vector<uint8_t> Finish() override { return Digest16(s_); }

private:
    uint16_t s_ = 0xFFFF;
};

class TCrc32 final : public TChecksum {
public:
    std::string Name() const override { return "CRC-32"; }
    void Begin() override { s_ = 0xFFFFFFFF; }
    void Add(const uint8_t* data, size_t length) override
    {
        static const Table32 table = MakeReflected32(0xEDB88320);
        for (size_t i = 0; i < length; ++i) s_ = (s_ >> 8) ^ table[(s_ ^ data[i]) & 0xFF];
    }
    std::vector<uint8_t> Finish() override { return Digest32(s_ ^ 0xFFFFFFFF); }

private:
    uint32_t s_ = 0xFFFFFFFF;
};

class TXor16 final : public TChecksum {
public:
    std::string Name() const override { return "XOR-16"; }
    void Begin() override { s_ = 0; }
    void Add(const uint8_t* data, size_t length) override
    {
        for (size_t i = 0; i < length; ++i) s_ = static_cast<uint16_t>(Rotl16(s_, 5) ^ data[i]);
    }
    std::vector<uint8_t> Finish() override { return Digest16(s_); }

private:
    uint16_t s_ = 0;
};

class TXor32 final : public TChecksum {
public:
    std::string Name() const override { return "XOR-32"; }
    void Begin() override { s_ = 0; }
    void Add(const uint8_t* data, size_t length) override
    {
        if (length == 0) return;
        size_t i = 0;
        if (length % 2 != 0) {
            // An odd buffer first folds in its first word unrotated and then restarts at byte 1,
            // so byte 1 counts twice. A one-byte buffer has no second byte: its word is the
            // byte alone (high byte 0) rather than whatever lies past the buffer.
            const uint32_t high = length > 1 ? data[1] : 0;
            s_ ^= data[0] | (high << 8);
            i = 1;
        }
        for (size_t n = length / 2; n > 0; --n, i += 2) s_ = Rotl32(s_, 5) ^ (data[i] | (uint32_t{data[i + 1]} << 8));
    }
    std::vector<uint8_t> Finish() override { return Digest32(s_); }

private:
    uint32_t s_ = 0;
};

}  // namespace

std::vector<uint8_t> TChecksum::Compute(const uint8_t* data, size_t length)
{
    Begin();
    Add(data, length);
    return Finish();
}

const std::vector<std::string>& ChecksumNames()
{
    static const std::vector<std::string> names = {"CRC-16 Standard", "CRC-16 CCITT", "CRC-32", "XOR-16", "XOR-32"};
    return names;
}

std::unique_ptr<TChecksum> ChecksumByName(const std::string& name)
{
    std::unique_ptr<TChecksum> c;
    if (name == "CRC-16 Standard") c = std::make_unique<TCrc16Standard>();
    else if (name == "CRC-16 CCITT") c = std::make_unique<TCrc16Ccitt>();
    else if (name == "CRC-32") c = std::make_unique<TCrc32>();
    else if (name == "XOR-16") c = std::make_unique<TXor16>();
    else if (name == "XOR-32") c = std::make_unique<TXor32>();
    return c;
}

std::string DigestText(const std::vector<uint8_t>& digest)
{
    std::string text;
    for (auto it = digest.rbegin(); it != digest.rend(); ++it) text += hex::Hex2(*it);
    return text;
}
