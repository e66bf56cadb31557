// The dialogs on the offscreen platform, driven with mouse and key events: the information reports,
// the serial-number dialog and the two port dialogs over a link context on a scripted register file.
#include <QButtonGroup>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include "app/linkportsetup.h"
#include "app/session.h"
#include "devices/optioneditor.h"
#include "gui/infodialogs.h"
#include "gui/messageboxes.h"
#include "gui/portdialogs.h"
#include "gui/serialnumdialog.h"
#include "image/hexlist.h"
#include "image/serialnum.h"
#include "link/linkcontext.h"
#include "link/linkwide.h"
#include "lpt/advanced.h"
#include "lpt/portunit.h"
#include "lpt/tiraltimer.h"
#include "lpt_fakeports.h"
#include "views/hexedit.h"

namespace {

void Type(QWidget* field, const QString& text)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
}

// Timer figures at once, of a processor the system reports at `mhz`.
TTiralTimerMeasurement ReadyTimer(double mhz)
{
    TCpuSources cpu;
    cpu.Leaf1 = [](uint32_t&) { return false; };
    cpu.TimeStamp = [] { return uint64_t{0}; };
    cpu.ReportedMHz = [mhz] { return mhz; };
    std::promise<std::shared_ptr<const TTiralTimer>> ready;
    ready.set_value(std::make_shared<const TTiralTimer>(cpu));
    return ready.get_future().share();
}

}  // namespace

TEST(InfoDialogs, ProgrammerInformationCopiesItsReportWithCrLfAndEscClosesWithOk)
{
    TFISPStat dialog;
    dialog.Fill("1.0.0.1", "Unknown Hardware not available",
                {"Printer Port: LPT1 Port Address:378", "*Communications to Programmer Failed"});
    EXPECT_EQ(dialog.windowTitle(), "ZEMPRIX Information");
    EXPECT_EQ(dialog.FirmRev()->text(), "Unknown Hardware not available");
    EXPECT_EQ(dialog.AddInfo()->count(), 2);
    QTest::mouseClick(dialog.CopyButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "ZEMPRIX Information\r\nZEMPRIX Software Revision: 1.0.0.1\r\n"
              "COP8 Vask Firmware Revision: Unknown Hardware not available\r\nAdditional Information:\r\n"
              "Printer Port: LPT1 Port Address:378\r\n*Communications to Programmer Failed\r\n");
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(InfoDialogs, TextReportReplacesItsLinesAndCopiesThemAll)
{
    TPrintStatusD dialog;
    dialog.SetLines({"old"});
    dialog.SetLines({"======== Programmer Connection =======", "*Driver Status: Not Connected"});
    EXPECT_EQ(dialog.Memo1()->toPlainText(), "======== Programmer Connection =======\n*Driver Status: Not Connected");
    QTest::mouseClick(dialog.CopyButton(), Qt::LeftButton);
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("======== Programmer Connection"));
    EXPECT_TRUE(QGuiApplication::clipboard()->text().endsWith("Not Connected"));
}

class SerialNumDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        image.SetSize(0x8000);
        model.OnMessage = [this](const std::string& m) { messages.push_back(m); };
        dialog = std::make_unique<TSerialNumDialog>(model, image);
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    // Radio buttons answer a click on their indicator or caption, not on the space after it.
    void Click(QButtonGroup* group, int id)
    {
        QAbstractButton* b = group->button(id);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    }

    THexList image;
    TSerialNum model;
    std::vector<std::string> messages;
    std::unique_ptr<TSerialNumDialog> dialog;
};

TEST_F(SerialNumDialog, FieldsFollowTheModeAndEnterPlacesTheNumberAndCloses)
{
    EXPECT_EQ(dialog->windowTitle(), "Serial Number Generation");
    EXPECT_FALSE(dialog->CurrentSerial()->isEnabled());
    EXPECT_FALSE(dialog->SizeGroup()->isEnabled());
    Click(dialog->Mode(), 1);
    EXPECT_TRUE(dialog->CurrentSerial()->isEnabled());
    EXPECT_TRUE(dialog->Location()->isEnabled());
    Click(dialog->Size(), 1);
    Type(dialog->Location(), "7f00");
    Type(dialog->CurrentSerial(), "12345");
    QTest::keyClick(dialog->CurrentSerial(), Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(image.GetValue(0x7F00), 0x01);
    EXPECT_EQ(image.GetValue(0x7F01), 0x23);
    EXPECT_EQ(image.GetValue(0x7F02), 0x45);
    // The settings last for the run: the next opening shows them again.
    model.Increment();
    dialog->show();
    EXPECT_EQ(dialog->CurrentSerial()->text(), "12346");
    EXPECT_EQ(dialog->Location()->text(), "7F00");
    EXPECT_TRUE(dialog->Size()->button(1)->isChecked());
}

TEST_F(SerialNumDialog, ANumberRunningPastTheImageEndIsRefusedAndNothingIsWritten)
{
    Click(dialog->Mode(), 1);
    Click(dialog->Size(), 2);  // four bytes
    Type(dialog->CurrentSerial(), "AABBCCDD");
    // 7FFCh would put the last byte on the option byte.
    for (const char* location : {"7FFC", "7FFD", "8000", "8001"}) {
        messages.clear();
        Type(dialog->Location(), location);
        QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
        EXPECT_TRUE(dialog->isVisible()) << location;
        ASSERT_EQ(messages.size(), 1u) << location;
        EXPECT_EQ(messages[0], "Location is not valid! - Please enter another");
    }
    for (uint32_t a = 0x7FF0; a < 0x8000; ++a) EXPECT_EQ(image.GetValue(a), 0xFF) << a;
    // The last place where all four bytes fit before the option byte is taken.
    Type(dialog->Location(), "7FFB");
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(image.GetValue(0x7FFE), 0xDD);

    // A number wider than its size is refused too, until a size it fits is chosen.
    dialog->show();
    messages.clear();
    Click(dialog->Size(), 0);  // two bytes
    Type(dialog->Location(), "100");
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(messages, std::vector<std::string>{TSerialNum::kNumberTooWide});
    EXPECT_EQ(image.GetValue(0x100), 0xFF);
    Click(dialog->Size(), 2);
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(image.GetValue(0x100), 0xAA);
}

TEST_F(SerialNumDialog, TheBaseChangesOnlyHowTheNumberShowsAndCancelSwitchesNumberingOff)
{
    Click(dialog->Mode(), 1);
    Type(dialog->CurrentSerial(), "FFFFFFFF");
    Click(dialog->Base(), 0);  // binary: all 32 digits, nothing cut
    EXPECT_EQ(dialog->CurrentSerial()->text(), QString(32, QLatin1Char('1')));
    Click(dialog->Base(), 1);
    EXPECT_EQ(dialog->CurrentSerial()->text(), "4294967295");
    EXPECT_EQ(model.heCurrentSerial, 0xFFFFFFFFu);
    Click(dialog->Base(), 3);
    Type(dialog->CurrentSerial(), "17");
    EXPECT_EQ(model.heCurrentSerial, 15u);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(model.rgSerialNumMode, TSerialNum::smDisabled);
    EXPECT_EQ(model.heCurrentSerial, 0u);
    EXPECT_EQ(dialog->CurrentSerial()->text(), "0");
    EXPECT_FALSE(dialog->CurrentSerial()->isEnabled());
}

// A port layer over a scripted register file: LPT1 at 378h (IRQ 7) of the given kind, LPT2 at 278h.
class PortDialogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto io = std::make_unique<FakeRegisterFile>();
        auto config = std::make_unique<FakeConfigSource>();
        io->ports[0x378].kind = FakeKind::ecp;
        io->ports[0x278].kind = FakeKind::epp;
        config->ports["LPT1"] = PortAt(0x378, 7);
        config->ports["LPT2"] = PortAt(0x278, 5, 3);
        auto unit = std::make_unique<TVicLPT>(std::move(io), std::move(config));
        ASSERT_TRUE(unit->OpenDriver(1));
        lpt = unit.get();
        link.ReplaceLpt(std::move(unit));
        link.SetTimerMeasurement(ReadyTimer(2400.4));
        options.SelectPGMTIM(23);
        options.PGMTIMChange();
    }

    TLinkContext link;
    TLinkWide& wide = link.Wide();
    TVicLPT* lpt = nullptr;
    TBaseFuseForm options;
    std::vector<std::string> log;
    TLinkPortSetup setup{link, options, [this](const std::string& l) { log.push_back(l); }};
};

TEST_F(PortDialogs, SetupShowsThePortDetailsAndACancelLeavesThePortAsItWas)
{
    int advancedRuns = 0;
    {
        TfispVask without(setup, {});
        EXPECT_FALSE(without.Button3()->isEnabled());
    }
    TfispVask dialog(setup, [&] { ++advancedRuns; });
    EXPECT_TRUE(dialog.Button3()->isEnabled());
    EXPECT_EQ(dialog.windowTitle(), "ISP Configuration");
    dialog.AddPortName("LPT1", "/dev/parport0");
    dialog.AddPortName("LPT2", "/dev/parport1");
    bool accepted = dialog.Run(0, [&](QDialog& d) {
        EXPECT_EQ(dialog.Status()->text(), "Present");
        EXPECT_EQ(dialog.BaseAddress()->text(), "0378h");
        EXPECT_EQ(dialog.IRQnumber()->text(), "07h");
        EXPECT_EQ(dialog.DMAchannel()->text(), "00h");
        EXPECT_EQ(dialog.CPUSpeed()->text(), "2400");
        EXPECT_EQ(dialog.Identity()->text(), "/dev/parport0");
        // Choosing LPT2 selects it on the port layer at once.
        dialog.PortSelector()->setCurrentIndex(1);
        emit dialog.PortSelector()->activated(1);
        EXPECT_EQ(dialog.BaseAddress()->text(), "0278h");
        EXPECT_EQ(dialog.DMAchannel()->text(), "03h");
        EXPECT_EQ(wide.PortIndex, 1);
        QTest::mouseClick(dialog.Button3(), Qt::LeftButton);
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
        return d.result();
    });
    EXPECT_FALSE(accepted);
    EXPECT_EQ(advancedRuns, 1);
    EXPECT_EQ(wide.PortIndex, 0);
    EXPECT_EQ(lpt->BaseAddress(), 0x378);

    accepted = dialog.Run(0, [&](QDialog& d) {
        dialog.PortSelector()->setCurrentIndex(1);
        emit dialog.PortSelector()->activated(1);
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        return d.result();
    });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(dialog.SelectedIndex(), 1);
}

TEST_F(PortDialogs, AdvancedOffersThePortsModesLogsTheBlockAndTakesTypedTimings)
{
    TAdvancedFrm form(setup);
    form.SetPorts({"LPT1", "LPT2"});
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(form.windowTitle(), "Advanced Settings");
    EXPECT_EQ(form.Status()->text(), "Present");
    EXPECT_EQ(form.BaseAddress()->text(), "0378h");
    for (int b = 0; b < mb_count; ++b) EXPECT_TRUE(form.ModeButton(b)->isEnabled()) << b;  // an ECP port
    const auto at = std::find(log.begin(), log.end(), "BasePortAddress=0378h");
    ASSERT_NE(at, log.end());
    EXPECT_EQ(*(at + 1), "IRQNumber      =07h");
    EXPECT_EQ(*(at + 2), "DMAChannel     =00h");

    // The EPP-only port offers EPP alone.
    form.PortSelector()->setCurrentIndex(1);
    emit form.PortSelector()->activated(1);
    EXPECT_EQ(wide.PortIndex, 1);
    EXPECT_EQ(form.BaseAddress()->text(), "0278h");
    EXPECT_FALSE(form.ModeButton(mb_spp)->isEnabled());
    EXPECT_TRUE(form.ModeButton(mb_epp)->isEnabled());
    EXPECT_FALSE(form.ModeButton(mb_ecp)->isEnabled());

    const int row = options.PGMTIM();
    Type(form.PGMTIMEedit(), "54");
    Type(form.TENCYCedit(), "0028");
    QTest::mouseClick(form.OkButton(), Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(options.Label4(), "5400287F");
    EXPECT_EQ(wide.PGMTIME, 0x54);
    EXPECT_EQ(wide.TENCYC, 0x28);
    EXPECT_EQ(options.PGMTIM(), row);
}

TEST_F(PortDialogs, AdvancedDefaultsPutsTheSelectedRangesTimingBackAndThePortIntoSpp)
{
    TAdvancedFrm form(setup);
    form.SetPorts({"LPT1", "LPT2"});
    const std::string defaults = options.Label4();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(form.ModeButton(mb_ecp), Qt::LeftButton);
    EXPECT_EQ(lpt->LptMode(), 5);
    Type(form.PGMTIMEedit(), "11");
    QTest::mouseClick(form.DefaultsButton(), Qt::LeftButton);
    EXPECT_EQ(lpt->LptMode(), 1);
    EXPECT_EQ(wide.LptMode, 1);
    EXPECT_EQ(form.PGMTIMEedit()->Value(), std::stoi(defaults.substr(0, 2), nullptr, 16));
    EXPECT_EQ(form.TENCYCedit()->Value(), std::stoi(defaults.substr(2, 4), nullptr, 16));
    // Cancel drops what was typed into the timing entries.
    Type(form.PGMTIMEedit(), "22");
    QTest::mouseClick(form.CancelButton(), Qt::LeftButton);
    EXPECT_EQ(options.Label4(), defaults);
}

// The mode buttons and the port selector act on the port at once, and a Cancel keeps what they
// did; only what was typed into the timing entries is dropped.
TEST_F(PortDialogs, AdvancedCancelKeepsThePortAndModeButDropsTheTypedTiming)
{
    TAdvancedFrm form(setup);
    form.SetPorts({"LPT1", "LPT2"});
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const TLinkWide opening = wide;

    QTest::mouseClick(form.ModeButton(mb_ps2), Qt::LeftButton);  // LPT1 is an ECP port
    ASSERT_EQ(lpt->LptMode(), 2);
    form.PortSelector()->setCurrentIndex(1);
    emit form.PortSelector()->activated(1);
    ASSERT_EQ(lpt->BaseAddress(), 0x278);
    Type(form.PGMTIMEedit(), "33");
    QTest::mouseClick(form.CancelButton(), Qt::LeftButton);

    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(lpt->BaseAddress(), 0x278);
    EXPECT_EQ(wide.PGMTIME, opening.PGMTIME);
    EXPECT_EQ(wide.TENCYC, opening.TENCYC);
    lpt->SelectPort(1);
    EXPECT_EQ(lpt->LptMode(), 2);
}

// A shell that keeps the session's log lines.
struct TLoggingView final : TNullShellView {
    void AppendLog(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

TEST(SessionPortSetup, TheDialogsChoicesLandInTheSessionsOwnLinkOnly)
{
    TLoggingView view;
    TAppSession session(view, nullptr);
    TAppSession other(view, nullptr);
    for (TAppSession* s : {&session, &other}) {
        auto io = std::make_unique<FakeRegisterFile>();
        auto config = std::make_unique<FakeConfigSource>();
        io->ports[0x378].kind = FakeKind::ecp;
        io->ports[0x278].kind = FakeKind::ecp;
        config->ports["LPT1"] = PortAt(0x378, 7);
        config->ports["LPT2"] = PortAt(0x278, 5, 3);
        auto unit = std::make_unique<TVicLPT>(std::move(io), std::move(config));
        ASSERT_TRUE(unit->OpenDriver(1));
        s->LinkContext().ReplaceLpt(std::move(unit));
        s->LinkContext().SetTimerMeasurement(ReadyTimer(1000));
    }
    session.Options().SelectPGMTIM(23);
    session.Options().PGMTIMChange();

    TfispVask dialog(session.PortSetup(), {});
    dialog.AddPortName("LPT1");
    dialog.AddPortName("LPT2");
    EXPECT_TRUE(dialog.Run(0, [&](QDialog& d) {
        dialog.PortSelector()->setCurrentIndex(1);
        emit dialog.PortSelector()->activated(1);
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        return d.result();
    }));
    EXPECT_EQ(session.LinkContext().Wide().PortIndex, 1);
    EXPECT_EQ(session.LinkContext().Lpt().BaseAddress(), 0x278);

    TAdvancedFrm form(session.PortSetup());
    form.SetPorts({"LPT1", "LPT2"});
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    // The refresh's block reaches the session's shell.
    EXPECT_NE(std::find(view.lines.begin(), view.lines.end(), "BasePortAddress=0278h"), view.lines.end());
    QTest::mouseClick(form.ModeButton(mb_ps2), Qt::LeftButton);
    Type(form.PGMTIMEedit(), "54");
    Type(form.TENCYCedit(), "0028");
    QTest::mouseClick(form.OkButton(), Qt::LeftButton);
    const TLinkWide& wide = session.LinkContext().Wide();
    EXPECT_EQ(wide.PGMTIME, 0x54);
    EXPECT_EQ(wide.TENCYC, 0x28);
    EXPECT_EQ(wide.LptMode, 2);
    EXPECT_EQ(session.LinkContext().Lpt().LptMode(), 2);
    EXPECT_EQ(session.Options().Label4().substr(0, 6), "540028");

    // The other session's link saw none of it.
    const TLinkWide untouched;
    EXPECT_EQ(other.LinkContext().Wide().PortIndex, untouched.PortIndex);
    EXPECT_EQ(other.LinkContext().Wide().PGMTIME, untouched.PGMTIME);
    EXPECT_EQ(other.LinkContext().Lpt().CurrentPort(), 1);
    EXPECT_NE(other.LinkContext().Lpt().LptMode(), 2);
}

// The refusal to close during an operation must not hold the operation: the box is shown and the
// call returns; a second refusal brings the same box forward instead of stacking another.
TEST(MessageBoxes, WarnWithoutWaitingReturnsAtOnceWithOneNonModalBox)
{
    QWidget parent;
    parent.show();
    TQtMessageBoxes boxes;
    boxes.WarnWithoutWaiting(&parent, QStringLiteral("Title"), QStringLiteral("first"));
    boxes.WarnWithoutWaiting(&parent, QStringLiteral("Title"), QStringLiteral("second"));
    const QList<QMessageBox*> shown = parent.findChildren<QMessageBox*>();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown.front()->isVisible());
    EXPECT_EQ(shown.front()->windowModality(), Qt::NonModal);
    EXPECT_EQ(shown.front()->text(), QStringLiteral("second"));
    shown.front()->close();
}
