#include "image/serialnum.h"

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
    // A number that runs past the image end is refused up front: writing it would leave its
    // leading bytes in the image and stop at the first byte outside.
    return static_cast<uint64_t>(heSerialLocation) + static_cast<uint64_t>(SizeInBytes()) <= image.Size();
}

bool TSerialNum::Fits() const
{
    return SizeInBytes() >= 4 || heCurrentSerial < (uint32_t{1} << (8 * SizeInBytes()));
}

std::string TSerialNum::Refusal(const THexList& image) const
{
    if (!LocationValid(image)) return kInvalidLocation;
    if (!Fits()) return kNumberTooWide;
    return {};
}

std::string TSerialNum::RefusalLine(const THexList& image) const
{
    if (!LocationValid(image))
        return "Serial Number: location " + hex::Hex(heSerialLocation, 4) + "h is not valid!" +
               std::to_string(SizeInBytes()) + " bytes there run past the image";
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
}
