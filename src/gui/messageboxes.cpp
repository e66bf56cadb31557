#include "gui/messageboxes.h"

#include <QFileDialog>
#include <QMessageBox>

bool TQtMessageBoxes::AskYesNo(QWidget* parent, const QString& title, const QString& text)
{
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

bool TQtMessageBoxes::AskOkCancel(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Ok | QMessageBox::Cancel, parent);
    return box.exec() == QMessageBox::Ok;
}

void TQtMessageBoxes::Inform(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::information(parent, title, text);
}

void TQtMessageBoxes::Warn(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text);
}

void TQtMessageBoxes::WarnWithoutWaiting(QWidget* parent, const QString& title, const QString& text)
{
    // One box at a time: closing the window again brings the same box to the front.
    const QString name = QStringLiteral("WarnWithoutWaiting");
    QMessageBox* box = parent ? parent->findChild<QMessageBox*>(name, Qt::FindDirectChildrenOnly) : nullptr;
    if (!box) {
        box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
        box->setObjectName(name);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
    }
    box->setText(text);
    box->show();
    box->raise();
}

void TQtMessageBoxes::Error(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::critical(parent, title, text);
}

namespace {

QString RunFileDialog(QFileDialog& dialog, const QStringList& filters, int& filter)
{
    dialog.setNameFilters(filters);
    if (filter >= 0 && filter < filters.size()) dialog.selectNameFilter(filters[filter]);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    filter = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
    return dialog.selectedFiles().front();
}

}  // namespace

QString TQtMessageBoxes::OpenFile(QWidget* parent, const QString& title, const QStringList& filters, int& filter)
{
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return RunFileDialog(dialog, filters, filter);
}

QString TQtMessageBoxes::SaveFile(QWidget* parent, const QString& title, const QStringList& filters, int& filter,
                                  const QString& defaultSuffix)
{
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    return RunFileDialog(dialog, filters, filter);
}
