#pragma once
// "Plug and Program Mode": a small tool window on top of everything, centred on the main window,
// with one large message and a Cancel button that the loop polls. Never modal.
#include <QWidget>
#include <atomic>
#include <functional>

#include "app/autoprogram.h"

class QLabel;
class QPushButton;

class TPlugWindow final : public QWidget, public IPlugWindow {
    Q_OBJECT
public:
    explicit TPlugWindow(QWidget* mainWindow);

    void Show() override;
    void Hide() override;
    void SetMessage(const std::string& text) override;
    // Read by the loop on the session's worker; set by Cancel or by closing the window.
    bool Cancelled() const override { return cancelled_; }
    void SetCancelled(bool cancelled) override { cancelled_ = cancelled; }
    void Pump() override;

    QString Message() const;
    // The loop waits for a board (or for one to be unplugged), as opposed to programming one.
    bool Waiting() const;
    // Told after every new message, so the window's rules follow the loop's state.
    void SetOnMessage(std::function<void()> onMessage) { onMessage_ = std::move(onMessage); }

    QPushButton* CancelButton() const { return cancel_; }

protected:
    // Closing the window is Cancel: the loop ends the mode.
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* mainWindow_;
    QLabel* message_;
    QPushButton* cancel_;
    std::atomic<bool> cancelled_{false};
    std::function<void()> onMessage_;
};
