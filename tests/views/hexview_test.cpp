// The hex view driven with real key and mouse events: typing and committing bytes, Esc and
// Backspace, paging and Ctrl+Home/End at both ends, clicks in both columns, the tooltip and the
// scroll bar clamped to the image.
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "image/hexlist.h"
#include "views/hexlayout.h"
#include "views/hexview.h"

namespace {

struct HexView : ::testing::Test {
    THexList image;
    THexWindow view;

    void SetUp() override
    {
        image.SetSize(0x8000);
        for (uint32_t a = 0; a < image.Size(); ++a) image.SetValue(a, static_cast<uint8_t>(a & 0xFF));
        view.resize(700, 300);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        view.SetData(&image);
        view.setFocus();
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(&view, key, mods); }
    // The centre of the hex or character cell of `address`, in viewport coordinates.
    QPoint Cell(int64_t address, bool chars = false) const
    {
        const THexLayout& L = view.Layout();
        const int k = static_cast<int>(address % 16);
        const int row = static_cast<int>(address / 16 - view.TopRow());
        const int x = chars ? L.CharX(k) + L.w / 2 : L.HexX(k) + L.w;
        return {x, THexLayout::kMargin + row * L.h + L.h / 2};
    }
    void Click(int64_t address, bool chars = false) { QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, Cell(address, chars)); }
};

}  // namespace

TEST(HexLayout, GeometryInCharacterUnits)
{
    const THexLayout L{8, 16};
    EXPECT_EQ(L.HexX(0), 4 + 72);
    EXPECT_EQ(L.HexX(15), 4 + 72 + 15 * 24);
    EXPECT_EQ(L.CharX(3), 4 + 57 * 8 + 24);
    EXPECT_EQ(L.BufferWidth(), 73 * 8 + 8);
    EXPECT_EQ(L.VisibleRows(300), (300 - 4) / 16 - 1);
    EXPECT_EQ(L.HitTest(L.HexX(2) + 1, 4 + 16 * 3 + 1, 10).address, 2 + 16 * 13);
    EXPECT_EQ(L.HitTest(L.CharX(5) + 1, 5, 0).column, THexLayout::Char);
    EXPECT_EQ(L.HitTest(L.CharX(5) + 1, 5, 0).address, 5);
    EXPECT_EQ(L.HitTest(10, 10, 0).column, THexLayout::None);  // the address column
}

TEST_F(HexView, TypingTwoDigitsCommitsAndMovesOn)
{
    image.SetStatus(0, TProgStatus(ps_failed));
    QTest::keyClicks(&view, "a");
    EXPECT_TRUE(view.Editing());
    EXPECT_EQ(view.EditBuffer(), "A");
    QTest::keyClicks(&view, "5");
    EXPECT_EQ(image.GetValue(0), 0xA5);
    EXPECT_EQ(image.GetStatus(0), TProgStatus(ps_normal));  // the fail colour is gone
    EXPECT_EQ(view.CursorAddress(), 1);
    // Esc after one digit leaves the byte alone; Backspace drops the digit typed.
    QTest::keyClicks(&view, "7");
    Key(Qt::Key_Escape);
    EXPECT_EQ(image.GetValue(1), 0x01);
    EXPECT_FALSE(view.Editing());
    QTest::keyClicks(&view, "g");  // not a hex digit
    EXPECT_EQ(view.EditBuffer(), "");
    QTest::keyClicks(&view, "3");
    Key(Qt::Key_Backspace);
    EXPECT_EQ(view.EditBuffer(), "");
    EXPECT_EQ(image.GetValue(1), 0x01);
}

TEST_F(HexView, ClicksInBothColumns)
{
    // A click on a hex cell shows its value for editing; Right writes the same value back.
    image.SetStatus(0x23, TProgStatus(ps_verified));
    Click(0x23);
    EXPECT_EQ(view.CursorAddress(), 0x23);
    EXPECT_FALSE(view.CharColumn());
    EXPECT_TRUE(view.Editing());
    view.repaint();
    EXPECT_EQ(view.EditBuffer(), "23");
    Key(Qt::Key_Right);
    EXPECT_EQ(view.CursorAddress(), 0x24);
    EXPECT_EQ(image.GetStatus(0x23), TProgStatus(ps_normal));
    EXPECT_EQ(image.GetValue(0x23), 0x23);
    // A click in the character column writes nothing when the cursor moves on.
    image.SetStatus(0x31, TProgStatus(ps_verified));
    Click(0x31, true);
    EXPECT_TRUE(view.CharColumn());
    Key(Qt::Key_Right);
    EXPECT_EQ(image.GetStatus(0x31), TProgStatus(ps_verified));
    // Typing there writes the character's code.
    QTest::keyClicks(&view, "Z");
    EXPECT_EQ(image.GetValue(0x32), 'Z');
    EXPECT_EQ(view.CursorAddress(), 0x33);
    // Tab goes back to the hex column.
    Key(Qt::Key_Tab);
    EXPECT_FALSE(view.CharColumn());
}

TEST_F(HexView, PagingAndCtrlHomeEndStayInsideTheImage)
{
    const int rows = view.VisibleRows();
    Key(Qt::Key_PageUp);
    EXPECT_EQ(view.CursorAddress(), 0);
    Key(Qt::Key_PageDown);
    EXPECT_EQ(view.CursorAddress(), 16 * rows);
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(view.CursorAddress(), 0x7FFF);
    EXPECT_GE(0x7FFF / 16, view.TopRow());
    EXPECT_LE(0x7FFF / 16, view.TopRow() + rows);
    Key(Qt::Key_PageDown);
    EXPECT_EQ(view.CursorAddress(), 0x7FFF);
    Key(Qt::Key_Down);
    EXPECT_EQ(view.CursorAddress(), 0x7FFF);
    Key(Qt::Key_Home);
    EXPECT_EQ(view.CursorAddress(), 0x7FF0);
    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(view.CursorAddress(), 0);
    EXPECT_EQ(view.TopRow(), 0);
    Key(Qt::Key_Up);
    EXPECT_EQ(view.CursorAddress(), 0);
    Key(Qt::Key_End);
    EXPECT_EQ(view.CursorAddress(), 0x0F);
}

TEST_F(HexView, TheScrollBarIsClampedAndPullsTheCursorIntoView)
{
    QScrollBar* bar = view.verticalScrollBar();
    EXPECT_EQ(bar->maximum(), 0x8000 / 16);
    bar->setValue(100);
    EXPECT_EQ(view.TopRow(), 100);
    EXPECT_EQ(view.CursorAddress(), 100 * 16);  // the cursor was above the view
    Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(view.TopRow(), 101);
    bar->setValue(bar->maximum() + 50);
    EXPECT_EQ(view.TopRow(), 0x8000 / 16);
    // Painting at the very end reads nothing beyond the image.
    view.repaint();
}

TEST_F(HexView, TooltipAndThePlaceholderWithoutAnImage)
{
    image.SetValue(0x40, 0x41);
    EXPECT_EQ(view.HintText(0x40),
              "Address : 0x00000040\nHex Data: 0x41\nDec Data: 65\nBin Data: 0100 0001\nAs Ascii: A");
    QTest::mouseMove(view.viewport(), Cell(0x40));
    EXPECT_EQ(view.viewport()->toolTip(), view.HintText(0x40));
    EXPECT_EQ(view.HintText(0x8000), "");

    // No image, or an image of size 0: keys and clicks do nothing, nothing is read.
    THexList empty;
    for (THexList* data : {static_cast<THexList*>(nullptr), &empty}) {
        view.SetData(data);
        QTest::keyClicks(&view, "A5");
        Click(3);
        Key(Qt::Key_End, Qt::ControlModifier);
        EXPECT_EQ(view.CursorAddress(), 0);
        EXPECT_FALSE(view.Editing());
        view.repaint();
    }
}

TEST_F(HexView, AnImageThatShrinksUnderTheViewIsNeverWrittenPast)
{
    Key(Qt::Key_End, Qt::ControlModifier);
    ASSERT_EQ(view.CursorAddress(), 0x7FFF);
    image.SetSize(0x2000);  // resized behind the view's back
    QTest::keyClicks(&view, "A5");
    EXPECT_EQ(image.Size(), 0x2000u);
    view.repaint();
    Key(Qt::Key_Left);
    EXPECT_LT(view.CursorAddress(), 0x2000);
}

TEST_F(HexView, ThePaintShowsTheRenderedRowsBelowTheMargin)
{
    image.SetStatus(0x21, TProgStatus(ps_failed));
    image.SetStatus(0x35, TProgStatus(ps_verified));
    view.MoveCursor(0x13);
    QWidget* port = view.viewport();
    const QImage shown = port->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QPixmap rendered(port->width(), port->height() - THexLayout::kMargin);
    view.Render(rendered);
    const QImage expected = rendered.toImage().convertToFormat(QImage::Format_RGB32);

    EXPECT_EQ(shown.copy(0, THexLayout::kMargin, expected.width(), expected.height()), expected);
    for (int x = 0; x < shown.width(); x += 7) EXPECT_EQ(shown.pixel(x, 1), expected.pixel(0, 0));
}

TEST_F(HexView, AReadOnlyImageIsShownButNeverEdited)
{
    int changes = 0;
    TSubscription counting = image.Changed.Subscribe([&] { ++changes; });
    QTest::keyClicks(&view, "A5");  // one edit, one announcement
    EXPECT_EQ(image.GetValue(0), 0xA5);
    EXPECT_EQ(changes, 1);

    QTest::keyClicks(&view, "7");  // an edit in progress is dropped when the image turns read-only
    image.SetReadOnly(true);
    EXPECT_TRUE(view.ReadOnly());
    EXPECT_FALSE(view.Editing());
    EXPECT_EQ(view.EditBuffer(), "");
    QTest::keyClicks(&view, "3C");
    Key(Qt::Key_Tab);  // the character column refuses too
    QTest::keyClicks(&view, "z");
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, Cell(0x20));
    EXPECT_FALSE(view.Editing());
    EXPECT_EQ(view.CursorAddress(), 0x20);  // moving about still works
    EXPECT_EQ(image.GetValue(1), 0x01);
    EXPECT_EQ(image.GetValue(2), 0x02);
    EXPECT_EQ(changes, 1);

    image.SetReadOnly(false);
    QTest::keyClicks(&view, "3C");
    EXPECT_EQ(image.GetValue(0x20), 0x3C);
}

TEST_F(HexView, EveryByteIsPaintedInTheCellThatClicksAndTheCursorUse)
{
    // Only the changed byte's pixels differ, and they lie inside its cells in both columns: a
    // byte drawn elsewhere would make clicks on the right half of a row select its neighbour.
    for (uint32_t a = 0; a < 16; ++a) image.SetValue(a, 0x00);
    view.MoveCursor(0x100);
    const THexLayout& L = view.Layout();
    for (int k : {7, 15}) {
        QPixmap before(view.viewport()->width(), 3 * L.h);
        view.Render(before);
        image.SetValue(static_cast<uint32_t>(k), 0xEE);
        QPixmap after(view.viewport()->width(), 3 * L.h);
        view.Render(after);
        image.SetValue(static_cast<uint32_t>(k), 0x00);
        const QImage a = before.toImage(), b = after.toImage();
        int changed = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) {
                if (a.pixel(x, y) == b.pixel(x, y)) continue;
                ++changed;
                const bool inHex = x >= L.HexX(k) && x < L.HexX(k) + 2 * L.w;
                const bool inChar = x >= L.CharX(k) && x < L.CharX(k) + L.w;
                EXPECT_TRUE(inHex || inChar) << "byte " << k << " changed x " << x << " (hex cell at " << L.HexX(k)
                                             << ", char cell at " << L.CharX(k) << ")";
                if (!inHex && !inChar) return;
            }
        EXPECT_GT(changed, 0);
    }
}

TEST_F(HexView, BackspaceDropsTheEditAndTheNextDigitsMakeANewByte)
{
    // After a click the cell shows the byte's two digits; Backspace gives them up unwritten, so
    // two digits typed next are the new value, not the old first digit and one new one.
    Click(0x23);
    view.repaint();
    EXPECT_EQ(view.EditBuffer(), "23");
    Key(Qt::Key_Backspace);
    EXPECT_EQ(view.EditBuffer(), "");
    EXPECT_TRUE(view.Editing());
    EXPECT_EQ(image.GetValue(0x23), 0x23);
    QTest::keyClicks(&view, "4");
    EXPECT_EQ(image.GetValue(0x23), 0x23);
    QTest::keyClicks(&view, "5");
    EXPECT_EQ(image.GetValue(0x23), 0x45);
    EXPECT_EQ(view.CursorAddress(), 0x24);
    // One digit typed, then Backspace: nothing written, and the byte can still be typed whole.
    QTest::keyClicks(&view, "7");
    Key(Qt::Key_Backspace);
    QTest::keyClicks(&view, "89");
    EXPECT_EQ(image.GetValue(0x24), 0x89);
    // In the character column it ends the edit.
    Click(0x31, true);
    Key(Qt::Key_Backspace);
    EXPECT_FALSE(view.Editing());
    EXPECT_EQ(image.GetValue(0x31), 0x31);
}

TEST_F(HexView, CtrlUpAndDownScrollAndKeepTheCursorInView)
{
    const int rows = view.VisibleRows();
    ASSERT_GT(rows, 2);
    for (int i = 0; i < 3; ++i) Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(view.TopRow(), 3);
    EXPECT_EQ(view.CursorAddress(), 3 * 16);  // pulled down from row 0
    view.MoveCursor(3 * 16 + 5);
    Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(view.TopRow(), 2);
    EXPECT_EQ(view.CursorAddress(), 3 * 16 + 5);  // still in view: stays
    // From the last row shown, scrolling up pulls the cursor up with the view.
    Key(Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(view.CursorAddress(), (2 + rows) * 16);
    Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(view.TopRow(), 1);
    EXPECT_EQ(view.CursorAddress(), (1 + rows) * 16);
    EXPECT_EQ(view.verticalScrollBar()->value(), 1 + rows);  // the bar follows the cursor's row
    // At the top it stops.
    for (int i = 0; i < 3; ++i) Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(view.TopRow(), 0);
}
