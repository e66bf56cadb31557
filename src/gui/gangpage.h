#pragma once
// Several boxes driven from one window: each port of the gang has an application session of its
// own on its own worker thread; the gang page shows every box with its port, progress, last
// result, serial number and time. Auto Program runs on every box at once, serial numbers come
// from one pool, and one box failing does not stop the others.
#include <QDialog>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/session.h"
#include "app/storestation.h"
#include "app/worker.h"
#include "gui/queuedview.h"

class QListWidget;
class QLineEdit;
class QTableWidget;
class TSerialPool;

// What one box of the gang shows; its session talks to it from its worker, and everything
// reaches the window through the window's call queue.
class TGangSlotView final : public TNullShellView {
public:
    TGangSlotView(TCallQueue& window, std::function<void(TStatusKind, const QString&)> status,
                  std::function<void(int, int)> progress)
        : q_(window),
          status_(std::move(status)),
          progress_([show = std::move(progress)](int32_t p, int32_t m, const std::string&) { show(p, m); })
    {
    }
    void ShowStatus(TStatusKind kind, const std::string& text) override;
    void ShowProgress(int32_t position, int32_t maximum, const std::string& caption) override
    {
        progress_.Report(q_, position, maximum, caption);
    }

private:
    TCallQueue& q_;
    std::function<void(TStatusKind, const QString&)> status_;
    TFoldedProgress progress_;
};

struct TGangSlot {
    std::string Port;
    std::unique_ptr<TGangSlotView> View;
    std::unique_ptr<TAppSession> Session;
    TSubscription Board;
    // With a production store: this box as a station of the line, its records and its numbers.
    std::unique_ptr<TStoreStation> Station;
    TSubscription Stored;
    TSubscription Numbering;  // its numbers from the gang's local pool
    // On the port of the window's own session: the two take turns, each letting go after use.
    bool WindowsPort = false;
    // The window's side.
    QString Result, Serial, Time, Status;
    bool Ok = false;
    bool Done = true;
};

class TGangPage final : public QWidget {
    Q_OBJECT
public:
    enum TColumn { Port = 0, Progress, Result, Serial, Time, ColumnCount };
    explicit TGangPage(QWidget* parent = nullptr);
    void SetPorts(const QStringList& ports);
    void SetProgress(int row, int position, int maximum);
    void SetRow(int row, const QString& result, const QString& serial, const QString& time, bool ok);
    QTableWidget* Table() const { return table_; }
    QString Cell(int row, int column) const;

private:
    QTableWidget* table_ = nullptr;
};

// Device > Gang...: the ports of the gang, chosen from the ports this machine has (or typed).
class TGangDialog final : public QDialog {
    Q_OBJECT
public:
    // `available`: the ports this machine has, each as its identity line and the device it opens.
    TGangDialog(const QStringList& ports, const QList<QPair<QString, QString>>& available, QWidget* parent = nullptr);
    QStringList Ports() const;
    QListWidget* List() const { return list_; }
    QLineEdit* Entry() const { return entry_; }
    void AddPort(const QString& port);

private:
    QListWidget* list_ = nullptr;
    QLineEdit* entry_ = nullptr;
};
