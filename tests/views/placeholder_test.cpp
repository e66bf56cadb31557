#include <QWidget>
#include <gtest/gtest.h>

TEST(ViewsHarness, OffscreenWidgetsCanBeShown)
{
    QWidget w;
    w.resize(120, 40);
    w.show();
    EXPECT_TRUE(w.isVisible());
}
