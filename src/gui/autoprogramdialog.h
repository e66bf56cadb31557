#pragma once
// "Auto Program Options": the seven steps of an Auto Program run as a check list with one OK
// button, which is the only way out. It edits a TAutoProgramSteps, which loads and stores them.
#include <QDialog>

class QListWidget;
class QPushButton;
class TAutoProgramSteps;

class TAutoProgramDialog final : public QDialog {
    Q_OBJECT
public:
    explicit TAutoProgramDialog(TAutoProgramSteps& steps, QWidget* parent = nullptr);

    QListWidget* List() const { return list_; }
    QPushButton* OkButton() const { return ok_; }

protected:
    // Esc and the window's close would end it without OK: neither is offered.
    void reject() override {}
    void accept() override;

private:
    TAutoProgramSteps& steps_;
    QListWidget* list_;
    QPushButton* ok_;
};
