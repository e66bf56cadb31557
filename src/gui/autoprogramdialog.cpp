#include "gui/autoprogramdialog.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/autoprogram.h"

TAutoProgramDialog::TAutoProgramDialog(TAutoProgramSteps& steps, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), steps_(steps)
{
    setWindowTitle(QStringLiteral("Auto Program Options"));
    setObjectName(QStringLiteral("AutoProgramDialog"));
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    for (int i = 0; i < TAutoProgramSteps::kCount; ++i) {
        auto* item = new QListWidgetItem(QString::fromLatin1(TAutoProgramSteps::Caption(i)), list_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(steps.Checked(i) ? Qt::Checked : Qt::Unchecked);
    }
    layout->addWidget(list_);
    auto* row = new QHBoxLayout;
    row->addStretch();
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    row->addWidget(ok_);
    layout->addLayout(row);
    connect(ok_, &QPushButton::clicked, this, &TAutoProgramDialog::accept);
    setFixedSize(280, 260);
}

void TAutoProgramDialog::accept()
{
    for (int i = 0; i < TAutoProgramSteps::kCount; ++i)
        steps_.SetChecked(i, list_->item(i)->checkState() == Qt::Checked);
    QDialog::accept();
}
