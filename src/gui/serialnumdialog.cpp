#include "gui/serialnumdialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <initializer_list>

#include "image/serialnum.h"
#include "views/hexedit.h"

namespace {

// A radio group box: the buttons get ids 0.. in order, laid out in `columns` columns.
QGroupBox* RadioGroup(QWidget* parent, const QString& title, const QStringList& items, int columns,
                      QButtonGroup*& group)
{
    auto* box = new QGroupBox(title, parent);
    auto* grid = new QGridLayout(box);
    group = new QButtonGroup(box);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], box);
        group->addButton(b, i);
        grid->addWidget(b, i / columns, i % columns);
    }
    return box;
}

THexEdit::TNumBase NumBase(int item)
{
    switch (item) {
    case TSerialNum::sbBinary: return THexEdit::ebBin;
    case TSerialNum::sbDecimal: return THexEdit::ebDec;
    case TSerialNum::sbOctal: return THexEdit::ebOct;
    default: return THexEdit::ebHex;
    }
}

// Characters a 32-bit value needs in each base: a fixed limit of eight would cut a binary or
// decimal number short and change it.
int DigitsFor32Bits(THexEdit::TNumBase base)
{
    switch (base) {
    case THexEdit::ebBin: return 32;
    case THexEdit::ebOct: return 11;
    case THexEdit::ebDec: return 10;
    default: return 8;
    }
}

}  // namespace

TSerialNumDialog::TSerialNumDialog(TSerialNum& model, THexList& image, QWidget* parent)
    : QDialog(parent), model_(model), image_(image)
{
    setObjectName(QStringLiteral("SerialNum"));
    setWindowTitle(QStringLiteral("Serial Number Generation"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(RadioGroup(this, QStringLiteral("Serial Numbering"),
                              {QStringLiteral("Disabled"), QStringLiteral("Store in Flash")}, 1, mode_));
    sizeGroup_ = RadioGroup(this, QStringLiteral("Serial Number Size"),
                            {QStringLiteral("2 Byte"), QStringLiteral("3 Byte"), QStringLiteral("4 Byte")}, 1, size_);
    top->addWidget(sizeGroup_);
    layout->addLayout(top);

    auto* fields = new QGridLayout;
    currentLabel_ = new QLabel(QStringLiteral("Current Serial Number:"), this);
    current_ = new THexEdit(this);
    current_->setObjectName(QStringLiteral("heCurrentSerial"));
    // The whole 32 bits are a serial number: one from 80000000h up must not turn into 0.
    current_->SetUnsigned32(true);
    currentLabel_->setBuddy(current_);
    locationLabel_ = new QLabel(QStringLiteral("Location:"), this);
    location_ = new THexEdit(this);
    location_->setObjectName(QStringLiteral("heSerialLocation"));
    location_->setMaxLength(6);
    locationLabel_->setBuddy(location_);
    fields->addWidget(currentLabel_, 0, 0);
    fields->addWidget(current_, 0, 1);
    fields->addWidget(locationLabel_, 1, 0);
    fields->addWidget(location_, 1, 1);
    poolLabel_ = new QLabel(QStringLiteral("Pool:"), this);
    pool_ = new QComboBox(this);
    pool_->setObjectName(QStringLiteral("Pool"));
    pool_->setToolTip(QStringLiteral("A pool of the production store gives every station of the line its numbers"));
    poolLabel_->setBuddy(pool_);
    fields->addWidget(poolLabel_, 2, 0);
    fields->addWidget(pool_, 2, 1);
    layout->addLayout(fields);
    // Without a production store there is nothing to choose.
    pool_->addItem(QStringLiteral("none: this PC's own numbers"));
    poolLabel_->setVisible(false);
    pool_->setVisible(false);

    layout->addWidget(RadioGroup(this, QStringLiteral("Serial Number Base"),
                                 {QStringLiteral("Binary"), QStringLiteral("Decimal"), QStringLiteral("Hexadecimal"),
                                  QStringLiteral("Octal")},
                                 4, base_));

    auto* buttons = new QHBoxLayout;
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    clear_ = new QPushButton(QStringLiteral("Clear"), this);
    // Enter in either field acts as OK: OK is the default button.
    ok_->setDefault(true);
    cancel_->setAutoDefault(false);
    clear_->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addWidget(clear_);
    layout->addLayout(buttons);

    connect(mode_, &QButtonGroup::idClicked, this, [this](int id) {
        model_.rgSerialNumMode = id;
        UpdateEnabling();
    });
    connect(size_, &QButtonGroup::idClicked, this, [this](int id) { model_.rgSerialNumSize = id; });
    connect(base_, &QButtonGroup::idClicked, this, [this](int id) {
        model_.RadioGroup1 = id;
        ApplyBase();
    });
    connect(current_, &QLineEdit::textChanged, this, [this] {
        if (!showing_) model_.heCurrentSerial = current_->UnsignedValue();
    });
    connect(location_, &QLineEdit::textChanged, this, [this] {
        if (!showing_) model_.heSerialLocation = static_cast<uint32_t>(location_->Value());
    });
    connect(pool_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (showing_) return;
        model_.Pool = index > 0 ? pool_->itemText(index).toStdString() : std::string();
        UpdateEnabling();
    });
    connect(ok_, &QPushButton::clicked, this, [this] { OkClick(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    connect(clear_, &QPushButton::clicked, this, [this] {
        model_.Clear();
        ShowModel();
    });
    ShowModel();
}

void TSerialNumDialog::ShowModel()
{
    showing_ = true;
    mode_->button(model_.rgSerialNumMode == TSerialNum::smStoreInFlash ? 1 : 0)->setChecked(true);
    size_->button(std::clamp(model_.rgSerialNumSize, 0, 2))->setChecked(true);
    base_->button(std::clamp(model_.RadioGroup1, 0, 3))->setChecked(true);
    ApplyBase();
    location_->SetValue(model_.heSerialLocation & 0xFFFFFFu);
    const int poolIndex = model_.Pool.empty() ? 0 : pool_->findText(QString::fromStdString(model_.Pool));
    pool_->setCurrentIndex(poolIndex < 0 ? 0 : poolIndex);
    showing_ = false;
    UpdateEnabling();
}

void TSerialNumDialog::ApplyBase()
{
    const bool wasShowing = showing_;
    showing_ = true;
    const THexEdit::TNumBase base = NumBase(model_.RadioGroup1);
    // The model's value is the truth: switching base changes only how it is shown.
    current_->SetNumBase(base);
    current_->setMaxLength(DigitsFor32Bits(base));
    current_->SetValue(model_.heCurrentSerial);
    showing_ = wasShowing;
}

void TSerialNumDialog::UpdateEnabling()
{
    const bool on = model_.FieldsEnabled();
    // A pool brings its own size, location and next number.
    const bool own = on && model_.Pool.empty();
    for (QWidget* w : std::initializer_list<QWidget*>{sizeGroup_, currentLabel_, locationLabel_, current_, location_})
        w->setEnabled(own);
    poolLabel_->setEnabled(on);
    pool_->setEnabled(on);
}

void TSerialNumDialog::SetPools(const std::vector<std::string>& names)
{
    const bool wasShowing = showing_;
    showing_ = true;
    pool_->clear();
    pool_->addItem(QStringLiteral("none: this PC's own numbers"));
    for (const std::string& name : names) pool_->addItem(QString::fromStdString(name));
    // A pool chosen before stays chosen even when the store cannot list it now: the run reports why.
    if (!model_.Pool.empty() && pool_->findText(QString::fromStdString(model_.Pool)) < 0)
        pool_->addItem(QString::fromStdString(model_.Pool));
    const bool any = pool_->count() > 1;
    poolLabel_->setVisible(any);
    pool_->setVisible(any);
    showing_ = wasShowing;
    ShowModel();
}

void TSerialNumDialog::showEvent(QShowEvent* event)
{
    ShowModel();
    QDialog::showEvent(event);
}

void TSerialNumDialog::reject()
{
    model_.Cancel();
    ShowModel();
    QDialog::reject();
}

void TSerialNumDialog::OkClick()
{
    bool placed = false;
    try {
        // A pool's number is placed by each run when it is reserved.
        placed = model_.Pool.empty() ? model_.Button2Click(image_) : true;
    } catch (const std::exception& e) {
        // Nothing may escape into the dialog's event loop; the model refuses such locations first.
        if (model_.OnMessage) model_.OnMessage(e.what());
    }
    if (placed) accept();
}
