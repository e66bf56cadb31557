// Register access through the Linux parport driver's ppdev interface: no privilege beyond access
// to /dev/parportN. ppdev offers data, status and control only, so the EPP and ECP registers
// behave as on the 3BCh adapter (reads 0, writes ignored) and detection finds SPP or PS/2.
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <vector>

#include "lpt/findlpt.h"
#include "lpt/portio.h"

namespace {

class TPpdevPortIo final : public IPortIo {
public:
    ~TPpdevPortIo() override { Close(); }

    bool Open() override
    {
        known_ = ReadProcParports();
        return !known_.empty();
    }

    void Close() override
    {
        for (TClaimed& c : claimed_) {
            ioctl(c.Fd, PPRELEASE);
            close(c.Fd);
        }
        claimed_.clear();
        last_ = nullptr;
    }

    bool GrantRange(uint16_t first, uint16_t last) override
    {
        (void)last;
        for (const TClaimed& c : claimed_)
            if (c.Base == first) return true;
        for (const TProcParport& p : known_) {
            if (p.BaseHi != 0 && p.BaseHi == first) return true;  // ECP range: nothing to open
            if (p.Base != first) continue;
            const std::string node = "/dev/parport" + std::to_string(p.Number);
            const int fd = open(node.c_str(), O_RDWR);
            if (fd < 0) return false;
            if (ioctl(fd, PPCLAIM) != 0) {
                close(fd);
                return false;
            }
            claimed_.push_back({p.Base, fd, false});
            last_ = nullptr;
            return true;
        }
        return false;
    }

    uint8_t Read(uint16_t address) override
    {
        int offset = 0;
        TClaimed* c = Find(address, offset);
        if (!c) return 0xFF;
        unsigned char v = 0;
        switch (offset) {
        case 0: ioctl(c->Fd, PPRDATA, &v); return v;
        case 1: ioctl(c->Fd, PPRSTATUS, &v); return v;
        case 2: ioctl(c->Fd, PPRCONTROL, &v); return v;
        default: return 0;
        }
    }

    void Write(uint16_t address, uint8_t value) override
    {
        int offset = 0;
        TClaimed* c = Find(address, offset);
        if (!c) return;
        unsigned char v = value;
        if (offset == 0) {
            ioctl(c->Fd, PPWDATA, &v);
        } else if (offset == 2) {
            // The direction bit is not part of ppdev's control register; it has its own call.
            const bool reverse = (value & 0x20) != 0;
            if (reverse != c->Reverse) {
                int dir = reverse ? 1 : 0;
                ioctl(c->Fd, PPDATADIR, &dir);
                c->Reverse = reverse;
            }
            v = static_cast<unsigned char>(value & 0x0F);
            ioctl(c->Fd, PPWCONTROL, &v);
        }
    }

    std::array<uint16_t, 3> BiosTable() override { return {0, 0, 0}; }

private:
    struct TClaimed {
        uint16_t Base;
        int Fd;
        bool Reverse;
    };

    TClaimed* Find(uint16_t address, int& offset)
    {
        if (last_ && address >= last_->Base && address <= last_->Base + 7) {
            offset = address - last_->Base;
            return last_;
        }
        for (TClaimed& c : claimed_) {
            if (address >= c.Base && address <= c.Base + 7) {
                offset = address - c.Base;
                last_ = &c;
                return &c;
            }
        }
        return nullptr;
    }

    std::vector<TProcParport> known_;
    std::vector<TClaimed> claimed_;
    TClaimed* last_ = nullptr;
};

}  // namespace

std::unique_ptr<IPortIo> CreatePpdevPortIo() { return std::make_unique<TPpdevPortIo>(); }
