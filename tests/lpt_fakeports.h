#pragma once
// A scripted register file for the port layer: a few parallel ports of chosen kinds at chosen
// bases, every access logged, and any access outside a port's registers recorded as stray.
#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "lpt/findlpt.h"
#include "lpt/portio.h"

enum class FakeKind { dead, spp, ps2, epp, ecp };

struct FakePort {
    FakeKind kind = FakeKind::spp;
    uint8_t data = 0, control = 0, status = 0x78, eppAddress = 0, ecr = 0x15;
};

struct FakeAccess {
    char op;  // 'R', 'W' or 'G' (grant)
    uint16_t address;
    uint8_t value;
};

class FakeRegisterFile final : public IPortIo {
public:
    std::map<uint16_t, FakePort> ports;
    std::array<uint16_t, 3> bios{0, 0, 0};
    bool openOk = true;
    std::vector<FakeAccess> log;
    std::vector<uint16_t> stray;

    bool Open() override { return openOk; }
    void Close() override {}
    bool GrantRange(uint16_t first, uint16_t last) override
    {
        log.push_back({'G', first, static_cast<uint8_t>(last - first)});
        return true;
    }
    uint8_t Read(uint16_t a) override
    {
        const uint8_t v = DoRead(a);
        log.push_back({'R', a, v});
        return v;
    }
    void Write(uint16_t a, uint8_t v) override
    {
        log.push_back({'W', a, v});
        DoWrite(a, v);
    }
    std::array<uint16_t, 3> BiosTable() override { return bios; }

    size_t Count(char op, uint16_t address) const
    {
        return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const FakeAccess& x) {
            return x.op == op && x.address == address;
        }));
    }

private:
    FakePort* Find(uint16_t a, int& offset)
    {
        for (auto& [base, p] : ports) {
            if (a >= base && a <= base + 7) offset = a - base;
            else if (a >= base + 0x400 && a <= base + 0x402) offset = 0x400 + (a - base - 0x400);
            else continue;
            return &p;
        }
        stray.push_back(a);
        return nullptr;
    }
    uint8_t DoRead(uint16_t a)
    {
        int off = 0;
        FakePort* p = Find(a, off);
        if (!p || p->kind == FakeKind::dead) return 0xFF;
        const bool epp = p->kind == FakeKind::epp || p->kind == FakeKind::ecp;
        switch (off) {
        case 0: return p->kind != FakeKind::spp && (p->control & 0x20) ? 0xFF : p->data;
        case 1: return p->status;
        case 2: return p->control;
        case 3: return epp ? p->eppAddress : 0xFF;
        case 0x402: return p->kind == FakeKind::ecp ? static_cast<uint8_t>((p->ecr & 0xFC) | 1) : 0xFF;
        default: return 0xFF;
        }
    }
    void DoWrite(uint16_t a, uint8_t v)
    {
        int off = 0;
        FakePort* p = Find(a, off);
        if (!p || p->kind == FakeKind::dead) return;
        switch (off) {
        case 0: p->data = v; break;
        case 2: p->control = v; break;
        case 3: p->eppAddress = v; break;
        case 0x402: p->ecr = v; break;
        default: break;
        }
    }
};

// Configuration source answering from a fixed table.
class FakeConfigSource final : public ILptConfigSource {
public:
    std::map<std::string, TLptResources> ports;
    int searches = 0;
    bool Find(const std::string& name, TLptResources& out) override
    {
        ++searches;
        auto it = ports.find(name);
        if (it == ports.end()) return false;
        out = it->second;
        return true;
    }
};

inline TLptResources PortAt(uint16_t base, int irq = -1, int dma = -1)
{
    TLptResources r;
    r.Ranges.push_back({base, static_cast<uint16_t>(base + 7)});
    if (irq >= 0) r.IrqCount = 1, r.Irq = static_cast<uint8_t>(irq);
    if (dma >= 0) r.DmaCount = 1, r.DmaChannel = static_cast<uint8_t>(dma);
    return r;
}
