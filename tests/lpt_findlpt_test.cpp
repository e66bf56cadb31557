#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "lpt/findlpt.h"
#include "lpt_fakeports.h"

namespace {

// Little-endian record builder.
struct Bytes {
    std::vector<uint8_t> b;
    Bytes& u8(uint8_t v) { b.push_back(v); return *this; }
    Bytes& u16(uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
    Bytes& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Bytes& zeros(size_t n) { b.insert(b.end(), n, 0); return *this; }
};

// A partial descriptor: type, share, flags, 12 data bytes.
Bytes& Port(Bytes& x, uint16_t start, uint32_t length) { return x.u8(1).u8(0).u16(0).u32(start).u32(0).u32(length); }
Bytes& Irq(Bytes& x, uint8_t vector) { return x.u8(2).u8(0).u16(0).u32(0).u8(vector).zeros(3).u32(0); }
Bytes& Dma(Bytes& x, uint8_t channel) { return x.u8(4).u8(0).u16(0).u8(channel).zeros(3).u32(0).u32(0); }
Bytes& Full(Bytes& x, uint32_t partials) { return x.u32(0).u32(0).u16(1).u16(1).u32(partials); }

// A Windows-style source: device records with class, description and raw resource bytes.
class RecordSource final : public ILptConfigSource {
public:
    struct Device {
        std::string cls, description;
        std::vector<uint8_t> resources;  // empty: no AllocConfig value
    };
    std::vector<Device> devices;
    bool Find(const std::string& name, TLptResources& out) override
    {
        for (const Device& d : devices) {
            if (!MatchesPortDevice(d.cls, d.description, name, false) || d.resources.empty()) continue;
            out = TLptResources();
            return ParseNtResourceList(d.resources.data(), d.resources.size(), out);
        }
        return false;
    }
};

}  // namespace

TEST(LptFind, EcpPortWithTwoRangesFromAnNtResourceList)
{
    Bytes x;
    x.u32(1);
    Full(x, 4);
    Port(x, 0x378, 8);
    Port(x, 0x778, 3);
    Irq(x, 7);
    Dma(x, 3);
    auto source = std::make_unique<RecordSource>();
    source->devices.push_back({"Ports", "Communications Port (COM1)", x.b});
    source->devices.push_back({"Ports", "ECP Printer Port (LPT1)", x.b});
    TFindLpt find(std::move(source));
    ASSERT_TRUE(find.FindPort(1));
    EXPECT_EQ(find.SearchName(), "LPT1");
    EXPECT_EQ(find.MatchCount(), 1);
    EXPECT_EQ(find.RangeStart(1), 0x378);
    EXPECT_EQ(find.RangeEnd(1), 0x37F);
    EXPECT_EQ(find.RangeStart(2), 0x778);
    EXPECT_EQ(find.RangeEnd(2), 0x77A);
    EXPECT_EQ(find.RangeStart(3), 0xFFFF);
    EXPECT_EQ(find.RangeStart(0), 0xFFFF);
    EXPECT_EQ(find.IrqCount(), 1);
    EXPECT_EQ(find.Irq(), 7);
    EXPECT_EQ(find.DmaChannel(), 3);
    // A failed search clears what the last one found.
    EXPECT_FALSE(find.FindPort(2));
    EXPECT_EQ(find.RangeStart(1), 0xFFFF);
    EXPECT_EQ(find.IrqCount(), 0);
}

TEST(LptFind, DevicesWithoutResourcesAreSkippedAndTheFirstMatchWins)
{
    Bytes a, b;
    a.u32(1);
    Full(a, 1);
    Port(a, 0x3BC, 4);
    b.u32(2);  // two full descriptors: the second starts right after the first's partials
    Full(b, 1);
    Port(b, 0x278, 8);
    Full(b, 3);
    Port(b, 0x678, 3);
    Port(b, 0x900, 8);  // a third range is dropped
    Dma(b, 1);
    auto source = std::make_unique<RecordSource>();
    source->devices.push_back({"PORTS", "Printer Port (LPT1)", {}});
    source->devices.push_back({"ports", "Printer Port (LPT10)", b.b});
    source->devices.push_back({"Ports", "Printer Port (LPT1)", a.b});
    TFindLpt find(std::move(source));
    ASSERT_TRUE(find.FindPort(1));
    EXPECT_EQ(find.RangeCount(), 2);
    EXPECT_EQ(find.RangeStart(1), 0x278);
    EXPECT_EQ(find.RangeStart(2), 0x678);
    EXPECT_EQ(find.RangeStart(3), 0xFFFF);
    EXPECT_EQ(find.IrqCount(), 0);
    EXPECT_EQ(find.DmaCount(), 1);
    EXPECT_EQ(find.DmaChannel(), 1);
}

TEST(LptFind, MatchingTest)
{
    EXPECT_TRUE(MatchesPortDevice("Ports", "ECP Printer Port (LPT1)", "LPT1", false));
    EXPECT_TRUE(MatchesPortDevice("pOrTs", "LPT2", "LPT2", false));
    EXPECT_FALSE(MatchesPortDevice("Port", "Printer Port (LPT1)", "LPT1", false));
    EXPECT_TRUE(MatchesPortDevice("Port", "Printer Port (LPT1)", "LPT1", true));
    EXPECT_FALSE(MatchesPortDevice("Ports", "Printer Port (lpt1)", "LPT1", false));
    EXPECT_FALSE(MatchesPortDevice("Printer", "Printer Port (LPT1)", "LPT1", false));
}

TEST(LptFind, TruncatedNtListsStopAtTheEndOfTheBuffer)
{
    Bytes x;
    x.u32(1);
    Full(x, 2);
    Port(x, 0x378, 8);
    Port(x, 0x778, 3);
    for (size_t cut = 0; cut < x.b.size(); ++cut) {
        // A copy of exactly `cut` bytes, so reading past it would be a real overrun.
        std::vector<uint8_t> part(x.b.begin(), x.b.begin() + static_cast<long>(cut));
        TLptResources r;
        EXPECT_FALSE(ParseNtResourceList(part.data(), part.size(), r)) << cut;
        EXPECT_LE(r.Ranges.size(), 2u);
    }
    // A count far larger than the data is not trusted.
    Bytes huge;
    huge.u32(0xFFFFFFFF);
    TLptResources r;
    EXPECT_FALSE(ParseNtResourceList(huge.b.data(), huge.b.size(), r));
}

TEST(LptFind, NineXAllocationChain)
{
    Bytes x;
    x.zeros(8);
    x.u32(16).u32(2).zeros(4).u16(0x378).u16(0x37F);         // I/O
    x.u32(12).u32(4).zeros(2).u8(7).u8(0);                   // IRQ at offset 10
    x.u32(12).u32(3).zeros(1).u8(3).zeros(2);                // DMA at offset 9
    x.u32(16).u32(2).zeros(4).u16(0x778).u16(0x77A);
    x.u32(16).u32(9).zeros(8);                               // unknown type
    x.u8(0);
    TLptResources r;
    ASSERT_TRUE(Parse9xAllocation(x.b.data(), x.b.size(), r));
    ASSERT_EQ(r.Ranges.size(), 2u);
    EXPECT_EQ(r.Ranges[0].First, 0x378);
    EXPECT_EQ(r.Ranges[0].Last, 0x37F);
    EXPECT_EQ(r.Ranges[1].First, 0x778);
    EXPECT_EQ(r.Irq, 7);
    EXPECT_EQ(r.IrqCount, 1);
    EXPECT_EQ(r.DmaChannel, 3);

    // A record shorter than its own header would never advance; one that runs past the data is
    // cut. A record starting with 0 ends the chain.
    Bytes loop;
    loop.zeros(8).u32(4).u32(2).zeros(8);
    TLptResources r2;
    EXPECT_FALSE(Parse9xAllocation(loop.b.data(), loop.b.size(), r2));
    Bytes longer;
    longer.zeros(8).u32(400).u32(2).zeros(8);
    EXPECT_FALSE(Parse9xAllocation(longer.b.data(), longer.b.size(), r2));
    EXPECT_TRUE(r2.Ranges.empty());
    Bytes ended;
    ended.zeros(8).u32(0x100).u32(2).zeros(8);
    EXPECT_TRUE(Parse9xAllocation(ended.b.data(), ended.b.size(), r2));
    EXPECT_TRUE(r2.Ranges.empty());
}

TEST(LptFind, LinuxProcSource)
{
    const std::filesystem::path root = std::filesystem::temp_directory_path() / ("zemprix_parport_" + std::to_string(::getpid()));
    std::filesystem::create_directories(root / "parport0");
    std::filesystem::create_directories(root / "parport2");
    std::ofstream(root / "parport0" / "base-addr") << "888\t1912\n";
    std::ofstream(root / "parport0" / "irq") << "7\n";
    std::ofstream(root / "parport0" / "dma") << "-1\n";
    std::ofstream(root / "parport2" / "base-addr") << "632\t0\n";
    std::ofstream(root / "parport2" / "irq") << "-1\n";

    TFindLpt find(CreateProcParportSource(root.string()));
    ASSERT_TRUE(find.FindPort(1));
    EXPECT_EQ(find.RangeStart(1), 0x378);
    EXPECT_EQ(find.RangeStart(2), 0x778);
    EXPECT_EQ(find.IrqCount(), 1);
    EXPECT_EQ(find.Irq(), 7);
    EXPECT_EQ(find.DmaCount(), 0);
    EXPECT_FALSE(find.FindPort(2));
    ASSERT_TRUE(find.FindPort(3));
    EXPECT_EQ(find.RangeStart(1), 0x278);
    EXPECT_EQ(find.RangeStart(2), 0xFFFF);
    EXPECT_EQ(find.IrqCount(), 0);

    const std::vector<TProcParport> all = ReadProcParports(root.string());
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].Number, 2);
    std::filesystem::remove_all(root);
    EXPECT_TRUE(ReadProcParports(root.string()).empty());
}
