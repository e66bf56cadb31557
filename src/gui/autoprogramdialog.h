#pragma once
// "Auto Program Options": the seven steps of an Auto Program run as a check list with one OK
// button, which is the only way out. It edits a TAutoProgramSteps, which loads and stores them.
#include <QDialog>
#include <functional>

class QLineEdit;
class QListWidget;
class QPushButton;
class TAutoProgramSteps;

class TAutoProgramDialog final : public QDialog {
    Q_OBJECT
public:
    explicit TAutoProgramDialog(TAutoProgramSteps& steps, QWidget* parent = nullptr);

    QListWidget* List() const { return list_; }
    QPushButton* OkButton() const { return ok_; }
    // The production record: a CSV file that gets one line per board, empty for none.
    QLineEdit* RecordFile() const { return record_; }
    QPushButton* BrowseButton() const { return browse_; }
    // The production store every board is recorded in: a PostgreSQL URL or an SQLite file.
    QLineEdit* Database() const { return database_; }
    // Asks for the record file's name (a save dialog); empty when the user cancelled.
    void SetFileChooser(std::function<QString(const QString& current)> chooser) { chooser_ = std::move(chooser); }

protected:
    // Esc and the window's close would end it without OK: neither is offered.
    void reject() override {}
    void accept() override;

private:
    TAutoProgramSteps& steps_;
    QListWidget* list_;
    QLineEdit* record_;
    QLineEdit* database_;
    QPushButton* browse_;
    QPushButton* ok_;
    std::function<QString(const QString&)> chooser_;
};
