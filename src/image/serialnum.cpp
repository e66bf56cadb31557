#include "image/serialnum.h"

#include <string>

#include "image/hexlist.h"
#include "base/hextext.h"

int TSerialNum::SizeInBytes() const
{
    if (rgSerialNumSize == ssThreeBytes) return 3;
    if (rgSerialNumSize == ssFourBytes) return 4;
    return 2;
}

void TSerialNum::PlaceSerial(THexList& image) const
{
    const int n = SizeInBytes();
    const std::string text = hex::Hex(heCurrentSerial, 2 * n);
    for (int i = 0; i < n; ++i)
        image.SetValue(heSerialLocation + static_cast<uint32_t>(i), hex::ByteFromChars(text[2 * i], text[2 * i + 1]));
}

bool TSerialNum::LocationValid(const THexList& image) const
{
    return LocationProblem(image).empty();
}

std::string TSerialNum::LocationProblem(const THexList& image) const
{
    const uint64_t end = static_cast<uint64_t>(heSerialLocation) + static_cast<uint64_t>(SizeInBytes());
    const std::string bytes = std::to_string(SizeInBytes()) + " bytes there ";
    // A number that runs past the image end is refused up front: writing it would leave its
    // leading bytes in the image and stop at the first byte outside.
    if (end > image.Size()) return bytes + "run past the image";
    // The option byte is programmed into the last byte after the image: a number reaching it
    // would lose its low byte, and verify would still pass.
    if (end == image.Size()) return bytes + "reach the option byte at " + hex::Hex(image.Size() - 1, 4) + "h";
    return {};
}

bool TSerialNum::Fits() const
{
    return heCurrentSerial < (uint64_t{1} << (8 * SizeInBytes()));
}

std::string TSerialNum::Refusal(const THexList& image) const
{
    if (!LocationValid(image)) return kInvalidLocation;
    if (!Fits()) return kNumberTooWide;
    return {};
}

std::string TSerialNum::RefusalLine(const THexList& image) const
{
    if (const std::string problem = LocationProblem(image); !problem.empty())
        return "Serial Number: location " + hex::Hex(heSerialLocation, 4) + "h is not valid!" + problem;
    if (!Fits())
        return "Serial Number: " + hex::Hex(heCurrentSerial, 2) + "h does not fit in " + std::to_string(SizeInBytes()) +
               " bytes!choose a larger size";
    return {};
}

bool TSerialNum::Button2Click(THexList& image)
{
    if (rgSerialNumMode != smStoreInFlash) return true;
    const std::string refusal = Refusal(image);
    if (!refusal.empty()) {
        if (OnMessage) OnMessage(refusal);
        return false;
    }
    PlaceSerial(image);
    return true;
}

void TSerialNum::Clear()
{
    rgSerialNumMode = smDisabled;
    heCurrentSerial = 0;
    heSerialLocation = 0;
    Pool.clear();
}
