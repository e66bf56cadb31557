#include "gui/portdialogs.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cmath>

#include "base/hextext.h"
#include "views/hexedit.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A caption and its value label in a grid row.
QLabel* ValueRow(QGridLayout* grid, int row, const QString& caption, const QString& name, QWidget* parent)
{
    grid->addWidget(new QLabel(caption, parent), row, 0);
    auto* value = new QLabel(parent);
    value->setObjectName(name);
    grid->addWidget(value, row, 1);
    return value;
}

QString HexLabel(unsigned value, int digits) { return Q(hex::Hex(value, digits)) + QLatin1Char('h'); }

QString StatusText(const TPortDetails& port)
{
    return port.Present ? QStringLiteral("Present") : QStringLiteral("Not present");
}

}  // namespace

// ---- TAdvancedFrm -------------------------------------------------------------------------------

TAdvancedFrm::TAdvancedFrm(IPortSetup& setup, QWidget* parent) : QDialog(parent), setup_(setup)
{
    setObjectName(QStringLiteral("AdvancedFrm"));
    setWindowTitle(QStringLiteral("Advanced Settings"));
    auto* layout = new QVBoxLayout(this);

    auto* timing = new QGroupBox(QStringLiteral("Advanced Timing Settings"), this);
    auto* tg = new QGridLayout(timing);
    tg->addWidget(new QLabel(QStringLiteral("COP8 PGMTIME"), timing), 0, 0);
    pgmtime_ = new THexEdit(timing);
    pgmtime_->setObjectName(QStringLiteral("PGMTIMEedit"));
    pgmtime_->setMaxLength(2);
    tg->addWidget(pgmtime_, 0, 1);
    tg->addWidget(new QLabel(QStringLiteral("Delay Multiplier"), timing), 1, 0);
    tencyc_ = new THexEdit(timing);
    tencyc_->setObjectName(QStringLiteral("TENCYCedit"));
    tencyc_->setMaxLength(4);
    tg->addWidget(tencyc_, 1, 1);
    layout->addWidget(timing);

    auto* comms = new QGroupBox(QStringLiteral("Advanced Communications Settings"), this);
    auto* cl = new QVBoxLayout(comms);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(new QLabel(QStringLiteral("Port Selection"), comms));
    portSelector_ = new QComboBox(comms);
    portSelector_->setObjectName(QStringLiteral("PortSelector"));
    portRow->addWidget(portSelector_, 1);
    cl->addLayout(portRow);
    auto* lower = new QHBoxLayout;
    auto* modesBox = new QGroupBox(QStringLiteral("Available LPT Modes"), comms);
    auto* ml = new QVBoxLayout(modesBox);
    const std::array<const char*, kLptModeCount> captions{"SPP Mode", "PS/2 Mode", "EPP Mode", "Fast Centronix",
                                                     "ECP Mode"};
    const std::array<const char*, kLptModeCount> names{"SPP_Mode", "PS2_Mode", "EPP_Mode", "FastCentronix_Mode",
                                                  "ECP_Mode"};
    for (int i = 0; i < kLptModeCount; ++i) {
        auto* b = new QRadioButton(QString::fromLatin1(captions[size_t(i)]), modesBox);
        b->setObjectName(QString::fromLatin1(names[size_t(i)]));
        ml->addWidget(b);
        modes_[size_t(i)] = b;
        // Modes 1..5 in button order; the port switches at once.
        connect(b, &QRadioButton::clicked, this, [this, i](bool checked) {
            if (checked) setup_.SetLptMode(i + 1);
        });
    }
    lower->addWidget(modesBox);
    auto* infoBox = new QGroupBox(QStringLiteral("LPT info"), comms);
    auto* ig = new QGridLayout(infoBox);
    status_ = ValueRow(ig, 0, QStringLiteral("Status:"), QStringLiteral("Status"), infoBox);
    base_ = ValueRow(ig, 1, QStringLiteral("Base Address:"), QStringLiteral("BaseAddress"), infoBox);
    irq_ = ValueRow(ig, 2, QStringLiteral("IRQ number:"), QStringLiteral("IRQnumber"), infoBox);
    dma_ = ValueRow(ig, 3, QStringLiteral("DMA channel:"), QStringLiteral("DMAchannel"), infoBox);
    lower->addWidget(infoBox);
    cl->addLayout(lower);
    layout->addWidget(comms);

    auto* buttons = new QHBoxLayout;
    defaults_ = new QPushButton(QStringLiteral("Defaults"), this);
    defaults_->setAutoDefault(false);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setAutoDefault(false);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    buttons->addWidget(defaults_);
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(ok_);
    layout->addLayout(buttons);

    connect(portSelector_, qOverload<int>(&QComboBox::activated), this, [this](int i) { PortSelectorChange(i); });
    connect(defaults_, &QPushButton::clicked, this, [this] { Defaults(); });
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(ok_, &QPushButton::clicked, this, &TAdvancedFrm::accept);
}

void TAdvancedFrm::SetPorts(const QStringList& ports)
{
    portSelector_->clear();
    portSelector_->addItems(ports);
}

void TAdvancedFrm::SelectPortEntry(int index) { portSelector_->setCurrentIndex(index); }

void TAdvancedFrm::RefreshPortInfo()
{
    const TPortDetails port = setup_.RefreshPort();
    status_->setText(StatusText(port));
    for (int i = 0; i < kLptModeCount; ++i) {
        QRadioButton* b = modes_[size_t(i)];
        b->setEnabled(port.ModeOffered[size_t(i)]);
        // Radio buttons of one parent keep one checked: clear them all for "none".
        b->setAutoExclusive(false);
        b->setChecked(i + 1 == port.LptMode);
        b->setAutoExclusive(true);
    }
    base_->setText(HexLabel(port.BaseAddress, 4));
    irq_->setText(HexLabel(port.IrqNumber, 2));
    dma_->setText(HexLabel(port.DmaChannel, 2));
}

void TAdvancedFrm::ShowTiming(const TPortTiming& timing)
{
    pgmtime_->SetValue(timing.PGMTIME);
    tencyc_->SetValue(timing.TENCYC);
}

void TAdvancedFrm::FormShow()
{
    ShowTiming(setup_.Timing());
    const int index = setup_.PortIndex();
    portSelector_->setCurrentIndex(index < portSelector_->count() ? index : -1);
    RefreshPortInfo();
}

void TAdvancedFrm::showEvent(QShowEvent* event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TAdvancedFrm::PortSelectorChange(int index)
{
    if (index < 0) return;
    setup_.SwitchPort(index);
    RefreshPortInfo();
}

void TAdvancedFrm::Defaults() { ShowTiming(setup_.Defaults()); }

void TAdvancedFrm::accept()
{
    setup_.Accept(portSelector_->currentIndex(),
                  {static_cast<uint8_t>(pgmtime_->Value()), static_cast<uint16_t>(tencyc_->Value())});
    QDialog::accept();
}

// ---- TfispVask ----------------------------------------------------------------------------------

TfispVask::TfispVask(IPortSetup& setup, std::function<void()> advanced, QWidget* parent)
    : QDialog(parent), setup_(setup), cpuSpeed_(setup.CpuSpeedMHz())
{
    setObjectName(QStringLiteral("fispVask"));
    setWindowTitle(QStringLiteral("ISP Configuration"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Port Selection"), this);
    auto* grid = new QGridLayout(group);
    portSelector_ = new QComboBox(group);
    portSelector_->setObjectName(QStringLiteral("PortSelector"));
    grid->addWidget(portSelector_, 0, 0, 1, 2);
    // Which device an entry stands for on this machine (COMn and LPTn are only numbers here).
    identity_ = new QLabel(group);
    identity_->setObjectName(QStringLiteral("PortIdentity"));
    identity_->setWordWrap(true);
    grid->addWidget(identity_, 1, 0, 1, 2);
    status_ = ValueRow(grid, 2, QStringLiteral("Status:"), QStringLiteral("Status"), group);
    base_ = ValueRow(grid, 3, QStringLiteral("Base Address:"), QStringLiteral("BaseAddress"), group);
    irq_ = ValueRow(grid, 4, QStringLiteral("IRQ number:"), QStringLiteral("IRQnumber"), group);
    dma_ = ValueRow(grid, 5, QStringLiteral("DMA channel:"), QStringLiteral("DMAchannel"), group);
    cpu_ = ValueRow(grid, 6, QStringLiteral("CPU Speed:"), QStringLiteral("CPUSpeed"), group);
    grid->setColumnStretch(1, 1);
    layout->addWidget(group);

    auto* buttons = new QHBoxLayout;
    ok_ = new QPushButton(QStringLiteral("Ok"), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setAutoDefault(false);
    advanced_ = new QPushButton(QStringLiteral("Advanced"), this);
    advanced_->setObjectName(QStringLiteral("Button3"));
    advanced_->setAutoDefault(false);
    advanced_->setEnabled(static_cast<bool>(advanced));
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addStretch();
    buttons->addWidget(advanced_);
    layout->addLayout(buttons);

    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(portSelector_, qOverload<int>(&QComboBox::activated), this, [this](int i) { SelectionChange(i); });
    connect(advanced_, &QPushButton::clicked, this, [this, advanced] {
        if (!advanced) return;
        advanced();
        const int index = setup_.PortIndex();
        portSelector_->setCurrentIndex(index < portSelector_->count() ? index : -1);
        ShowPortDetails(setup_.CurrentPort(), false);
    });
    setMinimumWidth(360);
}

void TfispVask::AddPortName(const QString& name, const QString& identity)
{
    portSelector_->addItem(name);
    identities_ << identity;
}

int TfispVask::SelectedIndex() const { return portSelector_->currentIndex(); }

void TfispVask::ShowPortDetails(const TPortDetails& port, bool withSpeed)
{
    status_->setText(StatusText(port));
    base_->setText(HexLabel(port.BaseAddress, 4));
    irq_->setText(HexLabel(port.IrqNumber, 2));
    dma_->setText(HexLabel(port.DmaChannel, 2));
    if (withSpeed) cpu_->setText(QString::number(std::llround(cpuSpeed_)));
    const int i = portSelector_->currentIndex();
    identity_->setText(i >= 0 && i < identities_.size() ? identities_[i] : QString());
}

void TfispVask::SelectionChange(int index)
{
    if (index < 0) return;
    ShowPortDetails(setup_.SelectPort(index), true);
}

bool TfispVask::Run(int index, const std::function<int(QDialog&)>& exec)
{
    const TPortSetupMark opening = setup_.Mark();
    portSelector_->setCurrentIndex(index);
    // The link's own port is selected again, whatever entry the caller shows.
    ShowPortDetails(setup_.SelectPort(setup_.PortIndex()), true);
    if (exec(*this) == QDialog::Accepted) return true;
    // A cancelled dialog changes nothing: the link keeps the port it had.
    setup_.RestorePort(opening);
    return false;
}
