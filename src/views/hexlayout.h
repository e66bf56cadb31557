#pragma once
// The hex view's geometry in units of the fixed font's character width w and line height h,
// without widgets, so that tests drive it with plain numbers.
#include <cstdint>

struct THexLayout {
    int w = 8;  // character width
    int h = 16; // line height

    static constexpr int kMargin = 4;  // border 2 + margin 2, left and top

    int LabelX() const { return kMargin; }
    int HexX(int k) const { return kMargin + 9 * w + 3 * w * k; }
    int CharX(int k) const { return kMargin + 57 * w + w * k; }
    int RowY(int i) const { return i * h; }  // from the first row, which the view paints at y = kMargin
    int BufferWidth() const { return 73 * w + 8; }
    // Rows after the first that fit: a paint draws one more than this.
    int VisibleRows(int clientHeight) const { return (clientHeight - kMargin) / h - 1; }

    enum TColumn { None, Hex, Char };
    struct THit {
        TColumn column = None;
        int64_t address = -1;  // may lie beyond the image; the caller clamps or checks
    };
    // The cell under a point of the widget, by the control's own arithmetic.
    THit HitTest(int x, int y, int64_t topRow) const;
};
