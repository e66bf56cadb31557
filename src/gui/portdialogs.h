#pragma once
// The port dialogs of the links: "ISP Configuration" (the port of the programmer box, with what
// the parallel-port layer knows of the selected port) and "Advanced Settings" (the parallel port,
// its LPT mode and the two write-timing values by hand). Both show what the session's port setup
// answers and hand the user's choices to it; the session applies them to its link.
#include <QDialog>
#include <QStringList>
#include <array>
#include <functional>
#include <string>

#include "app/portsetup.h"

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class THexEdit;

class TAdvancedFrm final : public QDialog {
    Q_OBJECT
public:
    // The session's port setup writes the port and timing block of every refresh to the log.
    // A cancel puts the port, its mode and the timing values back as they were at the opening.
    explicit TAdvancedFrm(IPortSetup& setup, QWidget* parent = nullptr);

    // The port list, shared with the setup dialog's entries.
    void SetPorts(const QStringList& ports);
    void SelectPortEntry(int index);

    THexEdit* PGMTIMEedit() const { return pgmtime_; }
    THexEdit* TENCYCedit() const { return tencyc_; }
    QComboBox* PortSelector() const { return portSelector_; }
    QRadioButton* ModeButton(int button) const { return modes_[static_cast<size_t>(button)]; }
    QLabel* Status() const { return status_; }
    QLabel* BaseAddress() const { return base_; }
    QLabel* IRQnumber() const { return irq_; }
    QLabel* DMAchannel() const { return dma_; }
    QPushButton* DefaultsButton() const { return defaults_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

    void RefreshPortInfo();

protected:
    void showEvent(QShowEvent* event) override;
    void accept() override;

private:
    void FormShow();
    void PortSelectorChange(int index);
    void Defaults();
    void ShowTiming(const TPortTiming& timing);

    IPortSetup& setup_;
    // Where the link stood when the dialog was shown; none when it was never shown.
    THexEdit* pgmtime_;
    THexEdit* tencyc_;
    QComboBox* portSelector_;
    std::array<QRadioButton*, kLptModeCount> modes_{};
    QLabel* status_;
    QLabel* base_;
    QLabel* irq_;
    QLabel* dma_;
    QPushButton* defaults_;
    QPushButton* cancel_;
    QPushButton* ok_;
};

class TfispVask final : public QDialog {
    Q_OBJECT
public:
    // `advanced` opens the advanced port dialog, or is empty when its button stays disabled.
    TfispVask(IPortSetup& setup, std::function<void()> advanced, QWidget* parent = nullptr);

    // Appends an entry; `identity` (may be empty) tells which device the name stands for.
    void AddPortName(const QString& name, const QString& identity = {});
    // Selects `index`, runs the dialog through `exec` (a test answers it) and tells whether it
    // ended with OK. A cancelled dialog leaves the port where it was at the opening.
    bool Run(int index, const std::function<int(QDialog&)>& exec);
    int SelectedIndex() const;

    QComboBox* PortSelector() const { return portSelector_; }
    QLabel* Status() const { return status_; }
    QLabel* BaseAddress() const { return base_; }
    QLabel* IRQnumber() const { return irq_; }
    QLabel* DMAchannel() const { return dma_; }
    QLabel* CPUSpeed() const { return cpu_; }
    QLabel* Identity() const { return identity_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* Button3() const { return advanced_; }

private:
    void ShowPortDetails(const TPortDetails& port, bool withSpeed);
    void SelectionChange(int index);

    IPortSetup& setup_;
    double cpuSpeed_;
    QStringList identities_;
    QComboBox* portSelector_;
    QLabel* status_;
    QLabel* base_;
    QLabel* irq_;
    QLabel* dma_;
    QLabel* cpu_;
    QLabel* identity_;
    QPushButton* ok_;
    QPushButton* cancel_;
    QPushButton* advanced_;
};
