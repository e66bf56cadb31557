#include "gui/infodialogs.h"

#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TFISPStat::TFISPStat(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("FISPStat"));
    setWindowTitle(QStringLiteral("ZEMPRIX Information"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("ZEMPRIX Version:"), this), 0, 0);
    softRev_ = new QLabel(this);
    softRev_->setObjectName(QStringLiteral("SoftRev"));
    grid->addWidget(softRev_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("COP8 Firmware Revision:"), this), 1, 0);
    firmRev_ = new QLabel(this);
    firmRev_->setObjectName(QStringLiteral("FirmRev"));
    grid->addWidget(firmRev_, 1, 1);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    layout->addWidget(new QLabel(QStringLiteral("Additional Information:"), this));
    addInfo_ = new QListWidget(this);
    addInfo_->setObjectName(QStringLiteral("AddInfo"));
    layout->addWidget(addInfo_);
    auto* row = new QHBoxLayout;
    copy_ = new QPushButton(QStringLiteral("Copy to Clipboard"), this);
    copy_->setAutoDefault(false);
    close_ = new QPushButton(QStringLiteral("Close"), this);
    close_->setDefault(true);
    row->addWidget(copy_);
    row->addStretch();
    row->addWidget(close_);
    layout->addLayout(row);
    connect(copy_, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(ClipboardText()); });
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(420, 320);
}

void TFISPStat::Fill(const std::string& softwareVersion, const std::string& firmware,
                     const std::vector<std::string>& lines)
{
    softRev_->setText(Q(softwareVersion));
    firmRev_->setText(Q(firmware));
    for (const std::string& line : lines) addInfo_->addItem(Q(line));
}

QString TFISPStat::ClipboardText() const
{
    const QString crlf = QStringLiteral("\r\n");
    QString text = QStringLiteral("ZEMPRIX Information") + crlf;
    text += QStringLiteral("ZEMPRIX Software Revision: ") + softRev_->text() + crlf;
    text += QStringLiteral("COP8 Vask Firmware Revision: ") + firmRev_->text() + crlf;
    text += QStringLiteral("Additional Information:") + crlf;
    for (int i = 0; i < addInfo_->count(); ++i) text += addInfo_->item(i)->text() + crlf;
    return text;
}

TPrintStatusD::TPrintStatusD(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PrintStatusD"));
    setWindowTitle(QStringLiteral("Information"));
    auto* layout = new QVBoxLayout(this);
    memo_ = new QPlainTextEdit(this);
    memo_->setObjectName(QStringLiteral("Memo1"));
    memo_->setReadOnly(true);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(memo_);
    auto* row = new QHBoxLayout;
    copy_ = new QPushButton(QStringLiteral("Copy to Clipboard"), this);
    copy_->setAutoDefault(false);
    close_ = new QPushButton(QStringLiteral("Close"), this);
    close_->setDefault(true);
    row->addWidget(copy_);
    row->addStretch();
    row->addWidget(close_);
    layout->addLayout(row);
    connect(copy_, &QPushButton::clicked, this, [this] {
        memo_->selectAll();
        memo_->copy();
    });
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);
    resize(440, 360);
}

void TPrintStatusD::SetLines(const std::vector<std::string>& lines)
{
    QStringList text;
    for (const std::string& line : lines) text << Q(line);
    memo_->setPlainText(text.join(QLatin1Char('\n')));
}
