// The number field: rejected keystrokes, pastes and cuts in each base, the reformat when the
// focus leaves, clamping and the 32-bit wrapping parse.
#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <gtest/gtest.h>

#include "views/hexedit.h"

namespace {
struct HexEditField : ::testing::Test {
    QWidget form;
    THexEdit* edit = new THexEdit(&form);
    QLineEdit* other = new QLineEdit(&form);
    void SetUp() override
    {
        other->move(0, 40);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        edit->setFocus();
        edit->clear();
    }
    void Type(const char* text) { QTest::keyClicks(edit, text); }
};
}  // namespace

TEST_F(HexEditField, KeystrokesFollowTheBase)
{
    EXPECT_EQ(THexEdit().text(), "0");
    Type("a1g");
    EXPECT_EQ(edit->text(), "A1");  // upper-cased, the g refused
    edit->SetNumBase(THexEdit::ebDec);
    edit->clear();
    Type("1A2");
    EXPECT_EQ(edit->text(), "12");
    edit->SetNumBase(THexEdit::ebBin);
    edit->clear();
    Type("10210");
    EXPECT_EQ(edit->text(), "1010");
    edit->SetNumBase(THexEdit::ebHex);
    EXPECT_EQ(edit->text(), "A");
    edit->SetNumBase(THexEdit::ebBin);
    EXPECT_EQ(edit->text(), "1010");
}

TEST_F(HexEditField, RangeAndTheReformatOnFocusLoss)
{
    edit->SetMaxValue(0x7F);
    edit->SetValidate(true);
    edit->clear();
    Type("8");
    EXPECT_EQ(edit->text(), "8");
    Type("0");  // 80h is out of range
    EXPECT_EQ(edit->text(), "8");
    edit->SetValue(0x200);
    EXPECT_EQ(edit->text(), "7F");
    edit->SetValue(-5);
    EXPECT_EQ(edit->text(), "0");

    edit->SetValidate(false);
    edit->setText("0005");
    other->setFocus();
    EXPECT_EQ(edit->text(), "5");
    edit->setText("FFFFFFFF");
    EXPECT_EQ(edit->Value(), -1);
    edit->setFocus();
    other->setFocus();
    EXPECT_EQ(edit->text(), "0");
}

TEST_F(HexEditField, PastesCutsAndDeletionsMustLeaveANumber)
{
    edit->SetNumBase(THexEdit::ebDec);
    edit->setText("123");
    edit->setCursorPosition(1);
    QApplication::clipboard()->setText("4 5");
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), "123");  // a blank is refused
    QApplication::clipboard()->setText("45");
    QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(edit->text(), "14523");

    // With a range, a cut or a deletion that leaves a number out of range is refused.
    edit->SetNumBase(THexEdit::ebHex);
    edit->setText("10");
    edit->SetMinValue(0x10);
    edit->SetMaxValue(0xFF);
    edit->SetValidate(true);
    edit->setSelection(0, 1);
    QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), "10");
    edit->setCursorPosition(2);
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "10");
    edit->setCursorPosition(0);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(edit->text(), "10");
    edit->SetValidate(false);
    edit->setCursorPosition(0);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(edit->text(), "0");
}
