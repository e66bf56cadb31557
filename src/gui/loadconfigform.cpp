#include "gui/loadconfigform.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/projects.h"

TLoadConfigForm::TLoadConfigForm(TStore store, QWidget* parent) : QDialog(parent), store_(std::move(store))
{
    setObjectName(QStringLiteral("LoadConfigForm"));
    auto* grid = new QGridLayout(this);
    configStorage_ = new QLabel(this);
    configStorage_->setObjectName(QStringLiteral("ConfigStorage"));
    grid->addWidget(configStorage_, 0, 0, 1, 2);
    lbselect_ = new QListWidget(this);
    lbselect_->setObjectName(QStringLiteral("lbselect"));
    grid->addWidget(lbselect_, 1, 0);
    auto* buttons = new QVBoxLayout;
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("aOK"));
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    delete_ = new QPushButton(QStringLiteral("Delete"), this);
    delete_->setObjectName(QStringLiteral("adelete"));
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addWidget(delete_);
    buttons->addStretch();
    grid->addLayout(buttons, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Enter a Name here for your configuration settings"), this), 2, 0);
    edit1_ = new QLineEdit(this);
    edit1_->setObjectName(QStringLiteral("Edit1"));
    grid->addWidget(edit1_, 3, 0);
    setFixedSize(480, 300);

    connect(lbselect_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        edit1_->setText(item->text());
        UpdateButtons();
    });
    connect(lbselect_, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });
    connect(lbselect_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (!item->text().isEmpty()) {
            edit1_->setText(item->text());
            accept();
        }
    });
    connect(edit1_, &QLineEdit::textChanged, this, [this] { UpdateButtons(); });
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(delete_, &QPushButton::clicked, this, [this] {
        QListWidgetItem* item = lbselect_->currentItem();
        if (!item) return;
        // Deleted at once, whatever the dialog's answer is later.
        if (store_.Delete) store_.Delete(item->text().toStdString());
        Refill();
    });
}

void TLoadConfigForm::Prepare(const std::string& name, TMode mode)
{
    mode_ = mode;
    if (mode == Load) {
        setWindowTitle(QStringLiteral("Load Configuration"));
        configStorage_->setText(QStringLiteral("Click here to restore previously saved configurations"));
        edit1_->clear();
        edit1_->setReadOnly(true);
    } else {
        setWindowTitle(QStringLiteral("Save Configuration"));
        configStorage_->setText(QStringLiteral("Click here to overwrite a previously saved configuration"));
        edit1_->setReadOnly(false);
        edit1_->setText(QString::fromStdString(name));
    }
    Refill();
    edit1_->setFocus();
}

bool TLoadConfigForm::SelectConfiguration(std::string& name, TMode mode)
{
    Prepare(name, mode);
    if (exec() != QDialog::Accepted) return false;
    name = Result();
    return true;
}

std::string TLoadConfigForm::Result() const
{
    if (mode_ == Load) {
        const QListWidgetItem* item = lbselect_->currentItem();
        return item ? item->text().toStdString() : edit1_->text().toStdString();
    }
    return edit1_->text().toStdString();
}

void TLoadConfigForm::Refill()
{
    lbselect_->clear();
    if (store_.Names)
        for (const std::string& n : store_.Names()) lbselect_->addItem(QString::fromStdString(n));
    UpdateButtons();
}

void TLoadConfigForm::UpdateButtons()
{
    const bool selected = lbselect_->currentItem() != nullptr;
    // A name that would nest keys is not a name the store can keep.
    ok_->setEnabled(mode_ == Load ? selected : projects::ValidName(edit1_->text().toStdString()));
    delete_->setEnabled(selected);
}
