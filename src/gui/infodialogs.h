#pragma once
// The two information reports of the links: the parallel link's programmer information dialog and
// the general text dialog the serial link fills. Both copy their text to the clipboard on request.
#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

class TFISPStat final : public QDialog {
    Q_OBJECT
public:
    explicit TFISPStat(QWidget* parent = nullptr);

    // Fills the labels and appends `lines` to the list; the caller shows the dialog.
    void Fill(const std::string& softwareVersion, const std::string& firmware, const std::vector<std::string>& lines);
    // What "Copy to Clipboard" puts there: CR LF after every line.
    QString ClipboardText() const;

    QLabel* SoftRev() const { return softRev_; }
    QLabel* FirmRev() const { return firmRev_; }
    QListWidget* AddInfo() const { return addInfo_; }
    QPushButton* CopyButton() const { return copy_; }
    QPushButton* CloseButton() const { return close_; }

protected:
    // Close is both the default and the cancel button: Esc closes with OK too.
    void reject() override { accept(); }

private:
    QLabel* softRev_;
    QLabel* firmRev_;
    QListWidget* addInfo_;
    QPushButton* copy_;
    QPushButton* close_;
};

class TPrintStatusD final : public QDialog {
    Q_OBJECT
public:
    explicit TPrintStatusD(QWidget* parent = nullptr);

    // Empties the memo and adds `lines`.
    void SetLines(const std::vector<std::string>& lines);

    QPlainTextEdit* Memo1() const { return memo_; }
    QPushButton* CopyButton() const { return copy_; }
    QPushButton* CloseButton() const { return close_; }

private:
    QPlainTextEdit* memo_;
    QPushButton* copy_;
    QPushButton* close_;
};
