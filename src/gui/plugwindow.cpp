#include "gui/plugwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TPlugWindow::TPlugWindow(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Tool | Qt::WindowStaysOnTopHint), mainWindow_(mainWindow)
{
    setWindowTitle(QStringLiteral("Plug and Program Mode"));
    setObjectName(QStringLiteral("PlugWindow"));
    auto* layout = new QVBoxLayout(this);
    message_ = new QLabel(QStringLiteral("Waiting for Target Board"), this);
    message_->setAlignment(Qt::AlignCenter);
    QFont big = message_->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    message_->setFont(big);
    message_->setMinimumWidth(420);
    layout->addWidget(message_, 1);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    layout->addWidget(cancel_, 0, Qt::AlignHCenter);
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelled_ = true; });
    resize(460, 140);
}

void TPlugWindow::Show()
{
    if (mainWindow_) {
        const QRect main = mainWindow_->frameGeometry();
        move(main.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    if (onMessage_) onMessage_();
}

void TPlugWindow::Hide()
{
    hide();
    // The main window takes the keys again: F5 and F8 work at once after the mode ends.
    if (mainWindow_) mainWindow_->activateWindow();
    if (onMessage_) onMessage_();
}

void TPlugWindow::SetMessage(const std::string& text)
{
    const QString t = QString::fromStdString(text);
    if (message_->text() != t) message_->setText(t);
    if (onMessage_) onMessage_();
}

bool TPlugWindow::Waiting() const { return message_->text() != QLatin1String("Programming in progress"); }

void TPlugWindow::closeEvent(QCloseEvent* event)
{
    cancelled_ = true;
    QWidget::closeEvent(event);
    if (mainWindow_) mainWindow_->activateWindow();
}

void TPlugWindow::Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); }

QString TPlugWindow::Message() const { return message_->text(); }
