#include "lpt/findlpt.h"

#include <fstream>
#include <sstream>

#include "base/hextext.h"

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void KeepRange(TLptResources& out, uint16_t first, uint16_t last) { out.Ranges.push_back({first, last}); }

class TProcParportSource final : public ILptConfigSource {
public:
    explicit TProcParportSource(std::string root) : root_(std::move(root)) {}

    bool Find(const std::string& searchName, TLptResources& out) override
    {
        // Linux numbers its ports from 0: LPT1 is parport0.
        if (searchName.size() < 4 || searchName.compare(0, 3, "LPT") != 0) return false;
        int n = 0;
        for (size_t i = 3; i < searchName.size(); ++i) {
            if (searchName[i] < '0' || searchName[i] > '9') return false;
            n = n * 10 + (searchName[i] - '0');
        }
        for (const TProcParport& p : ReadProcParports(root_)) {
            if (p.Number != n - 1 || p.Base == 0) continue;
            out = TLptResources();
            KeepRange(out, p.Base, static_cast<uint16_t>(p.Base + 7));
            if (p.BaseHi != 0) KeepRange(out, p.BaseHi, static_cast<uint16_t>(p.BaseHi + 2));
            if (p.Irq >= 0) {
                out.IrqCount = 1;
                out.Irq = static_cast<uint8_t>(p.Irq);
            }
            if (p.Dma >= 0) {
                out.DmaCount = 1;
                out.DmaChannel = static_cast<uint8_t>(p.Dma);
            }
            return true;
        }
        return false;
    }

private:
    std::string root_;
};

bool ReadInts(const std::string& path, std::vector<long>& values)
{
    std::ifstream in(path);
    if (!in) return false;
    long v;
    while (in >> v) values.push_back(v);
    return !values.empty();
}

}  // namespace

std::vector<TProcParport> ReadProcParports(const std::string& root)
{
    std::vector<TProcParport> ports;
    // parport numbers are small and dense in practice; 16 covers every machine we know of.
    for (int n = 0; n < 16; ++n) {
        const std::string dir = root + "/parport" + std::to_string(n);
        std::vector<long> base;
        if (!ReadInts(dir + "/base-addr", base)) continue;
        TProcParport p;
        p.Number = n;
        if (base[0] > 0 && base[0] <= 0xFFFF) p.Base = static_cast<uint16_t>(base[0]);
        if (base.size() > 1 && base[1] > 0 && base[1] <= 0xFFFF) p.BaseHi = static_cast<uint16_t>(base[1]);
        std::vector<long> irq, dma;
        if (ReadInts(dir + "/irq", irq) && irq[0] >= 0 && irq[0] < 256) p.Irq = static_cast<int>(irq[0]);
        if (ReadInts(dir + "/dma", dma) && dma[0] >= 0 && dma[0] < 256) p.Dma = static_cast<int>(dma[0]);
        ports.push_back(p);
    }
    return ports;
}

std::unique_ptr<ILptConfigSource> CreateProcParportSource(const std::string& root)
{
    return std::make_unique<TProcParportSource>(root);
}

std::unique_ptr<ILptConfigSource> CreateDefaultLptConfigSource() { return CreateProcParportSource(); }

bool MatchesPortDevice(const std::string& deviceClass, const std::string& description,
                       const std::string& searchName, bool olderPlatform)
{
    const std::string cls = hex::ToUpper(deviceClass);
    const bool classOk = cls == "PORTS" || (olderPlatform && cls == "PORT");
    return classOk && description.find(searchName) != std::string::npos;
}

bool ParseNtResourceList(const uint8_t* data, size_t size, TLptResources& out)
{
    constexpr size_t kFullHeader = 4 + 4 + 2 + 2 + 4;
    constexpr size_t kPartial = 16;
    if (size < 4) return false;
    const uint32_t fullCount = Le32(data);
    size_t pos = 4;
    for (uint32_t f = 0; f < fullCount; ++f) {
        if (size - pos < kFullHeader) return false;
        const uint32_t partialCount = Le32(data + pos + 12);
        pos += kFullHeader;
        for (uint32_t i = 0; i < partialCount; ++i) {
            if (size - pos < kPartial) return false;
            const uint8_t* d = data + pos + 4;
            switch (data[pos]) {
            case 1: {
                const uint16_t start = Le16(d);
                KeepRange(out, start, static_cast<uint16_t>(start + Le32(d + 8) - 1));
                break;
            }
            case 2:
                out.Irq = d[4];
                ++out.IrqCount;
                break;
            case 4:
                out.DmaChannel = d[0];
                ++out.DmaCount;
                break;
            default:
                break;
            }
            pos += kPartial;
        }
    }
    return true;
}

bool Parse9xAllocation(const uint8_t* data, size_t size, TLptResources& out)
{
    size_t pos = 8;
    while (pos < size && data[pos] != 0) {
        if (size - pos < 8) return false;
        const uint32_t length = Le32(data + pos);
        const uint32_t type = Le32(data + pos + 4);
        // A record must at least hold its own header, or the chain would never advance.
        if (length < 8 || length > size - pos) return false;
        const uint8_t* r = data + pos;
        if (type == 2 && length >= 16) {
            KeepRange(out, Le16(r + 12), Le16(r + 14));
        } else if (type == 3 && length >= 10) {
            out.DmaChannel = r[9];
            ++out.DmaCount;
        } else if (type == 4 && length >= 11) {
            out.Irq = r[10];
            ++out.IrqCount;
        }
        pos += length;
    }
    return true;
}

TFindLpt::TFindLpt(std::unique_ptr<ILptConfigSource> source)
    : source_(source ? std::move(source) : CreateDefaultLptConfigSource())
{
}

bool TFindLpt::FindPort(int n)
{
    searchName_ = "LPT" + std::to_string(n);
    matchCount_ = 0;
    irqCount_ = irq_ = dmaCount_ = dmaChannel_ = rangeCount_ = 0;
    TLptResources r;
    if (!source_->Find(searchName_, r)) return false;
    matchCount_ = 1;
    irqCount_ = r.IrqCount;
    irq_ = r.Irq;
    dmaCount_ = r.DmaCount;
    dmaChannel_ = r.DmaChannel;
    for (const TIoRange& range : r.Ranges) {
        if (rangeCount_ == 2) break;  // only the first two ranges are kept
        rangeStart_[rangeCount_] = range.First;
        rangeEnd_[rangeCount_] = range.Last;
        ++rangeCount_;
    }
    return true;
}

uint16_t TFindLpt::RangeStart(int i) const { return i >= 1 && i <= rangeCount_ ? rangeStart_[i - 1] : 0xFFFF; }
uint16_t TFindLpt::RangeEnd(int i) const { return i >= 1 && i <= rangeCount_ ? rangeEnd_[i - 1] : 0xFFFF; }
