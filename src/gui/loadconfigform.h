#pragma once
// The saved-configurations dialog: lists the projects, names one to save or picks one to load,
// and deletes one at once.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class TLoadConfigForm final : public QDialog {
    Q_OBJECT
public:
    enum TMode { Load = 0, Save = 1 };
    struct TStore {
        std::function<std::vector<std::string>()> Names;
        std::function<void(const std::string&)> Delete;
    };

    TLoadConfigForm(TStore store, QWidget* parent = nullptr);

    // Shows the dialog modally; true on OK with `name` set.
    bool SelectConfiguration(std::string& name, TMode mode);
    // Prepares the dialog without showing it (what SelectConfiguration does first).
    void Prepare(const std::string& name, TMode mode);
    std::string Result() const;

    QListWidget* List() const { return lbselect_; }
    QLineEdit* NameField() const { return edit1_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* DeleteButton() const { return delete_; }

private:
    void Refill();
    void UpdateButtons();

    TStore store_;
    TMode mode_ = Load;
    QLabel* configStorage_;
    QListWidget* lbselect_;
    QLineEdit* edit1_;
    QPushButton* ok_;
    QPushButton* cancel_;
    QPushButton* delete_;
};
