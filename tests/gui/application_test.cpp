// The application's style: the overflow chevrons it draws itself, and every other standard icon
// left to the base style.
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QStyleFactory>
#include <gtest/gtest.h>
#include <memory>

#include "gui/application.h"

namespace {

int Ink(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += qAlpha(image.pixel(x, y)) > 0;
    return n;
}

// Where the ink of one row (or column) lies on average.
double Centre(const QImage& image, int line, bool row)
{
    double sum = 0, weight = 0;
    for (int i = 0; i < 16; ++i) {
        const int a = qAlpha(row ? image.pixel(i, line) : image.pixel(line, i));
        sum += a * i;
        weight += a;
    }
    return weight > 0 ? sum / weight : -1;
}

}  // namespace

TEST(ApplicationStyle, DrawsTheOverflowChevronsAndLeavesTheOtherIconsToTheBaseStyle)
{
    TZemprixStyle style;
    const QImage across =
        style.standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton).pixmap(16, 16).toImage().convertToFormat(
            QImage::Format_ARGB32);
    const QImage down =
        style.standardIcon(QStyle::SP_ToolBarVerticalExtensionButton).pixmap(16, 16).toImage().convertToFormat(
            QImage::Format_ARGB32);
    ASSERT_EQ(across.size(), QSize(16, 16));
    EXPECT_GT(Ink(across), 10);
    EXPECT_LT(Ink(across), 16 * 16 / 2);
    EXPECT_NE(across, down);
    // The tips (the middle line) lie beyond the open ends (a quarter in): right, and down.
    EXPECT_GT(Centre(across, 8, true), Centre(across, 4, true) + 1);
    EXPECT_GT(Centre(down, 8, false), Centre(down, 4, false) + 1);

    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    for (const QStyle::StandardPixmap other : {QStyle::SP_DialogOkButton, QStyle::SP_MessageBoxWarning})
        EXPECT_EQ(style.standardIcon(other).availableSizes(), fusion->standardIcon(other).availableSizes());
}
