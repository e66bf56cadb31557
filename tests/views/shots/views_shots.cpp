// Pictures of the views: the hex view of a 32 KB image with normal, verified and failed bytes,
// the cursor in each column and an edit in progress; the placeholder view; the option editor for
// COP8SBR9 with option byte 2Dh as the main window sets it up; a form of number fields.
#include <QFormLayout>
#include <QKeyEvent>
#include <QTest>

#include "devices/devices.h"
#include "devices/optioneditor.h"
#include "image/hexlist.h"
#include "shots.h"
#include "views/optioneditorwidget.h"
#include "views/hexedit.h"
#include "views/hexview.h"

namespace {

THexList& ShotImage()
{
    static THexList image;
    if (image.Size() == 0) {
        image.SetSize(0x8000);
        uint32_t seed = 7;
        for (uint32_t a = 0; a < image.Size(); ++a) {
            seed = seed * 134775813u + 1;
            image.SetValue(a, a < 0x200 ? static_cast<uint8_t>(seed >> 24) : 0xFF);
        }
        for (uint32_t a = 0; a < 0x80; ++a) image.SetStatus(a, TProgStatus(ps_verified));
        for (uint32_t a : {0x23u, 0x24u, 0x57u}) image.SetStatus(a, TProgStatus(ps_failed));
        const char* text = "ZEMPRIX demo";
        for (uint32_t i = 0; text[i]; ++i) image.SetValue(0x90 + i, static_cast<uint8_t>(text[i]));
    }
    return image;
}

std::unique_ptr<THexWindow> View(int width = 700, int height = 360)
{
    auto view = std::make_unique<THexWindow>();
    view->resize(width, height);
    view->SetData(&ShotImage());
    return view;
}

}  // namespace

ZEMPRIX_SHOT("hexview.png")
{
    auto view = View();
    view->MoveCursor(0x45);
    return view;
}

ZEMPRIX_SHOT("hexview-editing.png")
{
    auto view = View();
    view->show();
    view->MoveCursor(0x56);
    QTest::keyClicks(view.get(), "7");  // one digit typed: the edit box shows it
    return view;
}

ZEMPRIX_SHOT("hexview-charcolumn.png")
{
    auto view = View();
    view->show();
    view->MoveCursor(0x93);
    QTest::keyClick(view.get(), Qt::Key_Tab);
    return view;
}

ZEMPRIX_SHOT("hexview-placeholder.png")
{
    auto view = std::make_unique<THexWindow>();
    view->resize(700, 240);
    return view;
}

ZEMPRIX_SHOT("optioneditor-COP8SBR9.png")
{
    static TBaseFuseForm model;
    static THexList image;
    image.SetSize(static_cast<uint32_t>(DeviceList().FindDevice("COP8SBR9", 0xFF)->FlashSize()));
    model.BindImage(&image);
    model.SelectPGMTIM(23);
    model.PGMTIMChange();
    model.SetOptions(0x2D);
    auto editor = std::make_unique<TBaseFuseFrame>(model);
    editor->DisableClockSelector();
    editor->HideAccessCompMode();
    editor->resize(560, 360);
    return editor;
}

ZEMPRIX_SHOT("hexedit.png")
{
    auto form = std::make_unique<QWidget>();
    auto* layout = new QFormLayout(form.get());
    auto* hex = new THexEdit;
    hex->setMaxLength(8);
    hex->SetValue(0x1A2B);
    auto* dec = new THexEdit;
    dec->SetNumBase(THexEdit::ebDec);
    dec->SetValue(4711);
    auto* bin = new THexEdit;
    bin->SetNumBase(THexEdit::ebBin);
    bin->SetValue(0xA5);
    layout->addRow(QStringLiteral("Hexadecimal:"), hex);
    layout->addRow(QStringLiteral("Decimal:"), dec);
    layout->addRow(QStringLiteral("Binary:"), bin);
    form->resize(320, 120);
    return form;
}
