#pragma once
// "Serial Number Generation": the serial-number model's dialog. The model keeps the number, size,
// location, base and mode for the whole run; the dialog shows it on every opening and writes every
// change back at once, so the Auto Program step and the dialog never disagree.
#include <QDialog>
#include <string>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class THexEdit;
class THexList;
class TSerialNum;

class TSerialNumDialog final : public QDialog {
    Q_OBJECT
public:
    // `image` is where OK places the number: the project's Flash image.
    TSerialNumDialog(TSerialNum& model, THexList& image, QWidget* parent = nullptr);

    QButtonGroup* Mode() const { return mode_; }
    QButtonGroup* Size() const { return size_; }
    QButtonGroup* Base() const { return base_; }
    QGroupBox* SizeGroup() const { return sizeGroup_; }
    THexEdit* CurrentSerial() const { return current_; }
    THexEdit* Location() const { return location_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* ClearButton() const { return clear_; }
    // The production store's pools, for a line's numbers; shown only when the store has some.
    QComboBox* PoolChoice() const { return pool_; }
    void SetPools(const std::vector<std::string>& names);

    // The model's state into the widgets, with the enabling rule.
    void ShowModel();

protected:
    void showEvent(QShowEvent* event) override;
    // Esc and the window's close button cancel, and cancelling switches numbering off.
    void reject() override;

private:
    void UpdateEnabling();
    void ApplyBase();
    void OkClick();

    TSerialNum& model_;
    THexList& image_;
    QButtonGroup* mode_;
    QButtonGroup* size_;
    QButtonGroup* base_;
    QGroupBox* sizeGroup_;
    QLabel* currentLabel_;
    QLabel* locationLabel_;
    THexEdit* current_;
    THexEdit* location_;
    QPushButton* ok_;
    QPushButton* cancel_;
    QPushButton* clear_;
    QLabel* poolLabel_;
    QComboBox* pool_;
    bool showing_ = false;  // widgets being filled from the model: no write-back
};
