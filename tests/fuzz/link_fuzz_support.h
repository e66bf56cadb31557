#pragma once
// What both link targets share: the fuzz input as a stream of answer bytes, and one pass of
// the device operations over a small device in virtual time. Any of the system's own
// exceptions is a fine outcome; crashes, leaks, undefined behaviour and hangs are findings.
#include <cstddef>
#include <cstdint>

#include "devices/devices.h"
#include "image/hexlist.h"
#include "base/isperrors.h"
#include "link/programmer.h"

class FuzzStream {
public:
    FuzzStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    size_t Left() const { return size_ - pos_; }
    uint8_t Next(uint8_t whenEmpty = 0xFF) { return Empty() ? whenEmpty : data_[pos_++]; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

inline const TDevice& SmallDevice()
{
    static const TDevice* device = DeviceList().FindDevice("COP8TAB9", 0xFF);
    if (!device) __builtin_trap();
    return *device;
}

template <typename F>
void Tolerating(F f)
{
    try {
        f();
    } catch (const Exception&) {
    }
}

inline void RunOperations(TISPProgrammer& link)
{
    const TDevice& device = SmallDevice();
    THexList image;
    image.SetSize(static_cast<uint32_t>(device.FlashSize()));
    Tolerating([&] { link.Connect(); });
    Tolerating([&] { (void)link.ReadOptions(); });
    Tolerating([&] { link.ReadFlash(image); });
    Tolerating([&] { link.VerifyFlash(image); });
    Tolerating([&] { link.ProgramFlash(image); });
    Tolerating([&] { link.Disconnect(); });
}
