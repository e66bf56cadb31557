#pragma once
// "Plug and Program Mode": a small tool window on top of everything, centred on the main window,
// with one large message and a Cancel button that the loop polls. Never modal.
#include <QWidget>

#include "app/autoprogram.h"

class QLabel;
class QPushButton;

class TPlugWindow final : public QWidget, public IPlugWindow {
    Q_OBJECT
public:
    explicit TPlugWindow(QWidget* mainWindow);

    void Show() override;
    void Hide() override { hide(); }
    void SetMessage(const std::string& text) override;
    bool Cancelled() const override { return cancelled_; }
    void SetCancelled(bool cancelled) override { cancelled_ = cancelled; }
    void Pump() override;

    QString Message() const;
    QPushButton* CancelButton() const { return cancel_; }

private:
    QWidget* mainWindow_;
    QLabel* message_;
    QPushButton* cancel_;
    bool cancelled_ = false;
};
