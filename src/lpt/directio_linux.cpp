// Raw port instructions after ioperm: the fastest path, for root (CAP_SYS_RAWIO) on x86 only.
#include <fcntl.h>
#include <unistd.h>

#include "lpt/portio.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>

namespace {

class TDirectPortIo final : public IPortIo {
public:
    bool Open() override
    {
        // Granting access to the POST diagnostic port touches nothing and tells whether the
        // process has the privilege at all.
        if (ioperm(0x80, 1, 1) != 0) return false;
        ioperm(0x80, 1, 0);
        return true;
    }
    void Close() override {}
    bool GrantRange(uint16_t first, uint16_t last) override
    {
        return ioperm(first, static_cast<unsigned long>(last - first + 1), 1) == 0;
    }
    uint8_t Read(uint16_t address) override { return inb(address); }
    void Write(uint16_t address, uint8_t value) override { outb(value, address); }
    std::array<uint16_t, 3> BiosTable() override
    {
        // The BIOS data area keeps the LPT base addresses at physical 408h.
        std::array<uint16_t, 3> table{0, 0, 0};
        const int fd = open("/dev/mem", O_RDONLY);
        if (fd < 0) return table;
        unsigned char raw[6] = {};
        if (pread(fd, raw, sizeof raw, 0x408) == static_cast<ssize_t>(sizeof raw))
            for (int i = 0; i < 3; ++i) table[i] = static_cast<uint16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
        close(fd);
        return table;
    }
};

}  // namespace

std::unique_ptr<IPortIo> CreateDirectPortIo() { return std::make_unique<TDirectPortIo>(); }

#else

namespace {

class TNoDirectPortIo final : public IPortIo {
public:
    bool Open() override { return false; }
    void Close() override {}
    bool GrantRange(uint16_t, uint16_t) override { return false; }
    uint8_t Read(uint16_t) override { return 0xFF; }
    void Write(uint16_t, uint8_t) override {}
    std::array<uint16_t, 3> BiosTable() override { return {0, 0, 0}; }
};

}  // namespace

std::unique_ptr<IPortIo> CreateDirectPortIo() { return std::make_unique<TNoDirectPortIo>(); }

#endif
