#include "gui/gangpage.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

void TGangSlotView::ShowStatus(TStatusKind kind, const std::string& text)
{
    q_.Post([this, kind, text = QString::fromStdString(text)] { status_(kind, text); });
}

TGangPage::TGangPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("GangPage"));
    auto* layout = new QVBoxLayout(this);
    table_ = new QTableWidget(0, ColumnCount, this);
    table_->setObjectName(QStringLiteral("GangTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Port"), QStringLiteral("Progress"), QStringLiteral("Last Result"),
                                       QStringLiteral("Serial Number"), QStringLiteral("Time")});
    table_->horizontalHeader()->setSectionResizeMode(Result, QHeaderView::Stretch);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(table_);
}

void TGangPage::SetPorts(const QStringList& ports)
{
    table_->setRowCount(static_cast<int>(ports.size()));
    for (int row = 0; row < ports.size(); ++row) {
        table_->setItem(row, Port, new QTableWidgetItem(ports[row]));
        auto* bar = new QProgressBar(table_);
        bar->setRange(0, 1);
        bar->setValue(0);
        table_->setCellWidget(row, Progress, bar);
        for (int c : {Result, Serial, Time}) table_->setItem(row, c, new QTableWidgetItem());
    }
}

void TGangPage::SetProgress(int row, int position, int maximum)
{
    if (auto* bar = qobject_cast<QProgressBar*>(table_->cellWidget(row, Progress))) {
        bar->setRange(0, std::max(1, maximum));
        bar->setValue(std::clamp(position, 0, std::max(1, maximum)));
    }
}

void TGangPage::SetRow(int row, const QString& result, const QString& serial, const QString& time, bool ok)
{
    if (row < 0 || row >= table_->rowCount()) return;
    table_->item(row, Result)->setText(result);
    table_->item(row, Result)->setForeground(ok ? QColor(0, 128, 0) : QColor(200, 0, 0));
    table_->item(row, Serial)->setText(serial);
    table_->item(row, Time)->setText(time);
}

QString TGangPage::Cell(int row, int column) const
{
    const QTableWidgetItem* item = table_->item(row, column);
    return item ? item->text() : QString();
}

TGangDialog::TGangDialog(const QStringList& ports, const QList<QPair<QString, QString>>& available, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Gang"));
    setObjectName(QStringLiteral("GangDialog"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Boxes of the gang (one serial port each):"), this));
    list_ = new QListWidget(this);
    for (const QString& p : ports) list_->addItem(p);
    layout->addWidget(list_);
    auto* row = new QHBoxLayout;
    auto* known = new QComboBox(this);
    known->setObjectName(QStringLiteral("KnownPorts"));
    for (const auto& [identity, device] : available) known->addItem(identity, device);
    known->setEditable(false);
    entry_ = new QLineEdit(this);
    entry_->setObjectName(QStringLiteral("PortEntry"));
    entry_->setPlaceholderText(QStringLiteral("COMn or /dev/..."));
    auto* addKnown = new QPushButton(QStringLiteral("Add"), this);
    auto* addTyped = new QPushButton(QStringLiteral("Add Typed"), this);
    addTyped->setObjectName(QStringLiteral("AddTyped"));
    auto* remove = new QPushButton(QStringLiteral("Remove"), this);
    row->addWidget(known, 2);
    row->addWidget(addKnown);
    row->addWidget(entry_, 2);
    row->addWidget(addTyped);
    row->addWidget(remove);
    layout->addLayout(row);
    // The list shows each port's identity; the gang keeps the device it opens.
    connect(addKnown, &QPushButton::clicked, this, [this, known] {
        if (known->currentIndex() >= 0) AddPort(known->currentData().toString());
    });
    connect(addTyped, &QPushButton::clicked, this, [this] {
        AddPort(entry_->text().trimmed());
        entry_->clear();
    });
    connect(remove, &QPushButton::clicked, this, [this] { delete list_->takeItem(list_->currentRow()); });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(560, 320);
}

void TGangDialog::AddPort(const QString& port)
{
    // A port belongs to one box: never twice in the list.
    if (port.isEmpty() || !list_->findItems(port, Qt::MatchExactly).isEmpty()) return;
    list_->addItem(port);
}

QStringList TGangDialog::Ports() const
{
    QStringList ports;
    for (int i = 0; i < list_->count(); ++i) ports << list_->item(i)->text();
    return ports;
}
