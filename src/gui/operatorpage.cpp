#include "gui/operatorpage.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* Big(const QString& text, double scale, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(true);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

void Colour(QLabel* label, const QColor& back, const QColor& text)
{
    label->setAutoFillBackground(true);
    QPalette p = label->palette();
    p.setColor(QPalette::Window, back);
    p.setColor(QPalette::WindowText, text);
    label->setPalette(p);
}

}  // namespace

TOperatorPage::TOperatorPage(QWidget* parent) : QWidget(parent), day_(QDate::currentDate())
{
    setObjectName(QStringLiteral("OperatorPage"));
    auto* layout = new QVBoxLayout(this);
    verdict_ = Big(QStringLiteral("READY"), 4.0, this);
    verdict_->setObjectName(QStringLiteral("Verdict"));
    verdict_->setMinimumHeight(140);
    Colour(verdict_, QColor(90, 90, 90), Qt::white);
    layout->addWidget(verdict_, 2);
    boardLine_ = Big(QString(), 1.4, this);
    layout->addWidget(boardLine_);
    failure_ = new QLabel(this);
    failure_->setObjectName(QStringLiteral("FailureLine"));
    failure_->setAlignment(Qt::AlignCenter);
    failure_->setWordWrap(true);
    QFont bold = failure_->font();
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    bold.setBold(true);
    failure_->setFont(bold);
    layout->addWidget(failure_);
    counters_ = Big(QString(), 1.6, this);
    counters_->setObjectName(QStringLiteral("Counters"));
    layout->addWidget(counters_);
    warning_ = new QLabel(this);
    warning_->setObjectName(QStringLiteral("FileWarning"));
    warning_->setAlignment(Qt::AlignCenter);
    warning_->setWordWrap(true);
    warning_->setFont(bold);
    Colour(warning_, QColor(255, 200, 0), Qt::black);
    warning_->hide();
    layout->addWidget(warning_);
    image_ = new QLabel(this);
    image_->setObjectName(QStringLiteral("ImageFacts"));
    image_->setAlignment(Qt::AlignCenter);
    image_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    image_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(image_);
    plug_ = new QLabel(this);
    plug_->setObjectName(QStringLiteral("PlugState"));
    plug_->setAlignment(Qt::AlignCenter);
    layout->addWidget(plug_);
    logButton_ = new QPushButton(QStringLiteral("Status Log"), this);
    logButton_->setObjectName(QStringLiteral("OperatorLogButton"));
    logButton_->setCheckable(true);
    layout->addWidget(logButton_, 0, Qt::AlignLeft);
    log_ = new QListWidget(this);
    log_->setObjectName(QStringLiteral("OperatorLog"));
    log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    log_->hide();
    layout->addWidget(log_, 3);
    connect(logButton_, &QPushButton::toggled, log_, [this](bool on) {
        log_->setVisible(on);
        if (on && log_->count() > 0) log_->scrollToBottom();
    });
    ShowPlugState(QStringLiteral("Plug and Program Mode: off"));
    CountToday();
}

void TOperatorPage::CountToday()
{
    // The counters are the station's for the day: a new day starts from zero.
    const QDate today = QDate::currentDate();
    if (today != day_) {
        day_ = today;
        passed_ = failed_ = 0;
    }
    counters_->setText(QStringLiteral("Pass %1    Fail %2    Total %3").arg(passed_).arg(failed_).arg(passed_ + failed_));
}

void TOperatorPage::ShowBoard(const TBoardResult& board)
{
    CountToday();
    ++(board.Ok ? passed_ : failed_);
    CountToday();
    verdict_->setText(board.Ok ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    Colour(verdict_, board.Ok ? QColor(0, 160, 60) : QColor(210, 0, 0), Qt::white);
    QString line = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    if (!board.Serial.isEmpty()) line = QStringLiteral("Serial %1    %2").arg(board.Serial, line);
    boardLine_->setText(line);
    failure_->setText(board.Ok ? QString() : board.Failure);
}

void TOperatorPage::ShowStoredCounts(int64_t passed, int64_t failed)
{
    passed_ = static_cast<int>(passed);
    failed_ = static_cast<int>(failed);
    day_ = QDate::currentDate();
    counters_->setText(QStringLiteral("Pass %1    Fail %2    Total %3 (store)").arg(passed_).arg(failed_).arg(passed_ + failed_));
}

void TOperatorPage::ShowImage(const TImage& image)
{
    QString text = QStringLiteral("Device: %1\n").arg(image.Device.isEmpty() ? QStringLiteral("-") : image.Device);
    if (image.File.isEmpty())
        text += QStringLiteral("No Flash file loaded");
    else
        text += QStringLiteral("%1\n%2 bytes    CRC-32 %3    %4").arg(image.File).arg(image.Size).arg(image.Crc32, image.FileTime);
    if (!image.Suspect.isEmpty()) text += QStringLiteral("\nWarning: ") + image.Suspect;
    image_->setText(text);
}

void TOperatorPage::ShowPlugState(const QString& state) { plug_->setText(state); }

void TOperatorPage::ShowFileWarning(const QString& text)
{
    warning_->setText(text);
    warning_->setVisible(!text.isEmpty());
}

void TOperatorPage::AppendLog(const QString& line)
{
    log_->addItem(line);
    // A production day fills the log: the page keeps the last lines only.
    while (log_->count() > 2000) delete log_->takeItem(0);
    if (log_->isVisible()) log_->scrollToBottom();
}

QString TOperatorPage::Verdict() const { return verdict_->text(); }
QString TOperatorPage::FailureLine() const { return failure_->text(); }
QString TOperatorPage::Counters() const { return counters_->text(); }
QString TOperatorPage::ImageText() const { return image_->text(); }
QString TOperatorPage::FileWarning() const { return warning_->isHidden() ? QString() : warning_->text(); }
