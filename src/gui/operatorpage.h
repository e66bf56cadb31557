#pragma once
// The production page of operator mode: a large PASS / FAIL panel for the last board with its
// serial number, time and first failure line, the station's counters for the day, the device and
// the image (file, size, CRC-32, file time), the plug-and-program state and a warning when the
// file changed on disk. The status log stays one click away.
#include <QDate>
#include <QWidget>
#include <cstdint>

class QLabel;
class QListWidget;
class QPushButton;

class TOperatorPage final : public QWidget {
    Q_OBJECT
public:
    explicit TOperatorPage(QWidget* parent = nullptr);

    struct TBoardResult {
        bool Ok = false;
        QString Serial;   // empty without numbering
        QString Failure;  // the first failure line
    };
    // A board finished: the panel shows it and the day's counters count it.
    void ShowBoard(const TBoardResult& board);
    struct TImage {
        QString Device;
        QString File;  // empty: no file loaded
        qint64 Size = 0;
        QString Crc32;
        QString FileTime;
        QString Suspect;  // the file's wrong record checksums, empty when none
    };
    void ShowImage(const TImage& image);
    void ShowPlugState(const QString& state);
    // Empty clears the warning.
    void ShowFileWarning(const QString& text);
    // The station's counters for the day as the production store has them (every program of this
    // station counts), instead of this session's own.
    void ShowStoredCounts(int64_t passed, int64_t failed);
    // Every status-log line, kept for the log one click away.
    void AppendLog(const QString& line);

    int Passed() const { return passed_; }
    int Failed() const { return failed_; }
    QString Verdict() const;
    QString FailureLine() const;
    QString Counters() const;
    QString ImageText() const;
    QString FileWarning() const;
    QPushButton* LogButton() const { return logButton_; }
    QListWidget* Log() const { return log_; }

private:
    void CountToday();

    QLabel* verdict_ = nullptr;
    QLabel* boardLine_ = nullptr;
    QLabel* failure_ = nullptr;
    QLabel* counters_ = nullptr;
    QLabel* image_ = nullptr;
    QLabel* plug_ = nullptr;
    QLabel* warning_ = nullptr;
    QPushButton* logButton_ = nullptr;
    QListWidget* log_ = nullptr;
    int passed_ = 0;
    int failed_ = 0;
    QDate day_;
};
