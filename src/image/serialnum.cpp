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

bool TSerialNum::Button2Click(THexList& image)
{
    if (rgSerialNumMode != smStoreInFlash) return true;
    if (!LocationValid(image)) {
        if (OnMessage) OnMessage(kInvalidLocation);
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
