#include "views/hexlayout.h"

THexLayout::THit THexLayout::HitTest(int x, int y, int64_t topRow) const
{
    THit hit;
    if (x <= kMargin + 9 * w || y <= kMargin || w <= 0 || h <= 0) return hit;
    const int c = (x - kMargin - 9 * w) / (3 * w);
    const int64_t row = topRow + (y - kMargin) / h;
    if (c <= 15) {
        hit.column = Hex;
        hit.address = c + 16 * row;
        return hit;
    }
    const int k = (x - kMargin - 9 * w - 48 * w) / w;
    hit.column = Char;
    if (k >= 0 && k < 16) hit.address = k + 16 * row;
    return hit;
}
