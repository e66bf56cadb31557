#pragma once
// Port discovery from the operating system's device configuration: for "LPT" + n, the I/O
// ranges, IRQ and DMA channel of that port. It never touches the port hardware. The source of
// the configuration is injectable: /proc/sys/dev/parport on Linux, a fake in tests, a registry
// walker on Windows (which feeds the two resource-record parsers below).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TIoRange {
    uint16_t First = 0;
    uint16_t Last = 0;
};

// What one configuration record says about a port. Counts say how many resources of a kind
// were seen; the value is the last one seen.
struct TLptResources {
    std::vector<TIoRange> Ranges;
    uint8_t IrqCount = 0;
    uint8_t Irq = 0;
    uint8_t DmaCount = 0;
    uint8_t DmaChannel = 0;
};

class ILptConfigSource {
public:
    virtual ~ILptConfigSource() = default;
    // Resources of the first device matching `searchName` ("LPT1"...), or false when none.
    virtual bool Find(const std::string& searchName, TLptResources& out) = 0;
};

// Linux: /proc/sys/dev/parport/parport<n-1>/{base-addr,irq,dma}. `root` is for tests.
std::unique_ptr<ILptConfigSource> CreateProcParportSource(const std::string& root = "/proc/sys/dev/parport");
// The platform's source.
std::unique_ptr<ILptConfigSource> CreateDefaultLptConfigSource();

// One parport of the Linux configuration: number N of /dev/parportN and its base address.
struct TProcParport {
    int Number = 0;
    uint16_t Base = 0;
    uint16_t BaseHi = 0;
    int Irq = -1;
    int Dma = -1;
};
std::vector<TProcParport> ReadProcParports(const std::string& root = "/proc/sys/dev/parport");

// The device matching test: class "Ports" (also "Port" on the older platform), compared
// upper-cased, and a description that contains the search name.
bool MatchesPortDevice(const std::string& deviceClass, const std::string& description,
                       const std::string& searchName, bool olderPlatform);

// Resource-record layouts of the two Windows families, parsed from raw value data. Both stop at
// the end of the buffer instead of reading past it; false when the record was cut short.
bool ParseNtResourceList(const uint8_t* data, size_t size, TLptResources& out);
bool Parse9xAllocation(const uint8_t* data, size_t size, TLptResources& out);

class TFindLpt {
public:
    explicit TFindLpt(std::unique_ptr<ILptConfigSource> source = nullptr);

    // Searches for "LPT" + n; true when a matching device with resources was found.
    bool FindPort(int n);
    // Start of I/O range i (1-based) when 1 <= i <= range count, else FFFFh.
    uint16_t RangeStart(int i) const;
    uint16_t RangeEnd(int i) const;

    const std::string& SearchName() const { return searchName_; }
    uint16_t MatchCount() const { return matchCount_; }
    uint8_t IrqCount() const { return irqCount_; }
    uint8_t Irq() const { return irq_; }
    uint8_t DmaCount() const { return dmaCount_; }
    uint8_t DmaChannel() const { return dmaChannel_; }
    uint8_t RangeCount() const { return rangeCount_; }

private:
    std::unique_ptr<ILptConfigSource> source_;
    std::string searchName_;
    uint16_t matchCount_ = 0;
    uint8_t irqCount_ = 0;
    uint8_t irq_ = 0;
    uint8_t dmaCount_ = 0;
    uint8_t dmaChannel_ = 0;
    uint8_t rangeCount_ = 0;
    uint16_t rangeStart_[2] = {0, 0};
    uint16_t rangeEnd_[2] = {0, 0};
};
