#pragma once
// The window's message boxes and file dialogs behind one seam, so that tests answer them without
// showing a window.
#include <QString>
#include <QStringList>

class QWidget;

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    // A question with Yes and No; true for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& title, const QString& text) = 0;
    // A question with OK and Cancel; true for OK.
    virtual bool AskOkCancel(QWidget* parent, const QString& title, const QString& text) = 0;
    virtual void Inform(QWidget* parent, const QString& title, const QString& text) = 0;
    virtual void Warn(QWidget* parent, const QString& title, const QString& text) = 0;
    virtual void Error(QWidget* parent, const QString& title, const QString& text) = 0;
    // A warning that returns at once: a modal box shown while an operation pumps the event loop
    // would hold the operation until it is closed.
    virtual void WarnWithoutWaiting(QWidget* parent, const QString& title, const QString& text)
    {
        Warn(parent, title, text);
    }
    // File dialogs: the chosen path, empty when cancelled; `filter` is the chosen entry's index
    // into `filters` (in: the one to preselect).
    virtual QString OpenFile(QWidget* parent, const QString& title, const QStringList& filters, int& filter) = 0;
    virtual QString SaveFile(QWidget* parent, const QString& title, const QStringList& filters, int& filter,
                             const QString& defaultSuffix) = 0;
};

// The platform's message boxes.
class TQtMessageBoxes final : public IMessageBoxes {
public:
    bool AskYesNo(QWidget* parent, const QString& title, const QString& text) override;
    bool AskOkCancel(QWidget* parent, const QString& title, const QString& text) override;
    void Inform(QWidget* parent, const QString& title, const QString& text) override;
    void Warn(QWidget* parent, const QString& title, const QString& text) override;
    void Error(QWidget* parent, const QString& title, const QString& text) override;
    void WarnWithoutWaiting(QWidget* parent, const QString& title, const QString& text) override;
    QString OpenFile(QWidget* parent, const QString& title, const QStringList& filters, int& filter) override;
    QString SaveFile(QWidget* parent, const QString& title, const QStringList& filters, int& filter,
                     const QString& defaultSuffix) override;
};
