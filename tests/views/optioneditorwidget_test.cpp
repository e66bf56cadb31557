// The option editor's widget: clicks run the model's handlers, the labels and choices follow
// the model, and the widget can go while the model stays.
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

#include "devices/optioneditor.h"
#include "image/hexlist.h"
#include "views/optioneditorwidget.h"

namespace {
struct FuseFrame : ::testing::Test {
    THexList image;
    TBaseFuseForm model;
    std::unique_ptr<TBaseFuseFrame> frame;
    void SetUp() override
    {
        image.SetSize(0x8000);
        model.BindImage(&image);
        frame = std::make_unique<TBaseFuseFrame>(model);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    }
    void ClickItem(const char* group, int item)
    {
        // On the indicator: a radio button takes clicks on its indicator and text only.
        QAbstractButton* b = frame->Group(group)->button(item);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    }
};
}  // namespace

TEST_F(FuseFrame, ClicksSetTheBitsAndTheLabelShowsTheByte)
{
    model.SetOptions(0x06);
    EXPECT_EQ(frame->Label5()->text(), "06h - 00000110b");
    EXPECT_TRUE(frame->Group("Security")->button(0)->isChecked());
    EXPECT_EQ(frame->Group("Security")->button(0)->text(), "Disabled");
    EXPECT_EQ(frame->Group("Watchdog")->button(1)->text(), "Disabled");
    EXPECT_EQ(frame->ClockSelector()->currentText(), "Internal RC Oscillator");

    ClickItem("Security", 1);  // bit 5
    ClickItem("Watchdog", 0);  // bit 2 cleared
    ClickItem("FlexBit", 1);   // bit 0
    EXPECT_EQ(model.GetOptions(), 0x23);
    EXPECT_EQ(frame->Label5()->text(), "23h - 00100011b");
    EXPECT_EQ(image.GetValue(0x7FFF), 0x23);  // mirrored into the image's last byte

    model.SetOptions(0x2D);
    EXPECT_TRUE(frame->Group("Security")->button(1)->isChecked());
    EXPECT_TRUE(frame->Group("HaltMode")->button(0)->isChecked());
    EXPECT_EQ(frame->ClockSelector()->currentText(), "RC Oscillator with External R");  // code 001
}

TEST_F(FuseFrame, TheClockRangeSetsTheTimingTextAndTheWidgetCanGo)
{
    frame->PGMTIM()->setCurrentIndex(0);
    emit frame->PGMTIM()->activated(0);
    EXPECT_EQ(frame->Label4()->text(), "0111FCFF");
    EXPECT_EQ(model.PGMTIM(), 0);
    model.SetTimingText("54002800");  // the frame follows the model by itself
    EXPECT_EQ(frame->Label4()->text(), "54002800");

    frame->DisableClockSelector();
    frame->HideAccessCompMode();
    EXPECT_FALSE(frame->ClockSelector()->isEnabled());
    EXPECT_FALSE(frame->AccessCompModeBox()->isVisible());
    EXPECT_EQ(frame->PGMTIM()->count(), 24);
    EXPECT_EQ(frame->PGMTIM()->itemText(5), "100.khz - 133khz");

    // A frame rebuilt for the next device follows the model; the one that went is never called.
    frame.reset();
    TBaseFuseFrame next(model);
    model.SetOptions(0xFF);  // would reach the freed frame if it still listened
    EXPECT_EQ(model.GetOptions(), 0xFF);
    EXPECT_EQ(next.Label5()->text(), "FFh - 11111111b");
}
