#pragma once
// Where the option editor mirrors the option byte: the last byte of the Flash image. The image
// implements it, so the editor needs nothing of the image layer.
#include <cstdint>

class IOptionByteMirror {
public:
    // Called with every new option byte; a target without room for it ignores it.
    virtual void MirrorOptionByte(uint8_t value) = 0;

protected:
    ~IOptionByteMirror() = default;
};
