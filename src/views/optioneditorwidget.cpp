#include "views/optioneditorwidget.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "devices/optioneditor.h"

TBaseFuseFrame::TBaseFuseFrame(TBaseFuseForm& model, QWidget* parent) : QWidget(parent), model_(model)
{
    setObjectName(QStringLiteral("FuseForm"));
    auto* grid = new QGridLayout(this);
    int row = 0, column = 0;
    auto place = [&](QWidget* w) {
        grid->addWidget(w, row, column);
        if (++column == 2) {
            column = 0;
            ++row;
        }
    };
    AddGroup("Security", "Security", "Disabled", "Enabled", [this](int i) { model_.SecurityClick(i); }, &TBaseFuseForm::Security);
    place(radios_.back().group->buttons().front()->parentWidget());
    AddGroup("Watchdog", "Watchdog", "Enabled", "Disabled", [this](int i) { model_.WatchdogClick(i); }, &TBaseFuseForm::Watchdog);
    place(radios_.back().group->buttons().front()->parentWidget());
    AddGroup("HaltMode", "Halt Mode", "Enabled", "Disabled", [this](int i) { model_.HaltModeClick(i); }, &TBaseFuseForm::HaltMode);
    place(radios_.back().group->buttons().front()->parentWidget());
    AddGroup("FlexBit", "FLEX Bit", "Disabled", "Enabled", [this](int i) { model_.FlexBitClick(i); }, &TBaseFuseForm::FlexBit);
    place(radios_.back().group->buttons().front()->parentWidget());
    AddGroup("AccessCompMode", "ACCESS.Bus 1.8V Compatibility Mode", "Disabled", "Enabled",
             [this](int i) { model_.AccessCompModeClick(i); }, &TBaseFuseForm::AccessCompMode);
    accessBox_ = static_cast<QGroupBox*>(radios_.back().group->buttons().front()->parentWidget());
    place(accessBox_);

    if (column != 0) ++row;
    auto* form = new QFormLayout;
    clockSelector_ = new QComboBox(this);
    clockSelector_->setObjectName(QStringLiteral("ClockSelector"));
    for (const char* source : kClockSources) clockSelector_->addItem(QString::fromLatin1(source));
    form->addRow(QStringLiteral("Clock Selection:"), clockSelector_);
    pgmtim_ = new QComboBox(this);
    pgmtim_->setObjectName(QStringLiteral("PGMTIM"));
    for (const TClockRange& range : kClockRanges) pgmtim_->addItem(QString::fromLatin1(range.Text));
    form->addRow(QStringLiteral("Target Clock Frequency:"), pgmtim_);
    label4_ = new QLabel(this);
    label4_->setObjectName(QStringLiteral("Label4"));
    form->addRow(QStringLiteral("Timing Values:"), label4_);
    label5_ = new QLabel(this);
    label5_->setObjectName(QStringLiteral("Label5"));
    form->addRow(QStringLiteral("Option Register Byte:"), label5_);
    grid->addLayout(form, row, 0, 1, 2);
    grid->setRowStretch(row + 1, 1);

    connect(clockSelector_, QOverload<int>::of(&QComboBox::activated), this,
            [this](int item) { model_.ClockSelectorChange(item); });
    connect(pgmtim_, QOverload<int>::of(&QComboBox::activated), this, [this](int row) {
        model_.SelectPGMTIM(row);
        model_.PGMTIMChange();
    });
    modelChanged_ = model_.OnChange.Subscribe([this] { Refresh(); });
    Refresh();
}

QButtonGroup* TBaseFuseFrame::AddGroup(const char* name, const char* title, const char* zero, const char* one,
                                       std::function<void(int)> click, int TBaseFuseForm::*item)
{
    auto* box = new QGroupBox(QString::fromLatin1(title), this);
    box->setObjectName(QString::fromLatin1(name));
    auto* layout = new QVBoxLayout(box);
    auto* group = new QButtonGroup(box);
    group->setObjectName(QString::fromLatin1(name));
    for (int index = 0; index < 2; ++index) {
        auto* b = new QRadioButton(QString::fromLatin1(index == 0 ? zero : one), box);
        group->addButton(b, index);
        layout->addWidget(b);
    }
    connect(group, &QButtonGroup::idClicked, this, [this, click = std::move(click)](int index) {
        if (!refreshing_) click(index);
    });
    radios_.push_back(TRadio{name, group, item});
    return group;
}

QButtonGroup* TBaseFuseFrame::Group(const char* name) const
{
    for (const TRadio& r : radios_)
        if (std::string(r.name) == name) return r.group;
    return nullptr;
}

void TBaseFuseFrame::DisableClockSelector() { clockSelector_->setEnabled(false); }

void TBaseFuseFrame::HideAccessCompMode() { accessBox_->hide(); }

void TBaseFuseFrame::SetLive(bool live)
{
    setEnabled(live);
    if (!live) {
        modelChanged_.Reset();
        return;
    }
    if (!modelChanged_) modelChanged_ = model_.OnChange.Subscribe([this] { Refresh(); });
    Refresh();
}

void TBaseFuseFrame::Refresh()
{
    refreshing_ = true;
    for (const TRadio& r : radios_)
        if (QAbstractButton* b = r.group->button(model_.*(r.item))) b->setChecked(true);
    clockSelector_->setCurrentIndex(model_.ClockSelector);
    pgmtim_->setCurrentIndex(model_.PGMTIM());
    label4_->setText(QString::fromStdString(model_.Label4()));
    label5_->setText(QString::fromStdString(model_.Label5()));
    refreshing_ = false;
}
