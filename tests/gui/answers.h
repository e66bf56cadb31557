#pragma once
// Every message box a window test meets is answered from a script, and remembered.
#include <QStringList>

#include "gui/messageboxes.h"

struct TAnswers final : IMessageBoxes {
    QStringList asked;
    bool yes = true;
    bool AskYesNo(QWidget*, const QString&, const QString& text) override
    {
        asked << text;
        return yes;
    }
    bool AskOkCancel(QWidget*, const QString&, const QString& text) override
    {
        asked << text;
        return false;
    }
    void Inform(QWidget*, const QString&, const QString& text) override { asked << text; }
    void Warn(QWidget*, const QString&, const QString& text) override { asked << text; }
    void Error(QWidget*, const QString&, const QString& text) override { asked << text; }
    QString openPath;  // what the open dialog answers; empty: cancelled
    QString OpenFile(QWidget*, const QString&, const QStringList&, int&) override { return openPath; }
    QString SaveFile(QWidget*, const QString&, const QStringList&, int&, const QString&) override { return {}; }
};
