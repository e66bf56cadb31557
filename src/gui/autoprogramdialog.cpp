#include "gui/autoprogramdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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
    layout->addWidget(new QLabel(QStringLiteral("Production record (CSV, one line per board):"), this));
    auto* recordRow = new QHBoxLayout;
    record_ = new QLineEdit(QString::fromStdString(steps.RecordFile()), this);
    record_->setObjectName(QStringLiteral("RecordFile"));
    record_->setPlaceholderText(QStringLiteral("none"));
    record_->setClearButtonEnabled(true);
    browse_ = new QPushButton(QStringLiteral("Browse..."), this);
    browse_->setAutoDefault(false);
    recordRow->addWidget(record_, 1);
    recordRow->addWidget(browse_);
    layout->addLayout(recordRow);
    connect(browse_, &QPushButton::clicked, this, [this] {
        if (!chooser_) return;
        const QString chosen = chooser_(record_->text());
        if (!chosen.isEmpty()) record_->setText(chosen);
    });
    layout->addWidget(new QLabel(QStringLiteral("Production store (PostgreSQL URL or SQLite file):"), this));
    database_ = new QLineEdit(QString::fromStdString(steps.Database()), this);
    database_->setObjectName(QStringLiteral("Database"));
    database_->setPlaceholderText(QStringLiteral("none, e.g. postgresql://station@server/line"));
    database_->setToolTip(QStringLiteral("The password comes from ~/.pgpass or PGPASSWORD, never from here."));
    database_->setClearButtonEnabled(true);
    layout->addWidget(database_);
    auto* row = new QHBoxLayout;
    row->addStretch();
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    row->addWidget(ok_);
    layout->addLayout(row);
    connect(ok_, &QPushButton::clicked, this, &TAutoProgramDialog::accept);
    setFixedSize(360, 380);
}

void TAutoProgramDialog::accept()
{
    for (int i = 0; i < TAutoProgramSteps::kCount; ++i)
        steps_.SetChecked(i, list_->item(i)->checkState() == Qt::Checked);
    steps_.SetRecordFile(record_->text().trimmed().toStdString());
    steps_.SetDatabase(database_->text().trimmed().toStdString());
    QDialog::accept();
}
